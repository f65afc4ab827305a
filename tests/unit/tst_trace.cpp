// The exchange's traffic trace and the adapter echo: what the sink hears, what a collection
// means in words, and that an echo is set aside only when asked for.

#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "link/Exchange.h"
#include "modbus/Frame.h"
#include "trace/TraceWriter.h"
#include "meter/Registers.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace md;

namespace {

const char* const kReadRequest = "010300060001640b";  // read 1 @0x0006 from address 1
const char* const kReadAnswer = "01030200023985";     // -> 2
const char* const kWriteRequest = "0106030201f42859"; // write @0x0302 = 500, also its echo

// Every event as one string, so a test compares the whole sequence.
struct RecordingSink : TraceSink {
    void Sent(std::span<const std::uint8_t> request, bool sent) override {
        events << QStringLiteral("sent %1%2").arg(HexOf(request), sent ? "" : " (closed)");
    }
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted&,
                  const AnswerSearch& found) override {
        events << QStringLiteral("received %1 at %2").arg(HexOf(bytes)).arg(found.offset);
    }
    void Dropped(std::span<const std::uint8_t> bytes, DropReason why) override {
        events << QStringLiteral("dropped %1 %2").arg(bytes.size()).arg(int(why));
    }
    QStringList events;
};

struct Rig {
    Rig() : port(clock), x(port, clock) {
        port.SetPortOpen(true);
        x.SetTrace(sink);
    }
    // The request goes out, then the replies arrive in the 300 ms pause before collecting.
    int Exchange(const char* request, std::vector<FakePort::Reply> replies, int expected) {
        const auto bytes = Bytes(request);
        std::copy(bytes.begin(), bytes.end(), x.m_bySendBuf.begin());
        port.QueueAnswer(std::move(replies));
        return x.Transact(int(bytes.size()), WaitKind::Sleep, 300, bytes[1], 1, expected);
    }
    VirtualClock clock;
    FakePort port;
    RecordingSink sink;
    CExchange x;
};

} // namespace

Q_DECLARE_METATYPE(EchoSeen)

class tst_trace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void LocalEchoIsSetAsideOnlyWhenAskedFor_data();
    void LocalEchoIsSetAsideOnlyWhenAskedFor();
    void SinkHearsBytesBeyondTheCopyAsDropped();
    void CollectionIsDescribed_data();
    void CollectionIsDescribed();
    void WriterFlushesEachLineInMetersimStyle();
    void AdapterWithoutEchoIsFoundByAReadAndSaidOnce();
    void RequestLostInTheSendIsNotSent();
    void WriterReportsAFailedWriteOnceAndStops();
};

void tst_trace::LocalEchoIsSetAsideOnlyWhenAskedFor_data() {
    QTest::addColumn<bool>("localEcho");
    // What reads of one register brought before the exchange, "|" between reads: "" no read,
    // "-" nothing.
    QTest::addColumn<QByteArray>("readFirst");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("arrives");
    QTest::addColumn<int>("offset");
    QTest::addColumn<EchoSeen>("echo");
    const QByteArray none;
    const QByteArray write(kWriteRequest);
    const QByteArray read(kReadRequest);
    const QByteArray nineBytes("00ff00ff00ff00ff00");
    // The reason for the option: an echoing adapter's copy of a write looks like the meter's
    // acknowledgement, so a write the meter never answered counts as confirmed.
    QTest::newRow("silent write, echo taken for the answer")
        << false << none << write << write << 0 << EchoSeen::NotExpected;
    QTest::newRow("silent write, echo set aside")
        << true << none << write << write << -1 << EchoSeen::Removed;
    QTest::newRow("answered write behind its echo")
        << true << none << write << write + write << 8 << EchoSeen::Removed;
    QTest::newRow("read behind its echo")
        << true << none << read << read + kReadAnswer << 8 << EchoSeen::Removed;
    QTest::newRow("no echo: searched as received")
        << true << none << read << QByteArray(kReadAnswer) << 0 << EchoSeen::Missing;
    QTest::newRow("nothing at all") << true << none << read << none << -1 << EchoSeen::Missing;
    // Seven echo bytes happen to pass for a 7-byte answer's address and function; set aside
    // as a cut-off echo, they are never searched.
    QTest::newRow("echo cut short")
        << true << none << read << read.left(14) << -1 << EchoSeen::CutShort;
    // An adapter that sends a glitch byte as its transmitter switches on: behind that byte the
    // echo of a write must not pass for the meter's acknowledgement.
    QTest::newRow("silent write, echo behind a glitch")
        << true << none << write << "00" + write << -1 << EchoSeen::Removed;
    QTest::newRow("answered write, echo behind a glitch")
        << true << none << write << "00" + write + write << 9 << EchoSeen::Removed;
    QTest::newRow("read, echo behind eight bytes of noise")
        << true << none << read << "0000ff00ff00ff00" + read + kReadAnswer << 16
        << EchoSeen::Removed;
    // Beyond the first bytes, only the first copy of the request can be the echo.
    QTest::newRow("silent write, echo behind nine bytes of noise")
        << true << none << write << nineBytes + write << -1 << EchoSeen::Removed;
    QTest::newRow("answered write, echo behind nine bytes of noise")
        << true << none << write << nineBytes + write + write << 17 << EchoSeen::Removed;
    QTest::newRow("echo cut short behind a glitch")
        << true << none << write << "ff" + write.left(10) << -1 << EchoSeen::CutShort;
    // An adapter that does not echo: the meter's acknowledgement of a write is a lone copy of
    // it, set aside as the echo until an answered read shows the echo missing (a silent read
    // does not).
    QTest::newRow("no echo, write after an answered read")
        << true << QByteArray(kReadAnswer) << write << write << 0 << EchoSeen::Missing;
    QTest::newRow("write after a silent read")
        << true << QByteArray("-") << write << write << -1 << EchoSeen::Removed;
    // The echo is back: set aside again, and the answer looked for behind it.
    QTest::newRow("answered write behind its echo after an answered read")
        << true << QByteArray(kReadAnswer) << write << write + write << 8 << EchoSeen::Removed;
    QTest::newRow("silent write after an answered read and then one behind its echo")
        << true << kReadAnswer + ("|" + read) + kReadAnswer << write << write << -1
        << EchoSeen::Removed;
}

void tst_trace::LocalEchoIsSetAsideOnlyWhenAskedFor() {
    QFETCH(bool, localEcho);
    QFETCH(QByteArray, readFirst);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, arrives);
    QFETCH(int, offset);
    QFETCH(EchoSeen, echo);
    Rig r;
    r.x.SetLocalEcho(localEcho);
    for (const QByteArray& read : readFirst.split('|')) {
        if (read.isEmpty())
            continue;
        std::vector<FakePort::Reply> replies;
        if (read != "-")
            replies.push_back({Bytes(read), 20});
        r.Exchange(kReadRequest, std::move(replies), 7);
    }
    std::vector<FakePort::Reply> replies;
    if (!arrives.isEmpty())
        replies.push_back({Bytes(arrives), 20});
    const int expected = request.startsWith("0103") ? 7 : 8;
    QCOMPARE(r.Exchange(request.constData(), std::move(replies), expected), offset);
    const int received = int(arrives.size() / 2);
    QCOMPARE(int(r.x.Locate(received, {Bytes(request)[1], 1, expected}).echo), int(echo));
}

void tst_trace::SinkHearsBytesBeyondTheCopyAsDropped() {
    Rig r;
    r.Exchange(kReadRequest, {{std::vector<std::uint8_t>(CExchange::kRecvSize + 12, 0x55), 20}}, 7);
    QCOMPARE(r.sink.events.at(1), QStringLiteral("dropped 12 1"));
    QVERIFY(r.sink.events.at(2).endsWith(" at -1"));
}

void tst_trace::CollectionIsDescribed_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("echoLen");
    QTest::addColumn<EchoSeen>("echo");
    QTest::addColumn<QString>("meaning");
    QTest::addColumn<QString>("notes");
    const EchoSeen none = EchoSeen::NotExpected;
    QTest::newRow("behind stray bytes, with a tail")
        << QByteArray("5a3c") + kReadAnswer + "ff" << 7 << 2 << 0 << none << "-> 2"
        << "answer at offset 2; 1 bytes after the answer";
    QTest::newRow("behind the local echo")
        << QByteArray(kReadRequest) + kReadAnswer << 7 << 8 << 8 << EchoSeen::Removed << "-> 2"
        << "local echo removed";
    QTest::newRow("silence") << QByteArray() << 7 << -1 << 0 << none << "no answer: 0 bytes"
                             << "";
    QTest::newRow("exception") << QByteArray("018302c0f1") << 7 << -1 << 0 << none
                               << "exception 0x02 (illegal data address)"
                               << "";
    QTest::newRow("truncated") << QByteArray("01030604d2") << 11 << -1 << 0 << none
                               << "no valid answer in 5 bytes"
                               << "short: 5 of 11 bytes";
    QTest::newRow("bad check") << QByteArray("01030200023986") << 7 << -1 << 0 << none
                               << "no valid answer in 7 bytes"
                               << "bad check bytes at offset 0";
    QTest::newRow("other address")
        << QByteArray("02030200027d85") << 7 << -1 << 0 << none << "no valid answer in 7 bytes"
        << "answer from address 2";
    QTest::newRow("taken from another address")
        << QByteArray("02030200027d85") << 7 << 0 << 0 << none << "-> 2"
        << "answer from address 2";
    QTest::newRow("behind a glitch and the local echo")
        << "00" + QByteArray(kReadRequest) + kReadAnswer << 7 << 9 << 9 << EchoSeen::Removed
        << "-> 2"
        << "local echo removed; 1 bytes before the echo: 00";
}

void tst_trace::CollectionIsDescribed() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);
    QFETCH(int, offset);
    QFETCH(int, echoLen);
    QFETCH(EchoSeen, echo);
    QFETCH(QString, meaning);
    QFETCH(QString, notes);
    const auto data = Bytes(bytes);
    // A removed echo is the 8-byte read request, the bytes before it line noise.
    const int echoAt = echo == EchoSeen::Removed ? echoLen - 8 : 0;
    const CollectionText t = DescribeCollection(data, {kFnReadHolding, 1, expected},
                                                AnswerSearch{offset, echoLen, echo, echoAt});
    QCOMPARE(QString::fromStdString(t.meaning), meaning);
    QCOMPARE(QString::fromStdString(t.notes), notes);
}

void tst_trace::WriterFlushesEachLineInMetersimStyle() {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/trace.txt").toStdString();
    std::string error;
    auto writer = TraceWriter::Open(path, error);
    QVERIFY(writer);
    Rig r;
    r.x.SetTrace(*writer);
    r.port.Arrive(Bytes("aabb"));
    r.Exchange(kReadRequest, {{Bytes(QByteArray("5a") + kReadAnswer), 20}}, 7);
    r.Exchange(kReadRequest, {}, 7);
    // A flood: of the 1000 bytes flushed and the 300 collected, 48 are shown.
    r.port.Arrive(std::vector<std::uint8_t>(1000, 0x55));
    r.Exchange(kReadRequest, {{std::vector<std::uint8_t>(CExchange::kRecvSize + 1, 0x55), 20}}, 7);

    // Read while the writer is still open: every line is already in the file.
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    const QString flood = QStringList(48, QStringLiteral("55")).join(' ');
    const QStringList want{
        "-- dropped 2 bytes before the request: AA BB",
        "-> 01 03 00 06 00 01 64 0B  read 1 @0x0006",
        "<- 5A 01 03 02 00 02 39 85  -> 2  [answer at offset 1]",
        "-> 01 03 00 06 00 01 64 0B  read 1 @0x0006",
        "<- no answer: 0 bytes",
        "-- dropped 1000 bytes before the request: " + flood + " ... (1000 bytes)",
        "-> 01 03 00 06 00 01 64 0B  read 1 @0x0006",
        "-- dropped 1 bytes beyond the receive copy: 55",
        "<- " + flood + " ... (300 bytes)  no valid answer in 300 bytes",
    };
    QCOMPARE(lines.size(), want.size());
    const QRegularExpression stamp("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$");
    for (int i = 0; i < lines.size(); ++i) {
        const auto m = stamp.match(lines[i]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[i]));
        QCOMPARE(m.captured(1), want[i]);
    }
}

void tst_trace::AdapterWithoutEchoIsFoundByAReadAndSaidOnce() {
    std::FILE* out = std::tmpfile();
    QVERIFY(out);
    TraceWriter writer(out, false);
    Rig r;
    r.x.SetTrace(writer);
    r.x.SetLocalEcho(true);
    const auto write = Bytes(kWriteRequest);
    QCOMPARE(r.Exchange(kWriteRequest, {{write, 20}}, 8), -1); // not known yet
    QVERIFY(!r.x.TakeNoEchoNews());
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(r.Exchange(kReadRequest, {{Bytes(kReadAnswer), 20}}, 7), 0);
        QCOMPARE(r.x.TakeNoEchoNews(), i == 0);
        QCOMPARE(r.Exchange(kWriteRequest, {{write, 20}}, 8), 0);
    }
    std::rewind(out);
    QStringList lines;
    char line[512];
    while (std::fgets(line, sizeof line, out))
        if (QByteArray(line + 13).startsWith("<-"))
            lines << QString::fromUtf8(line + 16).trimmed();
    std::fclose(out);
    const QString noEcho = "no local echo: searched as received";
    const QStringList want{
        "01 06 03 02 01 F4 28 59  no answer: 0 bytes  [local echo removed, or the answer if the "
        "adapter does not echo]",
        "01 03 02 00 02 39 85  -> 2  [" + noEcho + "; " + QString::fromUtf8(kNoEchoNote) + "]",
        "01 06 03 02 01 F4 28 59  echo ok  [" + noEcho + "]",
        "01 03 02 00 02 39 85  -> 2  [" + noEcho + "]",
        "01 06 03 02 01 F4 28 59  echo ok  [" + noEcho + "]",
    };
    QCOMPARE(lines, want);
}

// The line goes while the request is on its way: the control drops the bytes without a word.
void tst_trace::RequestLostInTheSendIsNotSent() {
    Rig r;
    r.port.SetResponder([&](std::span<const std::uint8_t>) {
        r.port.Lose("gone");
        return std::vector<FakePort::Reply>{};
    });
    const auto request = Bytes(kReadRequest);
    std::copy(request.begin(), request.end(), r.x.m_bySendBuf.begin());
    r.x.SendOnly(int(request.size()));
    QCOMPARE(r.sink.events, QStringList{QStringLiteral("sent %1 (closed)").arg(kReadRequest)});
}

// /dev/full: every write fails as on a full disk.
void tst_trace::WriterReportsAFailedWriteOnceAndStops() {
    std::FILE* full = std::fopen("/dev/full", "a");
    if (!full)
        QSKIP("no /dev/full here");
    std::FILE* errors = std::tmpfile();
    QVERIFY(errors);
    {
        TraceWriter writer(full, true, "/dev/full", errors);
        Rig r;
        r.x.SetTrace(writer);
        r.Exchange(kReadRequest, {{Bytes(kReadAnswer), 20}}, 7);
        r.Exchange(kReadRequest, {{Bytes(kReadAnswer), 20}}, 7);
        QCOMPARE(r.x.m_byRecvBuf[0], std::uint8_t(0x01)); // the exchanges went on
    }
    std::rewind(errors);
    char text[256] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, errors);
    std::fclose(errors);
    QCOMPARE(QString::fromUtf8(text, qsizetype(n)),
             QStringLiteral("MeterDebug: cannot write the trace to '/dev/full': No space left "
                            "on device; the trace is closed\n"));
}

QTEST_APPLESS_MAIN(tst_trace)
#include "tst_trace.moc"
