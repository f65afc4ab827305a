// A station script in miniature, run by the built MeterDebug over a real pseudo-terminal to
// metersim: give a new meter its address and thresholds and read them back with its clock,
// then five polls of which a line fault spoils one. Bad usage sends nothing. Then what only a
// real process shows: Ctrl-C in the middle of a run, results that cannot be written, a file
// size limit, and a gateway's refusal over Modbus TCP.

#include "fakes/MeterSim.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace md;

namespace {

struct Run {
    int exitCode = -1;
    QList<QJsonObject> objects; // one per line of standard output
    QString err;
};

Run Tool(const QStringList& args) {
    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"), args);
    Run run;
    if (!tool.waitForFinished(30'000))
        return run;
    run.exitCode = tool.exitCode();
    for (const QByteArray& line : tool.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            run.objects << QJsonDocument::fromJson(line).object();
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

} // namespace

class TestScriptE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void StationScript();
    void InterruptFinishesTheBlockAndGivesThePortBack();
    void ResultsThatGoNowhereStopTheRun_data();
    void ResultsThatGoNowhereStopTheRun();
    void FileSizeLimitLeavesWholeRows();
    void GatewayRefusalInOneWord();
};

void TestScriptE2e::StationScript() {
    MeterSim sim({"--clock", "2006-11-15 10:30:45", "--set", "decimal=3"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    const QStringList line{"--com1", sim.LinkPath(), "--fast", "--json"};

    const Run bad = Tool(line + QStringList{"--write-params", "upper=70000"});
    QCOMPARE(bad.exitCode, 2);
    QCOMPARE(bad.err,
             QStringLiteral("MeterDebug: --write-params: upper is 0 to 65535, not '70000'\n"));
    QCOMPARE(sim.Get("upper"), 500);

    const Run setup =
        Tool(line + QStringList{"--set-address", "9", "--write-params", "upper=900,lower=40",
                                "--read-params", "--read-clock"});
    QCOMPARE(setup.exitCode, 0);
    QCOMPARE(setup.objects.size(), 4);
    QCOMPARE(sim.Get("address"), 9);
    const QJsonObject read = setup.objects[2];
    QCOMPARE(read["operation"].toString(), "read-params");
    QCOMPARE(read["upper"].toInt(), 900);
    QCOMPARE(read["lower"].toInt(), 40);
    QCOMPARE(read["point"].toInt(), 3);
    QCOMPARE(setup.objects[3]["clock"].toString(), "2006-11-15T10:30:45");

    QVERIFY(sim.Fault("silent once"));
    const Run polls = Tool(line + QStringList{"--address", "9", "--read-currents", "--count", "5",
                                              "--interval", "0", "--keep-going"});
    QCOMPARE(polls.exitCode, 1);
    QCOMPARE(polls.objects.size(), 5);
    int failed = 0;
    for (const QJsonObject& poll : polls.objects) {
        if (!poll["ok"].toBool()) {
            ++failed;
            QCOMPARE(poll["error"].toString(), "no_answer");
            QCOMPARE(poll["message"].toString(), QString::fromUtf8("读数据不成功"));
            continue;
        }
        QCOMPARE(poll["phase_a"].toDouble(), 1.234);
        QCOMPARE(poll["phase_c"].toDouble(), 65.535);
    }
    QCOMPARE(failed, 1);
}

// A terminal keeps the settings last put to it: Ctrl-C during a parameter block lets the block
// end whole, reports the rest as not run, and gives the device back as it was found.
void TestScriptE2e::InterruptFinishesTheBlockAndGivesThePortBack() {
    MeterSim sim({"--baud", "2400"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    // Held open from before, at a rate of its own, so the settings can be read afterwards.
    const int fd = ::open(sim.LinkPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios before{};
    QCOMPARE(::tcgetattr(fd, &before), 0);
    cfsetospeed(&before, B1200);
    cfsetispeed(&before, B1200);
    QCOMPARE(::tcsetattr(fd, TCSANOW, &before), 0);

    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"),
               {"--com1", sim.LinkPath(), "--rate", "2400", "--json", "--write-params",
                "upper=900,lower=40,rate=2400,point=1", "--read-clock"});
    // The block writes the decimal point, then upper, then lower, each with its fixed wait.
    for (int i = 0; i < 500 && sim.Get("upper") != 900; ++i)
        QTest::qWait(10);
    QCOMPARE(sim.Get("upper"), 900);
    ::kill(static_cast<pid_t>(tool.processId()), SIGINT);
    QVERIFY2(tool.waitForFinished(10'000), "the run did not end");
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit); // ended by the signal, as asked

    termios after{};
    QCOMPARE(::tcgetattr(fd, &after), 0);
    ::close(fd);
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    QCOMPARE(sim.Get("lower"), 40);
    QCOMPARE(sim.Get("decimal"), 1);
    const QList<QByteArray> lines = tool.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject block = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(block["operation"].toString(), "write-params");
    QVERIFY(block["ok"].toBool());
    const QJsonObject clock = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(clock["operation"].toString(), "read-clock");
    QCOMPARE(clock["error"].toString(), "interrupted");
}

void TestScriptE2e::ResultsThatGoNowhereStopTheRun_data() {
    QTest::addColumn<bool>("full"); // standard output on /dev/full, else a pipe nobody reads
    QTest::addColumn<QString>("reason");
    QTest::newRow("a full disk") << true << "No space left on device";
    QTest::newRow("a reader that went away") << false << "Broken pipe";
}

// The PT is written and its result goes nowhere: the CT is not written, and the status says so.
void TestScriptE2e::ResultsThatGoNowhereStopTheRun() {
    QFETCH(bool, full);
    QFETCH(QString, reason);
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    const std::optional<int> ct = sim.Get("ct");
    QProcess tool;
    int pipe[2] = {-1, -1};
    if (full) {
        tool.setStandardOutputFile(QStringLiteral("/dev/full"));
    } else {
        // Standard output is a pipe whose reading end is already closed.
        QCOMPARE(::pipe(pipe), 0);
        ::close(pipe[0]);
        tool.setChildProcessModifier([&pipe] { ::dup2(pipe[1], STDOUT_FILENO); });
    }
    tool.start(qEnvironmentVariable("METERDEBUG"),
               {"--com1", sim.LinkPath(), "--set-pt", "100", "--set-ct", "5"});
    QVERIFY(tool.waitForStarted());
    if (!full)
        ::close(pipe[1]);
    QVERIFY(tool.waitForFinished(30'000));
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 4);
    QVERIFY2(err.contains(reason), qPrintable(err));
    QCOMPARE(sim.Get("pt"), 100);
    QCOMPARE(sim.Get("ct"), ct);
}

// A file that reaches the process's size limit ends in whole rows, its reason said once, and
// the run is not killed.
void TestScriptE2e::FileSizeLimitLeavesWholeRows() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("polls.csv"));
    QProcess tool;
    tool.setChildProcessModifier([] {
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    tool.start(qEnvironmentVariable("METERDEBUG"),
               {"--com1", sim.LinkPath(), "--fast", "--read-currents", "--count", "30",
                "--interval", "0", "--csv", csv});
    QVERIFY(tool.waitForFinished(60'000));
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(err.count(QStringLiteral("File too large")), 1);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray rows = file.readAll();
    QVERIFY(rows.size() > 0 && rows.size() <= 1000);
    QVERIFY(rows.endsWith('\n'));
}

void TestScriptE2e::GatewayRefusalInOneWord() {
    MeterSim sim({"--modbus-tcp", "0", "--fault", "gateway-path"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    const Run run = Tool({"--com1", QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(sim.Port()),
                          "--fast", "--json", "--read-io"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.objects.size(), 1);
    QCOMPARE(run.objects[0]["error"].toString(), "gateway_no_path");
}

QTEST_GUILESS_MAIN(TestScriptE2e)
#include "tst_script_e2e.moc"
