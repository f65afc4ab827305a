// Answer-complete waits against the line's physical limit. Over a real pseudo-terminal to
// metersim with --line-timing (every frame takes its wire time, the meter a 5 ms turnaround),
// at 9600 and 19200 bit/s: the wall time of a parameter read (4 reads), a parameter write
// (4 writes with their echoes) and one poll (decimal point, then the currents), with fast waits
// against the floor the frames themselves set, and with the fixed waits against theirs. Then the
// processor time the tool uses while polling with fast waits on its 2 s timer.
//
//   bench_fast [SECONDS]    SECONDS of polling for the processor figure (default 60)

#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "modbus/Frame.h"
#include "port/MSComm.h"
#include "meter/MeterOps.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

using md::bench::CpuSeconds;
using md::bench::Fail;
using md::bench::WallClock;

constexpr int kRounds = 5;
constexpr double kTurnaroundMs = 5; // metersim's default
constexpr int kRates[] = {9600, 19200};

// What the meter holds, so that every read can be checked.
constexpr int kUpper = 800, kLower = 50, kDecimal = 3, kParamBaudField = 2400;

// Milliseconds one character (start, 8 data, 2 stop bits) takes on the wire.
double CharMs(int rate) {
    return 11'000.0 / rate;
}

// One exchange on the wire: the request, the meter's turnaround, the answer.
double ExchangeMs(int rate, int requestLen, int answerLen) {
    return (requestLen + answerLen) * CharMs(rate) + kTurnaroundMs;
}

// The 3.5 characters of silence between two frames, exactly (the tool sleeps it rounded up
// to the microsecond).
double GapMs(int rate) {
    return 3.5 * CharMs(rate);
}

struct Operation {
    const char* name;
    double fixedFloorMs; // the fixed waits it is built from
    std::function<double(int rate)> physicalFloorMs;
    std::function<bool(md::ui::CMeterDebugDlg&)> run; // false when the meter was not heard
};

std::vector<Operation> Operations() {
    using md::ui::CMeterDebugDlg;
    const int read1 = md::ReadAnswerLen(1), read3 = md::ReadAnswerLen(3);
    const int request = md::kShortRequestLen, echo = md::kWriteAnswerLen;
    return {
        {"parameter read", 4 * 600.0,
         [=](int rate) { return 4 * ExchangeMs(rate, request, read1) + 3 * GapMs(rate); },
         [](CMeterDebugDlg& dlg) {
             dlg.m_nUpperLimit = dlg.m_nLowerLimit = dlg.m_nDecimalPoint = -1;
             dlg.m_nParamBaudRate = -1;
             dlg.OnReadParams();
             return dlg.m_nUpperLimit == kUpper && dlg.m_nLowerLimit == kLower &&
                    dlg.m_nDecimalPoint == kDecimal && dlg.m_nParamBaudRate == kParamBaudField;
         }},
        {"parameter write", 4 * 300.0,
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
        {"one poll", 600.0 + 300.0 + 600.0,
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

// Mean wall time of kRounds runs, in ms.
double MeanMs(const Operation& op, md::ui::CMeterDebugDlg& dlg) {
    return md::bench::MeanMs(kRounds, [&] {
        if (!op.run(dlg))
            Fail(QStringLiteral("%1: the meter did not answer as it should").arg(op.name));
    });
}

void Row(const char* mode, const char* what, int rate, double ms, double floorMs) {
    std::printf("%-7s %-16s %6d %10.1f %10.1f %8.3f\n", mode, what, rate, ms, floorMs,
                ms / floorMs);
    std::fflush(stdout);
}

// Runs body inside the main window opened on metersim's line at rate; the window closes when
// body returns or after its own timers, as body arranges through `close`.
void InWindow(
    md::MeterSim& sim, int rate,
    const std::function<void(md::ui::CMeterDebugDlg&, std::function<void()> close)>& body) {
    md::CMSComm comm;
    sim.PointComAt(comm, 1);
    md::ui::CMeterDebugDlg dlg(nullptr, &comm);
    md::bench::RunWindow(dlg, rate, [&] { body(dlg, [&] { dlg.EndDialog(md::ui::IDCANCEL); }); });
}

md::MeterSim StartSim(int rate) {
    return md::MeterSim({QStringLiteral("--line-timing"), QStringLiteral("--baud"),
                         QString::number(rate), QStringLiteral("--set"),
                         QStringLiteral("upper=%1").arg(kUpper), QStringLiteral("--set"),
                         QStringLiteral("lower=%1").arg(kLower), QStringLiteral("--set"),
                         QStringLiteral("decimal=%1").arg(kDecimal), QStringLiteral("--set"),
                         QStringLiteral("param-baud=1")});
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int pollSeconds = md::bench::CountArgument(argc, argv, 60, "[SECONDS]");
    md::bench::MeterSimProgram();

    const std::vector<Operation> ops = Operations();
    std::printf("mode    operation          rate    wall ms   floor ms    ratio\n");
    for (const int rate : kRates) {
        md::MeterSim sim = StartSim(rate);
        if (!sim.Start())
            Fail(sim.Error());
        InWindow(sim, rate, [&](md::ui::CMeterDebugDlg& dlg, const std::function<void()>& close) {
            dlg.Link().SetFastWaits(true);
            for (const Operation& op : ops)
                Row("fast", op.name, rate, MeanMs(op, dlg), op.physicalFloorMs(rate));
            dlg.Link().SetFastWaits(false);
            for (const Operation& op : ops)
                Row("default", op.name, rate, MeanMs(op, dlg), op.fixedFloorMs);
            close();
        });
    }

    const int rate = kRates[0];
    md::MeterSim sim = StartSim(rate);
    if (!sim.Start())
        Fail(sim.Error());
    double cpu = 0, wall = 0;
    int polls = 0;
    InWindow(sim, rate, [&](md::ui::CMeterDebugDlg& dlg, const std::function<void()>& close) {
        dlg.Link().SetFastWaits(true);
        const int before = dlg.m_nSuccessCount + dlg.m_nFailureCount;
        const double cpu0 = CpuSeconds();
        const auto t0 = WallClock::now();
        dlg.OnReadMeasurements();
        QTimer::singleShot(pollSeconds * 1000, &dlg, [&, before, cpu0, t0, close] {
            dlg.OnStop();
            cpu = CpuSeconds() - cpu0;
            wall = std::chrono::duration<double>(WallClock::now() - t0).count();
            polls = dlg.m_nSuccessCount + dlg.m_nFailureCount - before;
            if (dlg.m_nFailureCount != 0)
                Fail(QStringLiteral("%1 polls unanswered").arg(dlg.m_nFailureCount));
            close();
        });
    });
    std::printf("polling with fast waits at %d bit/s for %.0f s: %d polls, CPU %.3f s = %.2f %% "
                "of one core\n",
                rate, wall, polls, cpu, 100.0 * cpu / wall);
    return 0;
}
