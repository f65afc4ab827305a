// The meter scan on the fake port and virtual clock: the order of the probes, each probe's
// listening time, late answers, confirmation, a noisy line, Modbus TCP, and the port left as it
// was found.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/VirtualClock.h"
#include "modbus/Crc.h"
#include "modbus/Frame.h"
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

// Runs the scan to its end, letting gapMs pass between two steps as a window's event loop
// does; the step count guards against a scan that never ends.
void RunToEnd(MeterScan& scan, std::uint32_t gapMs = 0, VirtualClock* clock = nullptr) {
    for (int steps = 0; scan.Step(); ++steps) {
        QVERIFY2(steps < 200'000, "the scan does not end");
        if (clock)
            clock->Advance(gapMs);
    }
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
    void NoisyLineWaitsForQuietOncePerSetting();
    void OverModbusTcp_data();
    void OverModbusTcp();
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

// A meter somewhere in the order; in the first rows at 200@2400O, where each probe listens
// 40 ms for the request and a 20 ms window. The late rows answer after the probe's window.
void TestMeterScan::FindsTheMeterNearTheLinesLimit_data() {
    QTest::addColumn<ScanPoint>("at");
    QTest::addColumn<std::optional<ScanPoint>>("first"); // the dialog's settings
    QTest::addColumn<std::vector<int>>("addresses");
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("delay"); // from the request going out to the meter's answer
    QTest::addColumn<bool>("exception");
    QTest::addColumn<bool>("all");
    QTest::addColumn<int>("stepGap"); // time passing between two steps, as in the dialog

    const ScanPoint far{200, 2400, 'O'};
    const std::optional<ScanPoint> none;
    QTest::newRow("answer, stops at the first")
        << far << none << kAllAddresses << 20 << 55 << false << false << 0;
    QTest::newRow("exception answer proves the meter too")
        << far << none << kAllAddresses << 20 << 55 << true << false << 0;
    QTest::newRow("all: goes on to the end")
        << far << none << kAllAddresses << 20 << 55 << false << true << 0;
    QTest::newRow("late, in the next probe: credited to its address")
        << far << none << kAllAddresses << 20 << 110 << false << false << 0;
    // Alone on their rate and parity: no later probe listens on that line.
    QTest::newRow("late at address 1")
        << ScanPoint{1, 9600, 'N'} << none << kAllAddresses << 100 << 150 << false << false << 0;
    QTest::newRow("late at the dialog's settings, the first probe")
        << far << std::optional(far) << kAllAddresses << 100 << 150 << false << false << 0;
    QTest::newRow("late at the one address scanned")
        << ScanPoint{5, 9600, 'E'} << none << std::vector<int>{5} << 100 << 150 << false << false
        << 0;
    QTest::newRow("late at the last address of a pass")
        << ScanPoint{247, 9600, 'N'} << none << kAllAddresses << 100 << 150 << false << false << 0;
    QTest::newRow("late, arriving between two steps")
        << far << none << kAllAddresses << 20 << 70 << false << false << 7;
}

void TestMeterScan::FindsTheMeterNearTheLinesLimit() {
    QFETCH(ScanPoint, at);
    QFETCH(std::optional<ScanPoint>, first);
    QFETCH(std::vector<int>, addresses);
    QFETCH(int, window);
    QFETCH(int, delay);
    QFETCH(bool, exception);
    QFETCH(bool, all);
    QFETCH(int, stepGap);
    VirtualClock clock;
    FakePort port(clock);
    port.SetSettings("19200E,8,2");
    FakeMeter meter(port, at.address);
    meter.SetLine(1, at.baudRate, at.parity);
    meter.SetAnswerDelay(static_cast<std::uint32_t>(delay));
    if (exception)
        meter.EraseRegister(reg::kParamBaudCode);

    meter::ScanOptions options;
    options.order = meter::ScanOrder(first, addresses, {2400, 9600}, kAllParities);
    options.windowMs = static_cast<std::uint32_t>(window);
    options.all = all;
    MeterScan scan(port, clock, options);
    std::vector<meter::ScanHit> reported;
    scan.onFound = [&](const meter::ScanHit& hit) { reported.push_back(hit); };
    RunToEnd(scan, static_cast<std::uint32_t>(stepGap), &clock);

    QCOMPARE(reported.size(), std::size_t{1});
    QCOMPARE(Text(reported[0].at), Text(at));
    const auto requestMs =
        static_cast<int>(WireTimeMs(kShortRequestLen, at.baudRate, at.parity != 'N'));
    const auto response = static_cast<int>(reported[0].responseMs);
    QVERIFY2(response >= delay - requestMs && response <= delay - requestMs + stepGap,
             qPrintable(QString::number(response)));
    QCOMPARE(meter.Heard(), 4);
    QVERIFY(scan.Error().empty());
    QCOMPARE(port.GetSettings(), std::string("19200E,8,2"));
    QVERIFY(!port.GetPortOpen());
    if (delay > window + requestMs)
        return; // how long a late answer holds up the probe it lands in is not fixed here

    // Every probe before the meter's costs its listening time, and the last of its line the
    // fixed wait for late answers; then the meter's probe and three confirming reads, each
    // ending with its answer.
    std::uint64_t floor = 0;
    std::size_t i = 0;
    for (; options.order[i] != at; ++i)
        floor += meter::ProbeCostMs(options.order, i, options.windowMs);
    const std::uint64_t gap = InterFrameGapMs(2400, true);
    std::uint64_t expected = floor + 55 + 3 * (gap + 55);
    if (all) {
        for (++i; i < options.order.size(); ++i)
            expected += meter::ProbeCostMs(options.order, i, options.windowMs);
        expected += gap; // the first probe after the last answer keeps the gap
        QCOMPARE(scan.Progress().done, scan.Progress().total);
    }
    QCOMPARE(clock.Elapsed(), expected);
}

// Probe 7@9600N, then 8@9600N; the probe listens 10 + 20 ms.
void TestMeterScan::WhatCountsAsAMeter_data() {
    QTest::addColumn<QList<int>>("byteAt"); // each byte of the probe's answer, ms after the request
    // The confirming reads in turn: answered this long after the request, or not (-1); the
    // reads past the list are not answered.
    QTest::addColumn<QList<int>>("confirmDelays");
    QTest::addColumn<int>("responseMs"); // -1: not found
    QTest::addColumn<QString>("reads");  // answered of sent, the probe's included
    const QList<int> whole{15, 15, 15, 16, 16, 16, 16};
    const QList<int> three{30, 30, 30};
    QTest::newRow("two of three confirming reads, the probe the third answer")
        << whole << QList<int>{30, 30} << 20 << "3/4";
    QTest::newRow("every other read answered: three of five")
        << whole << QList<int>{-1, 30, -1, 30} << 20 << "3/5";
    QTest::newRow("all three") << whole << three << 20 << "4/4";
    QTest::newRow("three answer times: the median")
        << whole << QList<int>{25, 45, 60} << 35 << "4/4";
    // An answer begun by the end of the window is awaited for as long as a whole answer
    // takes, 9 ms, and a 5 ms gap, even across a pause; later the next probe goes out, but
    // not while bytes are still coming in.
    QTest::newRow("begun in the window, done after it")
        << QList<int>{28, 28, 28, 32, 32, 32, 32} << three << 20 << "4/4";
    QTest::newRow("done just in time after a pause")
        << QList<int>{22, 22, 22, 44, 44, 44, 44} << three << 20 << "4/4";
    QTest::newRow("done too late: the next request cut it off")
        << QList<int>{22, 22, 22, 45, 45, 45, 45} << three << -1 << "";
    QTest::newRow("still coming in: the next request waits for a quiet line")
        << QList<int>{28, 32, 36, 40, 43, 45, 47} << three << 20 << "4/4";
    QTest::newRow("begun after the window: credited late")
        << QList<int>{31, 31, 31, 32, 32, 32, 32} << three << 20 << "4/4";
}

void TestMeterScan::WhatCountsAsAMeter() {
    QFETCH(QList<int>, byteAt);
    QFETCH(QList<int>, confirmDelays);
    QFETCH(int, responseMs);
    QFETCH(QString, reads);
    VirtualClock clock;
    FakePort port(clock);
    const std::vector<std::uint8_t> answer = ProbeAnswer(7);
    std::vector<FakePort::Reply> pieces;
    for (std::size_t i = 0; i < answer.size(); ++i) {
        const auto at = static_cast<std::uint32_t>(byteAt[qsizetype(i)]);
        if (pieces.empty() || pieces.back().delayMs != at)
            pieces.push_back({{}, at});
        pieces.back().bytes.push_back(answer[i]);
    }
    port.QueueAnswer(pieces);
    port.SetResponder([&](std::span<const std::uint8_t> request) {
        std::vector<FakePort::Reply> replies;
        const int delay =
            request[0] == 7 && !confirmDelays.isEmpty() ? confirmDelays.takeFirst() : -1;
        if (delay >= 0)
            replies.push_back({answer, std::uint32_t(delay)});
        return replies;
    });

    meter::ScanOptions options;
    options.order = {ScanPoint{7, 9600, 'N'}, ScanPoint{8, 9600, 'N'}};
    options.windowMs = 20;
    MeterScan scan(port, clock, options);
    RunToEnd(scan);
    QCOMPARE(scan.Hits().size(), std::size_t{responseMs >= 0});
    if (responseMs < 0)
        return;
    QCOMPARE(scan.Hits()[0].responseMs, std::uint32_t(responseMs));
    QCOMPARE(QStringLiteral("%1/%2").arg(scan.Hits()[0].answered).arg(scan.Hits()[0].reads), reads);
}

// Addresses 2 to 11 at 9600 bit/s and every parity, on a line with a noise byte every 3 ms,
// and a meter at 11@9600E. A setting's line is seen to stay noisy once, after its first probe;
// from the moment it is, the estimate must hold for the rest of the scan.
void TestMeterScan::NoisyLineWaitsForQuietOncePerSetting() {
    VirtualClock clock;
    FakePort port(clock);
    for (std::uint32_t t = 3; t < 10'000; t += 3)
        port.ArriveAfter(t, {0xFF});
    port.SetResponder([&](std::span<const std::uint8_t> request) {
        std::vector<FakePort::Reply> replies;
        if (request[0] == 11 && port.GetSettings() == "9600E,8,2")
            replies.push_back({ProbeAnswer(11), 20});
        return replies;
    });
    meter::ScanOptions options;
    options.order = meter::ScanOrder({}, Range(2, 11), {9600}, kAllParities);
    options.windowMs = 20;
    options.all = true;
    MeterScan scan(port, clock, options);
    std::optional<std::uint64_t> noticedAt;
    std::uint64_t estimate = 0;
    for (int steps = 0; scan.Step(); ++steps) {
        QVERIFY2(steps < 200'000, "the scan does not end");
        if (!noticedAt && scan.Progress().noisy) {
            noticedAt = clock.Elapsed();
            estimate = scan.Progress().leftMs;
            QCOMPARE(scan.Progress().done, 1); // after the first probe's wait ran out
        }
    }
    QVERIFY(noticedAt);
    QCOMPARE(scan.Hits().size(), std::size_t{1}); // noise is no reason to stop
    QCOMPARE(Text(scan.Hits()[0].at), QStringLiteral("11@9600E"));
    const std::uint64_t took = clock.Elapsed() - *noticedAt;
    QVERIFY2(took <= estimate * 11 / 10 && estimate <= took * 11 / 10,
             qPrintable(QStringLiteral("took %1 ms, estimated %2 ms").arg(took).arg(estimate)));
}

// Units 1 to 5 behind a Modbus TCP gateway whose line runs at 1200 bit/s, odd parity (the
// gateway's business, not the tool's); unit 5, or every unit, gets pdu back, delay ms after the
// request was written, the others nothing. A probe listens for the 20 ms window only; after an
// unanswered one the scan listens on for late answers until 600 ms after it.
void TestMeterScan::OverModbusTcp_data() {
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<bool>("everyUnit");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("responseMs"); // -1: not found
    QTest::addColumn<int>("elapsedMs");
    QTest::newRow("an answer: counted from the write")
        << QByteArray("03020003") << false << 15 << 15 << 4 * 20 + 4 * 15;
    QTest::newRow("the meter's own exception")
        << QByteArray("8302") << false << 15 << 15 << 4 * 20 + 4 * 15;
    QTest::newRow("late: credited to the unit its transaction names")
        << QByteArray("03020003") << false << 40 << 40 << 4 * 20 + 4 * 40;
    // The gateway speaks for the unit it cannot reach: no meter, and nothing more to wait for.
    QTest::newRow("gateway: path unavailable") << QByteArray("830a") << true << 5 << -1 << 5 * 5;
    QTest::newRow("gateway: target failed") << QByteArray("830b") << true << 15 << -1 << 5 * 15;
}

void TestMeterScan::OverModbusTcp() {
    QFETCH(QByteArray, pdu);
    QFETCH(bool, everyUnit);
    QFETCH(int, delay);
    QFETCH(int, responseMs);
    QFETCH(int, elapsedMs);
    VirtualClock clock;
    FakePort port(clock);
    port.transport = Transport::ModbusTcp;
    const QByteArray body = QByteArray::fromHex(pdu);
    port.SetResponder([&](std::span<const std::uint8_t> adu) {
        std::vector<FakePort::Reply> replies;
        if (adu.size() < 8 || (adu[6] != 5 && !everyUnit))
            return replies;
        std::vector<std::uint8_t> frame(adu.begin(), adu.begin() + 7);
        frame[5] = static_cast<std::uint8_t>(body.size() + 1);
        frame.insert(frame.end(), body.begin(), body.end());
        replies.push_back({frame, std::uint32_t(delay)});
        return replies;
    });
    meter::ScanOptions options;
    options.order = meter::ScanOrder({}, Range(1, 5), {1200}, {'O'});
    options.windowMs = 20;
    MeterScan scan(port, clock, options);
    QCOMPARE(scan.Progress().leftMs, std::uint64_t{4 * 20 + 600});
    RunToEnd(scan);
    QCOMPARE(scan.Hits().size(), std::size_t{responseMs >= 0});
    if (responseMs >= 0) {
        QCOMPARE(int(scan.Hits()[0].at.address), 5);
        QCOMPARE(scan.Hits()[0].responseMs, std::uint32_t(responseMs));
    }
    QCOMPARE(clock.Elapsed(), std::uint64_t(elapsedMs));
}

void TestMeterScan::CancelRestoresThePort_data() {
    QTest::addColumn<int>("commPortBefore");
    QTest::addColumn<bool>("openBefore");
    QTest::addColumn<QString>("lostBefore"); // the device went away before the scan
    QTest::addColumn<bool>("otherDevice");   // the scan runs on a device not the port's
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("lostOnTheWay"); // the scan's device goes after the steps
    QTest::addColumn<QString>("lostAfter");
    QTest::newRow("closed, cancelled while listening") << 1 << false << "" << false << 4 << ""
                                                       << "";
    QTest::newRow("open on the other port") << 2 << true << "" << false << 5 << "" << "";
    QTest::newRow("cancelled before the first step") << 1 << true << "" << false << 0 << "" << "";
    QTest::newRow("lost before: the outage goes on")
        << 1 << true << "gone before" << false << 4 << "" << "gone before";
    QTest::newRow("lost on the way: the outage goes on")
        << 1 << true << "" << false << 4 << "gone on the way" << "gone on the way";
    QTest::newRow("open on another device: reopened there and back")
        << 1 << true << "" << true << 4 << "" << "";
    QTest::newRow("the other device lost: the port's own comes back")
        << 1 << true << "" << true << 4 << "gone on the way" << "";
}

void TestMeterScan::CancelRestoresThePort() {
    QFETCH(int, commPortBefore);
    QFETCH(bool, openBefore);
    QFETCH(QString, lostBefore);
    QFETCH(bool, otherDevice);
    QFETCH(int, steps);
    QFETCH(QString, lostOnTheWay);
    QFETCH(QString, lostAfter);
    VirtualClock clock;
    FakePort port(clock);
    port.SetCommPort(static_cast<std::int16_t>(commPortBefore));
    port.SetSettings("1200O,8,2");
    port.SetPortOpen(openBefore);
    if (!lostBefore.isEmpty())
        port.Lose(lostBefore.toStdString());

    meter::ScanOptions options;
    options.order = meter::ScanOrder({}, kAllAddresses, kAllRates, kAllParities);
    // The device behind the port changes only while the port is closed.
    QStringList aimed;
    options.aim = [&](bool scanning) {
        aimed << QStringLiteral("%1 %2").arg(scanning).arg(port.GetPortOpen());
        return otherDevice;
    };
    MeterScan scan(port, clock, options);
    for (int i = 0; i < steps; ++i)
        QVERIFY(scan.Step());
    if (!lostOnTheWay.isEmpty())
        port.Lose(lostOnTheWay.toStdString());
    scan.Cancel();
    const std::uint64_t at = clock.Elapsed();
    QVERIFY(!scan.Step()); // ends at the next step, without listening any further
    QCOMPARE(clock.Elapsed(), at);

    QVERIFY(scan.Finished());
    QCOMPARE(port.GetCommPort(), commPortBefore);
    QCOMPARE(port.GetSettings(), std::string("1200O,8,2"));
    QCOMPARE(QString::fromStdString(port.LostReason()), lostAfter);
    QCOMPARE(port.GetPortOpen(), openBefore && lostAfter.isEmpty());
    if (steps == 0)
        return;
    QCOMPARE(aimed.size(), 2);
    if (!otherDevice)
        return;
    QCOMPARE(aimed.last(), QStringLiteral("0 0")); // put back on a closed port
    // Reopened on the scan's device before the first probe went out.
    const std::vector<std::string> log = port.Log();
    const auto closed = std::find(log.begin(), log.end(), "PortOpen=0");
    const auto probe = std::find_if(
        log.begin(), log.end(), [](const std::string& e) { return e.rfind("Output=", 0) == 0; });
    QVERIFY(closed < probe);
}

QTEST_GUILESS_MAIN(TestMeterScan)
#include "tst_meterscan.moc"
