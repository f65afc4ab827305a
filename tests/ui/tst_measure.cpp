// The main window's parameter block, address change, polling and relay/switch status, offscreen
// with the in-process meter and the virtual clock.

#include "fakes/MainWindowRig.h"
#include "meter/Registers.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QExposeEvent>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QWindow>

#include <functional>

using namespace md;
using md::ui::CMeterDebugDlg;

namespace {

using Window = MainWindowRig;

// Pixels of the control as it is on screen, painting over it included.
int CountPixels(QWidget* control, const QColor& colour, int tolerance) {
    const QImage image = control->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance &&
                std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                ++n;
        }
    return n;
}

const QColor kRed(255, 0, 0);
const QColor kGreen(50, 255, 0);
const QColor kCell(189, 189, 189);

} // namespace

class TestMeasure : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void StartAndStopSwitchButtonsPromptAndTimer();
    void PollKeepsTypedTextAndStopReplacesIt();
    void PollStatisticsFromTheFirstPollOn();
    void ReadParamsPrompt_data();
    void ReadParamsPrompt();
    void WriteParamsReportsOnlyConfirmedWrites_data();
    void WriteParamsReportsOnlyConfirmedWrites();
    void FailedTakeSendsNothing_data();
    void FailedTakeSendsNothing();
    void ExtremesAreWritten_data();
    void ExtremesAreWritten();
    void ModifyAddressReportsTheEchoAndKeepsTheLink_data();
    void ModifyAddressReportsTheEchoAndKeepsTheLink();
    void SwitchStateIsPaintedUntilTheWindowIsExposed_data();
    void SwitchStateIsPaintedUntilTheWindowIsExposed();
    void PollsDoNotOverlap();
};

void TestMeasure::StartAndStopSwitchButtonsPromptAndTimer() {
    Window w;
    w.Run([&] {
        QVERIFY(w.Enabled(1065) && w.Enabled(1024));
        w.Click(1065);
        QVERIFY(!w.Enabled(1065) && !w.Enabled(1024));
        QCOMPARE(w.Text(1068), QStringLiteral("正在读测量数据..."));
        QCOMPARE(w.dlg.TimerPeriod(1), 2000u);
        // A disabled button does nothing; a running 1000 ms timer (left by a clock read) is
        // switched to 2000 ms by a start.
        w.dlg.SetTimer(1, 1000);
        w.Click(1065);
        QCOMPARE(w.dlg.TimerPeriod(1), 1000u);
        w.dlg.OnReadMeasurements();
        QCOMPARE(w.dlg.TimerPeriod(1), 2000u);

        w.Click(1064);
        QVERIFY(w.Enabled(1065) && w.Enabled(1024));
        QVERIFY(!w.dlg.IsTimerRunning(1));
        QCOMPARE(w.Text(1068), QStringLiteral("已停止读测量数据..."));
        w.Click(1064);
        QVERIFY(w.Enabled(1065) && w.Enabled(1024));
        QCOMPARE(w.Text(1069), QStringLiteral("0"));
        QCOMPARE(w.Sent(), std::size_t(0));
    });
    QCOMPARE(w.modal.Boxes(), QStringList());
}

void TestMeasure::PollKeepsTypedTextAndStopReplacesIt() {
    Window w;
    w.Run([&] {
        w.Click(1065);
        w.Type(1059, QStringLiteral("777"));
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1059), QStringLiteral("777"));
        QCOMPARE(w.dlg.m_nUpperLimit, 777);
        QCOMPARE(w.Text(1069), QStringLiteral("1"));

        w.Type(1059, QStringLiteral("888"));
        w.Click(1064);
        QCOMPARE(w.Text(1059), QStringLiteral("777"));
    });
}

void TestMeasure::PollStatisticsFromTheFirstPollOn() {
    Window w;
    w.meter.SetRegister(reg::kDecimalPoint, 2);
    w.meter.SetRegister(reg::kPhaseCurrents, 0x04D2);
    w.meter.SetRegister(reg::kPhaseCurrents + 1, 0x0064);
    w.meter.SetRegister(reg::kPhaseCurrents + 2, 0xFFFF);
    w.Run([&] {
        w.meter.SetSilent(true);
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1070), QStringLiteral("1"));
        QCOMPARE(w.Text(1069), QStringLiteral("0"));
        QCOMPARE(w.Text(1071), QStringLiteral("100.0000%"));
        QCOMPARE(w.Text(1051), QString());
        QCOMPARE(w.Text(1063), QString());
        QCOMPARE(w.clock.Sleeps(), (std::vector<std::uint32_t>{600, 300, 600}));

        w.meter.SetSilent(false);
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1071), QStringLiteral("50.0000%"));
        QCOMPARE(w.Text(1069), QStringLiteral("1"));
        QCOMPARE(w.Text(1052), QStringLiteral("2"));
        QCOMPARE(w.Text(1051), QStringLiteral("12.3400"));
        QCOMPARE(w.Text(1062), QStringLiteral("1.0000"));
        QCOMPARE(w.Text(1063), QStringLiteral("655.3500"));

        // The decimal point is read afresh on every poll.
        w.meter.SetRegister(reg::kDecimalPoint, 0);
        w.dlg.OnTimer(1);
        QCOMPARE(w.Text(1071), QStringLiteral("33.3333%"));
        QCOMPARE(w.Text(1069), QStringLiteral("2"));
        QCOMPARE(w.Text(1051), QStringLiteral("1234.0000"));
    });
    QCOMPARE(w.modal.Boxes(), QStringList());
}

void TestMeasure::ReadParamsPrompt_data() {
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QList<int>>("muted");   // registers the meter does not answer
    QTest::addColumn<QStringList>("fields"); // 1059, 1060, 1052, 1061 afterwards
    QTest::addColumn<QString>("prompt");
    // With --local-echo (the meter's line does not echo), read once or twice.
    QTest::addColumn<int>("localEchoReads");
    const QStringList all{"500", "100", "2", "9600"};
    QTest::newRow("all answered") << false << QList<int>{} << all
                                  << QStringLiteral("已读参数数据...") << 0;
    QTest::newRow("only the baud code")
        << false << QList<int>{reg::kUpperLimit, reg::kLowerLimit, reg::kDecimalPoint}
        << QStringList{"11", "22", "33", "9600"} << QStringLiteral("已读参数数据...") << 0;
    QTest::newRow("silent meter") << true << QList<int>{} << QStringList{"11", "22", "33", "44"}
                                  << QStringLiteral("读参数数据不成功...") << 0;
    QTest::newRow("local echo, none came")
        << false << QList<int>{} << all << QStringLiteral("已读参数数据...  未收到本地回送") << 1;
    QTest::newRow("local echo, none came, said once")
        << false << QList<int>{} << all << QStringLiteral("已读参数数据...") << 2;
}

void TestMeasure::ReadParamsPrompt() {
    QFETCH(bool, silent);
    QFETCH(QList<int>, muted);
    QFETCH(QStringList, fields);
    QFETCH(QString, prompt);
    QFETCH(int, localEchoReads);
    Window w;
    w.dlg.Link().SetLocalEcho(localEchoReads > 0);
    w.meter.SetSilent(silent);
    for (const int r : muted)
        w.meter.SetNoAnswerAt(static_cast<std::uint16_t>(r));
    w.dlg.m_nUpperLimit = 11;
    w.dlg.m_nLowerLimit = 22;
    w.dlg.m_nDecimalPoint = 33;
    w.dlg.m_nParamBaudRate = 44;
    w.Run([&] {
        const int reads = std::max(localEchoReads, 1);
        for (int i = 0; i < reads; ++i)
            w.Click(1023);
        QCOMPARE((QStringList{w.Text(1059), w.Text(1060), w.Text(1052), w.Text(1061)}), fields);
        QCOMPARE(w.Text(1068), prompt);
        QCOMPARE(w.clock.Sleeps(), std::vector<std::uint32_t>(std::size_t(4 * reads), 600));
    });
    QCOMPARE(w.modal.Boxes(), QStringList());
}

void TestMeasure::WriteParamsReportsOnlyConfirmedWrites_data() {
    QTest::addColumn<int>("portState"); // 0 meter answers, 1 meter silent, 2 port closed
    QTest::addColumn<QString>("box");
    QTest::newRow("every echo") << 0 << QStringLiteral("写数据成功！");
    QTest::newRow("silent meter") << 1 << QStringLiteral("写数据不成功");
    QTest::newRow("port closed") << 2 << QStringLiteral("写数据不成功");
}

void TestMeasure::WriteParamsReportsOnlyConfirmedWrites() {
    QFETCH(int, portState);
    QFETCH(QString, box);
    Window w;
    w.meter.SetSilent(portState == 1);
    w.Run([&] {
        if (portState == 2)
            w.port.SetPortOpen(false);
        w.Type(1059, QStringLiteral("600"));
        w.Type(1060, QStringLiteral("50"));
        w.Type(1052, QStringLiteral("1"));
        w.Type(1061, QStringLiteral("19200"));
        w.Click(1024);
        QCOMPARE(w.Text(1061), QStringLiteral("4"));
        QCOMPARE(w.Text(1068), QStringLiteral("写参数数据..."));
        QCOMPARE(w.clock.Sleeps(), (std::vector<std::uint32_t>{300, 300, 300, 300}));
    });
    QCOMPARE(w.modal.Boxes(), QStringList{box});
    if (portState == 0)
        QCOMPARE(w.meter.Register(reg::kParamBaudCode), std::optional<std::uint16_t>(4));
}

void TestMeasure::FailedTakeSendsNothing_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("badField");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("prompt");
    const QString registerRange = ui::RangePrompt(0, 65535);
    const QString addressRange = ui::RangePrompt(1, 247);
    QTest::newRow("write params, upper limit not a number")
        << 1024 << 1059 << "12a" << ui::IntegerPrompt();
    QTest::newRow("write params, upper limit 70000") << 1024 << 1059 << "70000" << registerRange;
    QTest::newRow("write params, lower limit -1") << 1024 << 1060 << "-1" << registerRange;
    QTest::newRow("write params, decimal point 65536") << 1024 << 1052 << "65536" << registerRange;
    QTest::newRow("write params, baud field 65536") << 1024 << 1061 << "65536" << registerRange;
    QTest::newRow("write params, baud field -9600") << 1024 << 1061 << "-9600" << registerRange;
    QTest::newRow("modify address, not a number") << 1066 << 1058 << "12a" << ui::IntegerPrompt();
    QTest::newRow("modify address, broadcast 0") << 1066 << 1058 << "0" << addressRange;
    QTest::newRow("modify address, reserved 248") << 1066 << 1058 << "248" << addressRange;
    QTest::newRow("modify address, 256") << 1066 << 1058 << "256" << addressRange;
    QTest::newRow("modify address, -1") << 1066 << 1058 << "-1" << addressRange;
}

void TestMeasure::FailedTakeSendsNothing() {
    QFETCH(int, button);
    QFETCH(int, badField);
    QFETCH(QString, typed);
    QFETCH(QString, prompt);
    Window w;
    QWidget* focused = nullptr;
    w.Run([&] {
        w.Type(badField, typed);
        w.Click(button);
        focused = w.dlg.focusWidget();
        QCOMPARE(w.Sent(), std::size_t(0));
        QCOMPARE(w.Text(1068), QString());
    });
    QCOMPARE(w.modal.Boxes(), QStringList{prompt});
    QCOMPARE(focused, w.dlg.Item(badField));
    QVERIFY(w.meter.Writes().empty());
}

// The extremes a register, or a meter's address, can carry go out as typed.
void TestMeasure::ExtremesAreWritten_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QStringList>("typed");  // 1059, 1060, 1052, 1061, 1058
    QTest::addColumn<QList<int>>("written"); // values of the writes, in order
    QTest::newRow("parameters at 65535 and 0")
        << 1024 << QStringList{"65535", "0", "65535", "65535", "1"}
        << QList<int>{65535, 65535, 0, 65535};
    QTest::newRow("address 247") << 1066 << QStringList{"0", "0", "0", "0", "247"}
                                 << QList<int>{247};
}

void TestMeasure::ExtremesAreWritten() {
    QFETCH(int, button);
    QFETCH(QStringList, typed);
    QFETCH(QList<int>, written);
    Window w;
    w.Run([&] {
        const int fields[] = {1059, 1060, 1052, 1061, 1058};
        for (int i = 0; i < 5; ++i)
            w.Type(fields[i], typed[i]);
        w.Click(button);
    });
    QList<int> values;
    for (const FakeMeter::Write& write : w.meter.Writes())
        values << write.values.at(0);
    QCOMPARE(values, written);
    QCOMPARE(w.modal.Boxes().size(), 1);
    QVERIFY(w.modal.Boxes()[0].contains(QStringLiteral("成功！")));
}

void TestMeasure::ModifyAddressReportsTheEchoAndKeepsTheLink_data() {
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("box");
    QTest::newRow("echoed") << false << QStringLiteral("写本机地址成功！");
    QTest::newRow("silent meter") << true << QStringLiteral("写本机地址不成功");
}

void TestMeasure::ModifyAddressReportsTheEchoAndKeepsTheLink() {
    QFETCH(bool, silent);
    QFETCH(QString, box);
    Window w;
    w.meter.SetSilent(silent);
    w.Run([&] {
        QCOMPARE(w.Text(1058), QStringLiteral("1"));
        w.Type(1058, QStringLiteral("5"));
        w.Click(1066);
        QCOMPARE(w.Text(1068), QStringLiteral("修改地址信息..."));
        QCOMPARE(w.port.Outputs().at(0).bytes,
                 (std::vector<std::uint8_t>{0x01, 0x06, 0x03, 0x00, 0x00, 0x05, 0x49, 0x8D}));
        // The tool still talks to address 1, where nobody answers any more.
        w.meter.SetSilent(false);
        w.Click(1075);
        QCOMPARE(w.port.Outputs().at(1).bytes.at(0), std::uint8_t(1));
    });
    QCOMPARE(w.modal.Boxes(), QStringList{box});
    QCOMPARE(w.dlg.m_byMeterAddress, std::uint8_t(1));
    QCOMPARE(w.meter.Address(), std::uint8_t(5));
}

void TestMeasure::SwitchStateIsPaintedUntilTheWindowIsExposed_data() {
    QTest::addColumn<std::uint16_t>("value");
    QTest::addColumn<QColor>("relayColour");
    QTest::addColumn<QColor>("switchColour");
    QTest::newRow("01 00") << std::uint16_t(0x0100) << kRed << kGreen;
    QTest::newRow("02 01") << std::uint16_t(0x0201) << kGreen << kRed;
    QTest::newRow("02 FF") << std::uint16_t(0x02FF) << kGreen << kGreen;
}

void TestMeasure::SwitchStateIsPaintedUntilTheWindowIsExposed() {
    QFETCH(std::uint16_t, value);
    QFETCH(QColor, relayColour);
    QFETCH(QColor, switchColour);
    Window w;
    w.meter.SetRegister(reg::kRelaySwitch, value);
    w.Run([&] {
        QWidget* relay = w.dlg.Item(1073);
        QWidget* input = w.dlg.Item(1074);
        QCOMPARE(CountPixels(relay, kCell, 0), 0);

        w.meter.SetSilent(true);
        w.Click(1075);
        QCOMPARE(CountPixels(relay, kCell, 0), 0);

        w.meter.SetSilent(false);
        w.Type(1059, QStringLiteral("321"));
        w.Click(1075);
        QCOMPARE(w.Text(1059), QStringLiteral("0")); // the refresh after painting
        QVERIFY(CountPixels(relay, kCell, 0) > 0);
        QVERIFY(CountPixels(relay, relayColour, 40) > 0);
        QVERIFY(CountPixels(input, switchColour, 40) > 0);
        const QColor other = relayColour == kRed ? kGreen : kRed;
        QCOMPARE(CountPixels(relay, other, 40), 0);
        QCOMPARE(w.Text(1073), QString());

        // Our own refreshes leave the characters; the window system's repaint takes them away.
        w.Click(1064);
        QVERIFY(CountPixels(relay, relayColour, 40) > 0);
        QExposeEvent expose(QRegion(w.dlg.rect()));
        QCoreApplication::sendEvent(w.dlg.windowHandle(), &expose);
        QCOMPARE(CountPixels(relay, kCell, 0), 0);
        QCOMPARE(CountPixels(input, kCell, 0), 0);

        w.Click(1075);
        QVERIFY(CountPixels(input, switchColour, 40) > 0);
    });
    QCOMPARE(w.modal.Boxes(), QStringList());
}

void TestMeasure::PollsDoNotOverlap() {
    Window w;
    w.Run([&] {
        w.Type(1052, QStringLiteral("x"));
        // Inside the poll's integer prompt the timer keeps ticking.
        w.modal.AnswerBox([&](QWidget*) { w.dlg.OnTimer(1); });
        w.dlg.OnTimer(1);
        QCOMPARE(w.Sent(), std::size_t(2));
        QCOMPARE(w.Text(1069), QStringLiteral("1"));
        // Once the poll is over, the next tick polls again.
        w.Type(1052, QStringLiteral("2"));
        w.dlg.OnTimer(1);
        QCOMPARE(w.Sent(), std::size_t(4));
        QCOMPARE(w.Text(1069), QStringLiteral("2"));
    });
    QCOMPARE(w.modal.Boxes(), QStringList{ui::IntegerPrompt()});
}

QTEST_MAIN(TestMeasure)
#include "tst_measure.moc"
