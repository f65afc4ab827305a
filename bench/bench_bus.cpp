// The bus window's cycle against the line's limit, over metersim playing several meters.
//
// 1. Eight meters on a pseudo-terminal, metersim with --line-timing at 9600 bit/s (every frame
//    takes its wire time, each meter a 5 ms turnaround), fast waits: the wall time of a cycle
//    against the physical floor, eight polls (decimal point, the pause, the currents) with the
//    3.5 characters of silence between one meter's last answer and the next one's request.
// 2. The meter at address 8 silent: each cycle should cost the all-answering cycle less that
//    meter's poll, plus one wait for its unanswered request, and no more; and once it is rested
//    after three missed cycles, the cycle without it.
// 3. The same eight meters over Modbus TCP to metersim --modbus-tcp (no line behind it): the
//    cycle against eight of the main window's own polls back to back on the same connection,
//    each set after the same rest as the cycles (medians; below a millisecond the machine's
//    noise shows).
// 4. Thirty-two meters on the line for SECONDS, polled on the window's own timer (2 s): the
//    processor time of the process between cycles, and its resident memory after the first
//    minute (a quarter of the run, when shorter), halfway and at the end.
//
//   bench_bus [SECONDS]    SECONDS of polling 32 meters (default 60, or $BENCH_BUS_SECONDS;
//                          BENCH_BUS_SECONDS=600 gives the ten-minute run)

#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "meter/MeterOps.h"
#include "modbus/Frame.h"
#include "port/MSComm.h"
#include "trace/TraceFanOut.h"
#include "ui/BusDlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <span>
#include <thread>

namespace {

using md::bench::CpuSeconds;
using md::bench::Fail;
using md::bench::ResidentMiB;
using md::bench::WallClock;
using md::ui::BusWindow;

constexpr int kRate = 9600;
constexpr int kMeters = 8, kManyMeters = 32;
constexpr int kRounds = 5;
// A cycle over the loopback interface is under a millisecond: more rounds, and the median.
constexpr int kTcpRounds = 11;
constexpr double kTurnaroundMs = 5; // metersim's default

double CharMs(int rate) {
    return 11'000.0 / rate; // start, 8 data, 2 stop bits
}
double ExchangeMs(int rate, int requestLen, int answerLen) {
    return (requestLen + answerLen) * CharMs(rate) + kTurnaroundMs;
}
double GapMs(int rate) {
    return 3.5 * CharMs(rate);
}
// One meter's poll on the wire: the decimal point read, the pause, the currents read.
double PollFloorMs(int rate) {
    const int request = md::kShortRequestLen;
    return ExchangeMs(rate, request, md::ReadAnswerLen(1)) + GapMs(rate) +
           ExchangeMs(rate, request, md::ReadAnswerLen(3));
}
double CycleFloorMs(int rate, int meters) {
    return meters * PollFloorMs(rate) + (meters - 1) * GapMs(rate);
}

double Ms(WallClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Shows the main window on device until body returns; body runs once the port is open (a
// network device connects with the window's event loop running).
void InWindow(md::MeterSim& sim, const QString& device,
              const std::function<void(md::ui::CMeterDebugDlg&)>& body) {
    md::CMSComm comm;
    if (device.isEmpty())
        sim.PointComAt(comm, 1);
    else
        comm.SetDevice(1, device);
    md::ui::CMeterDebugDlg dlg(nullptr, &comm);
    dlg.m_byMeterAddress = 1;
    dlg.m_nBaudRate = kRate;
    dlg.m_nParity = 0;
    dlg.m_nCommPort = 1;
    QTimer check;
    check.setInterval(10);
    const auto t0 = WallClock::now();
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (dlg.m_comm.GetPortOpen()) {
            check.stop();
            dlg.Link().SetFastWaits(true);
            body(dlg);
            dlg.EndDialog(md::ui::IDCANCEL);
        } else if (WallClock::now() - t0 > std::chrono::seconds(5)) {
            Fail(QStringLiteral("the tool could not open %1").arg(device));
        }
    });
    check.start();
    dlg.DoModal();
}

// The bus window on the main window's line, polling the given addresses (not yet started).
BusWindow& OpenBus(md::ui::CMeterDebugDlg& dlg, const QString& addresses, int intervalSeconds) {
    BusWindow* bus = dlg.ShowBus();
    bus->AddressEdit()->setText(addresses);
    bus->IntervalBox()->setValue(intervalSeconds);
    return *bus;
}

// Wall times of the next rounds cycles, each from the step that begins it to the step that
// ends it, stepping the window as its timer would; it rests between cycles as long as the
// window asks. Run from one callback, the window's own timer does not step it meanwhile.
std::vector<double> CyclesMs(BusWindow& bus, int rounds) {
    std::vector<double> times;
    while (static_cast<int>(times.size()) < rounds) {
        const auto t0 = WallClock::now();
        const std::uint32_t wait = bus.Step();
        if (!bus.Running())
            Fail(QStringLiteral("the bus polling stopped"));
        if (!bus.Poller()->InCycle()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            continue;
        }
        while (bus.Poller()->InCycle())
            bus.Step();
        times.push_back(Ms(WallClock::now() - t0));
    }
    return times;
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v)
        sum += x;
    return sum / static_cast<double>(v.size());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Every meter of the bus answered every poll it was given.
void CheckAllAnswered(const BusWindow& bus, std::uint8_t except = 0) {
    for (const auto& m : bus.Poller()->Meters())
        if (m.address != except && m.failureCount != 0)
            Fail(QStringLiteral("the meter at %1 missed %2 polls")
                     .arg(m.address)
                     .arg(m.failureCount));
}

// Adds up the processor and wall time from each cycle's end to the next request sent.
class IdleMeter final : public md::TraceSink {
public:
    explicit IdleMeter(md::TraceFanOut& trace) : m_trace(trace) { m_trace.Add(*this); }
    ~IdleMeter() override { m_trace.Remove(*this); }

    void CycleEnded() {
        if (m_between)
            return;
        m_between = true;
        m_cpu0 = CpuSeconds();
        m_t0 = WallClock::now();
    }
    void Sent(std::span<const std::uint8_t>, bool) override {
        if (!m_between)
            return;
        m_between = false;
        cpu += CpuSeconds() - m_cpu0;
        wall += std::chrono::duration<double>(WallClock::now() - m_t0).count();
    }
    void Received(std::span<const std::uint8_t>, const md::AnswerWanted&,
                  const md::AnswerSearch&) override {}
    void Dropped(std::span<const std::uint8_t>, md::DropReason) override {}

    double cpu = 0, wall = 0;

private:
    md::TraceFanOut& m_trace;
    bool m_between = false;
    double m_cpu0 = 0;
    WallClock::time_point m_t0;
};

QString Range(int meters) {
    return QStringLiteral("1-%1").arg(meters);
}

int PollSeconds(int argc, char** argv) {
    bool ok = false;
    const int fromEnv = qEnvironmentVariableIntValue("BENCH_BUS_SECONDS", &ok);
    return md::bench::CountArgument(argc, argv, ok && fromEnv > 0 ? fromEnv : 60, "[SECONDS]");
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int pollSeconds = PollSeconds(argc, argv);
    // Each figure as it is taken, also into a file: the long run takes minutes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    md::bench::MeterSimProgram();

    const double pollFloor = PollFloorMs(kRate);
    const double floor = CycleFloorMs(kRate, kMeters);
    std::printf("%d meters, metersim --line-timing at %d bit/s, fast waits; floor = %d polls on "
                "the wire (%.1f ms each) + the silence between meters\n",
                kMeters, kRate, kMeters, pollFloor);
    std::printf("case                       cycle ms   floor ms    ratio\n");
    {
        md::MeterSim sim(
            {QStringLiteral("--line-timing"), QStringLiteral("--address"), Range(kMeters)});
        if (!sim.Start())
            Fail(sim.Error());
        InWindow(sim, {}, [&](md::ui::CMeterDebugDlg& dlg) {
            BusWindow& bus = OpenBus(dlg, Range(kMeters), 1);
            if (!bus.Start())
                Fail(QStringLiteral("the bus window refused its addresses"));
            const double cycle = Mean(CyclesMs(bus, kRounds));
            CheckAllAnswered(bus);
            std::printf("%-24s %10.1f %10.1f %8.3f\n", "all answering", cycle, floor,
                        cycle / floor);

            if (!sim.Fault(QStringLiteral("silent"), kMeters))
                Fail(QStringLiteral("metersim refused the fault"));
            // Missed cycles before the meter is rested; each costs its one wait.
            const double silent = Mean(CyclesMs(bus, md::meter::kBusMissesBeforeRest));
            // The wait runs from the request handed to the port, its time on the wire included.
            const double wait = md::meter::kReadWaitMs;
            const double expected = cycle - pollFloor + wait;
            std::printf("%-24s %10.1f %10.1f %8.3f   (all answering - one poll + one wait of "
                        "%.0f ms)\n",
                        "one of 8 silent", silent, expected, silent / expected, wait);
            const double rested = Mean(CyclesMs(bus, 2));
            const double without = cycle - pollFloor - GapMs(kRate);
            std::printf("%-24s %10.1f %10.1f %8.3f   (all answering - one poll)\n",
                        "the silent one rested", rested, without, rested / without);
            CheckAllAnswered(bus, kMeters);
            bus.Stop();
        });
    }

    std::printf("\n%d meters over Modbus TCP to metersim --modbus-tcp, fast waits; floor = %d of "
                "the main window's polls back to back\n",
                kMeters, kMeters);
    std::printf("case                       cycle ms   floor ms    ratio\n");
    {
        md::MeterSim sim({QStringLiteral("--modbus-tcp"), QStringLiteral("0"),
                          QStringLiteral("--address"), Range(kMeters)});
        if (!sim.Start())
            Fail(sim.Error());
        const QString device = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(sim.Port());
        InWindow(sim, device, [&](md::ui::CMeterDebugDlg& dlg) {
            // Eight polls after the same rest the bus window takes between cycles, so that
            // both start from an idle process.
            std::vector<double> sets;
            for (int round = 0; round < kTcpRounds; ++round) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                const auto t0 = WallClock::now();
                for (int i = 0; i < kMeters; ++i)
                    dlg.PollMeasurements();
                sets.push_back(Ms(WallClock::now() - t0));
            }
            if (dlg.m_nFailureCount != 0)
                Fail(QStringLiteral("the main window's polls went unanswered"));
            BusWindow& bus = OpenBus(dlg, Range(kMeters), 1);
            if (!bus.Start())
                Fail(QStringLiteral("the bus window refused its addresses"));
            const std::vector<double> cycles = CyclesMs(bus, kTcpRounds);
            CheckAllAnswered(bus);
            bus.Stop();
            const double tcpFloor = Median(sets), cycle = Median(cycles);
            std::printf("%-24s %10.2f %10.2f %8.3f\n", "all answering", cycle, tcpFloor,
                        cycle / tcpFloor);
        });
    }

    std::printf("\n%d meters, metersim --line-timing at %d bit/s, fast waits, polled every "
                "%u s for %d s\n",
                kManyMeters, kRate, md::meter::kBusIntervalDefaultMs / 1000, pollSeconds);
    md::MeterSim sim(
        {QStringLiteral("--line-timing"), QStringLiteral("--address"), Range(kManyMeters)});
    if (!sim.Start())
        Fail(sim.Error());
    InWindow(sim, {}, [&](md::ui::CMeterDebugDlg& dlg) {
        BusWindow& bus = OpenBus(dlg, Range(kManyMeters),
                                 static_cast<int>(md::meter::kBusIntervalDefaultMs / 1000));
        // The processor time between cycles: from a cycle's end, seen by a check between the
        // window's steps, to the next cycle's first request, heard on the trace.
        IdleMeter idle(dlg.Trace());
        double rssEarly = 0, rssEarlyAt = 0, rssHalf = 0, rssHalfAt = 0;
        const double earlySeconds = std::min(60.0, pollSeconds / 4.0);
        const auto t0 = WallClock::now();
        const double cpu0 = CpuSeconds();
        QTimer check;
        check.setInterval(50);
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!bus.Running() || bus.Poller()->InCycle() || bus.Poller()->Cycles() == 0)
                return;
            idle.CycleEnded();
            const double at = std::chrono::duration<double>(WallClock::now() - t0).count();
            if (rssEarly == 0 && at >= earlySeconds) {
                rssEarly = ResidentMiB();
                rssEarlyAt = at;
            }
            if (rssHalf == 0 && at >= pollSeconds / 2.0 && at > rssEarlyAt) {
                rssHalf = ResidentMiB();
                rssHalfAt = at;
            }
        });
        QEventLoop loop;
        QTimer::singleShot(pollSeconds * 1000, &loop, &QEventLoop::quit);
        if (!bus.Start())
            Fail(QStringLiteral("the bus window refused its addresses"));
        check.start();
        loop.exec();
        check.stop();
        const double wall = std::chrono::duration<double>(WallClock::now() - t0).count();
        const double cpu = CpuSeconds() - cpu0;
        if (rssEarly == 0)
            Fail(QStringLiteral("no cycle ended in %1 s").arg(pollSeconds));
        const auto cycles = bus.Poller()->Cycles();
        CheckAllAnswered(bus);
        bus.Stop();
        std::printf("%llu cycles; CPU between cycles %.3f s in %.1f s = %.2f %% of one core; "
                    "overall %.2f %%\n",
                    static_cast<unsigned long long>(cycles), idle.cpu, idle.wall,
                    idle.wall > 0 ? 100.0 * idle.cpu / idle.wall : 0.0, 100.0 * cpu / wall);
        std::printf("resident memory %.1f MiB at %.0f s, %.1f MiB at %.0f s, %.1f MiB at %.0f s\n",
                    rssEarly, rssEarlyAt, rssHalf, rssHalfAt, ResidentMiB(), wall);
    });
    return 0;
}
