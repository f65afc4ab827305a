// metersim itself: what it makes of its command line, and what a tool on its pseudo-terminal
// hears back at a given rate and parity. Each case runs its own metersim.

#include "fakes/MeterSim.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

using namespace md;

namespace {

constexpr int kWaitMs = 5'000;

} // namespace

class MeterSimE2E : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void OptionsAreReadOrRefusedInOneLine_data();
    void OptionsAreReadOrRefusedInOneLine();
    void ToolHearsWhatItsLineAllows_data();
    void ToolHearsWhatItsLineAllows();
};

void MeterSimE2E::OptionsAreReadOrRefusedInOneLine_data() {
    QTest::addColumn<QStringList>("options"); // LINK: a link in a fresh folder
    QTest::addColumn<QString>("line");        // part of the ready line, or of the one error line

    QTest::newRow("value missing") << QStringList{"--link"} << "--link wants a value";
    QTest::newRow("unknown") << QStringList{"--linky", "x"} << "unknown option '--linky'";
    QTest::newRow("flag given a value")
        << QStringList{"--link", "x", "--trace=on"} << "--trace takes no value";
    QTest::newRow("register out of range")
        << QStringList{"--link", "x", "--silent-write", "0x10000"}
        << "--silent-write wants 0 to 65535, not '0x10000'";
    QTest::newRow("number with junk")
        << QStringList{"--link", "x", "--address", "12a"} << "--address wants 1 to 247, not '12a'";
    QTest::newRow("glitch without echo") << QStringList{"--link", "x", "--echo-glitch", "00"}
                                         << "--echo-glitch only applies with --echo";
    QTest::newRow("glitch odd digit")
        << QStringList{"--link", "x", "--echo", "--echo-glitch", "0 0"}
        << "--echo-glitch wants hexadecimal bytes";
    QTest::newRow("leading zero is decimal")
        << QStringList{"--link", "LINK", "--address", "010", "--seed", "0x10"}
        << "meter at address 10, 9600 bit/s, seed 16";
    QTest::newRow("hexadecimal")
        << QStringList{"--link", "LINK", "--address", "0xF7", "--baud", "0x4B0"}
        << "meter at address 247, 1200 bit/s, seed ";
    QTest::newRow("link and network")
        << QStringList{"--link", "x", "--modbus-tcp", "0"}
        << "give exactly one of --link, --device and --modbus-tcp";
    QTest::newRow("listen without network") << QStringList{"--link", "x", "--listen", "::1"}
                                            << "--listen only applies with --modbus-tcp";
    QTest::newRow("echo on the network") << QStringList{"--modbus-tcp", "0", "--echo"}
                                         << "--echo applies to a line, not to --modbus-tcp";
    QTest::newRow("no such port") << QStringList{"--modbus-tcp", "65536"}
                                  << "--modbus-tcp wants 0 to 65535, not '65536'";
    QTest::newRow("network on the IPv6 loopback, free port")
        << QStringList{"--modbus-tcp", "0", "--listen", "::1", "--address", "5"}
        << "(Modbus TCP), meter at address 5, 9600 bit/s";
}

void MeterSimE2E::OptionsAreReadOrRefusedInOneLine() {
    QFETCH(QStringList, options);
    QFETCH(QString, line);
    QTemporaryDir dir;
    QProcess p;
    p.start(qEnvironmentVariable("METERSIM"),
            options.replaceInStrings("LINK", dir.filePath("meter")));
    QVERIFY(p.waitForStarted(kWaitMs));
    const QDeadlineTimer deadline(kWaitMs);
    while (!p.canReadLine() && p.state() == QProcess::Running && !deadline.hasExpired())
        p.waitForReadyRead(100);
    const QString out = QString::fromUtf8(p.readLine());
    p.terminate();
    p.waitForFinished(kWaitMs); // false when it had already ended
    QCOMPARE(p.state(), QProcess::NotRunning);
    if (line.contains(QStringLiteral("meter at address"))) {
        QVERIFY2(out.startsWith("ready ") && out.contains(line), qPrintable(out));
        return;
    }
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
    QVERIFY2(err.contains(line), qPrintable(err));
    QVERIFY(out.isEmpty());
}

void MeterSimE2E::ToolHearsWhatItsLineAllows_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QSerialPort::Parity>("parity");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("heard"); // all that comes back, in hex

    const QByteArray read1 = "010300000003 05cb";
    const QByteArray answer1 = "010306 04d2 0064 ffff d88c";
    QTest::newRow("none meter, odd tool")
        << QStringList{"--parity", "N"} << 9600 << QSerialPort::OddParity << read1 << QByteArray();
    QTest::newRow("2400 odd 200, tool alike")
        << QStringList{"--baud", "2400", "--parity", "O", "--address", "200"} << 2400
        << QSerialPort::OddParity << QByteArray("c80300000003 1452")
        << QByteArray("c80306 04d2 0064 ffff e2d9");
    QTest::newRow("2400 odd 200, tool at 9600")
        << QStringList{"--baud", "2400", "--parity", "O", "--address", "200"} << 9600
        << QSerialPort::OddParity << QByteArray("c80300000003 1452") << QByteArray();
    QTest::newRow("glitching echo") << QStringList{"--echo", "--echo-glitch", "00 ff"} << 9600
                                    << QSerialPort::NoParity << read1 << "00ff" + read1 + answer1;
}

void MeterSimE2E::ToolHearsWhatItsLineAllows() {
    QFETCH(QStringList, options);
    QFETCH(int, rate);
    QFETCH(QSerialPort::Parity, parity);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, heard);
    MeterSim sim(options);
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));

    QSerialPort port(sim.LinkPath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QVERIFY(port.setBaudRate(rate));
    QVERIFY(port.setStopBits(QSerialPort::TwoStop));
    // A pseudo-terminal keeps the odd flag but drops parity enable, and Qt, reading back what
    // it set, calls odd parity not taken; the odd flag is what the relay goes by.
    port.setParity(parity);
    port.write(QByteArray::fromHex(request));
    QByteArray got;
    // A meter that hears answers within a few milliseconds; one that does not stays silent.
    const QDeadlineTimer deadline(400);
    while (!deadline.hasExpired())
        if (port.waitForReadyRead(int(deadline.remainingTime())))
            got += port.readAll();
    QCOMPARE(got.toHex(), QByteArray::fromHex(heard).toHex());
}

QTEST_GUILESS_MAIN(MeterSimE2E)
#include "tst_metersim_e2e.moc"
