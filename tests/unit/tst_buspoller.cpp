// Several meters on one line, polled in turn on the fake port and virtual clock: the address
// list, what one cycle asks and shows of each meter, the rest of a silent meter, and a line
// outage that blames no meter.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/VirtualClock.h"
#include "meter/AddressList.h"
#include "meter/BusPoller.h"
#include "meter/Registers.h"

#include <QTest>

#include <list>
#include <optional>

using namespace md;
using meter::AddressListError;
using meter::BusMeterState;
using meter::BusPoller;

namespace {

struct Rig {
    Rig() {
        port.SetPortOpen(true);
        link.SetTrace(trace);
    }
    // A meter at address on the line; the first one added answers last in the chain.
    FakeMeter& Add(std::uint8_t address) { return meters.emplace_back(port, address); }

    VirtualClock clock;
    FakePort port{clock};
    TraceFanOut trace;
    CExchange link{port, clock};
    std::list<FakeMeter> meters;
};

// Steps the poller through one whole cycle, the time between steps passing as the steps ask;
// the tick count when it began.
std::uint64_t RunCycle(BusPoller& poller, VirtualClock& clock) {
    const std::uint64_t cycle = poller.Cycles() + 1;
    std::optional<std::uint64_t> began;
    for (int steps = 0; steps < 1000; ++steps) {
        const std::uint64_t before = clock.Elapsed();
        const std::uint32_t next = poller.Step();
        if (poller.Cycles() == cycle && !began)
            began = before;
        if (began && !poller.InCycle())
            return *began;
        clock.Advance(next);
    }
    qFatal("the cycle does not end");
}

QString Join(const std::vector<std::uint8_t>& addresses) {
    QStringList parts;
    for (const std::uint8_t a : addresses)
        parts << QString::number(a);
    return parts.join(u',');
}

} // namespace

class TestBusPoller : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void AddressList_data();
    void AddressList();
    void OneCycleAsksEveryMeterInTurn();
    void SilentMeterIsTriedEveryTenthCycle();
    void LineOutageBlamesNoMeter_data();
    void LineOutageBlamesNoMeter();
};

void TestBusPoller::AddressList_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("item");
    const auto none = int(AddressListError::None);
    QTest::newRow("list and range") << "1,3,5-8"
                                    << "1,3,5,6,7,8" << none << "";
    QTest::newRow("order kept, a repeat once") << " 8 , 3,8, 3 "
                                               << "8,3" << none << "";
    QTest::newRow("broadcast address") << "1,0"
                                       << "" << int(AddressListError::OutOfRange) << "0";
    QTest::newRow("reserved") << "248"
                              << "" << int(AddressListError::OutOfRange) << "248";
    QTest::newRow("range upside down") << "5-3"
                                       << "" << int(AddressListError::Reversed) << "5-3";
    QTest::newRow("empty item") << "1,,2"
                                << "" << int(AddressListError::EmptyItem) << "";
    QTest::newRow("letter") << "a"
                            << "" << int(AddressListError::NotANumber) << "a";
    QTest::newRow("open range") << "3-"
                                << "" << int(AddressListError::NotANumber) << "3-";
    QTest::newRow("nothing") << "  "
                             << "" << int(AddressListError::Empty) << "";
}

void TestBusPoller::AddressList() {
    QFETCH(QString, text);
    QFETCH(QString, addresses);
    QFETCH(int, error);
    QFETCH(QString, item);
    const meter::AddressList list = meter::ParseAddressList(text.toStdString());
    QCOMPARE(Join(list.addresses), addresses);
    QCOMPARE(int(list.error), error);
    QCOMPARE(QString::fromStdString(list.item), item);
    if (error == int(AddressListError::None) && text == "1,3,5-8")
        QCOMPARE(meter::AddressListText(list.addresses), text.toStdString());
}

void TestBusPoller::OneCycleAsksEveryMeterInTurn() {
    Rig rig;
    rig.Add(1);
    FakeMeter& tenths = rig.Add(4);
    tenths.SetRegister(reg::kDecimalPoint, 1);
    tenths.SetRegister(reg::kPhaseCurrents, 52);
    rig.Add(6).EraseRegister(reg::kDecimalPoint); // refuses the read with an exception
    rig.Add(9).SetSilent(true);
    BusPoller poller(rig.link, rig.trace, {9, 4, 1, 6});
    std::vector<int> polled;
    poller.onPolled = [&](const meter::BusPoll& p) { polled.push_back(p.address); };
    QCOMPARE(RunCycle(poller, rig.clock), std::uint64_t{0});

    // In the order of the addresses; a meter that fails the decimal point read is not asked
    // for its currents.
    QStringList asked;
    for (const FakePort::Sent& s : rig.port.Outputs())
        asked << QStringLiteral("%1:%2").arg(s.bytes[0]).arg(s.bytes[3]);
    QCOMPARE(asked, (QStringList{"1:6", "1:0", "4:6", "4:0", "6:6", "9:6"}));
    QCOMPARE(polled, (std::vector<int>{1, 4, 6, 9}));
    // Two answered polls of 600 + 300 + 600 ms and two failed reads of 600 ms.
    QCOMPARE(rig.clock.Elapsed(), std::uint64_t{2 * 1500 + 2 * 600});

    const auto& m = poller.Meters();
    QCOMPARE(m.size(), std::size_t{4});
    QCOMPARE(m[0].decimalPoint, 2);
    QCOMPARE(m[1].decimalPoint, 1);
    QCOMPARE(meter::CurrentTexts(*m[1].raw, m[1].decimalPoint)[0], std::string("5.2000"));
    QCOMPARE(int(m[0].state), int(BusMeterState::Answering));
    QCOMPARE(int(m[2].state), int(BusMeterState::Refused));
    QCOMPARE(int(m[3].state), int(BusMeterState::NoAnswer));
    QCOMPARE(int(m[3].why), int(TraceStatus::NoAnswer));
    QCOMPARE(
        (std::array{m[0].successCount, m[0].failureCount, m[3].successCount, m[3].failureCount}),
        (std::array{1, 0, 0, 1}));
    QVERIFY(poller.LineLost().empty());
}

void TestBusPoller::SilentMeterIsTriedEveryTenthCycle() {
    Rig rig;
    rig.Add(1);
    FakeMeter& silent = rig.Add(2);
    silent.SetSilent(true);
    BusPoller poller(rig.link, rig.trace, {1, 2});
    QList<int> tried;
    QList<std::uint64_t> starts;
    for (int cycle = 1; cycle <= 25; ++cycle) {
        if (cycle == 23)
            silent.SetSilent(false);
        const int heard = silent.Heard();
        starts << RunCycle(poller, rig.clock);
        // One read a try: a silent meter costs its one wait.
        if (cycle < 23)
            QVERIFY(silent.Heard() - heard <= 1);
        if (silent.Heard() > heard)
            tried << cycle;
        if (cycle == 4)
            QVERIFY(poller.Meters()[1].Resting());
    }
    QCOMPARE(tried, (QList<int>{1, 2, 3, 13, 23, 24, 25}));
    // 1500 ms for meter 1, 600 for the silent one; a rested meter's cycle keeps the interval.
    QCOMPARE(starts.mid(0, 5), (QList<std::uint64_t>{0, 2100, 4200, 6300, 8300}));
    const meter::BusMeter& m = poller.Meters()[1];
    QCOMPARE(int(m.state), int(BusMeterState::Answering));
    QVERIFY(!m.Resting());
    QCOMPARE(m.failureCount, 4);
    QCOMPARE(m.successCount, 3);
}

void TestBusPoller::LineOutageBlamesNoMeter_data() {
    QTest::addColumn<int>("lostAfterSteps"); // 0: before the cycle
    QTest::newRow("lost before the cycle") << 0;
    QTest::newRow("lost after the first meter's first read") << 2;
}

void TestBusPoller::LineOutageBlamesNoMeter() {
    QFETCH(int, lostAfterSteps);
    Rig rig;
    rig.Add(1);
    rig.Add(2);
    rig.Add(3);
    BusPoller poller(rig.link, rig.trace, {1, 2, 3});
    if (lostAfterSteps == 0)
        rig.port.Lose("gone");
    for (int i = 0; i < lostAfterSteps; ++i)
        rig.clock.Advance(poller.Step());
    if (lostAfterSteps > 0)
        rig.port.Lose("gone");
    const std::size_t sent = rig.port.Outputs().size();
    RunCycle(poller, rig.clock);
    QCOMPARE(rig.port.Outputs().size(), sent);
    QCOMPARE(QString::fromStdString(poller.LineLost()), QStringLiteral("gone"));
    for (const meter::BusMeter& m : poller.Meters())
        QCOMPARE(m.failureCount, 0);
    // The next cycle on the line again clears the outage.
    rig.port.Reopen();
    RunCycle(poller, rig.clock);
    QVERIFY(poller.LineLost().empty());
    QCOMPARE(poller.Meters()[2].successCount, 1);
}

QTEST_GUILESS_MAIN(TestBusPoller)
#include "tst_buspoller.moc"
