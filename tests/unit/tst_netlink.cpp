// Meters behind the network: device names, Modbus TCP framing through the exchange and the
// trace, the RFC 2217 bytes, and the network port against a TCP peer inside the test.

#include "fakes/FakePort.h"
#include "fakes/Support.h"
#include "fakes/VirtualClock.h"
#include "port/DeviceName.h"
#include "link/Exchange.h"
#include "modbus/Frame.h"
#include "modbus/Mbap.h"
#include "port/MSComm.h"
#include "port/NetPort.h"
#include "port/NetPortList.h"
#include "port/Rfc2217.h"
#include "trace/TraceFanOut.h"
#include "trace/TraceRows.h"
#include "trace/TraceWriter.h"
#include "meter/MeterScan.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace md;

namespace {

// A peer on 127.0.0.1 that takes one connection and keeps what it receives.
struct Peer {
    Peer() { server.listen(QHostAddress::LocalHost, 0); }
    QString Url(const char* scheme) const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.serverPort());
    }
    // Runs the event loop until the connection is there.
    QTcpSocket* Accepted() {
        if (!client && server.waitForNewConnection(0))
            client = server.nextPendingConnection();
        if (!client && QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 2000))
            client = server.nextPendingConnection();
        return client;
    }
    // What arrived at the peer by now, waiting up to ms for at least n bytes.
    QByteArray Got(qsizetype n, int ms = 2000) {
        QTcpSocket* s = Accepted();
        QElapsedTimer t;
        t.start();
        while (s && got.size() < n && t.elapsed() < ms) {
            s->waitForReadyRead(20);
            got += s->readAll();
        }
        return got;
    }
    void Send(const QByteArray& hex) {
        Accepted()->write(QByteArray::fromHex(hex));
        client->flush();
        client->waitForBytesWritten(1000);
    }
    QTcpServer server;
    QTcpSocket* client = nullptr;
    QByteArray got;
};

// A server that answers the moment a client connects, from a thread of its own: the port
// waits for the confirmation of the line settings without an event loop, so a peer in the
// test's own thread could not answer in time.
class Greeter : public QThread {
public:
    Greeter(int descriptor, QByteArray hex) : m_descriptor(descriptor), m_hex(std::move(hex)) {}
    void run() override {
        QTcpServer server;
        server.setSocketDescriptor(m_descriptor);
        if (!server.waitForNewConnection(3000))
            return;
        QTcpSocket* s = server.nextPendingConnection();
        s->write(QByteArray::fromHex(m_hex));
        s->waitForBytesWritten(1000);
        descriptor = s->socketDescriptor();
        s->setParent(nullptr);
        s->moveToThread(nullptr);
        socket = s;
    }
    QTcpSocket* socket = nullptr;
    qintptr descriptor = -1;

private:
    int m_descriptor;
    QByteArray m_hex;
};

// A serial device server in a thread of its own, so that it answers while the port waits with
// or without an event loop. Each step sends its bytes, after its delay, once what has arrived
// since the last step holds its trigger (none: at once). What the client sent is kept in got.
class ScriptedServer : public QThread {
public:
    struct Step {
        QByteArray trigger, send; // hex
        int delayMs = 0;
    };
    explicit ScriptedServer(QList<Step> steps) : m_steps(std::move(steps)) {
        m_listener.listen(QHostAddress::LocalHost, 0);
        m_listener.pauseAccepting();
        start();
    }
    ~ScriptedServer() override { wait(); }
    QString Url() const {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_listener.serverPort());
    }
    void run() override {
        QTcpServer server;
        server.setSocketDescriptor(::dup(int(m_listener.socketDescriptor())));
        if (!server.waitForNewConnection(3000))
            return;
        QTcpSocket* s = server.nextPendingConnection();
        qsizetype from = 0;
        for (const Step& step : m_steps) {
            const QByteArray trigger = QByteArray::fromHex(step.trigger);
            qsizetype at = -1;
            while ((at = got.indexOf(trigger, from)) < 0) {
                if (!s->waitForReadyRead(3000))
                    return;
                got += s->readAll();
            }
            from = at + trigger.size();
            QThread::msleep(static_cast<unsigned long>(step.delayMs));
            s->write(QByteArray::fromHex(step.send));
            s->waitForBytesWritten(1000);
        }
        // Kept until the client closes.
        while (s->waitForReadyRead(3000))
            got += s->readAll();
    }
    QByteArray got; // read once the thread has ended

private:
    QList<Step> m_steps;
    QTcpServer m_listener;
};

// An RFC 2217 server's replies to the four line commands for 9600 none, 8 data, 2 stop bits.
QByteArray LineReplies(std::uint32_t rate, std::uint8_t parity) {
    QByteArray r = "fffa2c65";
    r += QByteArray::number(rate, 16).rightJustified(8, '0');
    r += "fff0" "fffa2c6608fff0" "fffa2c67" + QByteArray::number(parity, 16).rightJustified(2, '0') +
         "fff0" "fffa2c6802fff0";
    return r;
}

QByteArray Hex(const std::vector<std::uint8_t>& bytes) {
    return HexOf(bytes);
}

// A listener on address:port that takes no connection: its accept queue is filled at once, and
// the kernel drops every later SYN, as a network that swallows packets does.
struct BlackHole {
    BlackHole(const char* address, quint16 port) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        inet_pton(AF_INET, address, &at.sin_addr);
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
            ::listen(listener, 0) != 0)
            return;
        for (int i = 0; i < 8 && !swallows; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            fillers.push_back(fd);
            ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
            pollfd p{fd, POLLOUT, 0};
            swallows = ::poll(&p, 1, 200) == 0;
        }
    }
    ~BlackHole() {
        for (const int fd : fillers)
            ::close(fd);
        ::close(listener);
    }
    int listener = -1;
    std::vector<int> fillers;
    bool swallows = false;
};

} // namespace

class tst_netlink : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void DeviceNames_data();
    void DeviceNames();
    void RemembersTheLastEightNetworkDevices();
    void DeviceNamesPrintBackInOneSpelling_data();
    void DeviceNamesPrintBackInOneSpelling();
    void RefusalOfANameIsOneLine();
    void ModbusTcpExchange_data();
    void ModbusTcpExchange();
    void ScanOverModbusTcpIgnoresGatewayExceptions();
    void Rfc2217Bytes_data();
    void Rfc2217Bytes();
    void TelnetReader_data();
    void TelnetReader();
    void TelnetReaderStartsOverAfterAnOverLongSubnegotiation();
    void TelnetRefusals_data();
    void TelnetRefusals();
    void Rfc2217Open_data();
    void Rfc2217Open();
    void Rfc2217RequestWaitsForThePurgeReply();
    void RawAndRfc2217ThroughAPeer_data();
    void RawAndRfc2217ThroughAPeer();
    void ConnectFailureNamesHostPortAndReason_data();
    void ConnectFailureNamesHostPortAndReason();
    void PeerClosingIsALossThatReopens();
    void FloodIsHeldToTheInputBound();
    void LostConnectionGivesWayToTheNextPortsReason();
    void BlackHoledFirstAddressLeavesTheNextItsShare();
    void UnacknowledgedDataIsBoundByTheKeepAliveBudget();
};

void tst_netlink::DeviceNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("transport"); // -1: serial device, -2: refused
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("why"); // part of the refusal

    const int raw = int(Transport::RawTcp), rfc = int(Transport::Rfc2217),
              mb = int(Transport::ModbusTcp);
    QTest::newRow("serial path") << "/dev/ttyUSB0" << -1 << "" << 0 << "";
    QTest::newRow("COM3") << "COM3" << -1 << "" << 0 << "";
    QTest::newRow("tcp name") << "tcp://converter.lan:4001" << raw << "converter.lan" << 4001 << "";
    QTest::newRow("rfc2217 IPv4") << "rfc2217://10.0.0.5:2217" << rfc << "10.0.0.5" << 2217 << "";
    QTest::newRow("modbus-tcp default port") << "modbus-tcp://gw" << mb << "gw" << 502 << "";
    QTest::newRow("modbus-tcp IPv6") << "modbus-tcp://[::1]:1502" << mb << "::1" << 1502 << "";
    QTest::newRow("IPv6 default port") << "modbus-tcp://[2001:db8::1]" << mb << "2001:db8::1" << 502 << "";
    QTest::newRow("zone as a URL writes it") << "modbus-tcp://[fe80::1%25eth0]" << mb << "fe80::1%eth0" << 502 << "";
    QTest::newRow("zone with a bare %") << "tcp://[FE80::0001%eth0]:1502" << raw << "fe80::1%eth0" << 1502 << "";
    QTest::newRow("blanks around a URL") << " rfc2217://H.lan:2217 " << rfc << "h.lan" << 2217 << "";
    QTest::newRow("link-local without a zone") << "modbus-tcp://[fe80::1]" << -2 << "" << 0 << "fe80::1%25eth0";
    QTest::newRow("a zone on a global address") << "tcp://[2001:db8::1%25eth0]:1" << -2 << "" << 0 << "fe80::/10";
    QTest::newRow("a zone that names nothing") << "tcp://[fe80::1%]:1" << -2 << "" << 0 << "网卡";
    QTest::newRow("two numbers read as 10.0.0.5") << "tcp://10.5:502" << -2 << "" << 0 << "10.5";
    QTest::newRow("leading zero read as octal") << "tcp://010.0.0.5:502" << -2 << "" << 0 << "010.0.0.5";
    QTest::newRow("scheme in capitals") << "TCP://h:1" << raw << "h" << 1 << "";
    QTest::newRow("tcp without port") << "tcp://h" << -2 << "" << 0 << "缺少端口";
    QTest::newRow("port zero") << "tcp://h:0" << -2 << "" << 0 << "1 到 65535";
    QTest::newRow("port too big") << "rfc2217://h:65536" << -2 << "" << 0 << "1 到 65535";
    QTest::newRow("port not a number") << "tcp://h:50x" << -2 << "" << 0 << "1 到 65535";
    QTest::newRow("unknown scheme") << "udp://h:502" << -2 << "" << 0 << "udp";
    QTest::newRow("no host") << "tcp://:502" << -2 << "" << 0 << "缺少主机";
    QTest::newRow("bare IPv6") << "tcp://::1:502" << -2 << "" << 0 << "方括号";
    QTest::newRow("IPv6 unclosed") << "tcp://[::1:502" << -2 << "" << 0 << "]";
    QTest::newRow("IPv4 out of range") << "tcp://300.1.1.1:502" << -2 << "" << 0 << "300.1.1.1";
    QTest::newRow("bad host character") << "tcp://my_host:502" << -2 << "" << 0 << "my_host";
    QTest::newRow("a path after the port") << "tcp://h:502/x" << -2 << "" << 0 << "主机和端口";
}

void tst_netlink::DeviceNames() {
    QFETCH(QString, name);
    QFETCH(int, transport);
    const DeviceKind kind = ParseDeviceName(name);
    if (transport == -1) {
        QVERIFY(std::holds_alternative<std::monostate>(kind));
        QCOMPARE(TransportOf(name), Transport::Serial);
        return;
    }
    if (transport == -2) {
        QFETCH(QString, why);
        const QString* bad = std::get_if<QString>(&kind);
        QVERIFY(bad);
        QVERIFY2(bad->contains(name.trimmed()) && bad->contains(why), qPrintable(*bad));
        // Such a name is never opened as a serial device: the port says what is wrong.
        CMSComm comm;
        comm.SetDevice(1, name);
        try {
            comm.SetPortOpen(true);
            QFAIL("opened");
        } catch (const CommError& e) {
            QVERIFY2(QString::fromStdString(e.what()).contains(why), e.what());
        }
        return;
    }
    QFETCH(QString, host);
    QFETCH(int, port);
    const NetDevice* net = std::get_if<NetDevice>(&kind);
    QVERIFY(net);
    QCOMPARE(int(net->transport), transport);
    QCOMPARE(net->host, host);
    QCOMPARE(int(net->port), port);
}

void tst_netlink::RemembersTheLastEightNetworkDevices() {
    QStringList used;
    for (int i = 1; i <= 9; ++i)
        used = UseNetDevice(used, QStringLiteral("tcp://h:%1").arg(i));
    used = UseNetDevice(used, QStringLiteral("/dev/ttyUSB0")); // no network device
    used = UseNetDevice(used, QStringLiteral("tcp://h:5"));    // used again: first, once
    QCOMPARE(used, (QStringList{"tcp://h:5", "tcp://h:9", "tcp://h:8", "tcp://h:7", "tcp://h:6",
                                "tcp://h:4", "tcp://h:3", "tcp://h:2"}));

    struct NoPorts : PortList {
        QList<PortRow> Ports() const override { return {PortRow{"/dev/ttyS0", {}, {}, {}, {}, {}, {}}}; }
    } system;
    const PortsAndNetDevices offered(system, used);
    const QList<PortRow> rows = offered.Ports();
    QCOMPARE(rows.size(), 9);
    QCOMPARE(rows[0].device, QStringLiteral("/dev/ttyS0")); // the system's ports come first
    QCOMPARE(rows[1].device, QStringLiteral("tcp://h:5"));
}

void tst_netlink::DeviceNamesPrintBackInOneSpelling_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("scheme and host in capitals") << "TCP://H:1" << "tcp://h:1";
    QTest::newRow("Modbus TCP's own port") << "modbus-tcp://gw:502" << "modbus-tcp://gw";
    QTest::newRow("Modbus TCP on another port") << "modbus-tcp://gw:1502" << "modbus-tcp://gw:1502";
    QTest::newRow("IPv6 with a zone") << "modbus-tcp://[FE80::0001%eth0]:503"
                                      << "modbus-tcp://[fe80::1%25eth0]:503";
    QTest::newRow("serial device as it is") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
}

// Every spelling of a device is remembered as one: the list holds each device once.
void tst_netlink::DeviceNamesPrintBackInOneSpelling() {
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QCOMPARE(NormalisedDeviceName(typed), kept);
    QVERIFY(ParseDeviceName(kept) == ParseDeviceName(typed));
    if (!std::holds_alternative<NetDevice>(ParseDeviceName(typed)))
        return;
    const QStringList used = UseNetDevice({kept, QStringLiteral("tcp://other:1")}, typed);
    QCOMPARE(used, (QStringList{kept, QStringLiteral("tcp://other:1")}));
}

// A name pasted with a line break in it: the reason stays on one line.
void tst_netlink::RefusalOfANameIsOneLine() {
    const DeviceKind kind = ParseDeviceName(QStringLiteral("tcp://h\n\u2028x:1"));
    const QString* bad = std::get_if<QString>(&kind);
    QVERIFY(bad);
    QVERIFY2(!bad->contains(QLatin1Char('\n')) && !bad->contains(QChar(0x2028)) &&
                 bad->contains(QLatin1String("h\\x0a\\u2028x")),
             qPrintable(*bad));
}

// A read of one register at 0x0006 from address 1 over Modbus TCP: the request as it goes out,
// then what comes back and what the exchange, the trace and the monitor make of it.
void tst_netlink::ModbusTcpExchange_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("value"); // the register read, or -1 for none
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("traced"); // part of the trace line

    QTest::newRow("answer") << QByteArray("0001 0000 0005 01 03 02 0007") << 7 << "ok"
                            << "-> 7";
    QTest::newRow("behind a stale answer") << QByteArray("0000 0000 0005 01 03 02 0009 "
                                                         "0001 0000 0005 01 03 02 0007")
                                           << 7 << "ok" << "transaction 0, not 1";
    // Junk ahead of the answer whose header looks whole: its length runs over the answer.
    QTest::newRow("behind a header spanning it") << QByteArray("0007 0000 000d 01 03 "
                                                               "0001 0000 0005 01 03 02 0007")
                                                 << 7 << "ok" << "-> 7";
    // Junk ahead whose length runs past everything received: not a frame still arriving.
    QTest::newRow("behind a header cut short") << QByteArray("0009 0000 00f0 "
                                                             "0001 0000 0005 01 03 02 0007")
                                               << 7 << "ok" << "-> 7";
    QTest::newRow("wrong transaction") << QByteArray("0002 0000 0005 01 03 02 0007") << -1
                                       << "no answer" << "transaction 2, not 1";
    QTest::newRow("wrong protocol") << QByteArray("0001 0001 0005 01 03 02 0007") << -1
                                    << "no answer" << "protocol 1";
    QTest::newRow("wrong length") << QByteArray("0001 0000 0007 01 03 04 0007 0000") << -1
                                  << "no answer" << "length 7, not 5";
    QTest::newRow("wrong unit") << QByteArray("0001 0000 0005 02 03 02 0007") << -1
                                << "no answer" << "unit 2";
    QTest::newRow("cut short") << QByteArray("0001 0000 0005 01 03 02") << -1 << "no answer"
                               << "no whole Modbus TCP frame";
    QTest::newRow("gateway: no path") << QByteArray("0001 0000 0003 01 83 0a") << -1
                                      << "gateway: no path" << "gateway path unavailable";
    QTest::newRow("gateway: no answer") << QByteArray("0001 0000 0003 01 83 0b") << -1
                                        << "gateway: no answer"
                                        << "gateway target device failed to respond";
    QTest::newRow("meter exception") << QByteArray("0001 0000 0003 01 83 02") << -1
                                     << "exception" << "illegal data address";
}

void tst_netlink::ModbusTcpExchange() {
    QFETCH(QByteArray, answer);
    QFETCH(int, value);
    QFETCH(QString, status);
    QFETCH(QString, traced);
    for (const bool fast : {false, true}) {
        VirtualClock clock;
        FakePort port(clock);
        port.transport = Transport::ModbusTcp;
        port.SetPortOpen(true);
        CExchange x(port, clock);
        x.SetFastWaits(fast);
        x.SetLocalEcho(true); // Modbus TCP has no echo to look for: ignored
        QByteArray line;
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* memory = open_memstream(&text, &size);
        TraceWriter writer(memory, false);
        TraceStatus outcome = TraceStatus::Ok;
        TraceRowMaker rows([&](TraceRow&& row) { outcome = row.status; });
        TraceFanOut fan;
        fan.Add(writer);
        fan.Add(rows);
        x.SetTrace(fan);

        port.QueueAnswer(Bytes(answer), 20);
        const int len = BuildReadRequest(x.m_bySendBuf, 1, 0x0006, 1);
        const int p = x.Transact(len, WaitKind::Sleep, 600, kFnReadHolding, 1, 7);
        fan.Remove(writer);
        std::fclose(memory);
        line = QByteArray(text, qsizetype(size));
        std::free(text);

        // MBAP header (transaction 1, protocol 0, length 6, unit 1), the PDU, no check bytes.
        QCOMPARE(QByteArray::fromStdString(SentHex(port).at(0)),
                 QByteArray("000100000006010300060001"));
        QVERIFY2(line.contains("00 01 00 00 00 06 01 03 00 06 00 01  read 1 @0x0006"), line);
        QCOMPARE(p >= 0 ? x.Register(p, 0) : -1, value);
        QCOMPARE(QString::fromLatin1(StatusWord(outcome)), status);
        QVERIFY2(line.contains(traced.toUtf8()), line);
        // The next request has a transaction of its own.
        x.SendOnly(len);
        QCOMPARE(QByteArray::fromStdString(SentHex(port).at(1)).left(4), QByteArray("0002"));
    }
}

void tst_netlink::ScanOverModbusTcpIgnoresGatewayExceptions() {
    VirtualClock clock;
    FakePort port(clock);
    port.transport = Transport::ModbusTcp;
    // Unit 3 is there; the gateway says 0x0B for every other unit.
    port.SetResponder([](std::span<const std::uint8_t> adu) {
        std::vector<std::uint8_t> a(adu.begin(), adu.begin() + 7);
        a[5] = adu[6] == 3 ? 5 : 3;
        const auto pdu = adu[6] == 3 ? Bytes("03020001") : Bytes("830b");
        a.insert(a.end(), pdu.begin(), pdu.end());
        return std::vector<FakePort::Reply>{{a, 10}};
    });
    meter::ScanOptions options;
    options.order = meter::ScanOrder({}, {1, 2, 3, 4}, {9600}, {'N'});
    meter::MeterScan scan(port, clock, options);
    while (scan.Step()) {
    }
    QCOMPARE(scan.Hits().size(), std::size_t(1));
    QCOMPARE(int(scan.Hits()[0].at.address), 3);
}

void tst_netlink::Rfc2217Bytes_data() {
    QTest::addColumn<QByteArray>("made");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("greeting") << Hex(rfc2217::Greeting()) << QByteArray("fffb00fffd00fffb03fffd03fffb2c");
    QTest::newRow("9600 none 8 2")
        << Hex(rfc2217::LineCommands(9600, 8, 'N', 2))
        << QByteArray("fffa2c0100002580fff0fffa2c0208fff0fffa2c0301fff0fffa2c0402fff0");
    QTest::newRow("2400 odd 8 2")
        << Hex(rfc2217::LineCommands(2400, 8, 'O', 2))
        << QByteArray("fffa2c0100000960fff0fffa2c0208fff0fffa2c0302fff0fffa2c0402fff0");
    QTest::newRow("19200 even 8 1")
        << Hex(rfc2217::LineCommands(19200, 8, 'E', 1))
        << QByteArray("fffa2c0100004b00fff0fffa2c0208fff0fffa2c0303fff0fffa2c0401fff0");
    // A rate with a 0xFF byte: doubled inside the subnegotiation too.
    QTest::newRow("rate byte 0xFF") << Hex(rfc2217::LineCommands(255, 7, 'M', 3)).left(20)
                                    << QByteArray("fffa2c01000000ffff");
    QTest::newRow("purge the server's receive buffer")
        << Hex(rfc2217::PurgeCommand(rfc2217::kPurgeReceive)) << QByteArray("fffa2c0c01fff0");
    // A write whose check bytes are FF FF: every 0xFF doubled on the way out.
    QTest::newRow("data with 0xFF") << Hex(rfc2217::EscapeData(Bytes("0106000800ff ffff")))
                                    << QByteArray("0106000800ffffffffffff");
}

void tst_netlink::Rfc2217Bytes() {
    QFETCH(QByteArray, made);
    QFETCH(QByteArray, bytes);
    QCOMPARE(made.left(bytes.size()), bytes);
}

void tst_netlink::TelnetReader_data() {
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("rateReply"); // value of the SET-BAUDRATE reply, hex

    QTest::newRow("plain data") << QList<QByteArray>{"0103020007f986"} << QByteArray("0103020007f986")
                                << QByteArray() << QByteArray();
    QTest::newRow("0xFF doubled in a check byte, split between its two halves")
        << QList<QByteArray>{"0103 0200ff", "ff 38 05"} << QByteArray("01030200ff3805")
        << QByteArray() << QByteArray();
    QTest::newRow("a notification between two halves of an answer")
        << QList<QByteArray>{"010302", "fffa2c6a60fff0", "0007f986"}
        << QByteArray("0103020007f986") << QByteArray() << QByteArray();
    QTest::newRow("a NOP and a server's offers mid-answer")
        << QList<QByteArray>{"0103", "fff1", "fffb01fffd2c", "020007f986"}
        << QByteArray("0103020007f986") << QByteArray("fffe01") << QByteArray();
    QTest::newRow("the rate reply, cut anywhere")
        << QList<QByteArray>{"fffa2c65", "000025", "80ff", "f0"} << QByteArray() << QByteArray()
        << QByteArray("00002580");
    QTest::newRow("an option we do not do, asked twice, declined once")
        << QList<QByteArray>{"fffd18fffd18"} << QByteArray() << QByteArray("fffc18")
        << QByteArray();
    // A notification that lost its IAC SE: the reply behind it is still read, and none of its
    // bytes pass as data.
    QTest::newRow("IAC SB inside a broken subnegotiation")
        << QList<QByteArray>{"fffa2c6a", "fffa2c65000025", "80fff0", "0103"} << QByteArray("0103")
        << QByteArray() << QByteArray("00002580");
    QTest::newRow("a WILL inside a broken subnegotiation")
        << QList<QByteArray>{"fffa2c6a01fffb18", "0103"} << QByteArray("0103")
        << QByteArray("fffe18") << QByteArray();
}

void tst_netlink::TelnetReader() {
    QFETCH(QList<QByteArray>, pieces);
    rfc2217::TelnetReader reader;
    std::vector<std::uint8_t> data, replies;
    for (const QByteArray& piece : pieces)
        reader.Feed(Bytes(piece), data, replies);
    QTEST(Hex(data), "data");
    QTEST(Hex(replies), "replies");
    const auto rate = reader.Replies().find(rfc2217::kSetBaudRate);
    QTEST(rate == reader.Replies().end() ? QByteArray() : Hex(rate->second), "rateReply");
}

// A subnegotiation that never ends swallows a bounded stretch and no more: the answers behind
// it come through, and a reply after them is read again.
void tst_netlink::TelnetReaderStartsOverAfterAnOverLongSubnegotiation() {
    rfc2217::TelnetReader reader;
    std::vector<std::uint8_t> data, replies;
    reader.Feed(Bytes("fffa2c6a" + QByteArray(2000, '0')), data, replies);
    reader.Feed(Bytes("0103020007f986 fffa2c6500002580fff0"), data, replies);
    QVERIFY2(Hex(data).endsWith("0103020007f986") && data.size() < 1000, Hex(data));
    QVERIFY(reader.Replies().contains(rfc2217::kSetBaudRate));
}

void tst_netlink::TelnetRefusals_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("comPortRefused");
    QTest::addColumn<bool>("binaryRefused");

    QTest::newRow("DO, then DONT COM-PORT") << QByteArray("fffd2cfffe2c") << false << true << false;
    QTest::newRow("WONT BINARY") << QByteArray("fffc00") << false << false << true;
    QTest::newRow("DONT BINARY") << QByteArray("fffe00") << false << false << true;
}

void tst_netlink::TelnetRefusals() {
    QFETCH(QByteArray, server);
    rfc2217::TelnetReader reader;
    std::vector<std::uint8_t> data, replies;
    reader.Feed(Bytes(server), data, replies);
    QTEST(reader.ComPortAccepted(), "accepted");
    QTEST(reader.ComPortRefused(), "comPortRefused");
    QTEST(reader.BinaryRefused(), "binaryRefused");
}

// Opening rfc2217:// at 9600 none against a server in its own thread: hello is what it says on
// connecting, confirm what it sends once the four line commands have arrived, late. Meanwhile
// the window's events are served.
void tst_netlink::Rfc2217Open_data() {
    QTest::addColumn<QByteArray>("hello");
    QTest::addColumn<QByteArray>("confirm");
    QTest::addColumn<QString>("error"); // part of the open's failure; empty: it opens

    const QByteArray agree = "fffd2c";
    QTest::newRow("confirmations behind 8 KiB of data")
        << agree << QByteArray(8192, 'a').toHex() + LineReplies(9600, 1) << QString();
    QTest::newRow("never says DO COM-PORT")
        << QByteArray("fffb03") << LineReplies(9600, 1) << "没有同意";
    QTest::newRow("DONT COM-PORT")
        << QByteArray("fffe2c") << LineReplies(9600, 1) << "不支持 RFC 2217";
    QTest::newRow("WONT BINARY") << agree + "fffc00" << LineReplies(9600, 1) << "二进制";
    QTest::newRow("parity confirmed as odd, none asked")
        << agree << LineReplies(9600, 2) << "不接受设置";
}

void tst_netlink::Rfc2217Open() {
    QFETCH(QByteArray, hello);
    QFETCH(QByteArray, confirm);
    QFETCH(QString, error);
    constexpr int kLateMs = 400;
    ScriptedServer server({{"", hello}, {"fffa2c04", confirm, kLateMs}});
    CMSComm comm;
    comm.SetDevice(1, server.Url());
    comm.SetSettings("9600N,8,2");
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticker.start(10);
    sinceTick.start();
    QString failure;
    try {
        comm.SetPortOpen(true);
    } catch (const CommError& e) {
        failure = QString::fromStdString(e.what());
    }
    longestGap = std::max(longestGap, sinceTick.elapsed());
    ticker.stop();
    if (error.isEmpty()) {
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(comm.GetPortOpen());
        QCOMPARE(comm.GetInBufferCount(), std::int16_t(0)); // the data ahead was stale
        QVERIFY2(longestGap < kLateMs / 2, qPrintable(QString::number(longestGap)));
    } else {
        QVERIFY2(failure.contains(error) && failure.startsWith("无法打开"), qPrintable(failure));
        QVERIFY(!comm.GetPortOpen());
    }
    comm.SetPortOpen(false);
    server.wait();
    // Line commands go out only to a server that agreed to the option.
    const bool agreed = hello == "fffd2c";
    QCOMPARE(server.got.toHex().contains("fffa2c01"), agreed);
}

// A server whose port holds bytes the meter sent before the purge: they come ahead of the
// purge's reply, and the request goes out only behind it, so none of them reaches the answer.
void tst_netlink::Rfc2217RequestWaitsForThePurgeReply() {
    ScriptedServer server({{"", "fffd2c"},
                           {"fffa2c04", LineReplies(9600, 1), 50},
                           {"fffa2c0c01fff0", "aabbcc"},
                           {"", "fffa2c7001fff0"},
                           {"01030006", "0103020007f986"}});
    CMSComm comm;
    comm.SetDevice(1, server.Url());
    comm.SetSettings("9600N,8,2");
    try {
        comm.SetPortOpen(true);
    } catch (const CommError& e) {
        QFAIL(e.what());
    }
    comm.SetInBufferCount(0);
    comm.SetOutput(Bytes("010300060001640b"));
    QVERIFY(comm.WaitForInput(2000));
    QTRY_COMPARE(comm.GetInBufferCount(), std::int16_t(7));
    QCOMPARE(HexOf(comm.GetInput()), QByteArray("0103020007f986"));
    comm.SetPortOpen(false);
}

// The same write out and its acknowledgement back, check bytes FF FF included, through a
// peer playing a transparent converter and one playing an RFC 2217 server.
void tst_netlink::RawAndRfc2217ThroughAPeer_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QByteArray>("opening"); // what the peer receives before the request
    QTest::addColumn<QByteArray>("sent");    // the request on the wire
    QTest::addColumn<QByteArray>("answer");  // what the peer sends back

    // "write 0x0008 = 0x00FF" to address 1 ends in check bytes that contain 0xFF.
    const QByteArray request = Hex(std::vector<std::uint8_t>(Bytes("0106000800ff")));
    QTest::newRow("tcp") << "tcp" << QByteArray() << QByteArray("0106000800ff09c8")
                         << QByteArray("0106000800ff09c8");
    QTest::newRow("rfc2217")
        << "rfc2217"
        << Hex(rfc2217::Greeting()) + Hex(rfc2217::LineCommands(9600, 8, 'N', 2)) +
               "fffa2c0c01fff0"
        << QByteArray("0106000800ffff09c8")
        << QByteArray("01 fffa2c6b00fff0 06000800ffff 09c8");
}

void tst_netlink::RawAndRfc2217ThroughAPeer() {
    QFETCH(QString, scheme);
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    Peer peer;
    CMSComm comm;
    comm.SetDevice(1, peer.Url(qPrintable(scheme)));
    comm.SetSettings("9600N,8,2");
    // The server confirms the settings as soon as it has them.
    std::unique_ptr<Greeter> greeter;
    if (scheme == QLatin1String("rfc2217")) {
        greeter = std::make_unique<Greeter>(int(peer.server.socketDescriptor()),
                                            "fffd2c" + LineReplies(9600, 1));
        peer.server.pauseAccepting();
        greeter->start();
    }
    try {
        comm.SetPortOpen(true);
    } catch (const CommError& e) {
        QFAIL(e.what());
    }
    QVERIFY(comm.GetPortOpen());
    if (greeter) {
        greeter->wait();
        QVERIFY(greeter->socket);
        greeter->socket->moveToThread(thread());
        greeter->socket->setParent(&peer.server); // goes with the peer, as accepted ones do
        peer.client = greeter->socket;
    }
    const std::vector<std::uint8_t> write = Bytes("0106000800ff09c8");
    VirtualClock clock;
    SteadyClock steady;
    CExchange x(comm, steady);
    std::copy(write.begin(), write.end(), x.m_bySendBuf.begin());
    x.SendOnly(8);
    const QByteArray wire = opening.replace(" ", "") + sent;
    QCOMPARE(peer.Got(wire.size() / 2).toHex(), wire);
    peer.Send(answer.replace(" ", ""));
    QVERIFY(comm.WaitForInput(2000));
    QTRY_COMPARE(comm.GetInBufferCount(), std::int16_t(8));
    QCOMPARE(HexOf(comm.GetInput()), QByteArray("0106000800ff09c8"));
}

void tst_netlink::ConnectFailureNamesHostPortAndReason_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("reason");
    // A port nothing listens on: taken from a server that is closed again.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 closed = probe.serverPort();
    probe.close();
    QTest::newRow("refused") << QStringLiteral("tcp://127.0.0.1:%1").arg(closed) << "连接被拒绝";
    QTest::newRow("unknown host") << "modbus-tcp://no-such-host.invalid" << "找不到主机";
}

void tst_netlink::ConnectFailureNamesHostPortAndReason() {
    QFETCH(QString, device);
    QFETCH(QString, reason);
    CMSComm comm;
    comm.SetDevice(1, device);
    QElapsedTimer t;
    t.start();
    // The event loop runs while the connect is under way: a timer set now fires meanwhile.
    bool served = false;
    QTimer::singleShot(0, [&] { served = true; });
    try {
        comm.SetPortOpen(true);
        QFAIL("connected");
    } catch (const CommError& e) {
        const QString text = QString::fromStdString(e.what());
        QVERIFY2(text.contains(device) && text.contains(reason) && text.startsWith("无法打开"),
                 e.what());
    }
    QVERIFY(t.elapsed() < NetPort::kConnectMs + 500);
    QVERIFY(served);
    QVERIFY(!comm.GetPortOpen());
}

void tst_netlink::PeerClosingIsALossThatReopens() {
    Peer peer;
    CMSComm comm;
    comm.SetDevice(1, peer.Url("tcp"));
    comm.SetPortOpen(true);
    QVERIFY(peer.Accepted());
    peer.client->close();
    QVERIFY(!comm.WaitForInput(2000));
    const QString lost = QString::fromStdString(comm.LostReason());
    QVERIFY2(lost.contains(peer.Url("tcp")) && lost.contains("已断开"), qPrintable(lost));
    QVERIFY(!comm.GetPortOpen());
    // A send on the lost connection drops the bytes without a word; the reopen connects again.
    comm.SetOutput(Bytes("01"));
    peer.client = nullptr;
    QVERIFY(comm.Reopen());
    QVERIFY(comm.LostReason().empty());
    QVERIFY(peer.Accepted());
    peer.server.close();
    peer.client->abort();
    QVERIFY(!comm.WaitForInput(2000));
    QVERIFY(!comm.LostReason().empty());
    // Nothing listens any more: the reopen fails and the outage goes on.
    QVERIFY(!comm.Reopen());
    QVERIFY(!comm.LostReason().empty());
}

void tst_netlink::FloodIsHeldToTheInputBound() {
    Peer peer;
    CMSComm comm;
    comm.SetDevice(1, peer.Url("tcp"));
    comm.SetPortOpen(true);
    QVERIFY(peer.Accepted());
    peer.client->write(QByteArray(256 * 1024, 'x'));
    QTest::qWait(200);
    QVERIFY(comm.WaitForInput(500));
    QVERIFY(comm.GetInBufferCount() <= 4096);
    QVERIFY(comm.GetInput().size() <= 4096);
    // A flush drops what is there; the flood goes on behind it, still bounded.
    comm.SetInBufferCount(0);
    QVERIFY(comm.GetInBufferCount() <= 4096);
}

// Lost over Modbus TCP, then pointed at a port whose device does not exist: the reopen drops
// the lost connection, and why the new port cannot be opened is the news.
void tst_netlink::LostConnectionGivesWayToTheNextPortsReason() {
    Peer peer;
    CMSComm comm;
    comm.SetDevice(1, peer.Url("modbus-tcp"));
    comm.SetPortOpen(true);
    QVERIFY(peer.Accepted());
    peer.client->close();
    QVERIFY(!comm.WaitForInput(2000));
    QVERIFY(!comm.LostReason().empty());
    QTemporaryDir dir;
    const QString absent = dir.filePath(QStringLiteral("absent"));
    comm.SetDevice(2, absent);
    comm.SetCommPort(2);
    QVERIFY(!comm.Reopen());
    QCOMPARE(QString::fromStdString(comm.LostReason()),
             QStringLiteral("无法打开串口 COM2（%1）：设备不存在").arg(absent));
    QCOMPARE(comm.GetTransport(), Transport::Serial);
}

// The first of a name's addresses swallows the connect: the next address gets its share of the
// limit and connects, instead of the first one taking all of it.
void tst_netlink::BlackHoledFirstAddressLeavesTheNextItsShare() {
    Peer peer;
    const BlackHole hole("127.0.0.2", peer.server.serverPort());
    if (!hole.swallows)
        QSKIP("this system answers every connect to 127.0.0.2");
    NetPort port(NetDevice{Transport::RawTcp, QStringLiteral("converter.lan"),
                           peer.server.serverPort()},
                 QStringLiteral("COM1"), LineSettings{}, "9600,N,8,1");
    constexpr int kBudgetMs = 800;
    QElapsedTimer t;
    t.start();
    port.ConnectTo({QHostAddress(QStringLiteral("127.0.0.2")), QHostAddress::LocalHost},
                   kBudgetMs);
    QVERIFY(port.GetPortOpen());
    QVERIFY(peer.Accepted());
    QVERIFY2(t.elapsed() < kBudgetMs, qPrintable(QString::number(t.elapsed())));
}

// Keep-alive probes do not run while a request is unacknowledged: the limit on unacknowledged
// data is what finds a peer that vanishes while polling, and it is the same budget.
void tst_netlink::UnacknowledgedDataIsBoundByTheKeepAliveBudget() {
    Peer peer;
    NetPort port(NetDevice{Transport::ModbusTcp, QStringLiteral("127.0.0.1"),
                           peer.server.serverPort()},
                 QStringLiteral("COM1"), LineSettings{}, "9600,N,8,1");
    port.Connect();
    QVERIFY(port.GetPortOpen());
    const int fd = static_cast<int>(port.Descriptor());
    unsigned userTimeout = 0;
    socklen_t len = sizeof userTimeout;
    QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, &len), 0);
    QCOMPARE(int(userTimeout), NetPort::kLossFoundMs);
}

QTEST_GUILESS_MAIN(tst_netlink)
#include "tst_netlink.moc"
