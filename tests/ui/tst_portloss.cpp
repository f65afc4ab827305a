// A port that is lost while the window runs (the control reports it; the window asks and
// reports): one box per outage, every poll counted, the prompt, and the reopen attempts.
// Offscreen, with the in-process meter and the virtual clock.

#include "fakes/MainWindowRig.h"
#include "ui/MeterDebugDlg.h"

#include <QMessageBox>
#include <QTest>

#include <algorithm>

using namespace md;
using md::ui::CMeterDebugDlg;

namespace {

const std::string kLoss = "串口 COM1（/dev/ttyUSB0）已断开：线路已挂断，设备已拔出或已关闭";

long Reopens(const FakePort& port) {
    const std::vector<std::string> log = port.Log();
    return std::count(log.begin(), log.end(), std::string("Reopen"));
}

// Polling, then the device goes away and stays away: one tick has found the loss.
void LoseWhilePolling(MainWindowRig& w) {
    w.Click(1065);
    w.port.Lose(kLoss);
    w.port.FailOpen("无法打开串口 COM1：设备不存在");
    w.dlg.OnTimer(1);
}

} // namespace

class TestPortLoss : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void OutageIsShownOnceCountedAndEndsWithTheDevice();
    void CommandsDuringAnOutageTryToReopenFirst_data();
    void CommandsDuringAnOutageTryToReopenFirst();
    void FlappingLineKeepsOneBox();
    void ReconfigurationEndsTheOutage();
    void ReconfigurationWhileTheDeviceIsAwayLeavesTheOutageOpen_data();
    void ReconfigurationWhileTheDeviceIsAwayLeavesTheOutageOpen();
};

void TestPortLoss::OutageIsShownOnceCountedAndEndsWithTheDevice() {
    MainWindowRig w;
    QStringList boxesDuringFirstOutage;
    w.Run([&] {
        w.Click(1065);
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1069), QStringLiteral("1"));

        w.port.Lose(kLoss);
        w.port.FailOpen("无法打开串口 COM1：设备不存在");
        for (int i = 0; i < 3; ++i)
            w.dlg.OnTimer(1);
        // Not inside the tick: Qt would hold every later tick until someone closed the box.
        QCOMPARE(w.modal.Boxes(), QStringList());
        QCoreApplication::processEvents();
        boxesDuringFirstOutage = w.modal.Boxes();
        QCOMPARE(w.Text(1070), QStringLiteral("3"));
        QCOMPARE(w.Text(1068), CMeterDebugDlg::LostPrompt());
        QCOMPARE(Reopens(w.port), 3L);
        // Nothing goes out on a lost port.
        QCOMPARE(w.Sent(), 2u);

        w.port.FailOpen(std::nullopt);
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1069), QStringLiteral("2"));
        QCOMPARE(w.Text(1068), QStringLiteral("正在读测量数据..."));
        QCOMPARE(w.port.LostReason(), std::string());

        // A port that is not lost is not reopened; a second outage is a second box.
        w.dlg.OnTimer(1);
        QCOMPARE(Reopens(w.port), 4L);
        w.port.Lose(kLoss);
        w.port.FailOpen("无法打开串口 COM1：设备不存在");
        w.dlg.OnTimer(1);
        QCoreApplication::processEvents();
    });
    QCOMPARE(boxesDuringFirstOutage, QStringList{QString::fromStdString(kLoss)});
    QCOMPARE(w.modal.Boxes(), QStringList(2, QString::fromStdString(kLoss)));
    QCOMPARE(w.Text(1069), QStringLiteral("3"));
    QCOMPARE(w.Text(1070), QStringLiteral("4"));
}

void TestPortLoss::CommandsDuringAnOutageTryToReopenFirst_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("promptAfter"); // once the port is back
    QTest::addColumn<bool>("sends");
    QTest::newRow("read parameters") << 1023 << QStringLiteral("已读参数数据...") << true;
    QTest::newRow("stop") << 1064 << QStringLiteral("已停止读测量数据...") << false;
    QTest::newRow("switch state") << 1075 << QString() << true;
}

// The first command after a loss finds the device gone and reports it; the second finds it
// back and runs as if nothing had happened.
void TestPortLoss::CommandsDuringAnOutageTryToReopenFirst() {
    QFETCH(int, command);
    QFETCH(QString, promptAfter);
    QFETCH(bool, sends);
    MainWindowRig w;
    w.Run([&] {
        w.port.Lose(kLoss);
        w.port.FailOpen("无法打开串口 COM1：设备不存在");
        w.Click(command);
        QCoreApplication::processEvents();
        QCOMPARE(w.Text(1068), CMeterDebugDlg::LostPrompt());
        QCOMPARE(w.Sent(), 0u);

        w.port.FailOpen(std::nullopt);
        w.Click(command);
        QCOMPARE(w.Sent() > 0, sends);
        QCOMPARE(w.Text(1068), promptAfter);
    });
    QCOMPARE(Reopens(w.port), 2L);
    QCOMPARE(w.modal.Boxes(), QStringList{QString::fromStdString(kLoss)});
}

// Five outages under a box nobody answers: the one box stands and tells of the last of them.
void TestPortLoss::FlappingLineKeepsOneBox() {
    const std::string kLast = "串口 COM1（/dev/ttyUSB0）已断开：设备句柄已失效";
    MainWindowRig w;
    QString shown;
    w.Run([&] {
        w.modal.AnswerBox([&](QWidget* box) {
            for (int i = 0; i < 5; ++i) {
                w.port.FailOpen(std::nullopt);
                w.dlg.OnTimer(1);
                w.port.Lose(i == 4 ? kLast : kLoss);
                w.port.FailOpen("无法打开串口 COM1：设备不存在");
                w.dlg.OnTimer(1);
                QCoreApplication::processEvents();
            }
            shown = static_cast<QMessageBox*>(box)->text();
        });
        LoseWhilePolling(w);
        QTRY_COMPARE(w.modal.Pending(), 0);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{QString::fromStdString(kLoss)});
    QCOMPARE(shown, QString::fromStdString(kLast));
    QCOMPARE(w.Text(1070), QStringLiteral("6"));
}

// Closing and opening by hand is no reopen: the reconfiguration does what it always does (it
// ends the running poll as 停止运行 would) and the outage is over.
void TestPortLoss::ReconfigurationEndsTheOutage() {
    MainWindowRig w;
    w.Run([&] {
        LoseWhilePolling(w);
        QCoreApplication::processEvents();
        w.port.FailOpen(std::nullopt);
        w.modal.Answer([](QWidget* dlg) { ModalHelper::PressEnter(dlg); });
        w.Click(1004);
        QVERIFY(w.port.GetPortOpen());
        QCOMPARE(w.Text(1068), QStringLiteral("已停止读测量数据..."));
    });
    const std::vector<std::string> puts = w.port.Puts();
    QVERIFY(std::find(puts.begin(), puts.end(), "PortOpen=1") != puts.end());
    QCOMPARE(w.modal.Boxes(), QStringList{QString::fromStdString(kLoss)});
}

void TestPortLoss::ReconfigurationWhileTheDeviceIsAwayLeavesTheOutageOpen_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("reason"); // why the port chosen cannot be opened either
    QTest::newRow("same port") << 1 << QString::fromStdString(kLoss);
    QTest::newRow("to a port that cannot be opened either")
        << 2 << QStringLiteral("无法打开串口 COM2（/dev/ttyS1）：设备不存在");
}

// New settings change how the tool will talk to the device, not whether it is there: the
// outage stays open, counted and reopened, until a reopen works. A port chosen that cannot be
// opened either tells why.
void TestPortLoss::ReconfigurationWhileTheDeviceIsAwayLeavesTheOutageOpen() {
    QFETCH(int, port);
    QFETCH(QString, reason);
    MainWindowRig w;
    w.Run([&] {
        LoseWhilePolling(w);
        if (port == 2)
            w.port.FailOpen(reason.toStdString());
        w.modal.Answer([port](QWidget* dlg) {
            static_cast<ui::CDialog*>(dlg)->Button(port == 2 ? 1010 : 1009)->click();
            ModalHelper::PressEnter(dlg);
        });
        w.Click(1004);
        QCoreApplication::processEvents();
        QCOMPARE(QString::fromStdString(w.port.LostReason()), reason);
        QCOMPARE(w.Text(1068), CMeterDebugDlg::LostPrompt());

        w.Click(1065);
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1070), QStringLiteral("2"));
        w.port.FailOpen(std::nullopt);
        w.meter.SetLine(std::int16_t(port), 9600, 'N');
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1069), QStringLiteral("1"));
        QCOMPARE(w.Text(1068), QStringLiteral("正在读测量数据..."));
    });
    // Every tick and command tried the device, and the reconfiguration once more with the new
    // settings.
    QCOMPARE(Reopens(w.port), 6L);
    QCOMPARE(w.modal.Boxes(), (QStringList{QString::fromStdString(kLoss), reason}).mid(0, port));
}

QTEST_MAIN(TestPortLoss)
#include "tst_portloss.moc"
