// MeterDebug --scan over a real pseudo-terminal to metersim: a meter away from every default
// (2400 bit/s, odd parity, address 200) is found at exactly its own settings.

#include "fakes/MeterSim.h"

#include <QProcess>
#include <QTest>

using namespace md;

class TestScanE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ScanFindsExactlyTheMetersSettings();
};

void TestScanE2e::ScanFindsExactlyTheMetersSettings() {
    MeterSim sim({"--baud", "2400", "--parity", "O", "--address", "200"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));

    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"),
               {"--scan", "--com1", sim.LinkPath(), "--scan-rates", "2400,9600", "--scan-window",
                "20"});
    QVERIFY2(tool.waitForFinished(300'000), "the scan did not end");
    const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
    QCOMPARE(tool.exitCode(), 0);
    static const QRegularExpression line(
        QStringLiteral("^address 200  2400 bit/s  parity odd  answers in \\d+ ms\n$"));
    QVERIFY2(line.match(out).hasMatch(), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestScanE2e)
#include "tst_scan_e2e.moc"
