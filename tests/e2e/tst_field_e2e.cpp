// Field options over a real line to metersim: an adapter that echoes the tool's bytes
// (metersim --echo) with and without --local-echo, and the tool's traffic trace laid beside
// metersim's own, frame for frame; the trace file keeps every line through a kill.

#include "fakes/MainWindowRig.h"
#include "modbus/Frame.h"
#include "port/MSComm.h"
#include "trace/TraceWriter.h"
#include "meter/Registers.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace md;

namespace {

using Window = MainWindowRig;

// The frames of a trace (the tool's or metersim's) as "-> HEX" and "<- HEX", in order. A
// collection of no bytes is "<- "; metersim's answers the line lost are left out, since the
// tool never sees them.
QStringList Frames(const QStringList& lines) {
    static const QRegularExpression frame(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (->|<-) ((?:[0-9A-F]{2}(?: |$))*)"));
    QStringList frames;
    for (const QString& line : lines) {
        const auto m = frame.match(line);
        if (m.hasMatch() && !line.contains(QStringLiteral("answer lost")))
            frames << m.captured(1) + ' ' + m.captured(2).trimmed();
    }
    return frames;
}

QStringList ReadLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestFieldE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void EchoingAdapterAndLocalEcho_data();
    void EchoingAdapterAndLocalEcho();
    void ReadsPollsAndWritesWorkBehindTheEcho();
    void ToolTraceMatchesMetersimFrameForFrame();
    void TraceFileKeepsItsLinesThroughAKill();
    void PollForeverWithTrace();
};

void TestFieldE2e::EchoingAdapterAndLocalEcho_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("localEcho");
    QTest::addColumn<QString>("box");
    // The reason for --local-echo: the adapter's copy of each write passes for the meter's
    // acknowledgement, so a write the meter never answered is reported as done.
    QTest::newRow("unanswered write wrongly confirmed without the option")
        << QStringList{"--echo", "--silent-write", "0x0302"} << false
        << QStringLiteral("写数据成功！");
    QTest::newRow("unanswered write reported with the option")
        << QStringList{"--echo", "--silent-write", "0x0302"} << true
        << QStringLiteral("写数据不成功");
    // An adapter that sends a glitch byte as its transmitter switches on, before each echo.
    QTest::newRow("unanswered write reported behind an adapter glitch")
        << QStringList{"--echo", "--echo-glitch", "00", "--silent-write", "0x0302"} << true
        << QStringLiteral("写数据不成功");
    // Behind more glitch bytes than the echo is first looked for in, the meter's answer to each
    // write (a copy of the request) still follows the echo.
    QTest::newRow("answered writes behind nine glitch bytes")
        << QStringList{"--echo", "--echo-glitch", "00 FF 00 FF 00 FF 00 FF 00"} << true
        << QStringLiteral("写数据成功！");
}

void TestFieldE2e::EchoingAdapterAndLocalEcho() {
    QFETCH(QStringList, options);
    QFETCH(bool, localEcho);
    QFETCH(QString, box);
    MeterSim sim(options);
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    w.dlg.Link().SetLocalEcho(localEcho);
    w.Run([&] {
        w.Type(1059, QStringLiteral("900"));
        w.Type(1060, QStringLiteral("60"));
        w.Type(1052, QStringLiteral("2"));
        w.Type(1061, QStringLiteral("9600"));
        w.Click(1024);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{box});
    // Silent or not, the meter carried every write out.
    QCOMPARE(sim.Get("upper"), std::optional<int>(900));
    QCOMPARE(sim.Get("lower"), std::optional<int>(60));
}

void TestFieldE2e::ReadsPollsAndWritesWorkBehindTheEcho() {
    MeterSim sim(
        {"--echo", "--set", "upper=800", "--set", "decimal=1", "--currents", "1234,100,65535"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    w.dlg.Link().SetLocalEcho(true);
    w.Run([&] {
        w.Click(1023);
        QCOMPARE(w.Text(1059), QStringLiteral("800"));
        QCOMPARE(w.Text(1052), QStringLiteral("1"));
        w.Click(1065);
        w.dlg.OnTimer(1);
        w.Click(1064);
        QCOMPARE((QStringList{w.Text(1051), w.Text(1062), w.Text(1063)}),
                 (QStringList{"123.4000", "10.0000", "6553.5000"}));
        QCOMPARE(w.Text(1069), QStringLiteral("1"));
        QCOMPARE(w.Text(1070), QStringLiteral("0"));
        w.Type(1059, QStringLiteral("900"));
        w.Click(1024);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{QStringLiteral("写数据成功！")});
    QCOMPARE(sim.Get("upper"), std::optional<int>(900));
}

void TestFieldE2e::ToolTraceMatchesMetersimFrameForFrame() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    std::string error;
    const auto writer = TraceWriter::Open(path.toStdString(), error);
    QVERIFY2(writer, error.c_str());

    MeterSim sim({"--trace"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    w.dlg.Link().SetTrace(*writer);
    w.Run([&] {
        w.Click(1065);
        w.dlg.OnTimer(1); // a poll: decimal point, then the three currents
        w.Click(1064);
        QVERIFY(sim.Fault(QStringLiteral("bad-crc once")));
        w.Type(1059, QStringLiteral("500"));
        w.Click(1024); // the first of the four writes has its echo spoiled
    });
    QCOMPARE(w.modal.Boxes(), QStringList{QStringLiteral("写数据不成功")});
    QVERIFY(!sim.Command(QStringLiteral("status")).isEmpty());

    const QStringList tool = ReadLines(path);
    const QStringList frames = Frames(tool);
    QCOMPARE(frames.size(), 12); // two reads and four writes, each sent and collected
    QCOMPARE(frames, Frames(sim.Trace()));
    // The tool's own reading of the same traffic.
    QVERIFY(tool.filter(QStringLiteral("  read 3 @0x0000")).size() == 1);
    QVERIFY(tool.filter(QStringLiteral("  -> 1234 100 65535")).size() == 1);
    QVERIFY(tool.filter(QStringLiteral("  write @0x0302 = 500")).size() == 1);
    QVERIFY(tool.filter(QStringLiteral("  echo ok")).size() == 3);
    QVERIFY(tool.filter(QStringLiteral("no valid answer in 8 bytes  [bad check bytes")).size() ==
            1);
}

// Runs in a child that the next test starts and kills: reads the meter until killed, tracing
// to the file named by FIELD_TRACE.
void TestFieldE2e::PollForeverWithTrace() {
    const QString path = qEnvironmentVariable("FIELD_TRACE");
    if (path.isEmpty())
        QSKIP("runs only as the child of TraceFileKeepsItsLinesThroughAKill");
    std::string error;
    const auto writer = TraceWriter::Open(path.toStdString(), error);
    QVERIFY2(writer, error.c_str());
    CMSComm comm;
    comm.SetDevice(1, qEnvironmentVariable("FIELD_LINK"));
    comm.SetSettings("9600N,8,2");
    comm.SetPortOpen(true);
    SteadyClock clock;
    CExchange x(comm, clock);
    x.SetTrace(*writer);
    for (;;) {
        const int len = BuildReadRequest(x.m_bySendBuf, 1, reg::kClock, 3);
        x.Transact(len, WaitKind::Sleep, 300, kFnReadHolding, 1, ReadAnswerLen(3));
    }
}

void TestFieldE2e::TraceFileKeepsItsLinesThroughAKill() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FIELD_TRACE"), path);
    env.insert(QStringLiteral("FIELD_LINK"), sim.LinkPath());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("PollForeverWithTrace")});
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(ReadLines(path).size() >= 6, 10000);
    child.kill();
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QStringList lines = ReadLines(path);
    QVERIFY(lines.size() >= 6);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith('\n')); // no line cut in half
    const QStringList frames = Frames(lines);
    QCOMPARE(frames.size(), lines.size());
    for (int i = 0; i + 1 < frames.size(); i += 2) {
        QCOMPARE(frames[i], QStringLiteral("-> 01 03 01 10 00 03 05 F2"));
        QVERIFY2(lines[i + 1].contains(QStringLiteral("  -> ")), qPrintable(lines[i + 1]));
    }
}

QTEST_MAIN(TestFieldE2e)
#include "tst_field_e2e.moc"
