#pragma once
// The main window (dialog 102): connection state, displayed values, link statistics, the
// exchange with its buffers, the meter setup copies, the logging state and the snapshot.

#include "link/Clock.h"
#include "link/Exchange.h"
#include "port/SerialControl.h"
#include "trace/TraceFanOut.h"
#include "trace/TraceRows.h"
#include "log/LogRecord.h"
#include "ui/CommSetDlg.h"
#include "ui/Dialog.h"

#include <QColor>
#include <QIcon>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAbstractButton;
class QAction;
class QMenu;

namespace md::meter {
struct MeterClock;
}

namespace md::ui {

class BusWindow;
class ChartWindow;
class CurrentSamples;
class MonitorModel;
class MonitorWindow;
struct ViewParts;
// Where a window of size (frame included) goes beside the main window's frame: to its right,
// else to its left, else as far right as the screen allows; the tops level where the screen
// lets them be.
QPoint PlaceBeside(const QRect& main, const QSize& size, const QRect& screen);
// The box after a clock read: "当前时间:  2006年11月15日 10时30分45秒" in Chinese. Fields show as
// they come, so a byte above 99 prints with three digits.
QString MeterClockText(const meter::MeterClock& clock);
struct ViewPartsDeleter {
    void operator()(ViewParts* parts) const;
};

class CMeterDebugDlg : public CDialog {
    Q_OBJECT
    // Declared first: m_comm and m_link refer to them when no port or clock is injected.
    std::unique_ptr<SerialControl> m_ownPort;
    std::unique_ptr<Clock> m_ownClock;

public:
    static constexpr unsigned kPollTimer = 1; // measurement polling
    static constexpr unsigned kLogTimer = 2;  // log records
    static constexpr int kSummaryEdit = 1057;
    static constexpr int kLocalAddressEdit = 1058;
    static constexpr int kPromptEdit = 1068;
    // The menu's command identifiers; nothing handles them.
    static constexpr int kMenuItems[] = {32771, 32772, 32773, 32774, 32775, 65535};
    // Controls created hidden that nothing ever shows.
    static constexpr int kHiddenButtons[] = {1006, 1007, 1009, 1021, 1022};

    // port and clock default to the real serial port control and the steady clock.
    explicit CMeterDebugDlg(QWidget* parent = nullptr, SerialControl* port = nullptr,
                            Clock* clock = nullptr);
    ~CMeterDebugDlg() override;

    // Connection settings, set by start-up before DoModal.
    std::uint8_t m_byMeterAddress = 0;
    int m_nParity = 0;
    int m_nBaudRate = 0;
    int m_nCommPort = 0;
    // The devices behind the ports, offered by the connection settings dialog; a device chosen
    // there is handed to m_devices.chosen before the port is opened again.
    PortDevices m_devices;
    // Storage interval offered by the logging dialog; logging flag.
    int m_nSaveHours = 0;
    int m_nSaveMinutes = 0;
    int m_nSaveSeconds = 0;
    int m_bSaving = 0;
    QAbstractButton* m_btnSave = nullptr; // control 1021
    // Bound fields.
    int m_nParamBaudRate = 0;
    int m_nUpperLimit = 0;
    int m_nDecimalPoint = 0;
    int m_nLowerLimit = 0;
    int m_nLocalAddress = 0;
    QString m_strPrompt;
    QString m_strCurrentA;
    QString m_strCurrentB;
    QString m_strCurrentC;
    QString m_strErrorRate;
    int m_nSuccessCount = 0;
    int m_nFailureCount = 0;
    // Meter setup copies.
    std::uint8_t m_nWiringMode = 0;
    int m_nCT = 0;
    int m_nPT = 0;
    // Measurement snapshot printed by the log record.
    log::MeasurementSnapshot m_snapshot;
    // The log's text needs a GBK encoder; without one, logging is refused.
    bool m_bGbkEncoder = log::HasGbkEncoder();
    QIcon m_hIcon; // the application icon, every size

    SerialControl& m_comm;
    CExchange& Link() { return m_link; }
    // Every sink the exchange reports to: the traffic monitor always, a trace file when added.
    TraceFanOut& Trace() { return m_traceFanOut; }

    // Command handlers (buttons and timer).
    void OnCommSettings();
    void OnMeterSetup();
    void OnTechSupport();
    void OnReadMeterTime();
    void OnStartSave();
    void OnPhaseCurrentAnalysis();
    void OnReadParams();
    void OnWriteParams();
    void OnStop();
    void OnReadMeasurements();
    void OnModifyAddress();
    void OnReadSwitchState();
    void OnTimer(unsigned id) override;

    void PollMeasurements();
    void ReadSwitchState();
    void PaintStateText(int id, const QString& text, QColor colour);
    void AppendLogRecord();

    // "9600N,8,2" for the current baud rate and parity.
    QString SettingsText() const;
    // Connection summary; reconfigured = true gives the one-blank no-parity line.
    QString Summary(bool reconfigured) const;

    // Stops timer 1 and closes the port; runs whenever the window ends.
    bool DestroyWindow();

    // Makes every command reachable from the menu: the items of "&系统功能" and "&帮助" run
    // the commands of their namesake buttons, and a pop-up "仪表功能" offers the commands of
    // the hidden buttons. Each item is enabled while its button is, and names what its button
    // names. Without this call the menu does nothing.
    void EnableAllCommands();
    // The caption of the pop-up that EnableAllCommands adds.
    static constexpr const char* kMeterMenuCaption =
        QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "仪表功能");
    // The prompt while the port is lost.
    static QString LostPrompt();
    // Why the meter's rate is not changed over a converter that keeps its own rate.
    static QString RateChangeRefusal();
    // A gateway's failure to reach the meter, added to the prompt after the operation whose
    // last exchange met it; gone after the next operation that exchanged without one.
    void NoteGatewayFailure(std::uint64_t collectionsBefore);
    // Collections the exchange has reported so far.
    std::uint64_t Collections() const;
    // How the last exchange fared, as the monitor shows it.
    TraceStatus LastOutcome() const;

    // The menu "查看" at the end of the menu bar: the traffic monitor and the current chart.
    // Made once, with the window; later items join it here.
    QMenu* BuildViewMenu();
    // The 查看 menu's texts and its open windows in the language now in force.
    void TranslateView();
    QMenu* ViewMenu() const { return m_viewMenu; }
    // The two windows beside this one, made on first use, shown and raised.
    MonitorWindow* ShowMonitor();
    ChartWindow* ShowChart();
    // The window of the meters on the bus (查看 > 多表巡检), made on first use, shown and raised;
    // null before.
    BusWindow* ShowBus();
    BusWindow* Bus() const;
    // The prompt after a bus polling stopped this window's own.
    static QString BusPollingPrompt();
    // What they show; both fill whether their windows are open or not.
    MonitorModel& Monitor();
    CurrentSamples& Samples();
    // Appends a row per poll to the CSV file at path from now on, the header first when the
    // file is empty. A file that cannot be written is reported in a box; the window goes on.
    void SetCsvFile(const QString& path);
    // One poll's outcome for the chart and the CSV file: the currents, when they were read,
    // scaled by decimalPoint.
    void RecordCurrents(const std::optional<std::array<std::uint16_t, 3>>& raw, int decimalPoint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    // Minimised, the window shows its icon centred on the dialog background.
    void paintEvent(QPaintEvent* event) override;
    void done(int result) override;
    void OnLanguageChange() override;

private:
    static constexpr int kSaveButton = 1021;
    // The prompt texts in the language of the moment, with their source texts.
    void LearnPromptTexts();
    std::map<QString, const char*> m_promptSources;
    // The summary shows the connection as the settings dialog last changed it.
    bool m_bReconfigured = false;

    void MirrorButton(QAction* item, int buttonId);
    // A command or a poll tick on a port that may have been lost: one reopen attempt first,
    // then fn, then the loss (if any) reported.
    void WithPortRecovery(const std::function<void()>& fn);
    void RecoverPort();
    // Shows a loss once per outage and keeps the prompt saying the port is lost.
    void ReportPortLoss();
    void EndOutage();

    // Made before the window's menu, the monitor and the chart samples it feeds, and the trace
    // fan-out that feeds them; the fan-out outlives the exchange that reports to it.
    void InitView();
    // Appends the CSV rows to the file; a failure is shown once until a write succeeds again.
    void AppendCsv(const QByteArray& rows);
    // The chart draws a meter of the bus (null: this window's own polls).
    void ChartDraws(CurrentSamples* samples, int address);
    // One driver on the line: the bus window's polling stops when this window's starts (or the
    // connection settings open), and this window's when the bus window's starts.
    void StopBusForOwnPolling();
    void StopBusForSettings();
    void StopBus();
    void StopPollingForBus();

    TraceFanOut m_traceFanOut;
    CExchange m_link;
    std::unique_ptr<ViewParts, ViewPartsDeleter> m_view;
    QMenu* m_viewMenu = nullptr;
    QString m_csvPath;
    // A CSV write has failed and its box was shown; cleared by the next write that succeeds.
    bool m_bCsvFailing = false;
    // Menu items standing in for a button (EnableAllCommands): they follow its state.
    std::vector<std::pair<QAbstractButton*, QAction*>> m_mirrors;
    QMenu* m_meterMenu = nullptr; // the pop-up EnableAllCommands adds
    // A poll is under way. Its take can open a message box whose loop goes on delivering
    // timer messages. Qt holds back the ticks of the timer whose handler is running, but a
    // timer 1 started afresh meanwhile is a new timer to it; a tick that finds this set is
    // skipped, so polls never overlap whatever restarts the timer.
    bool m_bPolling = false;
    // A log failure box is pending or open; further failures are not shown until it closes.
    bool m_bLogBoxShown = false;
    // An outage of the port has been reported (its box shown); cleared when the port is back.
    bool m_bPortLost = false;
    // The loss box while it stands: at most one, whose text a later outage brings up to date.
    QPointer<QMessageBox> m_lossBox;
    QString m_strLossShown; // the reason last reported
    // The prompt as operations left it during an outage, shown again when the port is back.
    QString m_strPromptBeforeLoss;
    // What NoteGatewayFailure added to the prompt; empty when nothing.
    QString m_strGatewayNote;
};

} // namespace md::ui
