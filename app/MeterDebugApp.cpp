#include "app/MeterDebugApp.h"

#include "app/InterfaceLanguage.h"
#include "app/PortSettings.h"
#include "port/MSComm.h"
#include "port/NetPortList.h"
#include "app/NetStart.h"
#include "port/PortList.h"
#include "ui/CommSetDlg.h"
#include "ui/Dialog.h"
#include "ui/MeterDebugDlg.h"

#include <QScopeGuard>
#include <QSettings>

namespace md {

CMeterDebugApp theApp;

// Control containment and the three-dimensional look need no step here: the serial port
// control is a plain object of the main window, and Qt draws every control in the platform
// style. What remains is the application-wide look, then the two dialogs.
bool CMeterDebugApp::InitInstance() {
    ui::ApplyApplicationLook();
    QSettings remembered(QStringLiteral("MeterDebug"), QStringLiteral("MeterDebug"));
    UseInterfaceLanguage(m_options, remembered);
    // Nothing is remembered once the settings are closed.
    const auto forget = qScopeGuard([] { ui::OnLanguageChosen({}); });

    const SystemPortList systemPorts;
    CMSComm comm;
    ui::PortDevices devices;
    QStringList usedNet = RememberedNetDevices(remembered);
    const PortsAndNetDevices offered(m_ports ? *m_ports : systemPorts, usedNet);
    devices.list = &offered;
    for (std::size_t i = 0; i < devices.device.size(); ++i) {
        const int port = static_cast<int>(i) + 1;
        devices.device[i] =
            StartDevice(port, m_options.devices[i], RememberedDevice(remembered, port));
        comm.SetDevice(port, devices.device[i]);
    }
    devices.chosen = [&](int port, const QString& device) {
        RememberDevice(remembered, port, device);
        comm.SetDevice(port, device);
        usedNet = RememberNetDevice(remembered, device);
    };

    ui::CCommSetDlg settings;
    settings.m_byMeterAddress = 1;
    settings.m_nBaudRate = 9600;
    settings.m_nParity = 0;
    settings.m_nCommPort = 1;
    // "查找仪表..." scans the device shown in the dialog; the scan leaves the port closed.
    SteadyClock scanClock;
    settings.m_findLine = {&comm, &scanClock, {}, {}};
    devices.aim = ui::AimAt(comm);
    devices.Offer(settings);
    // Cancel ends the program without a word, without touching a port, and remembers nothing.
    if (settings.DoModal() != ui::IDOK)
        return false;
    devices.Take(settings);
    for (std::size_t i = 0; i < devices.device.size(); ++i)
        comm.SetDevice(static_cast<int>(i) + 1, devices.device[i]);

    const QString device = devices.device[settings.m_nCommPort == 2 ? 1 : 0];
    usedNet = RememberNetDevice(remembered, device);

    ui::CMeterDebugDlg dlg(nullptr, &comm);
    dlg.m_devices = devices;
    if (m_trace) {
        dlg.Trace().Add(*m_trace);
        NoteTransport(*m_trace, device);
    }
    if (!m_options.csv.isEmpty())
        dlg.SetCsvFile(m_options.csv);
    dlg.Link().SetLocalEcho(m_options.localEcho && !RefuseLocalEcho(device));
    dlg.Link().SetFastWaits(m_options.fast);
    if (m_options.allCommands)
        dlg.EnableAllCommands();
    m_pMainWnd = &dlg;
    dlg.m_nBaudRate = settings.m_nBaudRate;
    dlg.m_nCommPort = settings.m_nCommPort;
    dlg.m_nParity = settings.m_nParity;
    dlg.m_byMeterAddress = settings.m_byMeterAddress;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

} // namespace md
