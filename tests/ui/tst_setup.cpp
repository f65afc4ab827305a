// The main window's link reconfiguration, clock read and meter setup, offscreen, on a scripted
// port with an in-process meter and a virtual clock. The modal helper plays the operator.

#include "fakes/MainWindowRig.h"
#include "fakes/Support.h"
#include "meter/Registers.h"
#include "ui/FindMeterDlg.h"
#include "ui/MeterDebugDlg.h"
#include "ui/MeterSetDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>

using namespace md;
using namespace md::ui;

namespace {

constexpr int kCommSettings = 1004;
constexpr int kMeterSetup = 1006;
constexpr int kReadMeterTime = 1009;

// A started main window talking to a meter at address.
struct Rig : MainWindowRig {
    explicit Rig(std::uint8_t address = 1) : MainWindowRig(address) { Init(); }
    QString SummaryText() const { return dlg.GetDlgItemText(CMeterDebugDlg::kSummaryEdit); }
};

CDialog* AsDialog(QWidget* w) {
    return qobject_cast<CDialog*>(w);
}

// Clicks the given controls of the modal dialog in order (radios, then OK or Cancel).
ModalHelper::Action Click(std::vector<int> ids) {
    return [ids](QWidget* w) {
        for (const int id : ids)
            AsDialog(w)->Button(id)->click();
    };
}

// Types PT and CT into the setup dialog, picks a wiring radio and presses 设置.
ModalHelper::Action EnterSetup(const QString& pt, const QString& ct, int radio) {
    return [=](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        ModalHelper::Type(dlg->Edit(CMeterSetDlg::kPtEdit), pt);
        ModalHelper::Type(dlg->Edit(CMeterSetDlg::kCtEdit), ct);
        dlg->Button(radio)->click();
        dlg->Button(IDOK)->click();
    };
}

std::size_t IndexOf(const std::vector<std::string>& log, const std::string& prefix) {
    const auto it = std::find_if(log.begin(), log.end(),
                                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return static_cast<std::size_t>(it - log.begin());
}

} // namespace

class tst_setup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void OkWithoutChangeReopensAndOnlyChangesTheBlank();
    void CancelOnlyStopsPollingAndDiscardsInput();
    void ChosenDeviceIsHandedOnBeforeTheReopen();
    void EndingAPollLeavesTheWindowStopped_data();
    void EndingAPollLeavesTheWindowStopped();
    void BaudChangeIsAskedAtTheOldRateFirst_data();
    void BaudChangeIsAskedAtTheOldRateFirst();
    void RefusedPortIsReportedOnceAndALaterGoodPortWorks();
    void ClockReadShowsItsMessageAndResumesPolling_data();
    void ClockReadShowsItsMessageAndResumesPolling();
    void SetupDialogStartsFromTheWindowsCopies();
    void SetupWritesAllThreeAndReportsOnce();
    void SetupStopsAtTheFirstUnansweredWrite();
    void SetupRefusesRatiosOutside1To64000_data();
    void SetupRefusesRatiosOutside1To64000();
    void SetupCancelSendsNothingButResumesPolling();
};

void tst_setup::OkWithoutChangeReopensAndOnlyChangesTheBlank() {
    Rig r;
    r.dlg.SetTimer(CMeterDebugDlg::kPollTimer, 2000);
    const QString before = r.SummaryText();
    QVERIFY(before.endsWith(QStringLiteral("校验位:  无校验")));

    r.modal.Answer(Click({IDOK}));
    r.dlg.SendCommand(kCommSettings);

    QVERIFY(r.port.Outputs().empty());
    const std::vector<std::string> puts{"PortOpen=0", "CommPort=1", "Settings=9600N,8,2",
                                        "PortOpen=1"};
    QCOMPARE(r.port.Puts(), puts);
    QCOMPARE(r.port.Log().back(), std::string("Input?"));
    QString expected = before;
    expected.replace(QStringLiteral("校验位:  无校验"), QStringLiteral("校验位: 无校验"));
    QCOMPARE(r.SummaryText(), expected);
    QVERIFY(!r.dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer));
    QCOMPARE(r.modal.Boxes(), QStringList{});
}

void tst_setup::CancelOnlyStopsPollingAndDiscardsInput() {
    Rig r;
    r.dlg.SetTimer(CMeterDebugDlg::kPollTimer, 2000);
    const QString before = r.SummaryText();
    r.port.Arrive({0x01, 0x03});

    r.modal.Answer(Click({1010, 1015, 1018, IDCANCEL})); // COM2, 19200, even, then 退出
    r.dlg.SendCommand(kCommSettings);

    QVERIFY(r.port.Outputs().empty());
    QVERIFY(r.port.Puts().empty());
    QCOMPARE(r.port.Waiting(), std::size_t(0));
    QCOMPARE(r.dlg.m_nCommPort, 1);
    QCOMPARE(r.dlg.m_nBaudRate, 9600);
    QCOMPARE(r.dlg.m_nParity, 0);
    QCOMPARE(r.SummaryText(), before);
    QVERIFY(!r.dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer));
}

void tst_setup::ChosenDeviceIsHandedOnBeforeTheReopen() {
    Rig r;
    r.dlg.m_devices.device = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1")};
    QStringList told;
    r.dlg.m_devices.chosen = [&](int port, const QString& device) {
        const QString puts = QString::number(r.port.Puts().size());
        told << QStringLiteral("%1=%2 after %3 puts").arg(QString::number(port), device, puts);
    };
    r.modal.Answer([&](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        dlg->Button(1010)->click();
        ModalHelper::Type(
            qobject_cast<QComboBox*>(dlg->Item(CCommSetDlg::kDeviceCombo))->lineEdit(),
            QStringLiteral("/dev/ttyUSB0"));
        dlg->Button(IDOK)->click();
    });
    r.dlg.SendCommand(kCommSettings);

    QCOMPARE(told, QStringList{"2=/dev/ttyUSB0 after 0 puts"});
    QCOMPARE(r.dlg.m_devices.device[1], QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(r.port.Puts().size(), std::size_t(4));
}

void tst_setup::EndingAPollLeavesTheWindowStopped_data() {
    QTest::addColumn<bool>("polling");
    QTest::addColumn<int>("button"); // how the settings dialog ends
    QTest::addColumn<QString>("prompt");
    const QString stopped = QStringLiteral("已停止读测量数据...");
    QTest::newRow("polling, OK") << true << int(IDOK) << stopped;
    QTest::newRow("polling, Cancel") << true << int(IDCANCEL) << stopped;
    QTest::newRow("idle, OK") << false << int(IDOK) << QString();
}

void tst_setup::EndingAPollLeavesTheWindowStopped() {
    QFETCH(bool, polling);
    QFETCH(int, button);
    QFETCH(QString, prompt);
    Rig r;
    if (polling)
        r.dlg.SendCommand(1065);
    r.modal.Answer(Click({button}));
    r.dlg.SendCommand(kCommSettings);
    QVERIFY(!r.dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer));
    QVERIFY(r.Enabled(1065) && r.Enabled(1024));
    QCOMPARE(r.Text(CMeterDebugDlg::kPromptEdit), prompt);
    QVERIFY(r.port.Outputs().empty());
}

void tst_setup::BaudChangeIsAskedAtTheOldRateFirst_data() {
    QTest::addColumn<bool>("answers");
    QTest::addColumn<bool>("found"); // the line comes from 查找仪表... and 使用
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("address");
    QTest::newRow("meter acknowledges") << true << false << QStringList{"050600080004084f"}
                                        << "19200O,8,2" << QStringList{} << 7;
    QTest::newRow("meter silent") << false << false << QStringList{"050600080004084f"}
                                  << "9600O,8,2" << QStringList{"改变波特率不成功"} << 7;
    // The window at 1 @ 9600 none, the meter at 5 @ 4800 even: the rate found is where the
    // meter already is, and a write would go to whoever sits at address 1.
    QTest::newRow("found by the scan: nothing is asked")
        << true << true << QStringList{} << "4800E,8,2" << QStringList{} << 5;
}

void tst_setup::BaudChangeIsAskedAtTheOldRateFirst() {
    QFETCH(bool, answers);
    QFETCH(bool, found);
    QFETCH(QStringList, writes);
    QFETCH(QString, settings);
    QFETCH(QStringList, boxes);
    QFETCH(int, address);
    Rig r(found ? 1 : 5);
    r.meter.SetSilent(!answers);
    if (found) {
        r.meter.SetAddress(5);
        r.meter.SetLine(1, 4800, 'E');
        r.modal.Answer([](QWidget* w) { AsDialog(w)->Button(1020)->click(); });
        r.modal.Answer([](QWidget* w) {
            auto* find = qobject_cast<CFindMeterDlg*>(w);
            find->StartButton()->click();
            for (int i = 0; i < 1'000'000 && find->Running(); ++i)
                QCoreApplication::processEvents();
            find->UseButton()->click();
        });
        r.modal.Answer(Click({IDOK}));
    } else {
        // 19200 and odd parity; the address becomes 7. Only the rate is the meter's business.
        r.modal.Answer([](QWidget* w) {
            CDialog* dlg = AsDialog(w);
            dlg->Button(1015)->click();
            dlg->Button(1017)->click();
            ModalHelper::Type(dlg->Edit(1000), QStringLiteral("7"));
            dlg->Button(IDOK)->click();
        });
    }
    r.dlg.SendCommand(kCommSettings);

    QStringList notReads; // the scan reads, and reads only
    for (const std::string& frame : SentHex(r.port))
        if (frame.substr(2, 2) != "03")
            notReads << QString::fromStdString(frame);
    QCOMPARE(notReads, writes);
    const std::vector<std::string> log = r.port.Log();
    for (const QString& write : writes)
        QVERIFY(IndexOf(log, "Output=" + write.toStdString()) < IndexOf(log, "PortOpen=0"));
    QCOMPARE(r.port.GetSettings(), settings.toStdString());
    QCOMPARE(r.modal.Boxes(), boxes);
    const int rate = std::stoi(settings.toStdString());
    QCOMPARE(r.dlg.m_nBaudRate, rate);
    QCOMPARE(r.dlg.m_nParity, found ? 2 : 1);
    QCOMPARE(int(r.dlg.m_byMeterAddress), address);
    const QString rateLine = QStringLiteral("波特率:  %1 ").arg(rate);
    QVERIFY(r.SummaryText().contains(rateLine));
    QVERIFY(r.SummaryText().contains(QStringLiteral("仪表地址: %1 ").arg(address)));
    QVERIFY(r.SummaryText().endsWith(found ? QStringLiteral("校验位:  偶校验")
                                           : QStringLiteral("校验位:  奇校验")));
    QCOMPARE(r.dlg.m_nLocalAddress, found ? 1 : 5); // the bound field is not refreshed
}

void tst_setup::RefusedPortIsReportedOnceAndALaterGoodPortWorks() {
    Rig r;
    const QString before = r.SummaryText();
    const std::string refusal = "无法打开串口 COM2 (/dev/ttyS1)";
    r.port.FailOpen(refusal);

    r.modal.Answer(Click({1010, IDOK}));
    r.dlg.SendCommand(kCommSettings);

    QCOMPARE(r.modal.Boxes(), QStringList{QString::fromStdString(refusal)});
    QVERIFY(!r.port.GetPortOpen());
    QCOMPARE(r.SummaryText(), before);

    r.port.FailOpen(std::nullopt);
    r.modal.Clear();
    r.modal.Answer([](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        QVERIFY(dlg->IsDlgButtonChecked(1010)); // the refused port is what the window holds
        dlg->Button(1009)->click();
        dlg->Button(IDOK)->click();
    });
    r.dlg.SendCommand(kCommSettings);

    QCOMPARE(r.modal.Boxes(), QStringList{});
    QVERIFY(r.port.GetPortOpen());
    QVERIFY(r.SummaryText().contains(QStringLiteral("串口:     1 ")));
    QVERIFY(r.SummaryText().endsWith(QStringLiteral("校验位: 无校验")));
    r.dlg.SendCommand(kReadMeterTime); // the meter is reached again
    QVERIFY(r.modal.Boxes().last().startsWith(QStringLiteral("当前时间:  ")));
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

void tst_setup::ClockReadShowsItsMessageAndResumesPolling_data() {
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QString>("text");
    QTest::newRow("answered") << true << "当前时间:  2006年11月15日 10时30分45秒";
    QTest::newRow("silent") << false << "读时间不成功";
}

void tst_setup::ClockReadShowsItsMessageAndResumesPolling() {
    QFETCH(bool, answers);
    QFETCH(QString, text);
    Rig r;
    r.meter.SetRegister(reg::kClock, 0x1E2D);
    r.meter.SetRegister(reg::kClock + 1, 0x0F0A);
    r.meter.SetRegister(reg::kClock + 2, 0x060B);
    r.meter.SetSilent(!answers);
    // Polling was off; a tick during the message box would send a second request.
    QVERIFY(!r.dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer));
    r.modal.AnswerBox(
        [&r](QWidget*) { QVERIFY(!r.dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer)); });

    r.dlg.SendCommand(kReadMeterTime);

    QCOMPARE(r.modal.Boxes(), QStringList{text});
    QCOMPARE(SentHex(r.port), std::vector<std::string>{"01030110000305f2"});
    QCOMPARE(r.clock.Sleeps(), std::vector<std::uint32_t>{300});
    QCOMPARE(r.dlg.TimerPeriod(CMeterDebugDlg::kPollTimer), 1000u);
    QCOMPARE(r.dlg.m_nFailureCount + r.dlg.m_nSuccessCount, 0);
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

void tst_setup::SetupDialogStartsFromTheWindowsCopies() {
    Rig r;
    r.modal.Answer([](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        QCOMPARE(dlg->GetDlgItemText(CMeterSetDlg::kPtEdit), QStringLiteral("1"));
        QCOMPARE(dlg->GetDlgItemText(CMeterSetDlg::kCtEdit), QStringLiteral("1"));
        for (int id = 1009; id <= 1014; ++id)
            QCOMPARE(dlg->IsDlgButtonChecked(id), id == 1009);
        // A click selects that radio alone.
        dlg->Button(1012)->click();
        dlg->Button(1010)->click();
        for (int id = 1009; id <= 1014; ++id)
            QCOMPARE(dlg->IsDlgButtonChecked(id), id == 1010);
        dlg->Button(IDCANCEL)->click();
    });
    r.dlg.SendCommand(kMeterSetup);
    QCOMPARE(r.modal.Dialogs(), QStringList{"md::ui::CMeterSetDlg"});
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

void tst_setup::SetupWritesAllThreeAndReportsOnce() {
    Rig r;
    r.modal.Answer(EnterSetup(QStringLiteral("64000"), QStringLiteral("1"), 1014));
    r.dlg.SendCommand(kMeterSetup);

    QCOMPARE(r.modal.Boxes(), QStringList{"设置仪表参数成功"});
    const std::vector<std::string> sent{"01100000000204fa000000c377", "0110000400020400010000a39c",
                                        "010600020005e809"};
    QCOMPARE(SentHex(r.port), sent);
    QCOMPARE(r.dlg.m_nPT, 64000);
    QCOMPARE(r.dlg.m_nCT, 1);
    QCOMPARE(int(r.dlg.m_nWiringMode), 5);
    QCOMPARE(r.port.Log().back(), std::string("Input?"));
    QCOMPARE(r.dlg.TimerPeriod(CMeterDebugDlg::kPollTimer), 1000u);
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

void tst_setup::SetupStopsAtTheFirstUnansweredWrite() {
    Rig r;
    r.meter.SetNoAnswerAt(reg::kCtRatio);
    r.modal.Answer(EnterSetup(QStringLiteral("500"), QStringLiteral("20"), 1013));
    r.dlg.SendCommand(kMeterSetup);

    QCOMPARE(r.modal.Boxes(), QStringList{"设置CT不成功"});
    QCOMPARE(r.port.Outputs().size(), std::size_t(2)); // the wiring mode was not sent
    QCOMPARE(r.dlg.m_nPT, 500);
    QCOMPARE(r.dlg.m_nCT, 1);
    QCOMPARE(int(r.dlg.m_nWiringMode), 0);
    QCOMPARE(r.dlg.TimerPeriod(CMeterDebugDlg::kPollTimer), 1000u);

    r.modal.Clear();
    r.modal.Answer([](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        QCOMPARE(dlg->GetDlgItemText(CMeterSetDlg::kPtEdit), QStringLiteral("500"));
        QCOMPARE(dlg->GetDlgItemText(CMeterSetDlg::kCtEdit), QStringLiteral("1"));
        QVERIFY(dlg->IsDlgButtonChecked(1009));
        dlg->Button(IDCANCEL)->click();
    });
    r.dlg.SendCommand(kMeterSetup);
    QCOMPARE(r.modal.Dialogs().size(), 1);
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

void tst_setup::SetupRefusesRatiosOutside1To64000_data() {
    QTest::addColumn<QStringList>("ptCt");
    QTest::addColumn<int>("focus");
    QTest::addColumn<QString>("prompt");
    const QString range = RangePrompt(1, 64000);
    QTest::newRow("PT 0") << QStringList{"0", "5"} << 1000 << range;
    QTest::newRow("PT 64001") << QStringList{"64001", "5"} << 1000 << range;
    QTest::newRow("PT negative") << QStringList{"-1", "5"} << 1000 << UnsignedPrompt();
    QTest::newRow("PT empty") << QStringList{"", "5"} << 1000 << UnsignedPrompt();
    QTest::newRow("CT 0") << QStringList{"5", "0"} << 1001 << range;
    QTest::newRow("CT 99999") << QStringList{"64000", "99999"} << 1001 << range;
    QTest::newRow("both wrong: PT first") << QStringList{"70000", "x"} << 1000 << range;
}

void tst_setup::SetupRefusesRatiosOutside1To64000() {
    QFETCH(QStringList, ptCt);
    QFETCH(int, focus);
    QFETCH(QString, prompt);
    Rig r;
    int focused = 0;
    r.modal.Answer(EnterSetup(ptCt[0], ptCt[1], 1014));
    r.modal.Answer([&focused](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        focused = dlg->focusWidget() == dlg->Item(1000)   ? 1000
                  : dlg->focusWidget() == dlg->Item(1001) ? 1001
                                                          : -1;
        dlg->Button(IDCANCEL)->click();
    });
    r.dlg.SendCommand(kMeterSetup);

    QCOMPARE(r.modal.Boxes(), QStringList{prompt});
    QCOMPARE(focused, focus);
    QVERIFY(r.port.Outputs().empty());
    QCOMPARE(r.dlg.m_nPT, 1);
    QCOMPARE(r.dlg.m_nCT, 1);
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

void tst_setup::SetupCancelSendsNothingButResumesPolling() {
    Rig r;
    r.port.Arrive({0x01});
    r.modal.Answer([](QWidget* w) {
        CDialog* dlg = AsDialog(w);
        ModalHelper::Type(dlg->Edit(CMeterSetDlg::kPtEdit), QStringLiteral("300"));
        dlg->Button(1011)->click();
        ModalHelper::PressEscape(w);
    });
    r.dlg.SendCommand(kMeterSetup);

    QVERIFY(r.port.Outputs().empty());
    QCOMPARE(r.modal.Boxes(), QStringList{});
    QCOMPARE(r.port.Waiting(), std::size_t(0));
    QCOMPARE(r.dlg.m_nPT, 1);
    QCOMPARE(int(r.dlg.m_nWiringMode), 0);
    QCOMPARE(r.dlg.TimerPeriod(CMeterDebugDlg::kPollTimer), 1000u);
    r.dlg.KillTimer(CMeterDebugDlg::kPollTimer);
}

QTEST_MAIN(tst_setup)
#include "tst_setup.moc"
