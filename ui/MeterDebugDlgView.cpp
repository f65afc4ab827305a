// The main window's "查看" menu and what it shows beside the window: the traffic monitor, the
// current chart, and the CSV file of the polls.

#include "trace/TraceRows.h"
#include "log/CsvRecord.h"
#include "meter/MeterOps.h"
#include "ui/BusDlg.h"
#include "ui/CurrentChart.h"
#include "ui/MeterDebugDlg.h"
#include "ui/Language.h"
#include "ui/SaveFile.h"
#include "ui/TrafficMonitor.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace md::ui {

struct ViewParts {
    ViewParts() : rows([this](TraceRow&& row) { monitor.Append(std::move(row)); }) {}
    // The windows go first: they show the model and the samples.
    ~ViewParts() {
        delete monitorWindow;
        delete chartWindow;
        // Before the trace fan-out it listens on goes with the main window.
        delete busWindow;
    }

    MonitorModel monitor;
    TraceRowMaker rows;
    CurrentSamples samples;
    QPointer<MonitorWindow> monitorWindow;
    QPointer<ChartWindow> chartWindow;
    QPointer<BusWindow> busWindow;
    // The bus meter the chart draws (none: the window's own polls).
    QPointer<CurrentSamples> chartSamples;
    int chartAddress = -1;
};

void ViewPartsDeleter::operator()(ViewParts* parts) const {
    delete parts;
}

QPoint PlaceBeside(const QRect& main, const QSize& size, const QRect& screen) {
    constexpr int kGap = 8;
    int x = main.right() + kGap;
    if (x + size.width() > screen.right() + 1) {
        const int left = main.left() - kGap - size.width();
        x = left >= screen.left() ? left
                                  : std::max(screen.left(), screen.right() + 1 - size.width());
    }
    const int lowest = std::max(screen.top(), screen.bottom() + 1 - size.height());
    return {x, std::clamp(main.top(), screen.top(), lowest)};
}

namespace {

// A plain widget of its own is a "client" to Qt's accessibility, which AT-SPI calls a filler:
// a screen reader would not announce the monitor or the chart when they open.
QAccessibleInterface* WindowAccessibleFactory(const QString&, QObject* object) {
    if (qobject_cast<MonitorWindow*>(object) || qobject_cast<ChartWindow*>(object) ||
        qobject_cast<BusWindow*>(object))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

// Gives window the role of a window. Factories installed later are asked first, so ours comes
// before Qt's own; an interface Qt made while the window was being built is let go.
template <typename W> W* AnnouncedAsWindow(W* window) {
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(WindowAccessibleFactory);
        return true;
    }();
    QAccessible::deleteAccessibleInterface(
        QAccessible::uniqueId(QAccessible::queryAccessibleInterface(window)));
    return window;
}

// A window beside the main one the first time, where the operator left it later.
template <typename W> W* ShowBeside(QWidget* main, W* window, bool placed) {
    if (!placed) {
        // Not yet shown, the window has no frame: reckon with the main window's.
        const QSize frame = main->frameGeometry().size() - main->geometry().size();
        const QPoint at = PlaceBeside(main->frameGeometry(), window->size() + frame,
                                      main->screen()->availableGeometry());
        window->move(at);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace

void CMeterDebugDlg::InitView() {
    m_view.reset(new ViewParts);
    m_traceFanOut.Add(m_view->rows);
    m_link.SetTrace(m_traceFanOut);
    BuildViewMenu();
}

QMenu* CMeterDebugDlg::BuildViewMenu() {
    if (m_viewMenu)
        return m_viewMenu;
    m_viewMenu = MenuBar()->addMenu(QString());
    connect(m_viewMenu->addAction(QString()), &QAction::triggered, this,
            [this] { ShowMonitor(); });
    connect(m_viewMenu->addAction(QString()), &QAction::triggered, this,
            [this] { ShowChart(); });
    connect(m_viewMenu->addAction(QString()), &QAction::triggered, this, [this] { ShowBus(); });
    AddLanguageMenu(m_viewMenu);
    TranslateView();
    return m_viewMenu;
}

void CMeterDebugDlg::TranslateView() {
    m_viewMenu->setTitle(tr("查看"));
    const QList<QAction*> items = m_viewMenu->actions();
    items[0]->setText(tr("通讯监视"));
    items[1]->setText(tr("电流曲线"));
    items[2]->setText(tr("多表巡检"));
    // The windows put their own texts in the new language where they stand, keeping the
    // chart's range and pause and the monitor's selection.
}

MonitorModel& CMeterDebugDlg::Monitor() {
    return m_view->monitor;
}

CurrentSamples& CMeterDebugDlg::Samples() {
    return m_view->samples;
}

MonitorWindow* CMeterDebugDlg::ShowMonitor() {
    const bool placed = m_view->monitorWindow;
    if (!placed)
        m_view->monitorWindow = AnnouncedAsWindow(new MonitorWindow(m_view->monitor, this));
    return ShowBeside(this, m_view->monitorWindow.data(), placed);
}

ChartWindow* CMeterDebugDlg::ShowChart() {
    const bool placed = m_view->chartWindow;
    if (!placed) {
        m_view->chartWindow = AnnouncedAsWindow(new ChartWindow(m_view->samples, this));
        if (m_view->chartSamples)
            m_view->chartWindow->ShowSamples(*m_view->chartSamples, m_view->chartAddress);
    }
    return ShowBeside(this, m_view->chartWindow.data(), placed);
}

BusWindow* CMeterDebugDlg::Bus() const {
    return m_view->busWindow;
}

BusWindow* CMeterDebugDlg::ShowBus() {
    const bool placed = m_view->busWindow;
    if (!placed) {
        BusLine line;
        line.link = &m_link;
        line.trace = &m_traceFanOut;
        line.onLine = [this](const std::function<void()>& step) {
            Guard([this, &step] { WithPortRecovery(step); });
        };
        line.starting = [this] { StopPollingForBus(); };
        auto* bus = AnnouncedAsWindow(new BusWindow(std::move(line), this));
        bus->onSelected = [this](std::uint8_t address, CurrentSamples& samples) {
            ChartDraws(&samples, address);
        };
        if (!m_csvPath.isEmpty())
            bus->SetCsvFile(log::BusCsvPath(m_csvPath));
        m_view->busWindow = bus;
    }
    return ShowBeside(this, m_view->busWindow.data(), placed);
}

void CMeterDebugDlg::ChartDraws(CurrentSamples* samples, int address) {
    m_view->chartSamples = samples;
    m_view->chartAddress = samples ? address : -1;
    if (m_view->chartWindow)
        m_view->chartWindow->ShowSamples(samples ? *samples : m_view->samples,
                                         m_view->chartAddress);
}

void CMeterDebugDlg::StopBusForOwnPolling() {
    if (m_view->busWindow && m_view->busWindow->Running())
        m_view->busWindow->Stop(BusWindow::StopReason::MainWindowPolls);
}

void CMeterDebugDlg::StopBus() {
    if (m_view->busWindow && m_view->busWindow->Running())
        m_view->busWindow->Stop();
}

void CMeterDebugDlg::StopBusForSettings() {
    if (m_view->busWindow && m_view->busWindow->Running())
        m_view->busWindow->Stop(BusWindow::StopReason::Settings);
}

void CMeterDebugDlg::StopPollingForBus() {
    if (!IsTimerRunning(kPollTimer))
        return;
    OnStop();
    m_strPrompt = BusPollingPrompt();
    SetDlgItemText(kPromptEdit, m_strPrompt);
}

QString CMeterDebugDlg::BusPollingPrompt() {
    return tr("多表巡检开始，已停止读测量数据...");
}

void CMeterDebugDlg::RecordCurrents(const std::optional<std::array<std::uint16_t, 3>>& raw,
                                    int decimalPoint) {
    const log::CurrentSample sample =
        SampleNow(raw, decimalPoint, raw ? "ok" : StatusWord(m_view->rows.LastOutcome()));
    m_view->samples.Add(sample);
    if (!m_csvPath.isEmpty())
        AppendCsv(log::CsvRow(sample));
}

void CMeterDebugDlg::SetCsvFile(const QString& path) {
    m_csvPath = path;
    if (m_view->busWindow)
        m_view->busWindow->SetCsvFile(path.isEmpty() ? QString() : log::BusCsvPath(path));
    AppendCsv({});
}

std::uint64_t CMeterDebugDlg::Collections() const {
    return m_view->rows.Collections();
}

TraceStatus CMeterDebugDlg::LastOutcome() const {
    return m_view->rows.LastOutcome();
}

void CMeterDebugDlg::AppendCsv(const QByteArray& rows) {
    const auto reason = log::AppendCsv(m_csvPath, rows);
    if (!reason) {
        m_bCsvFailing = false;
        return;
    }
    if (m_bCsvFailing)
        return;
    m_bCsvFailing = true;
    // After the tick, as the log's failure box: a box inside it would hold the poll timer.
    QTimer::singleShot(0, this,
                       [path = m_csvPath, why = *reason] { ReportUnwritable(path, why); });
}

} // namespace md::ui
