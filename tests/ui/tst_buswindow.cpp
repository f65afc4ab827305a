// The window of the meters on the bus, beside the main window on the fake port and virtual
// clock: one driver on the line at a time, an outage told once for the whole window, the
// scan's meters taken all at once, and the chart and CSV file of each meter.

#include "fakes/MainWindowRig.h"
#include "meter/Registers.h"
#include "ui/BusDlg.h"
#include "ui/CommSetDlg.h"
#include "ui/CurrentChart.h"
#include "ui/FindMeterDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace md;
using namespace md::ui;

namespace {

constexpr int kReadMeasurements = 1065;
constexpr int kCommSettings = 1004;

struct Rig : MainWindowRig {
    Rig() : second(port, 2) {
        Init();
        bus = dlg.ShowBus();
        bus->AddressEdit()->setText(QStringLiteral("1,2"));
    }
    bool MainPolls() const { return dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer); }
    // Steps the bus window's polling until a cycle is over, as its timer would.
    void RunCycle() {
        const std::uint64_t cycle = bus->Poller()->Cycles() + 1;
        for (int i = 0; i < 100 && bus->Running(); ++i) {
            clock.Advance(bus->Step());
            if (bus->Poller()->Cycles() >= cycle && !bus->Poller()->InCycle())
                return;
        }
    }

    FakeMeter second;
    BusWindow* bus = nullptr;
};

} // namespace

class TestBusWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void OnlyOnePollingDrivesTheLine_data();
    void OnlyOnePollingDrivesTheLine();
    void LineOutageIsOneStateForTheWindow();
    void UseAllTakesEveryMeterFound_data();
    void UseAllTakesEveryMeterFound();
    void EachMeterHasItsChartAndCsvRows();
};

void TestBusWindow::OnlyOnePollingDrivesTheLine_data() {
    QTest::addColumn<QString>("second"); // what starts while the other polls
    QTest::addColumn<bool>("busPolls");  // afterwards
    QTest::addColumn<QString>("said");   // by the prompt line or the bus window
    QTest::newRow("bus window after the main window")
        << "bus" << true << CMeterDebugDlg::BusPollingPrompt();
    QTest::newRow("main window after the bus window")
        << "main" << false << QStringLiteral("主窗口开始读测量数据，巡检已停止");
    QTest::newRow("the main window's timer, however restarted")
        << "tick" << false << QStringLiteral("主窗口开始读测量数据，巡检已停止");
}

void TestBusWindow::OnlyOnePollingDrivesTheLine() {
    QFETCH(QString, second);
    QFETCH(bool, busPolls);
    QFETCH(QString, said);
    Rig rig;
    if (second == "bus") {
        rig.Click(kReadMeasurements);
        QVERIFY(rig.MainPolls());
        rig.bus->StartButton()->click();
    } else {
        rig.bus->StartButton()->click();
        QVERIFY(rig.bus->Running());
        if (second == "main")
            rig.Click(kReadMeasurements);
        else
            rig.dlg.OnTimer(CMeterDebugDlg::kPollTimer);
    }
    QCOMPARE(rig.bus->Running(), busPolls);
    QCOMPARE(rig.MainPolls(), !busPolls && second == "main");
    QCOMPARE(rig.Enabled(kReadMeasurements), second != "main");
    QCOMPARE(busPolls ? rig.Text(CMeterDebugDlg::kPromptEdit) : rig.bus->StatusLabel()->text(),
             said);
}

void TestBusWindow::LineOutageIsOneStateForTheWindow() {
    Rig rig;
    rig.bus->StartButton()->click();
    rig.RunCycle();
    const std::size_t sent = rig.Sent();
    rig.port.FailOpen("still gone");
    rig.port.Lose("gone");
    for (int cycle = 0; cycle < 3; ++cycle) {
        rig.RunCycle();
        QCoreApplication::processEvents();
    }
    QCOMPARE(rig.modal.Boxes(), QStringList{"gone"});
    QCOMPARE(rig.bus->StatusLabel()->text(), QStringLiteral("线路中断：gone"));
    QCOMPARE(rig.Text(CMeterDebugDlg::kPromptEdit), CMeterDebugDlg::LostPrompt());
    QCOMPARE(rig.Sent(), sent);
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(rig.bus->Table()->item(row, BusWindow::kFailure)->text(), QStringLiteral("0"));
        QCOMPARE(rig.bus->Table()->item(row, BusWindow::kState)->text(), QStringLiteral("应答"));
    }
    // The main window's recovery brings the line back at the next step.
    rig.port.FailOpen(std::nullopt);
    rig.RunCycle();
    QVERIFY(rig.bus->StatusLabel()->text().startsWith(QStringLiteral("正在巡检")));
    QCOMPARE(rig.bus->Table()->item(1, BusWindow::kSuccess)->text(), QStringLiteral("2"));
}

void TestBusWindow::UseAllTakesEveryMeterFound_data() {
    QTest::addColumn<char>("parityOf7");
    QTest::addColumn<QString>("settings"); // the main window's line afterwards
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("one line: its rate and parity are set") << 'N' << "9600N,8,2" << QStringList{};
    QTest::newRow("parities differ: the line stays, and a box says why")
        << 'E' << "19200O,8,2"
        << QStringList{QStringLiteral("找到的仪表波特率或校验不同，波特率和校验未改变")};
}

void TestBusWindow::UseAllTakesEveryMeterFound() {
    QFETCH(char, parityOf7);
    QFETCH(QString, settings);
    QFETCH(QStringList, boxes);
    MainWindowRig rig(3);
    rig.dlg.m_nBaudRate = 19200;
    rig.dlg.m_nParity = 1;
    rig.Init();
    FakeMeter seven(rig.port, 7);
    seven.SetLine(1, 9600, parityOf7);
    rig.modal.Answer(
        [](QWidget* w) { qobject_cast<CDialog*>(w)->SendCommand(CCommSetDlg::kFindMeter); });
    rig.modal.Answer([](QWidget* w) {
        auto* find = qobject_cast<CFindMeterDlg*>(w);
        QVERIFY(find);
        find->AllBox()->setChecked(true);
        find->StartButton()->click();
        for (int i = 0; i < 1'000'000 && find->Running(); ++i)
            QCoreApplication::processEvents();
        QCOMPARE(find->MeterList()->topLevelItemCount(), 2);
        find->UseAllButton()->click();
    });
    rig.modal.Answer([](QWidget* w) { qobject_cast<CDialog*>(w)->Button(IDOK)->click(); });
    rig.dlg.SendCommand(kCommSettings);

    QCOMPARE(rig.modal.Boxes(), boxes);
    QCOMPARE(QString::fromStdString(rig.port.GetSettings()), settings);
    QVERIFY(rig.dlg.Bus());
    QCOMPARE(rig.dlg.Bus()->AddressEdit()->text(), QStringLiteral("3,7"));
    QVERIFY(rig.modal.Unanswered().isEmpty());
}

void TestBusWindow::EachMeterHasItsChartAndCsvRows() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("polls.csv"));
    Rig rig;
    rig.dlg.SetCsvFile(path);
    rig.second.SetRegister(reg::kDecimalPoint, 1);
    rig.second.SetNoAnswerAt(reg::kPhaseCurrents);
    rig.bus->StartButton()->click();
    rig.RunCycle();

    QFile bus(dir.filePath(QStringLiteral("polls-bus.csv")));
    QVERIFY(bus.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = bus.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // the header, two rows, nothing after the last line end
    QCOMPARE(lines[0], QByteArray("time,address,phase_a,phase_b,phase_c,decimal_point,outcome\r"));
    QCOMPARE(lines[1].mid(lines[1].indexOf(',')), QByteArray(",1,12.34,23.45,34.56,2,ok\r"));
    QCOMPARE(lines[2].mid(lines[2].indexOf(',')), QByteArray(",2,,,,1,no answer\r"));
    // The single meter's file keeps its own columns, and no bus row.
    QFile own(path);
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), log::CsvHeader());

    ChartWindow* chart = rig.dlg.ShowChart();
    rig.bus->Table()->selectRow(1);
    QCOMPARE(&chart->Shown(), rig.bus->SamplesOf(2));
    QCOMPARE(chart->Shown().All().size(), std::size_t{1});
    rig.bus->Table()->selectRow(0);
    QCOMPARE(&chart->Shown(), rig.bus->SamplesOf(1));
    QCOMPARE(chart->windowTitle(), QStringLiteral("电流曲线 - 地址 1"));
    // The main window's polling takes the chart back.
    rig.Click(kReadMeasurements);
    QCOMPARE(&chart->Shown(), &rig.dlg.Samples());
}

QTEST_MAIN(TestBusWindow)
#include "tst_buswindow.moc"
