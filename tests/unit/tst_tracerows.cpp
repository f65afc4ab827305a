// The traffic monitor's rows: the same lines the trace file gets, a status word for each kind
// of exchange, the response time of each collection, and long byte runs counted, not shown.

#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "link/Exchange.h"
#include "trace/TraceFanOut.h"
#include "trace/TraceRows.h"
#include "trace/TraceWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <utility>

using namespace md;

namespace {

const char* const kReadRequest = "010300060001640b"; // read 1 @0x0006 from address 1

// The trace file and the rows hear the same exchanges through one fan-out.
struct Rig {
    Rig() : port(clock), x(port, clock), rows([this](TraceRow&& r) { made.push_back(r); }) {
        port.SetPortOpen(true);
        writer = TraceWriter::Open(dir.filePath(QStringLiteral("trace.txt")).toStdString(), error);
        fanOut.Add(*writer);
        fanOut.Add(rows);
        x.SetTrace(fanOut);
    }
    int Exchange(const char* request, std::vector<FakePort::Reply> replies) {
        const auto bytes = Bytes(request);
        std::copy(bytes.begin(), bytes.end(), x.m_bySendBuf.begin());
        port.QueueAnswer(std::move(replies));
        return x.Transact(int(bytes.size()), WaitKind::Sleep, 300, bytes[1], 1, 7);
    }
    // The trace file's lines after their time stamps.
    QStringList TraceLines() {
        writer.reset();
        QFile file(dir.filePath(QStringLiteral("trace.txt")));
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    lines << QString::fromUtf8(line.mid(12));
        return lines;
    }

    QTemporaryDir dir;
    std::string error;
    std::unique_ptr<TraceWriter> writer;
    VirtualClock clock;
    FakePort port;
    CExchange x;
    std::vector<TraceRow> made;
    TraceRowMaker rows;
    TraceFanOut fanOut;
};

} // namespace

class tst_tracerows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void RowsAreTheTraceLinesWithAStatus_data();
    void RowsAreTheTraceLinesWithAStatus();
};

void tst_tracerows::RowsAreTheTraceLinesWithAStatus_data() {
    // Arrives 20 ms after the request, each further piece after "|" 15 ms later; empty: none.
    QTest::addColumn<QByteArray>("reply");
    // 0 none, 1 local echo, 2 port closed, 3 a long stale run; 4 and 5: 0 and 1 with fast waits
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("statuses");
    QTest::addColumn<TraceStatus>("outcome");
    // The collection's response time; -1: an empty cell. A fixed wait does not watch the line,
    // so it never knows; the request takes 10 ms on the line at 9600 bit/s.
    QTest::addColumn<int>("response");
    const QByteArray answer("01030200023985");
    QTest::newRow("answered") << answer << 0 << "ok,ok" << TraceStatus::Ok << -1;
    QTest::newRow("silent") << QByteArray() << 0 << "ok,no answer" << TraceStatus::NoAnswer << -1;
    QTest::newRow("short") << QByteArray("010302") << 0 << "ok,no answer" << TraceStatus::NoAnswer
                           << -1;
    QTest::newRow("check bytes spoilt")
        << QByteArray("01030200020000") << 0 << "ok,check error" << TraceStatus::CheckError << -1;
    QTest::newRow("another address") << QByteArray("02030200027d85") << 0 << "ok,wrong address"
                                     << TraceStatus::WrongAddress << -1;
    QTest::newRow("exception") << QByteArray("018302c0f1") << 0 << "ok,exception"
                               << TraceStatus::Exception << -1;
    QTest::newRow("behind the echo")
        << kReadRequest + answer << 1 << "ok,echo removed" << TraceStatus::EchoRemoved << -1;
    QTest::newRow("port closed") << QByteArray() << 2 << "not sent,no answer"
                                 << TraceStatus::NotSent << -1;
    QTest::newRow("long stale run") << answer << 3 << "dropped,ok,ok" << TraceStatus::Ok << -1;
    QTest::newRow("fast: answered") << answer << 4 << "ok,ok" << TraceStatus::Ok << 10;
    QTest::newRow("fast: answer in two pieces")
        << "010302|" + answer.mid(6) << 4 << "ok,ok" << TraceStatus::Ok << 25;
    QTest::newRow("fast: silent") << QByteArray() << 4 << "ok,no answer" << TraceStatus::NoAnswer
                                  << -1;
    QTest::newRow("fast: short, the wait runs out")
        << QByteArray("010302") << 4 << "ok,no answer" << TraceStatus::NoAnswer << 10;
    QTest::newRow("fast: behind the echo") << kReadRequest + QByteArray("|") + answer << 5
                                           << "ok,echo removed" << TraceStatus::EchoRemoved << 25;
}

void tst_tracerows::RowsAreTheTraceLinesWithAStatus() {
    QFETCH(QByteArray, reply);
    QFETCH(int, setup);
    QFETCH(QString, statuses);
    QFETCH(TraceStatus, outcome);
    QFETCH(int, response);
    Rig r;
    QVERIFY2(r.writer, r.error.c_str());
    r.x.SetFastWaits(setup >= 4);
    r.x.SetLocalEcho(setup % 4 == 1);
    if (setup == 2)
        r.port.SetPortOpen(false);
    if (setup == 3)
        r.port.Arrive(std::vector<std::uint8_t>(4000, 0x55));
    std::vector<FakePort::Reply> replies;
    std::uint32_t at = 20;
    for (const QByteArray& piece : reply.split('|'))
        if (!piece.isEmpty())
            replies.push_back({Bytes(piece), std::exchange(at, at + 15)});
    r.Exchange(kReadRequest, replies);

    QStringList rowLines, words;
    for (const TraceRow& row : r.made) {
        const std::string hex(row.Hex());
        const std::string rebuilt = std::string(row.Time()) + ' ' + std::string(row.Direction()) +
                                    ' ' + (hex.empty() ? "" : hex + "  ") +
                                    std::string(row.Meaning());
        QCOMPARE(QString::fromStdString(rebuilt), QString::fromStdString(row.line));
        rowLines << QString::fromStdString(row.line.substr(12));
        words << StatusWord(row.status);
        QCOMPARE(row.responseMs, row.Direction() == "<-" ? response : -1);
    }
    QCOMPARE(rowLines, r.TraceLines());
    QCOMPARE(words.join(','), statuses);
    QCOMPARE(StatusWord(r.rows.LastOutcome()), StatusWord(outcome));
    // Long byte runs are counted, not shown.
    const QString shown = QStringList(48, QStringLiteral("55")).join(' ');
    if (setup == 3)
        QVERIFY(rowLines[0].endsWith(QStringLiteral("request: ") + shown + " ... (4000 bytes)"));
}

QTEST_GUILESS_MAIN(tst_tracerows)
#include "tst_tracerows.moc"
