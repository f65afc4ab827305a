// The window polling metersim over the real port control and clock while the line is pulled
// away and given back, and while it floods the tool with noise.

#include "fakes/MainWindowRig.h"
#include "fakes/ProcessFigures.h"

#include <QElapsedTimer>
#include <QTest>

using namespace md;
using md::ui::CMeterDebugDlg;

namespace {

int Count(const MainWindowRig& w, int id) {
    return w.Text(id).toInt();
}

} // namespace

class TestPortLossE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void PollingRidesOutAnOutage_data();
    void PollingRidesOutAnOutage();
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

// Noise as fast as the pseudo-terminal carries it, for 10 s of polling.
void TestPortLossE2e::NoiseFloodLeavesMemoryFlat() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    MainWindowRig w(sim);
    double idle = 0, peak = 0;
    w.Run([&] {
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 1, 6000);
        idle = ResidentMiB();
        QVERIFY(sim.Command(QStringLiteral("noise 50000000")).startsWith(QStringLiteral("ok")));
        QElapsedTimer flood;
        flood.start();
        while (!flood.hasExpired(10'000)) {
            QTest::qWait(500);
            peak = std::max(peak, ResidentMiB());
        }
        QVERIFY(sim.Command(QStringLiteral("noise off")).startsWith(QStringLiteral("ok")));
        w.Click(1064);
    });
    qInfo("resident memory: %.1f MiB idle, %.1f MiB peak under the flood", idle, peak);
    QVERIFY(idle > 0);
    QVERIFY2(peak - idle < 10,
             qPrintable(QStringLiteral("%1 MiB idle, %2 MiB peak").arg(idle).arg(peak)));
    QCOMPARE(w.modal.Boxes(), QStringList());
}

QTEST_MAIN(TestPortLossE2e)
#include "tst_portloss_e2e.moc"
