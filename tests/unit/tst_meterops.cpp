// Meter operations over the scripted port and the in-process meter, on the virtual clock.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "link/Exchange.h"
#include "meter/MeterOps.h"
#include "meter/Registers.h"

#include <QTest>

#include <climits>
#include <functional>
#include <vector>

using namespace md;

namespace {

struct Rig {
    VirtualClock clock;
    FakePort port{clock};
    FakeMeter meter{port};
    CExchange link{port, clock};
    Rig() { port.SetPortOpen(true); }
};

using Op = std::function<void(CExchange&)>;
using Setup = std::function<void(Rig&)>;
using Raw = std::array<std::uint16_t, 3>;

meter::ParamValues Fields(int dp, int upper, int lower, int baud) {
    meter::ParamValues v;
    v.decimalPoint = dp;
    v.upperLimit = upper;
    v.lowerLimit = lower;
    v.baudRate = baud;
    return v;
}

} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Raw)

class TestMeterOps : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ReadsSendTheirRequestAndSleep600_data();
    void ReadsSendTheirRequestAndSleep600();
    void ReadsDecodeTheLocatedAnswer();
    void WriteParamsSendsFourFramesWithPauses_data();
    void WriteParamsSendsFourFramesWithPauses();
    void WriteParamsOutcome_data();
    void WriteParamsOutcome();
    void FastWriteParamsEndEachWriteAtItsEcho_data();
    void FastWriteParamsEndEachWriteAtItsEcho();
    void WriteParamsStopsAtAFailedTake_data();
    void WriteParamsStopsAtAFailedTake();
    void WriteOwnAddressOutcome_data();
    void WriteOwnAddressOutcome();
    void BaudCodeMapsBothWays_data();
    void BaudCodeMapsBothWays();
    void CurrentTexts_data();
    void CurrentTexts();
    void ErrorRate_data();
    void ErrorRate();
    void SwitchStateDecodes_data();
    void SwitchStateDecodes();
};

void TestMeterOps::ReadsSendTheirRequestAndSleep600_data() {
    QTest::addColumn<Op>("op");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("upper limit") << Op([](CExchange& l) { meter::ReadUpperLimit(l, 1); })
                                 << QByteArray("010303020001258e");
    QTest::newRow("lower limit") << Op([](CExchange& l) { meter::ReadLowerLimit(l, 1); })
                                 << QByteArray("010303040001c58f");
    QTest::newRow("decimal point") << Op([](CExchange& l) { meter::ReadDecimalPoint(l, 1); })
                                   << QByteArray("010300060001640b");
    QTest::newRow("baud code") << Op([](CExchange& l) { meter::ReadBaudCode(l, 1); })
                               << QByteArray("010303080001058c");
    QTest::newRow("phase currents") << Op([](CExchange& l) { meter::ReadPhaseCurrents(l, 1); })
                                    << QByteArray("01030000000305cb");
    QTest::newRow("relay/switch") << Op([](CExchange& l) { meter::ReadSwitchState(l, 1); })
                                  << QByteArray("01030016000165ce");
    QTest::newRow("relay/switch at 0x11")
        << Op([](CExchange& l) { meter::ReadSwitchState(l, 0x11); })
        << QByteArray("110300160001675e");
}

void TestMeterOps::ReadsSendTheirRequestAndSleep600() {
    QFETCH(Op, op);
    QFETCH(QByteArray, request);
    Rig rig;
    op(rig.link);
    QCOMPARE(SentHex(rig.port), std::vector<std::string>{request.toStdString()});
    QCOMPARE(rig.clock.Sleeps(), std::vector<std::uint32_t>{600});
}

void TestMeterOps::ReadsDecodeTheLocatedAnswer() {
    Rig rig;
    rig.meter.SetRegister(reg::kUpperLimit, 0x01F4);
    rig.meter.SetRegister(reg::kLowerLimit, 0xFFFF);
    rig.meter.SetRegister(reg::kDecimalPoint, 3);
    rig.meter.SetRegister(reg::kPhaseCurrents, 0x04D2);
    rig.meter.SetRegister(reg::kPhaseCurrents + 1, 0x0064);
    rig.meter.SetRegister(reg::kPhaseCurrents + 2, 0xFFFF);
    QCOMPARE(meter::ReadUpperLimit(rig.link, 1), std::optional<std::uint16_t>(500));
    QCOMPARE(meter::ReadLowerLimit(rig.link, 1), std::optional<std::uint16_t>(65535));
    QCOMPARE(meter::ReadDecimalPoint(rig.link, 1), std::optional<std::uint16_t>(3));
    const auto currents = meter::ReadPhaseCurrents(rig.link, 1);
    QVERIFY(currents);
    QCOMPARE(*currents, (std::array<std::uint16_t, 3>{1234, 100, 65535}));

    rig.meter.SetRegister(reg::kParamBaudCode, 3);
    QCOMPARE(meter::ReadBaudCode(rig.link, 1), std::optional<int>(9600));
    rig.meter.SetRegister(reg::kParamBaudCode, 7);
    QCOMPARE(meter::ReadBaudCode(rig.link, 1), std::optional<int>(7));
}

void TestMeterOps::WriteParamsSendsFourFramesWithPauses_data() {
    QTest::addColumn<int>("baudField");
    QTest::addColumn<QByteArray>("baudFrame");
    QTest::addColumn<int>("baudCode");
    QTest::newRow("9600 goes out as code 3") << 9600 << QByteArray("010603080003484d") << 3;
    QTest::newRow("38400 goes out as 0x9600") << 38400 << QByteArray("01060308960067ec") << 38400;
}

void TestMeterOps::WriteParamsSendsFourFramesWithPauses() {
    QFETCH(int, baudField);
    QFETCH(QByteArray, baudFrame);
    QFETCH(int, baudCode);
    Rig rig;
    const auto result =
        meter::WriteParams(rig.link, 1, [&] { return Fields(2, 100, 20, baudField); });
    QCOMPARE(SentHex(rig.port),
             (std::vector<std::string>{"010600060002e80a", "01060302006429a5", "010603040014c840",
                                       baudFrame.toStdString()}));
    QCOMPARE(result.baudCode, baudCode);
    QCOMPARE(rig.clock.Sleeps(), (std::vector<std::uint32_t>{300, 300, 300, 300}));
    // Each write is sent at the end of the previous pause.
    QCOMPARE(rig.port.Outputs()[3].at, 900u);
    QCOMPARE(rig.meter.Register(reg::kUpperLimit), std::optional<std::uint16_t>(100));
}

void TestMeterOps::WriteParamsOutcome_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<std::uint8_t>("address");
    QTest::addColumn<int>("outcome");
    const auto none = [](Rig&) {};
    QTest::newRow("every echo") << Setup(none) << std::uint8_t(1)
                                << int(meter::WriteOutcome::Confirmed);
    QTest::newRow("silent meter") << Setup([](Rig& r) { r.meter.SetSilent(true); })
                                  << std::uint8_t(1) << int(meter::WriteOutcome::Unconfirmed);
    QTest::newRow("last echo missing")
        << Setup([](Rig& r) { r.meter.SetNoAnswerAt(reg::kParamBaudCode); }) << std::uint8_t(1)
        << int(meter::WriteOutcome::Unconfirmed);
    QTest::newRow("first echo missing")
        << Setup([](Rig& r) { r.meter.SetNoAnswerAt(reg::kDecimalPoint); }) << std::uint8_t(1)
        << int(meter::WriteOutcome::Unconfirmed);
    QTest::newRow("echoes later than the pause")
        << Setup([](Rig& r) { r.meter.SetAnswerDelay(350); }) << std::uint8_t(1)
        << int(meter::WriteOutcome::Unconfirmed);
    QTest::newRow("echoes late in the pause")
        << Setup([](Rig& r) { r.meter.SetAnswerDelay(290); }) << std::uint8_t(1)
        << int(meter::WriteOutcome::Confirmed);
    // The first write answered twice, the second time in the second write's pause, and the
    // second write not at all: the repeat is the first write's, not the second's.
    QTest::newRow("a repeated echo of the first write in the second's pause") << Setup([](Rig& r) {
        const std::vector<std::uint8_t> first = Bytes("010600060001a80b");
        r.port.QueueAnswer({{first, 20}, {first, 320}});
        r.port.QueueAnswer(std::vector<FakePort::Reply>{});
    }) << std::uint8_t(1) << int(meter::WriteOutcome::Unconfirmed);
    QTest::newRow("port closed") << Setup([](Rig& r) { r.port.SetPortOpen(false); })
                                 << std::uint8_t(1) << int(meter::WriteOutcome::Unconfirmed);
    QTest::newRow("broadcast") << Setup(none) << std::uint8_t(0)
                               << int(meter::WriteOutcome::Confirmed);
}

void TestMeterOps::WriteParamsOutcome() {
    QFETCH(Setup, setup);
    QFETCH(std::uint8_t, address);
    QFETCH(int, outcome);
    Rig rig;
    setup(rig);
    const auto result =
        meter::WriteParams(rig.link, address, [] { return Fields(1, 500, 100, 4800); });
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.baudCode, 2);
    QCOMPARE(rig.clock.Sleeps(), (std::vector<std::uint32_t>{300, 300, 300, 300}));
}

void TestMeterOps::FastWriteParamsEndEachWriteAtItsEcho_data() {
    QTest::addColumn<int>("mutedRegister"); // -1: every write is echoed
    QTest::addColumn<QList<int>>("sentAt");
    QTest::addColumn<int>("outcome");
    // The meter echoes 20 ms after each request; at 9600 bit/s the gap is 4011 us (in us).
    QTest::newRow("every echo") << -1 << QList<int>{0, 24011, 48022, 72033}
                                << int(meter::WriteOutcome::Confirmed);
    QTest::newRow("a missing echo waits the old pause, no longer")
        << int(reg::kUpperLimit) << QList<int>{0, 24011, 328022, 352033}
        << int(meter::WriteOutcome::Unconfirmed);
}

void TestMeterOps::FastWriteParamsEndEachWriteAtItsEcho() {
    QFETCH(int, mutedRegister);
    QFETCH(QList<int>, sentAt);
    QFETCH(int, outcome);
    Rig rig;
    rig.link.SetFastWaits(true);
    if (mutedRegister >= 0)
        rig.meter.SetNoAnswerAt(std::uint16_t(mutedRegister));
    const auto result = meter::WriteParams(rig.link, 1, [] { return Fields(1, 500, 100, 4800); });
    QCOMPARE(int(result.outcome), outcome);
    QList<int> at;
    for (const FakePort::Sent& s : rig.port.Outputs())
        at << int(s.atUs);
    QCOMPARE(at, sentAt);
    QCOMPARE(rig.meter.Writes().size(), std::size_t(4));
}

void TestMeterOps::WriteParamsStopsAtAFailedTake_data() {
    QTest::addColumn<int>("failingTake");
    QTest::addColumn<int>("framesSent");
    QTest::newRow("first take") << 1 << 0;
    QTest::newRow("fourth take") << 4 << 3;
}

void TestMeterOps::WriteParamsStopsAtAFailedTake() {
    QFETCH(int, failingTake);
    QFETCH(int, framesSent);
    Rig rig;
    int takes = 0;
    const auto result = meter::WriteParams(rig.link, 1, [&]() -> std::optional<meter::ParamValues> {
        if (++takes == failingTake)
            return std::nullopt;
        return Fields(2, 100, 20, 9600);
    });
    QCOMPARE(int(result.outcome), int(meter::WriteOutcome::Abandoned));
    QCOMPARE(takes, failingTake);
    QCOMPARE(rig.port.Outputs().size(), std::size_t(framesSent));
}

void TestMeterOps::WriteOwnAddressOutcome_data() {
    QTest::addColumn<bool>("silent");
    QTest::addColumn<std::uint8_t>("address");
    QTest::addColumn<QByteArray>("answer"); // what the line brings back; empty: the fake meter's
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<bool>("fast");
    QTest::addColumn<uint>("waited"); // ms from the request to the end of the exchange
    QTest::newRow("echoed") << false << std::uint8_t(1) << QByteArray()
                            << QByteArray("010603000005498d") << true << false << 300u;
    QTest::newRow("silent") << true << std::uint8_t(1) << QByteArray()
                            << QByteArray("010603000005498d") << false << false << 300u;
    QTest::newRow("broadcast") << true << std::uint8_t(0) << QByteArray()
                               << QByteArray("000603000005485c") << true << false << 300u;
    // A meter that takes its new address before it answers.
    QTest::newRow("echoed from the new address")
        << false << std::uint8_t(1) << QByteArray("0506030000054809")
        << QByteArray("010603000005498d") << true << false << 300u;
    QTest::newRow("echoed from the new address ends a fast wait")
        << false << std::uint8_t(1) << QByteArray("0506030000054809")
        << QByteArray("010603000005498d") << true << true << 20u;
    QTest::newRow("echoed from a third address")
        << false << std::uint8_t(1) << QByteArray("060603000005483a")
        << QByteArray("010603000005498d") << false << true << 300u;
}

void TestMeterOps::WriteOwnAddressOutcome() {
    QFETCH(bool, silent);
    QFETCH(std::uint8_t, address);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, request);
    QFETCH(bool, confirmed);
    QFETCH(bool, fast);
    QFETCH(uint, waited);
    Rig rig;
    rig.link.SetFastWaits(fast);
    rig.meter.SetSilent(silent);
    if (!answer.isEmpty())
        rig.port.SetResponder([&](std::span<const std::uint8_t>) {
            return std::vector<FakePort::Reply>{{Bytes(answer), 20}};
        });
    QCOMPARE(meter::WriteOwnAddress(rig.link, address, 5), confirmed);
    QCOMPARE(SentHex(rig.port), std::vector<std::string>{request.toStdString()});
    QCOMPARE(rig.clock.Elapsed() - rig.port.Outputs().at(0).at, std::uint64_t(waited));
}

void TestMeterOps::BaudCodeMapsBothWays_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("codeShowsAsField");
    QTest::addColumn<bool>("fieldSendsAsCode");
    QTest::newRow("0 / 1200") << 0 << 1200 << true << true;
    QTest::newRow("3 / 9600") << 3 << 9600 << true << true;
    QTest::newRow("4 / 19200") << 4 << 19200 << true << true;
    QTest::newRow("code 7 shows itself") << 7 << 7 << true << true;
    QTest::newRow("code 4 typed goes out unchanged") << 4 << 4 << false << true;
    QTest::newRow("38400 has no code") << 38400 << 38400 << true << true;
}

void TestMeterOps::BaudCodeMapsBothWays() {
    QFETCH(int, code);
    QFETCH(int, field);
    QFETCH(bool, codeShowsAsField);
    QFETCH(bool, fieldSendsAsCode);
    if (codeShowsAsField)
        QCOMPARE(meter::BaudCodeToField(code), field);
    if (fieldSendsAsCode)
        QCOMPARE(meter::BaudFieldToCode(field), code);
}

void TestMeterOps::CurrentTexts_data() {
    QTest::addColumn<int>("decimalPoint");
    QTest::addColumn<Raw>("raw");
    QTest::addColumn<QStringList>("texts"); // A, B, C
    QTest::newRow("worked example")
        << 2 << Raw{0x04D2, 0x0064, 0xFFFF} << QStringList{"12.3400", "1.0000", "655.3500"};
    QTest::newRow("decimal point 0")
        << 0 << Raw{65535, 0, 1} << QStringList{"65535.0000", "0.0000", "1.0000"};
    QTest::newRow("decimal point 3")
        << 3 << Raw{5, 1000, 0} << QStringList{"0.0050", "1.0000", "0.0000"};
    QTest::newRow("decimal point 1")
        << 1 << Raw{5, 1000, 12345} << QStringList{"0.5000", "100.0000", "1234.5000"};
    QTest::newRow("decimal point 4 keeps raw")
        << 4 << Raw{1234, 5, 0} << QStringList{"1234.0000", "5.0000", "0.0000"};
    QTest::newRow("decimal point -1 keeps raw")
        << -1 << Raw{1234, 5, 0} << QStringList{"1234.0000", "5.0000", "0.0000"};
}

void TestMeterOps::CurrentTexts() {
    QFETCH(int, decimalPoint);
    QFETCH(Raw, raw);
    QFETCH(QStringList, texts);
    QStringList actual;
    for (const auto& s : meter::CurrentTexts(raw, decimalPoint))
        actual << QString::fromStdString(s);
    QCOMPARE(actual, texts);
}

// The counts include the poll just made, answered or not.
void TestMeterOps::ErrorRate_data() {
    QTest::addColumn<int>("success");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("text");
    QTest::newRow("before the first poll") << 0 << 0 << "0";
    QTest::newRow("first poll answered") << 1 << 0 << "0.0000%";
    QTest::newRow("first poll unanswered") << 0 << 1 << "100.0000%";
    QTest::newRow("one failure, then a success") << 1 << 1 << "50.0000%";
    QTest::newRow("then a second success") << 2 << 1 << "33.3333%";
    QTest::newRow("worked example, 3 of 11") << 8 << 3 << "27.2727%";
    QTest::newRow("counts beyond the int sum") << INT_MAX << INT_MAX << "50.0000%";
}

void TestMeterOps::ErrorRate() {
    QFETCH(int, success);
    QFETCH(int, failure);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(meter::ErrorRateText(success, failure)), text);
}

void TestMeterOps::SwitchStateDecodes_data() {
    QTest::addColumn<std::uint16_t>("value");
    QTest::addColumn<bool>("relayOn");
    QTest::addColumn<bool>("switchClosed");
    QTest::newRow("01 00") << std::uint16_t(0x0100) << true << false;
    QTest::newRow("02 01") << std::uint16_t(0x0201) << false << true;
    QTest::newRow("02 FF") << std::uint16_t(0x02FF) << false << false;
    QTest::newRow("01 01") << std::uint16_t(0x0101) << true << true;
}

void TestMeterOps::SwitchStateDecodes() {
    QFETCH(std::uint16_t, value);
    QFETCH(bool, relayOn);
    QFETCH(bool, switchClosed);
    Rig rig;
    rig.meter.SetRegister(reg::kRelaySwitch, value);
    const auto state = meter::ReadSwitchState(rig.link, 1);
    QVERIFY(state);
    QCOMPARE(state->relayOn, relayOn);
    QCOMPARE(state->switchClosed, switchClosed);

    rig.meter.SetSilent(true);
    QVERIFY(!meter::ReadSwitchState(rig.link, 1));
}

QTEST_GUILESS_MAIN(TestMeterOps)
#include "tst_meterops.moc"
