// Answer-complete waits over the network, against what the line and the loopback interface allow.
//
// 1. Through ser2net in front of metersim's pseudo-terminal (raw for tcp://, RFC 2217 for
//    rfc2217://), metersim with --line-timing at 9600 and 19200 bit/s: the wall time of a
//    parameter read (4 reads), a parameter write (4 writes) and one poll (2 reads) with fast
//    waits, against the floor the frames set on the wire plus one measured loopback round trip
//    per exchange. Twice: ser2net configured as the README shows (tcp(nodelay), chardelay
//    off), and with ser2net's defaults, whose floor also counts the chardelay ser2net waits
//    after the answer's last byte before it sends it on.
// 2. Modbus TCP to metersim --modbus-tcp (no line behind it): the wall time per exchange against
//    the loopback round trip, and the processor time the tool uses while polling with fast
//    waits on its 2 s timer.
//
//   bench_net [SECONDS]    SECONDS of polling for the processor figure (default 30)

#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "fakes/Ser2Net.h"
#include "modbus/Frame.h"
#include "port/MSComm.h"
#include "meter/MeterOps.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using md::bench::CpuSeconds;
using md::bench::Fail;
using md::bench::WallClock;

constexpr int kRounds = 5;
constexpr double kTurnaroundMs = 5; // metersim's default
constexpr int kRates[] = {9600, 19200};
constexpr int kUpper = 800, kLower = 50, kDecimal = 3, kParamBaudField = 2400;

double CharMs(int rate) {
    return 11'000.0 / rate; // start, 8 data, 2 stop bits
}
double ExchangeMs(int rate, int requestLen, int answerLen) {
    return (requestLen + answerLen) * CharMs(rate) + kTurnaroundMs;
}
double GapMs(int rate) {
    return 3.5 * CharMs(rate);
}
// ser2net's default chardelay: two characters at the port's rate, at least 1 ms, at most 20 ms.
double CharDelayMs(int rate) {
    return std::clamp(2 * CharMs(rate), 1.0, 20.0);
}

// The mean round trip of an 8-byte request and an 11-byte answer between two sockets on the
// loopback interface, in ms: what the network itself adds to an exchange here.
double LoopbackRoundTripMs() {
    constexpr int kTrips = 2000;
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        Fail(QStringLiteral("no loopback socket"));
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(client, reinterpret_cast<sockaddr*>(&a), len) != 0)
        Fail(QStringLiteral("no loopback connection"));
    const int server = accept(listener, nullptr, nullptr);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread echo([server] {
        char buf[64];
        for (int i = 0; i < kTrips; ++i) {
            if (read(server, buf, 8) != 8 || write(server, buf, 11) != 11)
                return;
        }
    });
    char buf[64] = {};
    const auto t0 = WallClock::now();
    for (int i = 0; i < kTrips; ++i)
        if (write(client, buf, 8) != 8 || read(client, buf, 11) != 11)
            Fail(QStringLiteral("loopback round trip failed"));
    const double ms = std::chrono::duration<double, std::milli>(WallClock::now() - t0).count();
    echo.join();
    close(client);
    close(server);
    close(listener);
    return ms / kTrips;
}

struct Operation {
    const char* name;
    int exchanges;
    std::function<double(int rate)> lineFloorMs;
    std::function<bool(md::ui::CMeterDebugDlg&)> run; // false when the meter was not heard
};

std::vector<Operation> Operations() {
    using md::ui::CMeterDebugDlg;
    const int read1 = md::ReadAnswerLen(1), read3 = md::ReadAnswerLen(3);
    const int request = md::kShortRequestLen, echo = md::kWriteAnswerLen;
    return {
        {"parameter read", 4,
         [=](int rate) { return 4 * ExchangeMs(rate, request, read1) + 3 * GapMs(rate); },
         [](CMeterDebugDlg& dlg) {
             dlg.m_nUpperLimit = dlg.m_nLowerLimit = dlg.m_nDecimalPoint = -1;
             dlg.m_nParamBaudRate = -1;
             dlg.OnReadParams();
             return dlg.m_nUpperLimit == kUpper && dlg.m_nLowerLimit == kLower &&
                    dlg.m_nDecimalPoint == kDecimal && dlg.m_nParamBaudRate == kParamBaudField;
         }},
        {"parameter write", 4,
         [=](int rate) { return 4 * ExchangeMs(rate, request, echo) + 3 * GapMs(rate); },
         [](CMeterDebugDlg& dlg) {
             const auto take = [] {
                 md::meter::ParamValues v;
                 v.decimalPoint = kDecimal;
                 v.upperLimit = kUpper;
                 v.lowerLimit = kLower;
                 v.baudRate = kParamBaudField;
                 return std::optional(v);
             };
             const auto result = md::meter::WriteParams(dlg.Link(), dlg.m_byMeterAddress, take);
             return result.outcome == md::meter::WriteOutcome::Confirmed;
         }},
        {"one poll", 2,
         [=](int rate) {
             return ExchangeMs(rate, request, read1) + GapMs(rate) +
                    ExchangeMs(rate, request, read3);
         },
         [](CMeterDebugDlg& dlg) {
             const int failures = dlg.m_nFailureCount;
             dlg.PollMeasurements();
             return dlg.m_nFailureCount == failures;
         }},
    };
}

double MeanMs(const Operation& op, md::ui::CMeterDebugDlg& dlg) {
    return md::bench::MeanMs(kRounds, [&] {
        if (!op.run(dlg))
            Fail(QStringLiteral("%1: the meter did not answer as it should").arg(op.name));
    });
}

// Shows dlg as the main window on port 1 at rate (address 1, no parity) until it is closed;
// started runs once the connection, which the window makes with its event loop running, is up.
void RunWindow(md::ui::CMeterDebugDlg& dlg, int rate, const std::function<void()>& started) {
    constexpr int kConnectMs = 5000, kCheckMs = 10;
    dlg.m_byMeterAddress = 1;
    dlg.m_nBaudRate = rate;
    dlg.m_nParity = 0;
    dlg.m_nCommPort = 1;
    QTimer check;
    check.setInterval(kCheckMs);
    const auto t0 = WallClock::now();
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (dlg.m_comm.GetPortOpen()) {
            check.stop();
            started();
        } else if (WallClock::now() - t0 > std::chrono::milliseconds(kConnectMs)) {
            Fail(QStringLiteral("the tool could not connect to the server"));
        }
    });
    check.start();
    dlg.DoModal();
}

// Runs body inside the main window opened on device at rate, fast waits on.
void InWindow(const QString& device, int rate,
              const std::function<void(md::ui::CMeterDebugDlg&)>& body) {
    md::CMSComm comm;
    comm.SetDevice(1, device);
    md::ui::CMeterDebugDlg dlg(nullptr, &comm);
    RunWindow(dlg, rate, [&] {
        dlg.Link().SetFastWaits(true);
        body(dlg);
        dlg.EndDialog(md::ui::IDCANCEL);
    });
}

QStringList MeterOptions() {
    return {QStringLiteral("--set"), QStringLiteral("upper=%1").arg(kUpper),
            QStringLiteral("--set"), QStringLiteral("lower=%1").arg(kLower),
            QStringLiteral("--set"), QStringLiteral("decimal=%1").arg(kDecimal),
            QStringLiteral("--set"), QStringLiteral("param-baud=1")};
}

void Start(md::MeterSim& sim) {
    if (!sim.Start())
        Fail(sim.Error());
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int pollSeconds = md::bench::CountArgument(argc, argv, 30, "[SECONDS]");
    md::bench::MeterSimProgram();
    if (md::Ser2Net::Program().isEmpty())
        Fail(QStringLiteral("ser2net is not installed (tools/setup installs it)"));

    const double rtt = LoopbackRoundTripMs();
    std::printf("loopback round trip (8 bytes out, 11 back): %.3f ms\n\n", rtt);
    const std::vector<Operation> ops = Operations();

    using Latency = md::Ser2Net::Latency;
    for (const Latency latency : {Latency::Prompt, Latency::Defaults}) {
        const bool prompt = latency == Latency::Prompt;
        std::printf("through ser2net %s, metersim --line-timing, fast waits; floor = wire + "
                    "turnaround + a round trip%s per exchange\n",
                    prompt ? "as the README configures it (tcp(nodelay), chardelay: false)"
                           : "with its defaults",
                    prompt ? "" : " + chardelay");
        std::printf("server  operation          rate    wall ms   floor ms    ratio\n");
        for (const auto mode : {md::Ser2Net::Mode::Raw, md::Ser2Net::Mode::Rfc2217}) {
            for (const int rate : kRates) {
                md::MeterSim sim(MeterOptions()
                                 << QStringLiteral("--line-timing") << QStringLiteral("--baud")
                                 << QString::number(rate));
                Start(sim);
                md::Ser2Net server(sim.LinkPath(), mode, QStringLiteral("%1n82").arg(rate),
                                   latency);
                if (!server.Start())
                    Fail(server.Error());
                InWindow(server.DeviceName(), rate, [&](md::ui::CMeterDebugDlg& dlg) {
                    for (const Operation& op : ops) {
                        const double wall = MeanMs(op, dlg);
                        const double perExchange = rtt + (prompt ? 0 : CharDelayMs(rate));
                        const double floor = op.lineFloorMs(rate) + op.exchanges * perExchange;
                        std::printf("%-7s %-16s %6d %10.1f %10.1f %8.3f\n",
                                    mode == md::Ser2Net::Mode::Raw ? "raw" : "rfc2217", op.name,
                                    rate, wall, floor, wall / floor);
                        std::fflush(stdout);
                    }
                });
            }
        }
        std::printf("\n");
    }

    std::printf("Modbus TCP to metersim --modbus-tcp, fast waits\n");
    std::printf("operation          exchanges  wall ms  ms/exchange  x round trip\n");
    md::MeterSim tcp(MeterOptions() << QStringLiteral("--modbus-tcp") << QStringLiteral("0"));
    Start(tcp);
    const QString device = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(tcp.Port());
    InWindow(device, 9600, [&](md::ui::CMeterDebugDlg& dlg) {
        for (const Operation& op : ops) {
            const double wall = MeanMs(op, dlg);
            std::printf("%-18s %9d %8.2f %12.3f %13.1f\n", op.name, op.exchanges, wall,
                        wall / op.exchanges, wall / op.exchanges / rtt);
            std::fflush(stdout);
        }
    });

    double cpu = 0, wall = 0;
    int polls = 0, failures = 0;
    {
        md::CMSComm comm;
        comm.SetDevice(1, device);
        md::ui::CMeterDebugDlg dlg(nullptr, &comm);
        RunWindow(dlg, 9600, [&] {
            dlg.Link().SetFastWaits(true);
            const int before = dlg.m_nSuccessCount + dlg.m_nFailureCount;
            const double cpu0 = CpuSeconds();
            const auto t0 = WallClock::now();
            dlg.OnReadMeasurements();
            QTimer::singleShot(pollSeconds * 1000, &dlg, [&, before, cpu0, t0] {
                dlg.OnStop();
                cpu = CpuSeconds() - cpu0;
                wall = std::chrono::duration<double>(WallClock::now() - t0).count();
                polls = dlg.m_nSuccessCount + dlg.m_nFailureCount - before;
                failures = dlg.m_nFailureCount;
                dlg.EndDialog(md::ui::IDCANCEL);
            });
        });
    }
    if (failures != 0)
        Fail(QStringLiteral("%1 polls unanswered").arg(failures));
    std::printf("polling over Modbus TCP with fast waits for %.0f s: %d polls, CPU %.3f s = %.2f %% "
                "of one core\n",
                wall, polls, cpu, 100.0 * cpu / wall);
    return 0;
}
