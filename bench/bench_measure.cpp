// Over the real line to metersim ($METERSIM): wall time of reading the parameter block and of
// one measurement poll against the fixed waits they are built from, and the processor time the
// tool uses while polling on its 2 s timer.
//
//   bench_measure [SECONDS]    SECONDS of polling for the processor figure (default 60)

#include "bench/BenchRig.h"
#include "port/MSComm.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

using md::bench::CpuSeconds;
using md::bench::WallClock;

constexpr int kRounds = 5;
constexpr double kReadParamsFloorMs = 4 * 600;   // four reads
constexpr double kPollFloorMs = 600 + 300 + 600; // decimal point, pause, currents

template <typename F> double MeanMs(F body) {
    return md::bench::MeanMs(kRounds, body);
}

void Report(const char* what, double ms, double floorMs) {
    std::printf("%-28s %8.1f ms   minimum %6.0f ms   ratio %.4f\n", what, ms, floorMs,
                ms / floorMs);
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int pollSeconds = md::bench::CountArgument(argc, argv, 60, "[SECONDS]");

    QTemporaryDir dir;
    QProcess sim;
    md::bench::StartMeterSim(sim, dir.filePath(QStringLiteral("meter")), {});

    md::CMSComm comm;
    comm.SetDevice(1, dir.filePath(QStringLiteral("meter")));
    md::ui::CMeterDebugDlg dlg(nullptr, &comm);
    double cpuStart = 0;
    WallClock::time_point pollStart;
    int countedBefore = 0;
    md::bench::RunWindow(dlg, 9600, [&] {
        Report("OnReadParams", MeanMs([&] { dlg.OnReadParams(); }), kReadParamsFloorMs);
        Report("one poll", MeanMs([&] { dlg.PollMeasurements(); }), kPollFloorMs);
        std::fflush(stdout);

        countedBefore = dlg.m_nSuccessCount + dlg.m_nFailureCount;
        cpuStart = CpuSeconds();
        pollStart = WallClock::now();
        dlg.OnReadMeasurements();
        QTimer::singleShot(pollSeconds * 1000, &dlg, [&] {
            dlg.OnStop();
            dlg.EndDialog(md::ui::IDCANCEL);
        });
    });

    const double cpu = CpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(WallClock::now() - pollStart).count();
    const int polls = dlg.m_nSuccessCount + dlg.m_nFailureCount - countedBefore;
    std::printf("polling %.0f s: %d polls (%d unanswered in all), CPU %.3f s = %.2f %% of one "
                "core\n",
                wall, polls, dlg.m_nFailureCount, cpu, 100.0 * cpu / wall);

    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
