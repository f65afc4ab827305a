// The setup operations on a scripted port with an in-process meter and a virtual clock: the
// exact request bytes, the kind and length of each wait, and how an answer is judged.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "meter/Registers.h"
#include "meter/SetupOps.h"
#include "trace/TraceRows.h"

#include <QtTest>

using namespace md;
using namespace md::meter;

namespace {

bool BusyWaited(const VirtualClock& clock) {
    if (clock.TickReads() < 2 || clock.Sleeps().empty())
        return false;
    for (const std::uint32_t s : clock.Sleeps())
        if (s != 1)
            return false;
    return true;
}

struct Rig {
    explicit Rig(std::uint8_t address = 1) : port(clock), meter(port, address), link(port, clock) {
        port.SetPortOpen(true);
        port.ClearRecord();
    }
    VirtualClock clock;
    FakePort port;
    FakeMeter meter;
    CExchange link;
};

enum class Op { Pt, Ct, Wiring };

} // namespace

Q_DECLARE_METATYPE(Op)

class tst_setupops : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void BaudRequestGoesOutAtTheOldRateAndIsEchoed_data();
    void BaudRequestGoesOutAtTheOldRateAndIsEchoed();
    void BaudRequestNeedsItsEchoWithin300ms_data();
    void BaudRequestNeedsItsEchoWithin300ms();
    void RateWithoutCodeIsNeverSent();
    void ClockReadSleeps300AndTakesPlainBytes_data();
    void ClockReadSleeps300AndTakesPlainBytes();
    void ClockReadWithoutValidAnswerFails();
    void SetupWritesSendTheirFramesAndBusyWait_data();
    void SetupWritesSendTheirFramesAndBusyWait();
    void LateAcknowledgementNeverConfirmsTheNextWrite_data();
    void LateAcknowledgementNeverConfirmsTheNextWrite();
};

void tst_setupops::BaudRequestGoesOutAtTheOldRateAndIsEchoed_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("request");
    QTest::newRow("address 5 to 19200") << 5 << 19200 << "050600080004084f";
    QTest::newRow("address 1 to 1200") << 1 << 1200 << "0106000800000808";
}

void tst_setupops::BaudRequestGoesOutAtTheOldRateAndIsEchoed() {
    QFETCH(int, address);
    QFETCH(int, rate);
    QFETCH(QString, request);
    Rig r(static_cast<std::uint8_t>(address));
    r.port.Arrive({0x05, 0x06}); // stale bytes: flushed before the request goes out

    QVERIFY(RequestBaudChange(r.link, static_cast<std::uint8_t>(address), rate));
    QCOMPARE(SentHex(r.port), std::vector<std::string>{request.toStdString()});
    QCOMPARE(r.port.Log().front(), std::string("Input?"));
    QCOMPARE(WaitOf(r.port), std::uint64_t(300));
    QVERIFY(BusyWaited(r.clock));
    QCOMPARE(r.meter.BaudRate(), rate);
}

void tst_setupops::BaudRequestNeedsItsEchoWithin300ms_data() {
    QTest::addColumn<bool>("silent");
    QTest::addColumn<uint>("delay");
    QTest::addColumn<bool>("acknowledged");
    QTest::newRow("echo after 20 ms") << false << 20u << true;
    QTest::newRow("echo just in time") << false << 300u << true;
    QTest::newRow("echo too late") << false << 301u << false;
    QTest::newRow("no echo") << true << 20u << false;
}

void tst_setupops::BaudRequestNeedsItsEchoWithin300ms() {
    QFETCH(bool, silent);
    QFETCH(uint, delay);
    QFETCH(bool, acknowledged);
    Rig r;
    r.meter.SetSilent(silent);
    r.meter.SetAnswerDelay(delay);
    QCOMPARE(RequestBaudChange(r.link, 1, 19200), acknowledged);
}

void tst_setupops::RateWithoutCodeIsNeverSent() {
    Rig r;
    QVERIFY(!RequestBaudChange(r.link, 1, 38400));
    QVERIFY(r.port.Outputs().empty());
    QCOMPARE(r.clock.Elapsed(), std::uint64_t(0));
}

void tst_setupops::ClockReadSleeps300AndTakesPlainBytes_data() {
    QTest::addColumn<uint>("minuteSecond");
    QTest::addColumn<uint>("dayHour");
    QTest::addColumn<uint>("yearMonth");
    QTest::addColumn<QList<int>>("fields"); // year (since 2000), month, day, hour, min, s
    QTest::newRow("binary, not BCD")
        << 0x1E2Du << 0x0F0Au << 0x060Bu << QList<int>{6, 11, 15, 10, 30, 45};
    QTest::newRow("register order")
        << 0x3015u << 0x050Eu << 0x060Bu << QList<int>{6, 11, 5, 14, 48, 21};
    QTest::newRow("all zero but day and month")
        << 0x0000u << 0x0100u << 0x0001u << QList<int>{0, 1, 1, 0, 0, 0};
    QTest::newRow("month byte 0x64 taken as it comes")
        << 0x1E2Du << 0x0F0Au << 0x0664u << QList<int>{6, 100, 15, 10, 30, 45};
    QTest::newRow("largest bytes")
        << 0xFFFFu << 0xFFFFu << 0xFFFFu << QList<int>{255, 255, 255, 255, 255, 255};
}

void tst_setupops::ClockReadSleeps300AndTakesPlainBytes() {
    QFETCH(uint, minuteSecond);
    QFETCH(uint, dayHour);
    QFETCH(uint, yearMonth);
    QFETCH(QList<int>, fields);
    Rig r;
    r.meter.SetRegister(reg::kClock, static_cast<std::uint16_t>(minuteSecond));
    r.meter.SetRegister(reg::kClock + 1, static_cast<std::uint16_t>(dayHour));
    r.meter.SetRegister(reg::kClock + 2, static_cast<std::uint16_t>(yearMonth));

    const std::optional<MeterClock> clock = ReadMeterClock(r.link, 1);
    QVERIFY(clock);
    QCOMPARE((QList<int>{clock->year, clock->month, clock->day, clock->hour, clock->minute,
                         clock->second}),
             fields);
    QCOMPARE(SentHex(r.port), std::vector<std::string>{"01030110000305f2"});
    QCOMPARE(r.clock.Sleeps(), std::vector<std::uint32_t>{300});
}

void tst_setupops::ClockReadWithoutValidAnswerFails() {
    Rig r;
    r.meter.EraseRegister(reg::kClock + 2); // the meter answers with an exception
    QVERIFY(!ReadMeterClock(r.link, 1));
    QCOMPARE(r.meter.Heard(), 1);

    r.meter.SetRegister(reg::kClock + 2, 0x060B);
    r.meter.SetAnswerDelay(301); // a whole answer, but after the wait
    QVERIFY(!ReadMeterClock(r.link, 1));
}

void tst_setupops::SetupWritesSendTheirFramesAndBusyWait_data() {
    QTest::addColumn<Op>("op");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QList<int>>("values");
    QTest::newRow("PT 64000") << Op::Pt << 64000 << "01100000000204fa000000c377" << 0x0000
                              << QList<int>{0xFA00, 0};
    QTest::newRow("PT 1") << Op::Pt << 1 << "0110000000020400010000a26f" << 0x0000
                          << QList<int>{1, 0};
    QTest::newRow("CT 64000") << Op::Ct << 64000 << "01100004000204fa000000c284" << 0x0004
                              << QList<int>{0xFA00, 0};
    QTest::newRow("wiring 3相4线(平衡)")
        << Op::Wiring << 5 << "010600020005e809" << 0x0002 << QList<int>{5};
}

void tst_setupops::SetupWritesSendTheirFramesAndBusyWait() {
    QFETCH(Op, op);
    QFETCH(int, value);
    QFETCH(QString, request);
    QFETCH(int, reg);
    QFETCH(QList<int>, values);
    Rig r;
    bool ok = false;
    switch (op) {
    case Op::Pt:
        ok = WritePtRatio(r.link, 1, value);
        break;
    case Op::Ct:
        ok = WriteCtRatio(r.link, 1, value);
        break;
    case Op::Wiring:
        ok = WriteWiringMode(r.link, 1, static_cast<std::uint8_t>(value));
        break;
    }
    QVERIFY(ok);
    QCOMPARE(SentHex(r.port), std::vector<std::string>{request.toStdString()});
    QCOMPARE(WaitOf(r.port), std::uint64_t(300));
    QVERIFY(BusyWaited(r.clock));
    QCOMPARE(r.meter.Writes().size(), std::size_t(1));
    QCOMPARE(int(r.meter.Writes().front().reg), reg);
    QList<int> written;
    for (const std::uint16_t v : r.meter.Writes().front().values)
        written << v;
    QCOMPARE(written, values);
}

void tst_setupops::LateAcknowledgementNeverConfirmsTheNextWrite_data() {
    QTest::addColumn<uint>("ptDelay"); // the PT acknowledgement comes after its 300 ms wait
    QTest::newRow("behind the CT refusal") << 450u;
    QTest::newRow("ahead of the CT refusal") << 310u;
}

void tst_setupops::LateAcknowledgementNeverConfirmsTheNextWrite() {
    QFETCH(uint, ptDelay);
    Rig r;
    TraceRowMaker rows([](TraceRow&&) {});
    r.link.SetTrace(rows);
    r.meter.SetAnswerDelay(ptDelay);
    QVERIFY(!WritePtRatio(r.link, 1, 111));
    r.meter.SetAnswerDelay(20);
    r.meter.SetRefusal(reg::kCtRatio, 0x04);
    QVERIFY(!WriteCtRatio(r.link, 1, 333));
    QCOMPARE(rows.LastOutcome(), TraceStatus::Exception);
}

QTEST_APPLESS_MAIN(tst_setupops)
#include "tst_setupops.moc"
