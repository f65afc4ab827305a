// The main window's link reconfiguration, meter clock read and meter setup.

#include "port/DeviceName.h"
#include "meter/SetupOps.h"
#include "ui/BusDlg.h"
#include "ui/CommSetDlg.h"
#include "ui/MeterDebugDlg.h"
#include "ui/MeterSetDlg.h"

#include <QCoreApplication>

namespace md::ui {

namespace {

// Polling resumes at this period after a clock read or a meter setup, running or not before.
constexpr std::uint32_t kResumePollMs = 1000;

// PT, CT, then wiring: each write is judged by its own answer and the sequence stops at the
// first one the meter does not acknowledge. The main window's copies follow the meter step by
// step, so a later opening of the dialog shows what the meter really holds.
void WriteMeterSetup(CMeterDebugDlg& wnd, const CMeterSetDlg& dlg) {
    CExchange& link = wnd.Link();
    if (!meter::WritePtRatio(link, wnd.m_byMeterAddress, dlg.m_nPT)) {
        AfxMessageBox(QCoreApplication::translate("md::ui::CMeterDebugDlg", "设置PT不成功"));
        return;
    }
    wnd.m_nPT = dlg.m_nPT;
    if (!meter::WriteCtRatio(link, wnd.m_byMeterAddress, dlg.m_nCT)) {
        AfxMessageBox(QCoreApplication::translate("md::ui::CMeterDebugDlg", "设置CT不成功"));
        return;
    }
    wnd.m_nCT = dlg.m_nCT;
    if (!meter::WriteWiringMode(link, wnd.m_byMeterAddress, dlg.m_nWiringMode)) {
        AfxMessageBox(QCoreApplication::translate("md::ui::CMeterDebugDlg", "设置接线方式不成功"));
        return;
    }
    wnd.m_nWiringMode = dlg.m_nWiringMode;
    AfxMessageBox(QCoreApplication::translate("md::ui::CMeterDebugDlg", "设置仪表参数成功"));
}

} // namespace

QString MeterClockText(const meter::MeterClock& clock) {
    const auto field = [](int value, int width = 2) {
        return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
    };
    return QCoreApplication::translate("md::ui::CMeterDebugDlg",
                                       "当前时间:  %1年%2月%3日 %4时%5分%6秒")
        .arg(field(clock.year + 2000, 4), field(clock.month), field(clock.day), field(clock.hour),
             field(clock.minute), field(clock.second));
}

void CMeterDebugDlg::OnCommSettings() {
    // Polling does not resume after a reconfiguration, so a window left saying it polls, with
    // its start button disabled, would lie: it is left as the stop button leaves it.
    if (IsTimerRunning(kPollTimer))
        OnStop();
    // The scan and a changed line would pull the line from under the bus window.
    StopBusForSettings();

    CCommSetDlg dlg;
    dlg.m_byMeterAddress = m_byMeterAddress;
    dlg.m_nParity = m_nParity;
    dlg.m_nBaudRate = m_nBaudRate;
    dlg.m_nCommPort = m_nCommPort;
    dlg.m_findLine = {&m_comm, &m_link.GetClock(), {}, {}};
    m_devices.Offer(dlg);
    if (dlg.DoModal() == IDOK) {
        // The request and its echo travel at the old rate on the old port; the port is
        // switched only afterwards, so a meter that acknowledged is reached at the new rate.
        // A rate a scan found is where the meter already is: nothing is asked of anyone.
        if (dlg.m_nBaudRate != m_nBaudRate) {
            if (dlg.m_nBaudRate == dlg.m_nFoundBaudRate)
                m_nBaudRate = dlg.m_nBaudRate;
            else if (!SetsLine(m_comm.GetTransport()))
                AfxMessageBox(RateChangeRefusal());
            else if (meter::RequestBaudChange(m_link, m_byMeterAddress, dlg.m_nBaudRate))
                m_nBaudRate = dlg.m_nBaudRate;
            else
                AfxMessageBox(tr("改变波特率不成功"));
        }
        // Port, parity and address only change how the tool talks; the meter is not told.
        m_nCommPort = dlg.m_nCommPort;
        m_nParity = dlg.m_nParity;
        m_byMeterAddress = dlg.m_byMeterAddress;
        m_devices.Take(dlg);
        // Every meter the scan found goes to the bus window, ready to be polled.
        if (!dlg.m_busAddresses.empty())
            ShowBus()->SetAddresses(dlg.m_busAddresses);

        m_link.SetLine(m_nBaudRate, m_nParity != 0);
        if (!m_comm.LostReason().empty()) {
            // The device is still away: the outage goes on with the new port and settings,
            // and only a reopen that works ends it (now or at a later tick or command).
            m_comm.SetCommPort(static_cast<std::int16_t>(m_nCommPort));
            m_comm.SetSettings(SettingsText().toStdString());
            m_comm.Reopen();
        } else {
            // A port the control refuses throws here: the guard shows the error once, the
            // port stays closed and the summary keeps describing the last good connection.
            m_comm.SetPortOpen(false);
            m_comm.SetCommPort(static_cast<std::int16_t>(m_nCommPort));
            m_comm.SetSettings(SettingsText().toStdString());
            m_comm.SetPortOpen(true);
        }
        m_bReconfigured = true;
        SetDlgItemText(kSummaryEdit, Summary(true));
    }
    m_link.DiscardInput();
}

void CMeterDebugDlg::OnReadMeterTime() {
    KillTimer(kPollTimer);
    const std::optional<meter::MeterClock> clock = meter::ReadMeterClock(m_link, m_byMeterAddress);
    AfxMessageBox(clock ? MeterClockText(*clock) : tr("读时间不成功"));
    SetTimer(kPollTimer, kResumePollMs);
}

void CMeterDebugDlg::OnMeterSetup() {
    CMeterSetDlg dlg;
    dlg.m_nPT = m_nPT;
    dlg.m_nCT = m_nCT;
    dlg.m_nWiringMode = m_nWiringMode;
    KillTimer(kPollTimer);
    if (dlg.DoModal() == IDOK)
        WriteMeterSetup(*this, dlg);
    m_link.DiscardInput();
    SetTimer(kPollTimer, kResumePollMs);
}

} // namespace md::ui
