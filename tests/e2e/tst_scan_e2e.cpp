// MeterDebug --scan over a real pseudo-terminal to metersim: a meter away from every default
// (2400 bit/s, odd parity, address 200) is found at exactly its own settings; so is a slow
// meter at address 1, alone on its line, through an echoing adapter; and a scan interrupted
// gives the port back in the settings it had.

#include "fakes/MeterSim.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace md;

class TestScanE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ScanFindsExactlyTheMetersSettings_data();
    void ScanFindsExactlyTheMetersSettings();
    void InterruptedScanGivesThePortBack();
};

void TestScanE2e::ScanFindsExactlyTheMetersSettings_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("found");
    QTest::addColumn<QString>("traced"); // on standard error
    QTest::newRow("away from every default")
        << QStringList{"--baud", "2400", "--parity", "O", "--address", "200"}
        << QStringList{"--scan-rates", "2400,9600", "--scan-window", "20", "--scan-addresses",
                       "199-201"}
        << "address 200  2400 bit/s  parity odd" << "";
    // The answer comes 150 ms after the request, past the 100 ms window, and no later probe
    // listens at 9600 bit/s without parity.
    QTest::newRow("slow at address 1, echoed and traced")
        << QStringList{"--line-timing", "--turnaround", "150", "--echo"}
        << QStringList{"--scan-rates", "9600", "--scan-parities", "N,O", "--scan-addresses", "1-5",
                       "--local-echo", "--trace", "-"}
        << "address 1  9600 bit/s  parity none" << "[local echo removed]";
}

void TestScanE2e::ScanFindsExactlyTheMetersSettings() {
    QFETCH(QStringList, sim);
    QFETCH(QStringList, args);
    QFETCH(QString, found);
    QFETCH(QString, traced);
    MeterSim meter(sim);
    QVERIFY2(meter.Start(), qPrintable(meter.Error()));

    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"),
               QStringList{"--scan", "--com1", meter.LinkPath()} + args);
    QVERIFY2(tool.waitForFinished(60'000), "the scan did not end");
    const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), 0);
    const QRegularExpression line(QStringLiteral("^%1  answers in \\d+ ms\n$").arg(found));
    QVERIFY2(line.match(out).hasMatch(), qPrintable(out));
    QVERIFY2(err.contains(traced), qPrintable(err));
}

// A terminal keeps the settings last put to it: a scan ended by Ctrl-C or a kill must not
// leave the device at its last rate.
void TestScanE2e::InterruptedScanGivesThePortBack() {
    MeterSim meter;
    QVERIFY2(meter.Start(), qPrintable(meter.Error()));
    // Held open from before, so the settings can be read while the tool has the device.
    const int fd = ::open(meter.LinkPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios before{};
    QCOMPARE(::tcgetattr(fd, &before), 0);
    QVERIFY(cfgetospeed(&before) != B1200);

    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"),
               {"--scan", "--com1", meter.LinkPath(), "--scan-rates", "1200", "--scan-parities",
                "N", "--scan-addresses", "2-247"});
    termios during{};
    for (int i = 0; i < 500 && cfgetospeed(&during) != B1200; ++i) {
        QTest::qWait(20);
        ::tcgetattr(fd, &during);
    }
    QCOMPARE(cfgetospeed(&during), speed_t(B1200));
    ::kill(static_cast<pid_t>(tool.processId()), SIGINT);
    QVERIFY2(tool.waitForFinished(5'000), "the scan did not end");
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit); // ended by the signal, as asked

    termios after{};
    QCOMPARE(::tcgetattr(fd, &after), 0);
    ::close(fd);
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    QCOMPARE(after.c_cflag, before.c_cflag);
}

QTEST_GUILESS_MAIN(TestScanE2e)
#include "tst_scan_e2e.moc"
