// The traffic monitor under a noise flood ($METERSIM --noise) with --fast waits: first polls
// back to back until the monitor holds its 10,000 rows, then polling on the 2 s timer: the
// tool's processor share and its resident memory, which must stay flat once the rows are full.
//
//   bench_monitor [SECONDS]    SECONDS of timed polling after the fill (default 60)

#include "bench/BenchRig.h"
#include "ui/TrafficMonitor.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int seconds = md::bench::CountArgument(argc, argv, 60, "[SECONDS]");

    QTemporaryDir dir;
    QProcess sim;
    md::bench::StartMeterSim(sim, dir.filePath(QStringLiteral("meter")),
                             {QStringLiteral("--noise"), QStringLiteral("200000")});

    md::ui::CMeterDebugDlg dlg;
    dlg.Link().SetFastWaits(true);
    double cpuStart = 0, rssFull = 0;
    md::bench::WallClock::time_point start;
    md::bench::RunWindow(dlg, 9600, [&] {
        dlg.ShowMonitor();
        const md::ui::MonitorModel& rows = dlg.Monitor();
        int polls = 0;
        const auto t0 = md::bench::WallClock::now();
        while (rows.rowCount() < md::ui::MonitorModel::kRowLimit) {
            dlg.PollMeasurements();
            QApplication::processEvents();
            ++polls;
        }
        std::printf("fill: %d polls in %.1f s to %d rows, resident %.1f MiB\n", polls,
                    std::chrono::duration<double>(md::bench::WallClock::now() - t0).count(),
                    rows.rowCount(), md::bench::ResidentMiB());
        std::fflush(stdout);
        rssFull = md::bench::ResidentMiB();
        cpuStart = md::bench::CpuSeconds();
        start = md::bench::WallClock::now();
        dlg.OnReadMeasurements();
        QTimer::singleShot(seconds * 1000, &dlg, [&] {
            dlg.OnStop();
            dlg.EndDialog(md::ui::IDCANCEL);
        });
    });
    const double cpu = md::bench::CpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(md::bench::WallClock::now() - start).count();
    std::printf("polling %.0f s on the timer: CPU %.2f %% of one core; resident %.1f MiB after the "
                "fill, %.1f MiB at the end\n",
                wall, 100.0 * cpu / wall, rssFull, md::bench::ResidentMiB());
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
