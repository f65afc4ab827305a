#include "app/MeterDebugApp.h"

#include "app/InterfaceLanguage.h"
#include "link/MSComm.h"
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

    ui::CCommSetDlg settings;
    settings.m_byMeterAddress = 1;
    settings.m_nBaudRate = 9600;
    settings.m_nParity = 0;
    settings.m_nCommPort = 1;
    // Cancel ends the program without a word and without touching a port.
    if (settings.DoModal() != ui::IDOK)
        return false;

    CMSComm comm;
    for (std::size_t i = 0; i < m_options.devices.size(); ++i)
        comm.SetDevice(static_cast<int>(i) + 1, m_options.devices[i]);
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
