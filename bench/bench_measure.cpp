// Over the real line to metersim ($METERSIM): wall time of reading the parameter block and of
// one measurement poll against the fixed waits they are built from, and the processor time the
// tool uses while polling on its 2 s timer.
//
//   bench_measure [SECONDS]    SECONDS of polling for the processor figure (default 60)

#include "ui/MeterDebugDlg.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

using WallClock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr double kReadParamsFloorMs = 4 * 600;   // four reads
constexpr double kPollFloorMs = 600 + 300 + 600; // decimal point, pause, currents

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

template <typename F> double MeanMs(F body) {
    double total = 0;
    for (int i = 0; i < kRounds; ++i) {
        const auto t0 = WallClock::now();
        body();
        total += std::chrono::duration<double, std::milli>(WallClock::now() - t0).count();
    }
    return total / kRounds;
}

void Report(const char* what, double ms, double floorMs) {
    std::printf("%-28s %8.1f ms   minimum %6.0f ms   ratio %.4f\n", what, ms, floorMs,
                ms / floorMs);
}

[[noreturn]] void Fail(QProcess& sim, const char* text) {
    std::fprintf(stderr, "bench_measure: %s\n", text);
    sim.kill();
    sim.waitForFinished(2000);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int pollSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (pollSeconds <= 0) {
        std::fprintf(stderr, "usage: bench_measure [SECONDS]\n");
        return 2;
    }

    const QString program = qEnvironmentVariable("METERSIM");
    if (program.isEmpty()) {
        std::fprintf(stderr, "bench_measure: METERSIM is not set\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("meter"));
    QProcess sim;
    sim.start(program, {QStringLiteral("--link"), link});
    if (!sim.waitForStarted(10000))
        Fail(sim, "metersim did not start");
    while (!sim.canReadLine())
        if (!sim.waitForReadyRead(10000))
            Fail(sim, "metersim did not get ready");
    if (!sim.readLine().startsWith("ready"))
        Fail(sim, "metersim did not get ready");
    qputenv("METERDEBUG_COM1", link.toUtf8());

    md::ui::CMeterDebugDlg dlg;
    dlg.m_byMeterAddress = 1;
    dlg.m_nBaudRate = 9600;
    dlg.m_nParity = 0;
    dlg.m_nCommPort = 1;

    double cpuStart = 0;
    WallClock::time_point pollStart;
    int countedBefore = 0;
    QTimer::singleShot(0, &dlg, [&] {
        if (!dlg.m_comm.GetPortOpen())
            Fail(sim, "the tool could not open the simulator's line");
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
    dlg.DoModal();

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
