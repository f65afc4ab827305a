// The "查看" menu and the windows beside the main window, offscreen with the in-process meter
// and the virtual clock: the monitor, the chart, their files, and the --csv file through a kill.

#include "fakes/MainWindowRig.h"
#include "trace/TraceWriter.h"
#include "meter/Registers.h"
#include "ui/CurrentChart.h"
#include "ui/Language.h"
#include "ui/SaveFile.h"
#include "ui/TrafficMonitor.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <chrono>
#include <cstdio>

using namespace md;
using ui::ChartWindow;

namespace {

struct Window : MainWindowRig {
    explicit Window(bool allCommands = false) {
        if (allCommands)
            dlg.EnableAllCommands();
        meter.SetRegister(reg::kDecimalPoint, 2);
        meter.SetRegister(reg::kPhaseCurrents, 1234);
        meter.SetRegister(reg::kPhaseCurrents + 1, 100);
        meter.SetRegister(reg::kPhaseCurrents + 2, 65535);
    }
    QStringList Column(int column) {
        QStringList texts;
        for (int r = 0; r < dlg.Monitor().rowCount(); ++r)
            texts << dlg.Monitor().index(r, column).data().toString();
        return texts;
    }
};

QStringList Lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

log::CurrentSample Sample(qint64 ms, bool ok, double b = 2) {
    log::CurrentSample s;
    s.time = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    s.ok = ok;
    s.amps = {1, b, 3};
    s.outcome = ok ? "ok" : "no answer";
    return s;
}

// The currents of a phase now drawn.
QList<qreal> Drawn(const ChartWindow& chart, int phase) {
    QList<qreal> amps;
    for (const QLineSeries* piece : chart.Pieces(phase))
        for (const QPointF& p : piece->points())
            amps << p.y();
    return amps;
}

} // namespace

class TestView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void MenuIsLastAndLive_data();
    void MenuIsLastAndLive();
    void WindowsOpenOnTheScreen_data();
    void WindowsOpenOnTheScreen();
    void PollsReachTheWindowsAndTheirFiles();
    void MonitorKeepsTheLastRows();
    void MonitorAndTraceShareEachReportsTime();
    void LanguageSwitchKeepsTheWindowsAsTheyStand();
    void ChartRangeAndSampleLimit_data();
    void ChartRangeAndSampleLimit();
    void CsvRowsSurviveAKill();
    void PollForeverWithCsv();
};

void TestView::MenuIsLastAndLive_data() {
    QTest::addColumn<bool>("allCommands");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("plain") << false << QStringList{"&系统功能", "&帮助", "查看"};
    QTest::newRow("all commands") << true << QStringList{"&系统功能", "仪表功能", "&帮助", "查看"};
}

void TestView::MenuIsLastAndLive() {
    QFETCH(bool, allCommands);
    QFETCH(QStringList, titles);
    Window w(allCommands);
    w.Init();
    QStringList top;
    for (QAction* a : w.dlg.MenuBar()->actions())
        top << a->text();
    QCOMPARE(top, titles);
    QMenu* view = w.dlg.ViewMenu();
    QCOMPARE(w.dlg.MenuBar()->actions().last()->menu(), view);
    // The three windows, then the language submenu.
    QCOMPARE(view->actions().size(), 4);
    QVERIFY(view->actions()[3]->menu());
    view->actions()[0]->trigger();
    view->actions()[1]->trigger();
    auto* monitor = w.dlg.findChild<ui::MonitorWindow*>();
    auto* chart = w.dlg.findChild<ChartWindow*>();
    QVERIFY(monitor && monitor->isVisible() && !monitor->isModal());
    QVERIFY(chart && chart->isVisible());
    QCOMPARE(monitor->windowTitle(), QStringLiteral("通讯监视"));
    QCOMPARE(chart->windowTitle(), QStringLiteral("电流曲线"));
    // A second choice shows the same window again.
    QCOMPARE(w.dlg.ShowChart(), chart);
}

void TestView::WindowsOpenOnTheScreen_data() {
    QTest::addColumn<QRect>("main");
    QTest::addColumn<QPoint>("at");
    // A 760×460 window on a 1920×1080 screen.
    QTest::newRow("room on the right") << QRect(100, 50, 508, 649) << QPoint(615, 50);
    QTest::newRow("room on the left") << QRect(1300, 100, 508, 649) << QPoint(532, 100);
    // The main window centred on the screen used to push the chart 60 pixels off it.
    QTest::newRow("room on neither side") << QRect(706, 215, 508, 649) << QPoint(1160, 215);
    QTest::newRow("low on the screen") << QRect(100, 900, 508, 180) << QPoint(615, 620);
}

void TestView::WindowsOpenOnTheScreen() {
    QFETCH(QRect, main);
    QFETCH(QPoint, at);
    QCOMPARE(ui::PlaceBeside(main, QSize(760, 460), QRect(0, 0, 1920, 1080)), at);
}

void TestView::PollsReachTheWindowsAndTheirFiles() {
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("polls.csv"));
    Window w;
    w.dlg.SetCsvFile(csv);
    w.Init();
    w.dlg.OnTimer(1);
    w.meter.SetSilent(true);
    w.dlg.OnTimer(1);
    w.meter.SetSilent(false);
    w.dlg.OnTimer(1);

    // Rows come while no window is open: decimal point and currents, each sent and collected.
    const QStringList answered{"ok", "ok", "ok", "ok"};
    QCOMPARE(w.Column(ui::MonitorModel::kStatus),
             (answered + QStringList{"ok", "no answer", "ok", "no answer"} + answered));
    // Without fast waits the arrivals are not watched: the wait is not the response.
    QCOMPARE(w.Column(ui::MonitorModel::kResponse)[3], QString());
    const QModelIndex failed = w.dlg.Monitor().index(5, ui::MonitorModel::kMeaning);
    QVERIFY(failed.data(Qt::BackgroundRole).value<QColor>().isValid());
    QVERIFY(!w.dlg.Monitor().index(4, 0).data(Qt::BackgroundRole).isValid());

    ChartWindow* chart = w.dlg.ShowChart();
    QCOMPARE(chart->Pieces(0).size(), 2); // the failed poll parts the lines
    QCOMPARE(chart->Pieces(2).at(1)->at(0).y(), 655.35);
    const qint64 first = w.dlg.Samples().All().front().time.toMSecsSinceEpoch();
    QVERIFY(chart->HoverText(first).endsWith(QStringLiteral("A相 12.34  B相 1  C相 655.35")));

    const QStringList rows = Lines(csv);
    QCOMPARE(rows.size(), 4);
    QVERIFY2(rows[1].endsWith(QStringLiteral(",12.34,1,655.35,2,ok")), qPrintable(rows[1]));
    QVERIFY2(rows[2].endsWith(QStringLiteral(",,,,2,no answer")), qPrintable(rows[2]));

    QString chosen;
    ui::SaveFileChooser() = [&chosen](QWidget*, const QString&, const QString&) { return chosen; };
    ui::MonitorWindow* monitor = w.dlg.ShowMonitor();
    chosen = dir.filePath(QStringLiteral("trace.txt"));
    monitor->Save();
    QFile trace(chosen);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QCOMPARE(trace.readAll(), w.dlg.Monitor().TraceText());
    chosen = dir.filePath(QStringLiteral("chart.png"));
    chart->SavePicture();
    QCOMPARE(QImage(chosen).size(), chart->findChild<QChartView*>()->size());
    chosen = dir.filePath(QStringLiteral("all.csv"));
    chart->ExportCsv();
    QCOMPARE(Lines(chosen), rows);
    QCOMPARE(w.modal.Boxes(), QStringList());

    // A file that cannot be written: a box names it and the reason, nothing else changes.
    const QString bad = dir.filePath(QStringLiteral("missing/x"));
    QVERIFY(!monitor->SaveTo(bad));
    QVERIFY(!chart->SavePictureTo(bad));
    QVERIFY(!chart->ExportCsvTo(bad));
    QCOMPARE(w.modal.Boxes().size(), 3);
    for (const QString& box : w.modal.Boxes())
        QVERIFY2(box.startsWith(QStringLiteral("无法写入文件 ") + bad + QStringLiteral("：")) &&
                     box.size() > bad.size() + 8,
                 qPrintable(box));
    QCOMPARE(int(w.dlg.Samples().All().size()), 3);
}

void TestView::MonitorKeepsTheLastRows() {
    ui::MonitorModel m;
    const auto row = [](int i) { return TraceRow{.line = "row " + std::to_string(i)}; };
    const auto last = [&m] { return m.Row(m.rowCount() - 1).line; };
    constexpr int kLimit = ui::MonitorModel::kRowLimit;
    for (int i = 0; i < kLimit + 5; ++i)
        m.Append(row(i));
    QCOMPARE(m.rowCount(), kLimit);
    QCOMPARE(m.Row(0).line, row(5).line);

    // Paused, the table stands still: new rows are held, as many again at most, and beyond
    // them the oldest held ones go (the shown ones went, and the paused table ran empty).
    ui::MonitorWindow window(m, nullptr);
    auto* dropped = window.findChild<QLabel*>();
    QVERIFY(dropped);
    window.PauseButton()->click();
    for (int i = 0; i < kLimit + 3; ++i)
        m.Append(row(20000 + i));
    QCOMPARE(m.rowCount(), kLimit);
    QCOMPARE(m.Row(0).line, row(5).line);
    QCOMPARE(last(), row(10004).line);
    QCOMPARE(m.Held(), kLimit);
    QCOMPARE(m.TraceText().count('\n'), 2 * kLimit);
    QCOMPARE(dropped->text(), QString());
    // Resumed, the newest rows show, and the window says what the pause cost.
    window.PauseButton()->click();
    QCOMPARE(m.rowCount(), kLimit);
    QCOMPARE(m.Row(0).line, row(20003).line);
    QCOMPARE(last(), row(20000 + kLimit + 2).line);
    QCOMPARE(m.DroppedWhilePaused(), 3);
    QCOMPARE(dropped->text(), QStringLiteral("暂停期间到达的最早 3 行已丢弃"));
}

// Each report reaches the monitor and the trace file with one reading of the clock, however
// long the sinks between them take.
void TestView::MonitorAndTraceShareEachReportsTime() {
    struct Slow final : TraceSink {
        // Lets the clock move on to its next millisecond.
        static void Wait() {
            using namespace std::chrono;
            const auto start = floor<milliseconds>(system_clock::now());
            while (floor<milliseconds>(system_clock::now()) == start) {
            }
        }
        void Sent(std::span<const std::uint8_t>, bool) override { Wait(); }
        void Received(std::span<const std::uint8_t>, const AnswerWanted&,
                      const AnswerSearch&) override {
            Wait();
        }
        void Dropped(std::span<const std::uint8_t>, DropReason) override { Wait(); }
    } slow;
    std::FILE* file = std::tmpfile();
    QVERIFY(file);
    TraceWriter writer(file, true);
    Window w;
    w.Init();
    w.dlg.Trace().Add(slow);
    w.dlg.Trace().Add(writer);
    w.dlg.OnTimer(1);
    w.meter.SetSilent(true);
    w.dlg.OnTimer(1);
    std::rewind(file);
    QByteArray traced;
    for (char buf[256]; std::fgets(buf, sizeof buf, file);)
        traced += buf;
    QCOMPARE(w.dlg.Monitor().rowCount(), 8);
    QCOMPARE(traced, w.dlg.Monitor().TraceText());
}

// A change of language leaves the chart on its range and paused, and the monitor's selection.
void TestView::LanguageSwitchKeepsTheWindowsAsTheyStand() {
    Window w;
    w.Init();
    w.dlg.OnTimer(1);
    w.dlg.OnTimer(1);
    ChartWindow* chart = w.dlg.ShowChart();
    chart->SetRange(ChartWindow::Range::All);
    chart->PauseButton()->click();
    ui::MonitorWindow* monitor = w.dlg.ShowMonitor();
    monitor->Table()->selectRow(2);
    const auto selected = [monitor] {
        QList<int> rows;
        for (const QModelIndex& index : monitor->Table()->selectionModel()->selectedRows())
            rows << index.row();
        return rows;
    };
    const auto check = [&](const char* chartTitle, const char* pause) {
        QCOMPARE(w.dlg.ShowChart()->windowTitle(), QString::fromUtf8(chartTitle));
        QCOMPARE(w.dlg.ShowChart()->CurrentRange(), ChartWindow::Range::All);
        QVERIFY(w.dlg.ShowChart()->PauseButton()->isChecked());
        QCOMPARE(w.dlg.ShowChart()->PauseButton()->text(), QString::fromUtf8(pause));
        QCOMPARE(selected(), QList<int>{2});
    };
    ui::SetLanguage(ui::Language::English);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    check("Current chart", "Pause");
    QCOMPARE(monitor->windowTitle(), QStringLiteral("Traffic monitor"));
    ui::SetLanguage(ui::Language::Chinese);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    check("电流曲线", "暂停");
    w.dlg.KillTimer(ui::CMeterDebugDlg::kPollTimer);
}

void TestView::ChartRangeAndSampleLimit_data() {
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("failEvery"); // polls i with i % failEvery != 0 fail too; 0: none
    QTest::addColumn<int>("points");    // of one phase, in view; 0: the extremes of stretches
    QTest::addColumn<int>("pieces");
    QTest::addColumn<qint64>("spanMs");
    // Polls every 2 s; the tenth from the end failed.
    const int minute = int(ChartWindow::Range::Minute),
              tenMinutes = int(ChartWindow::Range::TenMinutes),
              hour = int(ChartWindow::Range::Hour), all = int(ChartWindow::Range::All);
    QTest::newRow("1 min") << minute << 0 << 30 << 2 << qint64(60000);
    QTest::newRow("10 min") << tenMinutes << 0 << 300 << 2 << qint64(600000);
    // Decimated, a gap narrower than a stretch (6 s, 144 s) would not show.
    QTest::newRow("1 h") << hour << 0 << 0 << 1 << qint64(3600000);
    QTest::newRow("all") << all << 0 << 0 << 1 << qint64(43199 * 2000);
    // Every failed poll drew three series of its own: thousands froze the window.
    QTest::newRow("all, every other poll failed") << all << 2 << 0 << 1 << qint64(43199 * 2000);
    QTest::newRow("10 min, every other poll failed")
        << tenMinutes << 2 << 151 << 151 << qint64(600000);
    // 450 gaps of 8 s, each wider than a stretch: more than the chart draws.
    QTest::newRow("1 h, three of four polls failed") << hour << 4 << 0 << 1 << qint64(3600000);
}

void TestView::ChartRangeAndSampleLimit() {
    QFETCH(int, range);
    QFETCH(int, failEvery);
    QFETCH(int, points);
    QFETCH(int, pieces);
    QFETCH(qint64, spanMs);
    Window w;
    ui::CurrentSamples& samples = w.dlg.Samples();
    const qint64 t0 = QDateTime(QDate(2026, 12, 7), QTime(8, 0)).toMSecsSinceEpoch();
    const int n = ui::CurrentSamples::kLimit + 5;
    for (int i = 0; i < n; ++i)
        samples.Add(
            Sample(t0 + 2000LL * i, i != n - 10 && (!failEvery || i % failEvery == 0), i % 50));
    QCOMPARE(int(samples.All().size()), ui::CurrentSamples::kLimit);
    QCOMPARE(samples.All().front().time.toMSecsSinceEpoch(), t0 + 10000);

    ChartWindow* chart = w.dlg.ShowChart();
    QCOMPARE(chart->CurrentRange(), ChartWindow::Range::TenMinutes);
    chart->SetRange(ChartWindow::Range(range));
    auto* axis = qobject_cast<QDateTimeAxis*>(chart->Chart()->axes(Qt::Horizontal).value(0));
    QVERIFY(axis);
    const auto check = [&] {
        QCOMPARE(chart->Pieces(1).size(), pieces);
        QVERIFY(chart->Pieces(1).size() <= ChartWindow::kMaxPieces);
        const QList<qreal> amps = Drawn(*chart, 1);
        if (points) {
            QCOMPARE(amps.size(), points);
            return;
        }
        // Too many to draw each: the lowest and highest of every stretch of time (600), and
        // of the two parts of a stretch that a failed poll parts; the envelope stays whole.
        QVERIFY2(amps.size() <= 1202 && amps.size() > 200,
                 qPrintable(QString::number(amps.size())));
        QList<qreal> answered;
        for (const log::CurrentSample& s : samples.All())
            if (s.ok && s.time >= axis->min())
                answered << s.amps[1];
        QCOMPARE(std::ranges::min(amps), std::ranges::min(answered));
        QCOMPARE(std::ranges::max(amps), std::ranges::max(answered));
    };
    check();
    QCOMPARE(axis->min().msecsTo(axis->max()), spanMs);

    // One more poll: the view moves on, and the oldest point leaves it.
    samples.Add(Sample(t0 + 2000LL * n, true));
    if (failEvery == 0)
        check();
    QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 2000LL * n);

    // Paused, the view stands still while the samples keep coming.
    chart->PauseButton()->click();
    samples.Add(Sample(t0 + 2000LL * (n + 1), true));
    QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 2000LL * n);
    chart->PauseButton()->click();
    QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 2000LL * (n + 1));

    // Closed, the chart draws nothing; shown again, it draws what came meanwhile.
    chart->close();
    samples.Add(Sample(t0 + 2000LL * (n + 2), true));
    QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 2000LL * (n + 1));
    w.dlg.ShowChart();
    QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 2000LL * (n + 2));
}

// Runs in a child that the next test starts and kills: polls until killed, the rows going to
// the file named by VIEW_CSV.
void TestView::PollForeverWithCsv() {
    const QString path = qEnvironmentVariable("VIEW_CSV");
    if (path.isEmpty())
        QSKIP("runs only as the child of CsvRowsSurviveAKill");
    Window w;
    w.dlg.SetCsvFile(path);
    w.Init();
    for (;;)
        w.dlg.OnTimer(1);
}

void TestView::CsvRowsSurviveAKill() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("polls.csv"));
    QCOMPARE(log::AppendCsv(path, "earlier run\r\n"), std::nullopt);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VIEW_CSV"), path);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("PollForeverWithCsv")});
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(Lines(path).size() >= 200, 20000);
    child.kill();
    QVERIFY(child.waitForFinished());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("\r\n")); // no row cut in half
    const QStringList rows = Lines(path);
    QCOMPARE(rows.mid(0, 2), (QStringList{QString::fromLatin1(log::CsvHeader().trimmed()),
                                          QStringLiteral("earlier run")}));
    static const QRegularExpression row(QStringLiteral(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,12\.34,1,655\.35,2,ok$)"));
    for (const QString& r : rows.mid(2))
        QVERIFY2(row.match(r).hasMatch(), qPrintable(r));
}

QTEST_MAIN(TestView)
#include "tst_view.moc"
