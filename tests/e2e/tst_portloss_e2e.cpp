// The window polling metersim over the real port control and clock while the line is pulled
// away and given back, and while it floods the tool with noise.

#include "fakes/MainWindowRig.h"
#include "fakes/ProcessFigures.h"

#include "trace/TraceWriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace md;
using md::ui::CMeterDebugDlg;

namespace {

int Count(const MainWindowRig& w, int id) {
    return w.Text(id).toInt();
}

// The window's counts of successes and failures, and its prompt.
struct Shown {
    int successes = 0, failures = 0;
    QString prompt;
};

Shown ShownBy(const MainWindowRig& w) {
    return {Count(w, 1069), Count(w, 1070), w.Text(1068)};
}

} // namespace

class TestPortLossE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void PollingRidesOutAnOutage_data();
    void PollingRidesOutAnOutage();
    void UnattendedOutageIsCountedUnderTheOpenBox();
    void NoiseFloodLeavesMemoryFlat_data();
    void NoiseFloodLeavesMemoryFlat();
};

void TestPortLossE2e::PollingRidesOutAnOutage_data() {
    QTest::addColumn<QString>("gone");
    QTest::addColumn<QString>("back");
    QTest::newRow("cable pulled") << "unplug"
                                  << "replug";
    QTest::newRow("adapter vanished") << "vanish"
                                      << "return";
}

void TestPortLossE2e::PollingRidesOutAnOutage() {
    QFETCH(QString, gone);
    QFETCH(QString, back);
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    MainWindowRig w(sim);
    QStringList boxesDuringOutage;
    w.Run([&] {
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 1, 6000);

        QVERIFY(sim.Command(gone).startsWith(QStringLiteral("ok")));
        const int successes = Count(w, 1069);
        const int failures = Count(w, 1070);
        const double cpu = CpuSeconds();
        QTest::qWait(5000);
        const double used = CpuSeconds() - cpu;
        qInfo("CPU over 5 s of outage: %.3f s", used);
        QVERIFY2(used < 0.1, qPrintable(QStringLiteral("%1 s of CPU in 5 s").arg(used)));
        QCOMPARE(Count(w, 1069), successes);
        QVERIFY2(Count(w, 1070) >= failures + 2, qPrintable(w.Text(1070)));
        QCOMPARE(w.Text(1068), CMeterDebugDlg::LostPrompt());
        boxesDuringOutage = w.modal.Boxes();

        QVERIFY(sim.Command(back).startsWith(QStringLiteral("ok")));
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) > successes, 6000);
        QCOMPARE(w.Text(1068), QStringLiteral("正在读测量数据..."));
        w.Click(1064);
    });
    QCOMPARE(boxesDuringOutage.size(), 1);
    QVERIFY2(boxesDuringOutage[0].contains(sim.LinkPath()) &&
                 boxesDuringOutage[0].contains(QStringLiteral("已断开")),
             qPrintable(boxesDuringOutage[0]));
    QCOMPARE(w.modal.Boxes(), boxesDuringOutage);
}

// Nobody at the PC: the loss box stays open through a 15 s outage and 10 s of line after it.
// The poll timer's ticks (every 2 s) go on under it: one failure each while the line is away,
// one success each once it is back.
void TestPortLossE2e::UnattendedOutageIsCountedUnderTheOpenBox() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    MainWindowRig w(sim);
    Shown gone, away, back; // as the line went, 15 s later as it came back, 10 s after that
    w.Run([&] {
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 1, 6000);
        QElapsedTimer outage;
        w.modal.AnswerBox([&](QWidget*) {
            QTest::qWait(int(15'000 - outage.elapsed()));
            away = ShownBy(w);
            QVERIFY(sim.Command(QStringLiteral("replug")).startsWith(QStringLiteral("ok")));
            QTest::qWait(10'000);
            back = ShownBy(w);
        });
        gone = ShownBy(w);
        QVERIFY(sim.Command(QStringLiteral("unplug")).startsWith(QStringLiteral("ok")));
        outage.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.modal.Boxes().size() == 1 && w.modal.Pending() == 0, 30'000);
        w.Click(1064);
    });
    qInfo("successes/failures: %d/%d as the line went, %d/%d 15 s later, %d/%d 10 s after that",
          gone.successes, gone.failures, away.successes, away.failures, back.successes,
          back.failures);
    QCOMPARE(away.successes, gone.successes);
    QVERIFY(away.failures - gone.failures >= 6);
    QCOMPARE(away.prompt, CMeterDebugDlg::LostPrompt());
    // A tick under way as the line came back may still fail; every later one succeeds.
    QVERIFY(back.failures - away.failures <= 1);
    QVERIFY(back.successes - away.successes >= 4);
    QCOMPARE(back.prompt, QStringLiteral("正在读测量数据..."));
    QCOMPARE(w.modal.Boxes().size(), 1);
}

void TestPortLossE2e::NoiseFloodLeavesMemoryFlat_data() {
    QTest::addColumn<int>("rate"); // noise bytes a second
    QTest::newRow("as fast as the line carries") << 50'000'000;
    QTest::newRow("200 kB/s") << 200'000;
}

// Noise for 10 s of polling, traced to a file: the memory stays flat and the trace grows by
// lines, not by the noise.
void TestPortLossE2e::NoiseFloodLeavesMemoryFlat() {
    QFETCH(int, rate);
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    QTemporaryDir dir;
    const QString tracePath = dir.filePath(QStringLiteral("trace.txt"));
    std::string error;
    const auto trace = TraceWriter::Open(tracePath.toStdString(), error);
    QVERIFY2(trace, error.c_str());
    MainWindowRig w(sim);
    w.dlg.Link().SetTrace(*trace);
    double idle = 0, peak = 0;
    qint64 traceBefore = 0;
    QElapsedTimer flood;
    w.Run([&] {
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 1, 6000);
        idle = ResidentMiB();
        traceBefore = QFileInfo(tracePath).size();
        QVERIFY(sim.Command(QStringLiteral("noise %1").arg(rate)).startsWith(QStringLiteral("ok")));
        flood.start();
        while (!flood.hasExpired(10'000)) {
            QTest::qWait(500);
            peak = std::max(peak, ResidentMiB());
        }
        QVERIFY(sim.Command(QStringLiteral("noise off")).startsWith(QStringLiteral("ok")));
        w.Click(1064);
    });
    const double traceKiBPerMinute =
        double(QFileInfo(tracePath).size() - traceBefore) / 1024 * 60'000 / double(flood.elapsed());
    qInfo("resident memory: %.1f MiB idle, %.1f MiB peak under the flood; trace %.0f KiB a minute",
          idle, peak, traceKiBPerMinute);
    QVERIFY2(traceKiBPerMinute < 1024, qPrintable(QString::number(traceKiBPerMinute)));
    QVERIFY(idle > 0);
    QVERIFY2(peak - idle < 10,
             qPrintable(QStringLiteral("%1 MiB idle, %2 MiB peak").arg(idle).arg(peak)));
    QCOMPARE(w.modal.Boxes(), QStringList());
}

QTEST_MAIN(TestPortLossE2e)
#include "tst_portloss_e2e.moc"
