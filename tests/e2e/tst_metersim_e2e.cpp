// metersim itself: what it makes of its command line, and what a tool on its pseudo-terminal
// hears back at a given rate and parity. Each case runs its own metersim.

#include "fakes/MeterSim.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace md;

namespace {

constexpr int kWaitMs = 5'000;
// Long enough for an answer metersim gives at once; what has not come by then does not come.
constexpr int kAnswerMs = 300;

// Whatever comes back within kAnswerMs of writing request: as soon as want bytes are in, a
// little more for any that should not be there.
QByteArray Ask(QIODevice& io, const QByteArray& request, qsizetype want) {
    io.write(request);
    QByteArray got;
    QDeadlineTimer deadline(kAnswerMs);
    while (!deadline.hasExpired()) {
        if (want > 0 && got.size() >= want && deadline.remainingTime() > 50)
            deadline.setRemainingTime(50);
        if (io.waitForReadyRead(int(deadline.remainingTime())))
            got += io.readAll();
    }
    return got;
}

// Per address, how many requests were answered and how many got nothing, as metersim's trace
// tells.
using BusCounts = QMap<int, MeterSim::Counts>;

} // namespace

Q_DECLARE_METATYPE(BusCounts)

class MeterSimE2E : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void OptionsAreReadOrRefusedInOneLine_data();
    void OptionsAreReadOrRefusedInOneLine();
    void ToolHearsWhatItsLineAllows_data();
    void ToolHearsWhatItsLineAllows();
    void MetersOnOneLineAnswerEachForItself_data();
    void MetersOnOneLineAnswerEachForItself();
    void ModbusTcpServesEachMeterByUnit();
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
    QTest::newRow("address range backwards") << QStringList{"--link", "x", "--address", "1,5-3"}
                                             << "--address range '5-3' runs backwards";
    QTest::newRow("address list with a gap")
        << QStringList{"--link", "x", "--address", "1,,2"} << "--address wants 1 to 247, not ''";
    QTest::newRow("address twice")
        << QStringList{"--link", "x", "--address", "1-3,2"} << "--address names 2 twice";
    QTest::newRow("fault at an address not on the line")
        << QStringList{"--link", "x", "--address", "1,3", "--fault", "silent:50%@2"}
        << "no meter at address 2 to strike";
    QTest::newRow("several meters") << QStringList{"--link", "LINK", "--address", "1,3,5-6"}
                                    << "meters at addresses 1 3 5 6, 9600 bit/s";
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
    if (line.contains(QStringLiteral(" bit/s"))) { // the ready line
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

void MeterSimE2E::MetersOnOneLineAnswerEachForItself_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("commands");        // console lines, each answered "ok ..."
    QTest::addColumn<QList<QByteArray>>("exchanges"); // "request > answer" in hex, each in turn
    QTest::addColumn<BusCounts>("counts");

    const QByteArray read1 = "010300000003 05cb > 010306 04d2 0064 ffff d88c";
    const QByteArray read3 = "030300000003 0429 > 030306 04d2 0064 ffff c1ec";
    QTest::newRow("each meter its own registers, set at one address")
        << QStringList{} << QStringList{"set current-a 7 @3"}
        << QList<QByteArray>{read1, "030300000003 0429 > 030306 0007 0064 ffff cdba"}
        << BusCounts{{1, {1, 0}}, {3, {1, 0}}};
    QTest::newRow("a fault at one address only")
        << QStringList{"--fault", "silent@3"} << QStringList{}
        << QList<QByteArray>{read1, "030300000003 0429 >", read1}
        << BusCounts{{1, {2, 0}}, {3, {0, 1}}};
    QTest::newRow("a fault set at one address on the console")
        << QStringList{} << QStringList{"fault silent once @1"}
        << QList<QByteArray>{read3, "010300000003 05cb >", read1}
        << BusCounts{{1, {1, 1}}, {3, {1, 0}}};
    QTest::newRow("an address not on the line")
        << QStringList{} << QStringList{} << QList<QByteArray>{"020300000003 05f8 >", read3}
        << BusCounts{{2, {0, 1}}, {3, {1, 0}}};
    QTest::newRow("a new address takes the registers along")
        << QStringList{} << QStringList{"set current-a 7 @3"}
        << QList<QByteArray>{"030603000009 486a > 030603000009 486a", "030300000003 0429 >",
                             "090300000003 0483 > 090306 0007 0064 ffff b31a", read1}
        << BusCounts{{1, {1, 0}}, {3, {1, 1}}, {9, {1, 0}}};
    QTest::newRow("a broadcast reaches every meter")
        << QStringList{} << QStringList{}
        << QList<QByteArray>{"000600060003 281b >", "030300060001 65e9 > 0303020003 8185",
                             "010300060001 640b > 0103020003 f845"}
        << BusCounts{{1, {1, 0}}, {3, {1, 0}}};
    QTest::newRow("a meter that moved its rate alone is no longer heard")
        << QStringList{} << QStringList{}
        << QList<QByteArray>{"030600080002 882b > 030600080002 882b", "030300000003 0429 >", read1}
        << BusCounts{{1, {1, 0}}, {3, {1, 1}}};
    // The meters' one server reads a request at a time; a second one written behind the first
    // must wait for it, not be flushed away with what is left of the first.
    QTest::newRow("two requests in one write, each answered")
        << QStringList{} << QStringList{}
        << QList<
               QByteArray>{"010300000001 840a 030300000001 85e8 > 01030204d2 3ad9 03030204d2 4319"}
        << BusCounts{{1, {1, 0}}, {3, {1, 0}}};
    QTest::newRow("an address another meter holds is refused")
        << QStringList{} << QStringList{}
        << QList<QByteArray>{"030603000001 49ac > 038603 a3a1", read1, read3}
        << BusCounts{{1, {1, 0}}, {3, {2, 0}}};
}

// Two meters (1 and 3) share one line: a request reaches only the meter it names.
void MeterSimE2E::MetersOnOneLineAnswerEachForItself() {
    QFETCH(QStringList, options);
    QFETCH(QStringList, commands);
    QFETCH(QList<QByteArray>, exchanges);
    QFETCH(BusCounts, counts);
    MeterSim sim(QStringList{"--address", "1,3", "--trace"} + options);
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    for (const QString& command : commands)
        QVERIFY2(sim.Command(command).startsWith("ok"), qPrintable(sim.Error()));

    QSerialPort port(sim.LinkPath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    for (const QByteArray& exchange : exchanges) {
        const QList<QByteArray> parts = exchange.split('>');
        const QByteArray answer = QByteArray::fromHex(parts.value(1));
        QCOMPARE(Ask(port, QByteArray::fromHex(parts[0]), answer.size()).toHex(), answer.toHex());
    }
    QVERIFY(sim.Command("status").startsWith("ok")); // collects the trace printed before it
    QCOMPARE(sim.CountsByAddress(), counts);
}

// The same meters over Modbus TCP, each reached by its address as the unit identifier.
void MeterSimE2E::ModbusTcpServesEachMeterByUnit() {
    MeterSim sim({"--modbus-tcp", "0", "--address", "1,3", "--fault", "silent@1", "--trace"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    QVERIFY(sim.Command("set decimal 3 @3").startsWith("ok"));
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(sim.Port()));
    QVERIFY(socket.waitForConnected(kWaitMs));
    // Transaction 7, protocol 0, six bytes follow: read one register at 0x0006.
    const auto read = [](const char* unit) {
        return QByteArray::fromHex(QByteArray("00070000 0006") + unit + "03 0006 0001");
    };
    QCOMPARE(Ask(socket, read("03"), 11).toHex(), QByteArray("0007000000050303020003"));
    QCOMPARE(Ask(socket, read("01"), 0).toHex(), QByteArray());
    QCOMPARE(Ask(socket, read("02"), 0).toHex(), QByteArray());
    QVERIFY(sim.Command("status").startsWith("ok"));
    QCOMPARE(sim.CountsByAddress(), (BusCounts{{1, {0, 1}}, {2, {0, 1}}, {3, {1, 0}}}));
}

QTEST_GUILESS_MAIN(MeterSimE2E)
#include "tst_metersim_e2e.moc"
