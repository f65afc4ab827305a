// The meter scan on the fake port and virtual clock: the order of the probes, each probe's
// listening time, late answers, confirmation, and the port left as it was found.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/VirtualClock.h"
#include "link/Crc.h"
#include "link/Frame.h"
#include "meter/MeterScan.h"
#include "meter/Registers.h"

#include <QTest>

using namespace md;
using meter::MeterScan;
using meter::ScanPoint;

namespace {

QString Text(const ScanPoint& p) {
    return QStringLiteral("%1@%2%3").arg(p.address).arg(p.baudRate).arg(QLatin1Char(p.parity));
}

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int a = from; a <= to; ++a)
        v.push_back(a);
    return v;
}

const std::vector<int> kAllAddresses = Range(1, 247);
const std::vector<int> kAllRates{1200, 2400, 4800, 9600, 19200};
const std::vector<char> kAllParities{'N', 'E', 'O'};

// Runs the scan to its end; the step count guards against a scan that never ends.
void RunToEnd(MeterScan& scan) {
    for (int steps = 0; scan.Step(); ++steps)
        QVERIFY2(steps < 200'000, "the scan does not end");
}

// A valid answer to the probe read from address.
std::vector<std::uint8_t> ProbeAnswer(std::uint8_t address) {
    std::vector<std::uint8_t> frame{address, kFnReadHolding, 2, 0, 3};
    const std::uint16_t crc = CalcCrc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

} // namespace

class TestMeterScan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void OrderOfProbes_data();
    void OrderOfProbes();
    void ListeningTimePerLine_data();
    void ListeningTimePerLine();
    void FindsTheMeterNearTheLinesLimit_data();
    void FindsTheMeterNearTheLinesLimit();
    void WhatCountsAsAMeter_data();
    void WhatCountsAsAMeter();
    void CancelRestoresThePort_data();
    void CancelRestoresThePort();
};

void TestMeterScan::OrderOfProbes_data() {
    QTest::addColumn<std::optional<ScanPoint>>("first");
    QTest::addColumn<std::vector<int>>("addresses");
    QTest::addColumn<std::vector<int>>("rates");
    QTest::addColumn<std::vector<char>>("parities");
    QTest::addColumn<QStringList>("head");
    QTest::addColumn<int>("total");

    const QStringList addressOne{"1@9600N",  "1@9600E",  "1@9600O", "1@19200N", "1@19200E",
                                 "1@19200O", "1@4800N",  "1@4800E", "1@4800O",  "1@2400N",
                                 "1@2400E",  "1@2400O",  "1@1200N", "1@1200E",  "1@1200O"};
    QTest::newRow("dialog's settings, address 1 everywhere, then every address")
        << std::optional(ScanPoint{37, 4800, 'E'}) << kAllAddresses << kAllRates << kAllParities
        << QStringList{"37@4800E"} + addressOne + QStringList{"2@9600N", "3@9600N"} << 3705;
    QTest::newRow("narrowed: no address 1, parities in their own order")
        << std::optional<ScanPoint>() << std::vector<int>{6, 5} << std::vector<int>{2400}
        << std::vector<char>{'O', 'N'}
        << QStringList{"5@2400N", "6@2400N", "5@2400O", "6@2400O"} << 4;
}

void TestMeterScan::OrderOfProbes() {
    QFETCH(std::optional<ScanPoint>, first);
    QFETCH(std::vector<int>, addresses);
    QFETCH(std::vector<int>, rates);
    QFETCH(std::vector<char>, parities);
    QFETCH(QStringList, head);
    QFETCH(int, total);

    const std::vector<ScanPoint> order = meter::ScanOrder(first, addresses, rates, parities);
    QCOMPARE(static_cast<int>(order.size()), total);
    QStringList got;
    for (int i = 0; i < head.size(); ++i)
        got << Text(order[static_cast<std::size_t>(i)]);
    QCOMPARE(got, head);
}

void TestMeterScan::ListeningTimePerLine_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<char>("parity");
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("waitMs");

    // 8 request bytes of 11 bits (12 with parity), rounded up, then the window or the
    // inter-frame gap, whichever is longer.
    QTest::newRow("19200 none, gap below the window") << 19200 << 'N' << 20 << 5 + 20;
    QTest::newRow("9600 even: the parity bit") << 9600 << 'E' << 100 << 10 + 100;
    QTest::newRow("1200 odd, the gap outlasts a short window") << 1200 << 'O' << 20 << 80 + 35;
}

void TestMeterScan::ListeningTimePerLine() {
    QFETCH(int, rate);
    QFETCH(char, parity);
    QFETCH(int, window);
    QFETCH(int, waitMs);
    QCOMPARE(meter::ProbeWaitMs({1, rate, parity}, static_cast<std::uint32_t>(window)),
             static_cast<std::uint32_t>(waitMs));
}

// The meter at 200@2400O; each probe there listens 40 ms for the request and a 20 ms window.
void TestMeterScan::FindsTheMeterNearTheLinesLimit_data() {
    QTest::addColumn<int>("delay"); // from the request going out to the meter's answer
    QTest::addColumn<bool>("exception");
    QTest::addColumn<bool>("all");
    QTest::newRow("answer, stops at the first") << 55 << false << false;
    QTest::newRow("exception answer proves the meter too") << 55 << true << false;
    QTest::newRow("all: goes on to the end") << 55 << false << true;
    QTest::newRow("late, in the next probe: credited to its address") << 110 << false << false;
}

void TestMeterScan::FindsTheMeterNearTheLinesLimit() {
    QFETCH(int, delay);
    QFETCH(bool, exception);
    QFETCH(bool, all);
    VirtualClock clock;
    FakePort port(clock);
    port.SetSettings("19200E,8,2");
    FakeMeter meter(port, 200);
    meter.SetLine(1, 2400, 'O');
    meter.SetAnswerDelay(static_cast<std::uint32_t>(delay));
    if (exception)
        meter.EraseRegister(reg::kParamBaudCode);

    meter::ScanOptions options;
    options.order = meter::ScanOrder({}, kAllAddresses, {2400, 9600}, kAllParities);
    options.windowMs = 20;
    options.all = all;
    MeterScan scan(port, clock, options);
    std::vector<meter::ScanHit> reported;
    scan.onFound = [&](const meter::ScanHit& hit) { reported.push_back(hit); };
    RunToEnd(scan);

    QCOMPARE(reported.size(), std::size_t{1});
    QCOMPARE(Text(reported[0].at), QStringLiteral("200@2400O"));
    QCOMPARE(reported[0].responseMs, std::uint32_t(delay - 40)); // the request takes 40 ms
    QCOMPARE(meter.Heard(), 4);
    QVERIFY(scan.Error().empty());
    QCOMPARE(port.GetSettings(), std::string("19200E,8,2"));
    QVERIFY(!port.GetPortOpen());
    if (delay > 60)
        return; // how long a late answer holds up the probe it lands in is not fixed here

    // Every probe before the meter's costs its listening time and nothing more; then the
    // meter's probe and three confirming reads, each ending with its answer.
    std::uint64_t floor = 0;
    std::size_t i = 0;
    for (; Text(options.order[i]) != QStringLiteral("200@2400O"); ++i)
        floor += meter::ProbeWaitMs(options.order[i], options.windowMs);
    const std::uint64_t gap = InterFrameGapMs(2400, true);
    std::uint64_t expected = floor + 55 + 3 * (gap + 55);
    if (all) {
        for (++i; i < options.order.size(); ++i)
            expected += meter::ProbeWaitMs(options.order[i], options.windowMs);
        expected += gap; // the first probe after the last answer keeps the gap
        QCOMPARE(scan.Progress().done, scan.Progress().total);
    }
    QCOMPARE(clock.Elapsed(), expected);
}

void TestMeterScan::WhatCountsAsAMeter_data() {
    QTest::addColumn<int>("headAt"); // the probe answer's first 3 bytes, ms after the request
    QTest::addColumn<int>("tailAt"); // its other 4
    QTest::addColumn<int>("confirmations");
    QTest::addColumn<bool>("found");
    QTest::newRow("two of three confirming reads") << 15 << 16 << 2 << false;
    QTest::newRow("all three") << 15 << 16 << 3 << true;
    // The probe at 9600 bit/s listens 10 + 20 ms; an answer begun by then is awaited for as
    // long as a whole answer takes, 9 ms, and a 5 ms gap, even across a pause.
    QTest::newRow("begun in the window, done after it") << 28 << 32 << 3 << true;
    QTest::newRow("done just in time after a pause") << 22 << 44 << 3 << true;
    QTest::newRow("done too late") << 22 << 45 << 3 << false;
    QTest::newRow("begun after the window") << 31 << 32 << 3 << false;
}

void TestMeterScan::WhatCountsAsAMeter() {
    QFETCH(int, headAt);
    QFETCH(int, tailAt);
    QFETCH(int, confirmations);
    QFETCH(bool, found);
    VirtualClock clock;
    FakePort port(clock);
    const std::vector<std::uint8_t> answer = ProbeAnswer(7);
    port.QueueAnswer({{{answer.begin(), answer.begin() + 3}, std::uint32_t(headAt)},
                      {{answer.begin() + 3, answer.end()}, std::uint32_t(tailAt)}});
    for (int i = 0; i < confirmations; ++i)
        port.QueueAnswer(answer, 30);

    meter::ScanOptions options;
    options.order = {ScanPoint{7, 9600, 'N'}};
    options.windowMs = 20;
    MeterScan scan(port, clock, options);
    RunToEnd(scan);
    QCOMPARE(scan.Hits().size(), std::size_t{found});
}

void TestMeterScan::CancelRestoresThePort_data() {
    QTest::addColumn<int>("commPortBefore");
    QTest::addColumn<bool>("openBefore");
    QTest::addColumn<int>("steps");
    QTest::newRow("closed, cancelled while listening") << 1 << false << 4;
    QTest::newRow("open on the other port") << 2 << true << 5;
    QTest::newRow("cancelled before the first step") << 1 << true << 0;
}

void TestMeterScan::CancelRestoresThePort() {
    QFETCH(int, commPortBefore);
    QFETCH(bool, openBefore);
    QFETCH(int, steps);
    VirtualClock clock;
    FakePort port(clock);
    port.SetCommPort(static_cast<std::int16_t>(commPortBefore));
    port.SetSettings("1200O,8,2");
    port.SetPortOpen(openBefore);

    meter::ScanOptions options;
    options.order = meter::ScanOrder({}, kAllAddresses, kAllRates, kAllParities);
    MeterScan scan(port, clock, options);
    for (int i = 0; i < steps; ++i)
        QVERIFY(scan.Step());
    scan.Cancel();
    const std::uint64_t at = clock.Elapsed();
    QVERIFY(!scan.Step()); // ends at the next step, without listening any further
    QCOMPARE(clock.Elapsed(), at);

    QVERIFY(scan.Finished());
    QCOMPARE(port.GetCommPort(), commPortBefore);
    QCOMPARE(port.GetSettings(), std::string("1200O,8,2"));
    QCOMPARE(port.GetPortOpen(), openBefore);
}

QTEST_GUILESS_MAIN(TestMeterScan)
#include "tst_meterscan.moc"
