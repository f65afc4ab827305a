// A station script in miniature, run by the built MeterDebug over a real pseudo-terminal to
// metersim: give a new meter its address and thresholds and read them back with its clock,
// then five polls of which a line fault spoils one. Bad usage sends nothing.

#include "fakes/MeterSim.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestScriptE2e)
#include "tst_script_e2e.moc"
