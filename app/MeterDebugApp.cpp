#include "app/MeterDebugApp.h"

#include "link/MSComm.h"
#include "ui/CommSetDlg.h"
#include "ui/Dialog.h"
#include "ui/MeterDebugDlg.h"

namespace md {

CMeterDebugApp theApp;

// Control containment and the three-dimensional look need no step here: the serial port
// control is a plain object of the main window, and Qt draws every control in the platform
// style. What remains is the application-wide look, then the two dialogs.
bool CMeterDebugApp::InitInstance() {
    ui::ApplyApplicationLook();

    CMSComm comm;
    for (std::size_t i = 0; i < m_options.devices.size(); ++i)
        comm.SetDevice(static_cast<int>(i) + 1, m_options.devices[i]);

    ui::CCommSetDlg settings;
    settings.m_byMeterAddress = 1;
    settings.m_nBaudRate = 9600;
    settings.m_nParity = 0;
    settings.m_nCommPort = 1;
    // "查找仪表..." scans on the port the main window opens next; the scan leaves it closed.
    SteadyClock scanClock;
    settings.m_findLine = {&comm, &scanClock, [this](int port) {
                               const QString& device = m_options.devices[std::size_t(port - 1)];
                               return device.isEmpty() ? DeviceForPort(port) : device;
                           }};
    // Cancel ends the program without a word and without touching a port.
    if (settings.DoModal() != ui::IDOK)
        return false;

    ui::CMeterDebugDlg dlg(nullptr, &comm);
    if (m_trace)
        dlg.Link().SetTrace(*m_trace);
    dlg.Link().SetLocalEcho(m_options.localEcho);
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
