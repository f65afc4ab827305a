// The main window's "查看" menu and what it shows beside the window: the traffic monitor, the
// current chart, and the CSV file of the polls.

#include "trace/TraceRows.h"
#include "log/CsvRecord.h"
#include "meter/MeterOps.h"
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
    }

    MonitorModel monitor;
    TraceRowMaker rows;
    CurrentSamples samples;
    QPointer<MonitorWindow> monitorWindow;
    QPointer<ChartWindow> chartWindow;
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
    if (qobject_cast<MonitorWindow*>(object) || qobject_cast<ChartWindow*>(object))
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
    AddLanguageMenu(m_viewMenu);
    TranslateView();
    return m_viewMenu;
}

void CMeterDebugDlg::TranslateView() {
    m_viewMenu->setTitle(tr("查看"));
    const QList<QAction*> items = m_viewMenu->actions();
    items[0]->setText(tr("通讯监视"));
    items[1]->setText(tr("电流曲线"));
    // The two windows put their own texts in the new language where they stand, keeping the
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
    if (!placed)
        m_view->chartWindow = AnnouncedAsWindow(new ChartWindow(m_view->samples, this));
    return ShowBeside(this, m_view->chartWindow.data(), placed);
}

void CMeterDebugDlg::RecordCurrents(const std::optional<std::array<std::uint16_t, 3>>& raw,
                                    int decimalPoint) {
    log::CurrentSample sample;
    // Local time as a fixed offset: the offset of the moment is all a row needs, and the
    // chart converts tens of thousands of these without consulting the time zone each time.
    const QDateTime now = QDateTime::currentDateTime();
    sample.time = now.toOffsetFromUtc(now.offsetFromUtc());
    sample.decimalPoint = decimalPoint;
    sample.ok = raw.has_value();
    if (raw) {
        const double scale = meter::ScaleFor(decimalPoint);
        for (std::size_t i = 0; i < raw->size(); ++i)
            sample.amps[i] = (*raw)[i] * scale;
    }
    sample.outcome = raw ? "ok" : StatusWord(m_view->rows.LastOutcome());
    m_view->samples.Add(sample);
    if (!m_csvPath.isEmpty())
        AppendCsv(log::CsvRow(sample));
}

void CMeterDebugDlg::SetCsvFile(const QString& path) {
    m_csvPath = path;
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
