// The blocking exchange on a scripted port and a virtual clock: what is sent, in which order,
// how long each wait is, and what the receive copy holds afterwards.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "link/Exchange.h"
#include "modbus/Frame.h"
#include "meter/Registers.h"
#include "trace/TraceRows.h"
#include "trace/TraceWriter.h"

#include <QtTest>

#include <vector>

using namespace md;

namespace {

using Log = std::vector<std::string>;
// Pieces of what the line brings back: (ms after the request went out, hex bytes).
using Pieces = QList<QPair<int, QByteArray>>;

// Answers to "read one register at 0x0006 from address 1".
const char* const kRequest = "010300060001640b";
const char* const kAnswer2 = "01030200023985";
const char* const kAnswer7 = "0103020007f986";

struct Rig {
    explicit Rig(std::uint32_t start = 0) : clock(start), port(clock), x(port, clock) {
        port.SetPortOpen(true);
        port.ClearRecord();
    }
    int ReadDecimalPoint(WaitKind kind = WaitKind::Sleep, std::uint32_t ms = 600) {
        const int len = BuildReadRequest(x.m_bySendBuf, 1, reg::kDecimalPoint, 1);
        return x.Transact(len, kind, ms, kFnReadHolding, 1, 7);
    }
    VirtualClock clock;
    FakePort port;
    CExchange x;
};

// What the exchange last reported of a collection.
struct LastCollection final : TraceSink {
    void Sent(std::span<const std::uint8_t>, bool) override {}
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                  const AnswerSearch& found) override {
        status = CollectionStatus(bytes, wanted, found);
        notes = DescribeCollection(bytes, wanted, found).notes;
        search = found;
    }
    void Dropped(std::span<const std::uint8_t>, DropReason) override {}
    TraceStatus status = TraceStatus::Ok;
    std::string notes;
    AnswerSearch search;
};

// Sends the request given in hex and collects for 300 ms, as the setup writes do.
int TransactHex(CExchange& x, const QByteArray& hex, int expected) {
    const std::vector<std::uint8_t> request = Bytes(hex);
    std::copy(request.begin(), request.end(), x.m_bySendBuf.begin());
    return x.Transact(int(request.size()), WaitKind::Busy, 300, request[1], request[0], expected);
}

int Count(const FakePort& port, const std::string& prefix) {
    return int(std::count_if(port.Events().begin(), port.Events().end(),
                             [&](const FakePort::Event& e) { return e.what.starts_with(prefix); }));
}

} // namespace

Q_DECLARE_METATYPE(Pieces)
Q_DECLARE_METATYPE(TraceStatus)

class tst_exchange : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void FlushesThenSendsExactlyTheRequest();
    void WaitsTheGivenKindAndLength_data();
    void WaitsTheGivenKindAndLength();
    void SilentMeterGivesNoAnswer();
    void LateAnswerIsMissedAndFlushedByTheNextExchange();
    void KeepsTheFirstBytesOfAFlood();
    void CopiesOnlyTheCountedBytes();
    void ClosedPortSendsNothingButStillWaitsAndReads();
    void WriteWithoutAnswerFlushesAndSendsOnly();
    void SteadyClockCountsMilliseconds();
    void FastWaitEndsWhenTheAnswerIsLocated_data();
    void FastWaitEndsWhenTheAnswerIsLocated();
    void FastWaitOnAClosedPortLastsTheFixedTime();
    void FastPausesShrinkToTheInterFrameGap_data();
    void FastPausesShrinkToTheInterFrameGap();
    void WriteIsAnsweredOnlyByItsOwnAcknowledgement_data();
    void WriteIsAnsweredOnlyByItsOwnAcknowledgement();
    void DamagedEchoIsNoProofOfAnAdapterWithoutEcho_data();
    void DamagedEchoIsNoProofOfAnAdapterWithoutEcho();
    void ModbusTcpKeepsNoGapAndTimesFromTheWrite();
};

void tst_exchange::FlushesThenSendsExactlyTheRequest() {
    Rig r;
    r.port.Arrive(Bytes(kAnswer7)); // stale: an answer to some earlier request
    r.port.QueueAnswer(Bytes(kAnswer2), 20);
    QCOMPARE(r.ReadDecimalPoint(), 0);
    QCOMPARE(r.x.Register(0, 0), std::uint16_t(2));
    const Log want{"Input?",         "InBufferCount=0",
                   "PortOpen?",      std::string("Output=") + kRequest,
                   "InBufferCount?", "Input?"};
    QCOMPARE(r.port.Log(), want);
}

void tst_exchange::WaitsTheGivenKindAndLength_data() {
    QTest::addColumn<bool>("busy");
    QTest::addColumn<uint>("ms");
    QTest::addColumn<uint>("start"); // first tick count of the clock
    QTest::newRow("sleep 600") << false << 600u << 0u;
    QTest::newRow("sleep 300") << false << 300u << 0u;
    QTest::newRow("busy 300") << true << 300u << 1000u;
    QTest::newRow("busy 300 across the wrap") << true << 300u << 0xFFFFFF80u;
    QTest::newRow("busy 300 starting at the last tick") << true << 300u << 0xFFFFFFFFu;
    QTest::newRow("busy 300 ending on the wrap") << true << 300u << 0xFFFFFED4u;
}

void tst_exchange::WaitsTheGivenKindAndLength() {
    QFETCH(bool, busy);
    QFETCH(uint, ms);
    QFETCH(uint, start);
    Rig r(start);
    r.port.QueueAnswer(Bytes(kAnswer2), 20);
    QCOMPARE(r.ReadDecimalPoint(busy ? WaitKind::Busy : WaitKind::Sleep, ms), 0);
    QCOMPARE(WaitOf(r.port), std::uint64_t(ms));
    if (busy) {
        // Polled, napping a millisecond between reads.
        QVERIFY(r.clock.TickReads() > 2);
        for (const std::uint32_t s : r.clock.Sleeps())
            QCOMPARE(s, 1u);
    } else {
        QCOMPARE(r.clock.Sleeps(), std::vector<std::uint32_t>{ms});
        QCOMPARE(r.clock.TickReads(), 0);
    }
}

void tst_exchange::SilentMeterGivesNoAnswer() {
    Rig r;
    r.x.m_byRecvBuf.fill(0xEE);
    QCOMPARE(r.ReadDecimalPoint(), -1);
    QCOMPARE(r.port.Outputs().size(), std::size_t(1));
    QCOMPARE(r.x.m_byRecvBuf[0], std::uint8_t(0xEE)); // nothing copied
}

void tst_exchange::LateAnswerIsMissedAndFlushedByTheNextExchange() {
    Rig r;
    r.port.QueueAnswer(Bytes(kAnswer7), 700);
    QCOMPARE(r.ReadDecimalPoint(), -1);
    r.clock.Advance(200); // the late answer is now waiting in the port
    r.port.QueueAnswer(Bytes(kAnswer2), 20);
    // Without the flush the stale answer would be found first, at the same offset.
    QCOMPARE(r.ReadDecimalPoint(), 0);
    QCOMPARE(r.x.Register(0, 0), std::uint16_t(2));
}

void tst_exchange::KeepsTheFirstBytesOfAFlood() {
    Rig r;
    std::vector<std::uint8_t> noise(5000);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = std::uint8_t(i * 7 + 3);
    // Noise comes in before and after the answer; all of it during the wait.
    std::vector<FakePort::Reply> replies;
    replies.push_back({std::vector<std::uint8_t>(noise.begin(), noise.begin() + 250), 5});
    replies.push_back({Bytes(kAnswer2), 20});
    replies.push_back({noise, 100});
    r.port.QueueAnswer(std::move(replies));
    QCOMPARE(r.ReadDecimalPoint(), 250);
    QCOMPARE(r.x.Register(250, 0), std::uint16_t(2));
    QVERIFY(std::equal(noise.begin(), noise.begin() + 250, r.x.m_byRecvBuf.begin()));
    QVERIFY(std::equal(noise.begin(), noise.begin() + 43, r.x.m_byRecvBuf.begin() + 257));
    QCOMPARE(r.port.Waiting(), std::size_t(0)); // the rest was taken off the line and dropped

    // An answer that only comes after 300 bytes of noise is beyond the copy.
    replies.clear();
    replies.push_back({noise, 5});
    replies.push_back({Bytes(kAnswer2), 20});
    r.port.QueueAnswer(std::move(replies));
    QCOMPARE(r.ReadDecimalPoint(), -1);
    QVERIFY(std::equal(noise.begin(), noise.begin() + 300, r.x.m_byRecvBuf.begin()));
}

void tst_exchange::CopiesOnlyTheCountedBytes() {
    // A port on which bytes land between the count and the read: they are taken and lost.
    struct RacyPort : FakePort {
        using FakePort::FakePort;
        std::int16_t GetInBufferCount() override {
            const std::int16_t n = FakePort::GetInBufferCount();
            Arrive(Bytes(kAnswer7));
            return n;
        }
    };
    VirtualClock clock;
    RacyPort port(clock);
    port.SetPortOpen(true);
    CExchange x(port, clock);
    x.m_byRecvBuf.fill(0xEE);
    port.QueueAnswer(Bytes("ff"), 20);
    const int len = BuildReadRequest(x.m_bySendBuf, 1, reg::kDecimalPoint, 1);
    QCOMPARE(x.Transact(len, WaitKind::Sleep, 600, kFnReadHolding, 1, 7), -1);
    QCOMPARE(x.m_byRecvBuf[0], std::uint8_t(0xFF));
    QCOMPARE(x.m_byRecvBuf[1], std::uint8_t(0xEE));
    QCOMPARE(port.Waiting(), std::size_t(0));
}

void tst_exchange::ClosedPortSendsNothingButStillWaitsAndReads() {
    Rig r;
    r.port.SetPortOpen(false);
    r.port.ClearRecord();
    QCOMPARE(r.ReadDecimalPoint(), -1);
    const Log want{"Input?", "InBufferCount=0", "PortOpen?", "InBufferCount?", "Input?"};
    QCOMPARE(r.port.Log(), want);
    QCOMPARE(r.clock.Sleeps(), std::vector<std::uint32_t>{600});
}

void tst_exchange::WriteWithoutAnswerFlushesAndSendsOnly() {
    Rig r;
    FakeMeter meter(r.port);
    for (const int value : {500, 100}) {
        BuildWriteSingleRequest(r.x.m_bySendBuf, 1, reg::kUpperLimit, value);
        r.x.SendOnly(kShortRequestLen);
        r.x.WaitBetweenRequests();
    }
    const Log want{"Input?", "InBufferCount=0", "PortOpen?", "Output=0106030201f42859",
                   "Input?", "InBufferCount=0", "PortOpen?", "Output=01060302006429a5"};
    QCOMPARE(r.port.Log(), want);
    QCOMPARE(r.clock.Sleeps(), (std::vector<std::uint32_t>{300, 300}));
    QCOMPARE(meter.Writes().size(), std::size_t(2));
    // The second flush took the first echo; only the second is still waiting.
    QCOMPARE(r.port.Waiting(), std::size_t(8));
}

void tst_exchange::SteadyClockCountsMilliseconds() {
    SteadyClock clock;
    const std::uint32_t t0 = clock.GetTickCount();
    clock.Sleep(20);
    const std::uint32_t dt = clock.GetTickCount() - t0;
    QVERIFY2(dt >= 20 && dt < 2000, QByteArray::number(dt));
}

void tst_exchange::FastWaitEndsWhenTheAnswerIsLocated_data() {
    QTest::addColumn<bool>("busy");
    QTest::addColumn<uint>("ms");
    QTest::addColumn<bool>("echo"); // the adapter echoes the request
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<int>("offset");
    QTest::addColumn<uint>("ends"); // ms after the request went out

    const QByteArray wrongAddress = "02030200027d85";
    QTest::newRow("whole answer") << false << 600u << false << Pieces{{20, kAnswer2}} << 0 << 20u;
    QTest::newRow("answer in two pieces ends at the second")
        << false << 600u << false << Pieces{{10, "010302"}, {25, "00023985"}} << 0 << 25u;
    QTest::newRow("a byte a millisecond")
        << false << 600u << false << Pieces{{10, "01"}, {11, "03"}, {12, "02"}, {13, "00"},
                                            {14, "02"}, {15, "39"}, {16, "85"}}
        << 0 << 16u;
    QTest::newRow("stray prefix, then a late valid answer")
        << false << 600u << false << Pieces{{5, "ffee00"}, {450, kAnswer2}} << 3 << 450u;
    QTest::newRow("wrong address, then the answer")
        << false << 600u << false << Pieces{{10, wrongAddress}, {30, kAnswer2}} << 7 << 30u;
    QTest::newRow("exception answer")
        << false << 600u << false << Pieces{{10, "01834181"}} << -1 << 600u;
    QTest::newRow("one wrong check byte")
        << false << 600u << false << Pieces{{10, "01030200023986"}} << -1 << 600u;
    QTest::newRow("a full answer's length, not yet the answer")
        << false << 600u << false << Pieces{{10, "0103020002004512"}} << -1 << 600u;
    QTest::newRow("silent meter: the old fixed wait")
        << false << 600u << false << Pieces{} << -1 << 600u;
    QTest::newRow("answer after the fixed wait is not waited for")
        << false << 600u << false << Pieces{{700, kAnswer2}} << -1 << 600u;
    QTest::newRow("answer in the last millisecond")
        << false << 600u << false << Pieces{{600, kAnswer2}} << 0 << 600u;
    QTest::newRow("busy kind blocks the same way")
        << true << 300u << false << Pieces{{12, kAnswer2}} << 0 << 12u;
    QTest::newRow("busy kind, silent meter") << true << 300u << false << Pieces{} << -1 << 300u;
    QTest::newRow("adapter echo set aside, then the answer")
        << false << 600u << true << Pieces{{4, "01030006"}, {9, "0001640b"}, {30, kAnswer2}} << 8
        << 30u;
    QTest::newRow("adapter glitch, echo, then the answer")
        << false << 600u << true << Pieces{{3, "00"}, {9, kRequest}, {30, kAnswer2}} << 9 << 30u;
    // A late answer to an identical earlier read lands ahead of the echo: this read's answer
    // still follows the echo.
    QTest::newRow("late answer ahead of the echo is not taken")
        << false << 600u << true << Pieces{{5, kAnswer7}, {9, kRequest}, {30, kAnswer2}} << 15
        << 30u;
}

void tst_exchange::FastWaitEndsWhenTheAnswerIsLocated() {
    QFETCH(bool, busy);
    QFETCH(uint, ms);
    QFETCH(bool, echo);
    QFETCH(Pieces, pieces);
    QFETCH(int, offset);
    QFETCH(uint, ends);
    Rig r;
    r.x.SetFastWaits(true);
    r.x.SetLocalEcho(echo);
    std::vector<FakePort::Reply> replies;
    QByteArray all;
    for (const auto& [at, hex] : pieces) {
        replies.push_back({Bytes(hex), std::uint32_t(at)});
        if (std::uint32_t(at) <= ends)
            all += hex;
    }
    r.port.QueueAnswer(std::move(replies));

    QCOMPARE(r.ReadDecimalPoint(busy ? WaitKind::Busy : WaitKind::Sleep, ms), offset);
    QCOMPARE(r.clock.Elapsed() - r.port.Outputs().at(0).at, std::uint64_t(ends));
    // Everything that came in before the end is in the copy, gathered piece by piece.
    QCOMPARE(HexOf(std::span(r.x.m_byRecvBuf).first(std::size_t(all.size() / 2))), all);
    // Blocked on the port once per arrival (and once more when the time ran out), never polled
    // and never napping.
    const int arrivals = int(std::count_if(pieces.begin(), pieces.end(),
                                           [&](const auto& p) { return uint(p.first) <= ends; }));
    QCOMPARE(Count(r.port, "WaitForInput="), arrivals + (offset < 0 ? 1 : 0));
    QVERIFY(r.clock.Sleeps().empty());
}

void tst_exchange::FastWaitOnAClosedPortLastsTheFixedTime() {
    Rig r;
    r.x.SetFastWaits(true);
    r.port.SetPortOpen(false);
    QCOMPARE(r.ReadDecimalPoint(WaitKind::Busy, 300), -1);
    QCOMPARE(r.clock.Elapsed(), std::uint64_t(300));
    QCOMPARE(r.clock.Sleeps(), std::vector<std::uint32_t>{300});
    QVERIFY(r.port.Outputs().empty());
}

void tst_exchange::FastPausesShrinkToTheInterFrameGap_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("parity");
    QTest::addColumn<uint>("gap"); // microseconds: 3.5 characters, rounded up
    QTest::newRow("1200") << 1200 << false << 32084u;
    QTest::newRow("1200 with parity") << 1200 << true << 35000u;
    QTest::newRow("9600") << 9600 << false << 4011u;
    QTest::newRow("19200 with parity") << 19200 << true << 2188u;
}

void tst_exchange::FastPausesShrinkToTheInterFrameGap() {
    QFETCH(int, rate);
    QFETCH(bool, parity);
    QFETCH(uint, gap);
    Rig r;
    r.x.SetFastWaits(true);
    r.x.SetLine(rate, parity);
    for (int i = 0; i < 3; ++i)
        r.port.QueueAnswer(Bytes(kAnswer2), 20);

    QCOMPARE(r.ReadDecimalPoint(), 0); // the first request goes out at once
    r.x.WaitBetweenRequests();
    QCOMPARE(r.ReadDecimalPoint(), 0); // the pause was the gap, and only once
    QCOMPARE(r.ReadDecimalPoint(), 0); // back to back, the gap is still kept
    const auto& out = r.port.Outputs();
    QCOMPARE(out.at(0).atUs, std::uint64_t(0));
    QCOMPARE(out.at(1).atUs - out.at(0).atUs, std::uint64_t(20'000 + gap));
    QCOMPARE(out.at(2).atUs - out.at(1).atUs, std::uint64_t(20'000 + gap));

    // A wait that ran out is followed by the gap too, counted from its end.
    QCOMPARE(r.ReadDecimalPoint(), -1);
    r.port.QueueAnswer(Bytes(kAnswer2), 20);
    QCOMPARE(r.ReadDecimalPoint(), 0);
    QCOMPARE(out.at(4).atUs - out.at(3).atUs, std::uint64_t(600'000 + gap));
}

void tst_exchange::WriteIsAnsweredOnlyByItsOwnAcknowledgement_data() {
    // 0 no local echo, 1 local echo, 2 local echo on an adapter a read has shown not to echo
    QTest::addColumn<int>("echoMode");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("arrives");
    QTest::addColumn<int>("offset");
    QTest::addColumn<TraceStatus>("status");
    QTest::addColumn<int>("stale");
    const QByteArray pt111Ack = "01100000000241c8";
    const QByteArray ct333 = "01100004000204014d000063b7", ct333Ack = "0110000400020009";
    const QByteArray ctRefused = "0190044dc3"; // exception 04
    const QByteArray wiring3 = "010600020003680b", wiringRefused = "0186030261";
    const QByteArray upper500Ack = "0106030201f42859";
    // The acknowledgement of a write that answered after its own wait ended, in the next one's.
    QTest::newRow("late acknowledgement of another write, then the refusal")
        << 0 << ct333 << pt111Ack + ctRefused << -1 << TraceStatus::Exception << 1;
    QTest::newRow("refusal, then a late acknowledgement of another write")
        << 0 << ct333 << ctRefused + pt111Ack << -1 << TraceStatus::Exception << 0;
    QTest::newRow("late acknowledgement of another write, then its own")
        << 0 << ct333 << pt111Ack + ct333Ack << 8 << TraceStatus::Ok << 1;
    QTest::newRow("only a late acknowledgement of another write")
        << 0 << ct333 << pt111Ack << -1 << TraceStatus::NoAnswer << 1;
    QTest::newRow("acknowledgement of another register, then its own")
        << 0 << wiring3 << upper500Ack + wiring3 << 8 << TraceStatus::Ok << 1;
    // An echoing adapter's copy of the write, and the meter's refusal behind it.
    QTest::newRow("copy, then a refusal: no local echo")
        << 0 << wiring3 << wiring3 + wiringRefused << -1 << TraceStatus::Exception << 0;
    QTest::newRow("copy, then a refusal: local echo")
        << 1 << wiring3 << wiring3 + wiringRefused << -1 << TraceStatus::Exception << 0;
    QTest::newRow("copy, then a refusal: adapter found not to echo")
        << 2 << wiring3 << wiring3 + wiringRefused << -1 << TraceStatus::Exception << 0;
}

void tst_exchange::WriteIsAnsweredOnlyByItsOwnAcknowledgement() {
    QFETCH(int, echoMode);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, arrives);
    QFETCH(int, offset);
    QFETCH(TraceStatus, status);
    QFETCH(int, stale);
    Rig r;
    LastCollection trace;
    r.x.SetTrace(trace);
    r.x.SetLocalEcho(echoMode > 0);
    if (echoMode == 2) {
        r.port.QueueAnswer(Bytes(kAnswer2), 20);
        QCOMPARE(r.ReadDecimalPoint(), 0);
        QVERIFY(r.x.TakeNoEchoNews());
    }
    r.port.QueueAnswer(Bytes(arrives), 20);
    QCOMPARE(TransactHex(r.x, request, 8), offset);
    QCOMPARE(trace.status, status);
    QCOMPARE(trace.search.stale, stale);
    QCOMPARE(trace.notes.find("stale acknowledgement at offset 0 set aside") != std::string::npos,
             stale > 0);
}

void tst_exchange::DamagedEchoIsNoProofOfAnAdapterWithoutEcho_data() {
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("arrives");
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("noEcho"); // the read is taken to show that the adapter does not echo
    QTest::addColumn<bool>("again");  // local echo is switched on again after the read
    QTest::addColumn<int>("write");   // the offset a silent write's lone copy is found at
    const QByteArray read3 = "01030000000305cb";
    QTest::newRow("one bit flipped in the read's echo")
        << QByteArray(kRequest) << "010300070001640b" + QByteArray(kAnswer2) << 8 << false << false
        << -1;
    QTest::newRow("late identical three-register answer ahead of the echo")
        << read3 << "010306000100020003fd74" + read3 + "01030600040005000640b6" << 19 << false
        << false << -1;
    QTest::newRow("nine noise bytes ahead of the read's echo")
        << QByteArray(kRequest) << "00ff00ff00ff00ff00" + QByteArray(kRequest) + kAnswer2 << 17
        << false << false << -1;
    QTest::newRow("an answer where no echo could fit, then local echo switched on again")
        << QByteArray(kRequest) << QByteArray(kAnswer2) << 0 << true << true << -1;
}

void tst_exchange::DamagedEchoIsNoProofOfAnAdapterWithoutEcho() {
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, arrives);
    QFETCH(int, offset);
    QFETCH(bool, noEcho);
    QFETCH(bool, again);
    QFETCH(int, write);
    Rig r;
    r.x.SetLocalEcho(true);
    r.port.QueueAnswer(Bytes(arrives), 20);
    const int registers = read.endsWith("05cb") ? 3 : 1;
    QCOMPARE(TransactHex(r.x, read, ReadAnswerLen(registers)), offset);
    QCOMPARE(r.x.Register(offset, registers - 1), std::uint16_t(registers == 3 ? 6 : 2));
    QCOMPARE(r.x.TakeNoEchoNews(), noEcho);
    if (again)
        r.x.SetLocalEcho(true);
    // A meter that does not answer writes: only the adapter's copy comes back.
    const QByteArray wiring = "010600020003680b";
    r.port.QueueAnswer(Bytes(wiring), 20);
    QCOMPARE(TransactHex(r.x, wiring, 8), write);
}

void tst_exchange::ModbusTcpKeepsNoGapAndTimesFromTheWrite() {
    Rig r;
    LastCollection trace;
    r.x.SetTrace(trace);
    r.port.transport = Transport::ModbusTcp;
    r.x.SetFastWaits(true);
    r.x.SetLine(1200, true);
    // A gateway that answers every read 40 ms after it was written: header, then the PDU.
    r.port.SetResponder([](std::span<const std::uint8_t> adu) {
        std::vector<std::uint8_t> answer(adu.begin(), adu.begin() + 4);
        const std::vector<std::uint8_t> pdu{0x00, 0x05, adu[6], 0x03, 0x02, 0x00, 0x02};
        answer.insert(answer.end(), pdu.begin(), pdu.end());
        return std::vector<FakePort::Reply>{{answer, 40}};
    });
    for (int i = 0; i < 3; ++i) {
        if (i == 1)
            r.x.WaitBetweenRequests();
        QVERIFY(r.ReadDecimalPoint() >= 0);
        QCOMPARE(trace.search.responseMs, 40);
    }
    const auto& out = r.port.Outputs();
    QCOMPARE(out.at(1).atUs - out.at(0).atUs, std::uint64_t(40'000));
    QCOMPARE(out.at(2).atUs - out.at(1).atUs, std::uint64_t(40'000));
}

QTEST_APPLESS_MAIN(tst_exchange)
#include "tst_exchange.moc"
