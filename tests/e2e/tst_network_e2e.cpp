// The meter behind the network: the window and the scan over each network device name, with
// the real peers in front of metersim: ser2net (raw for tcp://, RFC 2217 for rfc2217://) on its
// pseudo-terminal, and metersim's own Modbus TCP server (libmodbus) for modbus-tcp://.

#include "fakes/MainWindowRig.h"
#include "fakes/ProcessFigures.h"
#include "fakes/Ser2Net.h"

#include "port/NetPort.h"
#include "trace/TraceWriter.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <QScopeGuard>

#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace md;
using md::ui::CDialog;

namespace {

// metersim with the transport's server in front of it; the device name the tool opens.
struct Meter {
    explicit Meter(Transport t, QStringList options = {}, int port = 0) : transport(t) {
        if (t == Transport::ModbusTcp)
            options << QStringLiteral("--modbus-tcp") << QString::number(port);
        sim = std::make_unique<MeterSim>(options);
    }
    // Starts metersim and, for a serial device server, ser2net; false with error.
    bool Start(QString& error) {
        if (!sim->Start()) {
            error = sim->Error();
            return false;
        }
        if (transport == Transport::ModbusTcp)
            return true;
        server = std::make_unique<Ser2Net>(
            sim->LinkPath(), transport == Transport::RawTcp ? Ser2Net::Mode::Raw : Ser2Net::Mode::Rfc2217);
        if (!server->Start()) {
            error = server->Error();
            return false;
        }
        return true;
    }
    QString Device() const {
        return server ? server->DeviceName()
                      : QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(sim->Port());
    }

    Transport transport;
    std::unique_ptr<MeterSim> sim;
    std::unique_ptr<Ser2Net> server;
};

#define START(meter)                                                                               \
    do {                                                                                           \
        if (meter.transport != Transport::ModbusTcp && Ser2Net::Program().isEmpty())               \
            QSKIP("ser2net is not installed (tools/setup installs it)");                           \
        QString error_;                                                                            \
        QVERIFY2(meter.Start(error_), qPrintable(error_));                                         \
    } while (false)

// Puts the loopback interface of this thread's network namespace up or down. Down, every
// packet on it is lost without a word: no FIN, no reset, as when a gateway drops off the net.
bool SetLoopback(bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool done = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (done) {
        request.ifr_flags =
            static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
        done = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (fd >= 0)
        ::close(fd);
    return done;
}

// The window on the meter's network device at 9600 bit/s, no parity, address 1.
struct Window : MainWindowRig {
    explicit Window(const Meter& m, std::uint8_t address = 1) : MainWindowRig(*m.sim, address) {
        comm.SetDevice(1, m.Device());
    }
};

int Count(const Window& w, int id) {
    return w.Text(id).toInt();
}

// Sends request to 127.0.0.1:port and returns what comes back within 300 ms; with plain
// sockets, so that the test needs none of the tool's network code.
QByteArray Exchange(int port, const QByteArray& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray got;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        write(fd, request.data(), std::size_t(request.size())) == request.size()) {
        const QDeadlineTimer deadline(300);
        pollfd p{fd, POLLIN, 0};
        char chunk[512];
        while (poll(&p, 1, int(deadline.remainingTime())) > 0) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.append(chunk, n);
        }
    }
    close(fd);
    return got;
}

const QStringList kSet = {"--set", "upper=800", "--set", "lower=50", "--set", "decimal=3"};

} // namespace

class TestNetworkE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void MeterSimServesModbusTcp_data();
    void MeterSimServesModbusTcp();
    void ReadWriteAndPollOverEachTransport_data();
    void ReadWriteAndPollOverEachTransport();
    void RateChangeReachesTheServersPort();
    void ScanFindsTheMeterBehindTheServer();
    void GatewayExceptionIsAFailureNamedInTheTrace();
    void ServerLostWhilePollingIsOneBoxAndRecovers_data();
    void ServerLostWhilePollingIsOneBoxAndRecovers();
    void ConnectToNothingFailsWithinThreeSeconds();
    void GatewayThatVanishesWhilePollingIsFoundWithinTheBudget();
    void Rfc2217PollCostsWhatARawOneCosts();
};

// metersim's Modbus TCP server on its own, with a plain socket: what the tool's client is
// tested against.
void TestNetworkE2e::MeterSimServesModbusTcp_data() {
    QTest::addColumn<QString>("fault"); // console fault, or empty
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // hex; empty: none within 300 ms

    const QByteArray readClock = "1234 0000 0006 01 03 0110 0003";
    QTest::newRow("read: same transaction, unit and layout")
        << QString() << readClock << QByteArray("1234 0000 0009 01 03 06 1e2d 0f0a 060b");
    QTest::newRow("another unit is not answered")
        << QString() << QByteArray("1234 0000 0006 02 03 0110 0003") << QByteArray();
    QTest::newRow("protocol 1 is refused")
        << QString() << QByteArray("1234 0001 0006 01 03 0110 0003") << QByteArray();
    QTest::newRow("a length that is not the frame's is refused")
        << QString() << QByteArray("1234 0000 0007 01 03 0110 0003") << QByteArray();
    QTest::newRow("gateway: target failed to respond")
        << "gateway-target" << readClock << QByteArray("1234 0000 0003 01 83 0b");
    QTest::newRow("gateway: path unavailable")
        << "gateway-path" << readClock << QByteArray("1234 0000 0003 01 83 0a");
    QTest::newRow("bad-crc spoils the transaction")
        << "bad-crc" << readClock << QByteArray("12cb 0000 0009 01 03 06 1e2d 0f0a 060b");
    QTest::newRow("wrong-address: the next unit")
        << "wrong-address" << readClock << QByteArray("1234 0000 0009 02 03 06 1e2d 0f0a 060b");
    QTest::newRow("write: echoed, and the meter takes it")
        << QString() << QByteArray("0001 0000 0006 01 06 0002 0005")
        << QByteArray("0001 0000 0006 01 06 0002 0005");
}

void TestNetworkE2e::MeterSimServesModbusTcp() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    Meter m(Transport::ModbusTcp, {"--clock", "2006-11-15 10:30:45"});
    START(m);
    if (!fault.isEmpty())
        QVERIFY(m.sim->Fault(fault + QStringLiteral(" once")));

    const QByteArray got = Exchange(m.sim->Port(), QByteArray::fromHex(request));
    QCOMPARE(got.toHex(), QByteArray::fromHex(answer).toHex());
    if (request.contains("01 06 0002"))
        QCOMPARE(m.sim->Get(QStringLiteral("wiring")), std::optional<int>(5));
}

void TestNetworkE2e::ReadWriteAndPollOverEachTransport_data() {
    QTest::addColumn<Transport>("transport");
    QTest::newRow("tcp:// through ser2net raw") << Transport::RawTcp;
    QTest::newRow("rfc2217:// through ser2net") << Transport::Rfc2217;
    QTest::newRow("modbus-tcp:// to metersim") << Transport::ModbusTcp;
}

// With answer-complete waits: the parameters read, written back changed, then two polls.
void TestNetworkE2e::ReadWriteAndPollOverEachTransport() {
    QFETCH(Transport, transport);
    Meter m(transport, kSet);
    START(m);
    Window w(m);
    w.Run([&] {
        w.dlg.Link().SetFastWaits(true);
        w.Click(1023);
        QCOMPARE(w.Text(1059), QStringLiteral("800"));
        QCOMPARE(w.Text(1060), QStringLiteral("50"));
        QCOMPARE(w.Text(1052), QStringLiteral("3"));
        w.Type(1059, QStringLiteral("700"));
        w.Click(1024);
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 2, 8000);
        w.Click(1064);
    });
    QCOMPARE(m.sim->Get(QStringLiteral("upper")), std::optional<int>(700));
    QCOMPARE(Count(w, 1070), 0);
    QCOMPARE(w.modal.Boxes().size(), 1); // the write's own confirmation
}

// 通讯设置 to 19200: the meter is asked at 9600, then the server's port follows, which metersim
// reads off its pseudo-terminal: a poll at the new rate is answered.
void TestNetworkE2e::RateChangeReachesTheServersPort() {
    Meter m(Transport::Rfc2217, {"--trace"});
    START(m);
    Window w(m);
    int polled = 0;
    w.Run([&] {
        w.modal.Answer([](QWidget* d) {
            auto* dlg = qobject_cast<CDialog*>(d);
            dlg->Button(1015)->click();
            dlg->Button(ui::IDOK)->click();
        });
        w.Click(1004);
        const int before = w.dlg.m_nSuccessCount;
        w.dlg.PollMeasurements();
        polled = w.dlg.m_nSuccessCount - before;
    });
    QCOMPARE(w.modal.Boxes(), QStringList{});
    QCOMPARE(m.sim->Get(QStringLiteral("link-baud")), std::optional<int>(4));
    QCOMPARE(w.dlg.m_nBaudRate, 19200);
    QCOMPARE(polled, 1);
    QVERIFY2(!m.sim->Trace().join('\n').contains(QStringLiteral("not heard")),
             qPrintable(m.sim->Trace().join('\n')));
}

// The scan sets each rate and parity on the server's port (set at 9600 without parity); only
// 2400 odd reaches the meter. One rate only: ser2net, as serial drivers do, turns parity off by
// its enable flag alone, and a pseudo-terminal keeps only the odd flag, so metersim would take
// a rate tried at none after one tried at odd for odd.
void TestNetworkE2e::ScanFindsTheMeterBehindTheServer() {
    Meter m(Transport::Rfc2217, {"--baud", "2400", "--parity", "O", "--address", "200"});
    START(m);
    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"),
               {"--scan", "--com1", m.Device(), "--scan-rates", "2400", "--scan-addresses",
                "199-201", "--scan-window", "20"});
    QVERIFY2(tool.waitForFinished(60'000), "the scan did not end");
    const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
    QCOMPARE(tool.exitCode(), 0);
    static const QRegularExpression line(
        QStringLiteral("^address 200  2400 bit/s  parity odd  answers in \\d+ ms\n$"));
    QVERIFY2(line.match(out).hasMatch(),
             qPrintable(out + QString::fromLocal8Bit(tool.readAllStandardError())));
}

// A gateway whose meter did not answer says so (0x0B): one failure, named in the trace, and
// the next poll is answered.
void TestNetworkE2e::GatewayExceptionIsAFailureNamedInTheTrace() {
    Meter m(Transport::ModbusTcp);
    START(m);
    QTemporaryDir dir;
    const QString tracePath = dir.filePath(QStringLiteral("trace.txt"));
    std::string error;
    const auto trace = TraceWriter::Open(tracePath.toStdString(), error);
    QVERIFY2(trace, error.c_str());
    Window w(m);
    w.dlg.Link().SetTrace(*trace);
    w.Run([&] {
        w.dlg.Link().SetFastWaits(true);
        QVERIFY(m.sim->Fault(QStringLiteral("gateway-target")));
        w.dlg.PollMeasurements();
        QVERIFY(m.sim->Fault(QStringLiteral("off")));
        w.dlg.PollMeasurements();
    });
    QCOMPARE(w.dlg.m_nFailureCount, 1);
    QCOMPARE(w.dlg.m_nSuccessCount, 1);
    QFile file(tracePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.contains(QStringLiteral("exception 0x0B")), qPrintable(text));
}

void TestNetworkE2e::ServerLostWhilePollingIsOneBoxAndRecovers_data() {
    QTest::addColumn<Transport>("transport");
    QTest::newRow("ser2net killed") << Transport::RawTcp;
    QTest::newRow("Modbus TCP server ended") << Transport::ModbusTcp;
}

// The server goes while the window polls: one box naming the device, a failure a tick and no
// spin; polling answers again once the server is back on the same port.
void TestNetworkE2e::ServerLostWhilePollingIsOneBoxAndRecovers() {
    QFETCH(Transport, transport);
    Meter m(transport);
    START(m);
    const QString device = m.Device();
    Window w(m);
    std::unique_ptr<Meter> again;
    double used = 0;
    int successes = 0, failures = 0, failuresAfter = 0;
    w.Run([&] {
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 1, 6000);
        if (m.server)
            m.server->Kill();
        else
            QVERIFY(m.sim->Stop());
        successes = Count(w, 1069);
        failures = Count(w, 1070);
        const double cpu = CpuSeconds();
        QTest::qWait(5000);
        used = CpuSeconds() - cpu;
        failuresAfter = Count(w, 1070);
        QCOMPARE(Count(w, 1069), successes);
        if (m.server) {
            QVERIFY2(m.server->Start(), qPrintable(m.server->Error()));
        } else {
            again = std::make_unique<Meter>(Transport::ModbusTcp, QStringList{},
                                            QUrl(device).port());
            START((*again));
        }
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) > successes, 8000);
        w.Click(1064);
    });
    QVERIFY2(used < 0.1, qPrintable(QStringLiteral("%1 s of CPU in 5 s").arg(used)));
    QVERIFY2(failuresAfter >= failures + 2, qPrintable(QString::number(failuresAfter)));
    QCOMPARE(w.modal.Boxes().size(), 1);
    QVERIFY2(w.modal.Boxes()[0].contains(QUrl(device).host()) &&
                 w.modal.Boxes()[0].contains(QString::number(QUrl(device).port())),
             qPrintable(w.modal.Boxes()[0]));
}

// Nothing listens: the box names host and port within 3 s, and the window's event loop keeps
// turning meanwhile (no gap over 100 ms).
void TestNetworkE2e::ConnectToNothingFailsWithinThreeSeconds() {
    const int port = Ser2Net::FreePort();
    QVERIFY(port > 0);
    MeterSim unused;
    MainWindowRig w(unused);
    w.comm.SetDevice(1, QStringLiteral("tcp://127.0.0.1:%1").arg(port));
    QElapsedTimer elapsed, sinceTick;
    qint64 boxAfter = -1, longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
    });
    w.modal.AnswerBox([&](QWidget* box) {
        boxAfter = elapsed.elapsed();
        ModalHelper::PressEnter(box);
    });
    elapsed.start();
    sinceTick.start();
    ticker.start();
    w.Run([&] { QTRY_VERIFY_WITH_TIMEOUT(boxAfter >= 0, 5000); });
    QVERIFY2(boxAfter >= 0 && boxAfter < 3000, qPrintable(QString::number(boxAfter)));
    QVERIFY2(longestGap < 100, qPrintable(QStringLiteral("%1 ms without events").arg(longestGap)));
    QCOMPARE(w.modal.Boxes().size(), 1);
    QVERIFY2(w.modal.Boxes()[0].contains(QStringLiteral("127.0.0.1")) &&
                 w.modal.Boxes()[0].contains(QString::number(port)),
             qPrintable(w.modal.Boxes()[0]));
}

// The gateway drops off the network while the window polls (the loopback of a network
// namespace of the test's own goes down): nothing says so, and every poll leaves a request
// unacknowledged, so keep-alive alone would never probe. The loss is reported within the
// keep-alive budget all the same.
void TestNetworkE2e::GatewayThatVanishesWhilePollingIsFoundWithinTheBudget() {
    const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home < 0 || ::unshare(CLONE_NEWNET) != 0) {
        if (home >= 0)
            ::close(home);
        QSKIP("no network namespace of its own here (it takes root)");
    }
    const auto back = qScopeGuard([home] {
        ::setns(home, CLONE_NEWNET);
        ::close(home);
    });
    QVERIFY(SetLoopback(true));
    Meter m(Transport::ModbusTcp);
    START(m);
    Window w(m);
    qint64 lostAfter = -1;
    QElapsedTimer elapsed;
    w.modal.AnswerBox([&](QWidget* box) {
        lostAfter = elapsed.elapsed();
        ModalHelper::PressEnter(box);
    });
    w.Run([&] {
        w.Click(1065);
        QTRY_VERIFY_WITH_TIMEOUT(Count(w, 1069) >= 1, 6000);
        QVERIFY(SetLoopback(false));
        elapsed.start();
        QTRY_VERIFY_WITH_TIMEOUT(lostAfter >= 0, NetPort::kLossFoundMs + 15000);
        w.Click(1064);
    });
    // The system gives up kLossFoundMs after the first request left unacknowledged, which is
    // up to a poll after the loopback went; the window then reports at its next tick, after
    // one reopen attempt. Without the limit the system would retransmit for many minutes.
    QVERIFY2(lostAfter <= NetPort::kLossFoundMs + 10000, qPrintable(QString::number(lostAfter)));
    QCOMPARE(w.modal.Boxes().size(), 1);
}

// Through ser2net with its defaults (Nagle's algorithm on): a poll over RFC 2217 costs what the
// same poll costs raw, within a few ms. A purge reply left unacknowledged made ser2net hold the
// meter's answer until the next delayed acknowledgement, some 20 ms an exchange. Medians of
// several polls, so that a busy machine's odd slow one does not decide.
void TestNetworkE2e::Rfc2217PollCostsWhatARawOneCosts() {
    constexpr int kPolls = 9;
    double median[2] = {};
    for (const Transport t : {Transport::RawTcp, Transport::Rfc2217}) {
        Meter m(t);
        START(m);
        Window w(m);
        std::vector<double> ms;
        w.Run([&] {
            w.dlg.Link().SetFastWaits(true);
            w.dlg.PollMeasurements(); // the connection's first exchange is not counted
            for (int i = 0; i < kPolls; ++i) {
                QElapsedTimer timer;
                timer.start();
                w.dlg.PollMeasurements();
                ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            }
        });
        QCOMPARE(w.dlg.m_nFailureCount, 0);
        std::sort(ms.begin(), ms.end());
        median[t == Transport::Rfc2217] = ms[kPolls / 2];
    }
    QVERIFY2(median[1] < median[0] + 5,
             qPrintable(QStringLiteral("raw %1 ms, RFC 2217 %2 ms").arg(median[0]).arg(median[1])));
}

QTEST_MAIN(TestNetworkE2e)
#include "tst_network_e2e.moc"
