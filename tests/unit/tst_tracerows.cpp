// The traffic monitor's rows: the same lines the trace file gets, a status word for each kind
// of exchange, the response time of each collection, and long byte runs counted, not shown.

#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "link/Exchange.h"
#include "link/TraceFanOut.h"
#include "link/TraceRows.h"
#include "link/TraceWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace md;

namespace {

const char* const kReadRequest = "010300060001640b"; // read 1 @0x0006 from address 1

// The trace file and the rows hear the same exchanges through one fan-out.
struct Rig {
    Rig() : port(clock), x(port, clock), rows(clock, [this](TraceRow&& r) { made.push_back(r); }) {
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
    QTest::addColumn<QByteArray>("reply"); // arrives 20 ms after the request; empty: none
    QTest::addColumn<int>("setup"); // 0 none, 1 local echo, 2 port closed, 3 a long stale run
    QTest::addColumn<QString>("statuses");
    QTest::addColumn<TraceStatus>("outcome");
    const QByteArray answer("01030200023985");
    QTest::newRow("answered") << answer << 0 << "ok,ok" << TraceStatus::Ok;
    QTest::newRow("silent") << QByteArray() << 0 << "ok,no answer" << TraceStatus::NoAnswer;
    QTest::newRow("short") << QByteArray("010302") << 0 << "ok,no answer" << TraceStatus::NoAnswer;
    QTest::newRow("check bytes spoilt")
        << QByteArray("01030200020000") << 0 << "ok,check error" << TraceStatus::CheckError;
    QTest::newRow("another address")
        << QByteArray("02030200027d85") << 0 << "ok,wrong address" << TraceStatus::WrongAddress;
    QTest::newRow("exception") << QByteArray("018302c0f1") << 0 << "ok,exception"
                               << TraceStatus::Exception;
    QTest::newRow("behind the echo")
        << kReadRequest + answer << 1 << "ok,echo removed" << TraceStatus::EchoRemoved;
    QTest::newRow("port closed") << QByteArray() << 2 << "not sent,no answer"
                                 << TraceStatus::NotSent;
    QTest::newRow("long stale run") << answer << 3 << "dropped,ok,ok" << TraceStatus::Ok;
}

void tst_tracerows::RowsAreTheTraceLinesWithAStatus() {
    QFETCH(QByteArray, reply);
    QFETCH(int, setup);
    QFETCH(QString, statuses);
    QFETCH(TraceStatus, outcome);
    Rig r;
    QVERIFY2(r.writer, r.error.c_str());
    r.x.SetLocalEcho(setup == 1);
    if (setup == 2)
        r.port.SetPortOpen(false);
    if (setup == 3)
        r.port.Arrive(std::vector<std::uint8_t>(4000, 0x55));
    std::vector<FakePort::Reply> replies;
    if (!reply.isEmpty())
        replies.push_back({Bytes(reply), 20});
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
        // Only a collection after a request that went out has a response time: the wait.
        const bool timed = row.Direction() == "<-" && setup != 2;
        QCOMPARE(row.responseMs, timed ? 300 : -1);
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
