// The meter scan against the line's physical limit, over a real pseudo-terminal to metersim
// with --line-timing and a 20 ms turnaround, driven from an event loop as the window and the
// command line drive it.
//
// 1. A meter at the settings the dialog holds (address 37, 9600 bit/s, no parity): the time
//    to the first candidate (the scan then turns to confirming it) and to the confirmed meter.
// 2. A meter at address 247, 1200 bit/s, odd parity, the last combination of the order: the
//    scan's wall time against its floor (each probe tried: the request's wire time plus the
//    window; the last of each rate and parity the 600 ms wait for late answers), at each
//    window listed in BENCH_SCAN_WINDOWS (default "20"; a full pass at 100 ms takes about
//    8 minutes), and the processor share of the tool meanwhile.
//    Where the line cannot tell odd parity from none, the meter is found at 1200 bit/s
//    without parity, a little earlier; the table names where it was found.

#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "port/MSComm.h"
#include "meter/MeterScan.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

using md::bench::Fail;
using md::bench::WallClock;
using md::meter::ScanPoint;

double MsSince(WallClock::time_point t0) {
    return std::chrono::duration<double, std::milli>(WallClock::now() - t0).count();
}

struct Run {
    double openMs = -1; // the first step opens the port
    double firstCandidateMs = -1;
    double endMs = 0;
    double cpuSeconds = 0;
    std::vector<md::meter::ScanHit> hits;
    double floorMs = 0;
};

// Scans with the steady clock over port 1, stepping from the event loop.
Run Scan(const md::MeterSim& sim, const md::meter::ScanOptions& options) {
    md::CMSComm comm;
    sim.PointComAt(comm, 1);
    md::SteadyClock clock;
    md::meter::MeterScan scan(comm, clock, options);
    Run run;
    const double cpu0 = md::bench::CpuSeconds();
    const auto t0 = WallClock::now();
    QTimer steps;
    steps.setInterval(0);
    QObject::connect(&steps, &QTimer::timeout, [&] {
        const bool more = scan.Step();
        if (run.openMs < 0)
            run.openMs = MsSince(t0);
        if (run.firstCandidateMs < 0 && scan.Progress().confirming)
            run.firstCandidateMs = MsSince(t0);
        if (!more) {
            steps.stop();
            QCoreApplication::exit();
        }
    });
    steps.start();
    QCoreApplication::exec();
    run.endMs = MsSince(t0);
    run.cpuSeconds = md::bench::CpuSeconds() - cpu0;
    if (!scan.Error().empty())
        Fail(QString::fromStdString(scan.Error()));
    run.hits = scan.Hits();
    for (int i = 0; i < scan.Progress().done; ++i)
        run.floorMs += md::meter::ProbeCostMs(options.order, static_cast<std::size_t>(i),
                                              options.windowMs);
    return run;
}

QStringList SimOptions(int rate, char parity, int address) {
    return {QStringLiteral("--line-timing"), QStringLiteral("--turnaround"), QStringLiteral("20"),
            QStringLiteral("--baud"),        QString::number(rate),          QStringLiteral("--parity"),
            QString(QLatin1Char(parity)),    QStringLiteral("--address"),    QString::number(address)};
}

void Start(md::MeterSim& sim) {
    if (!sim.Start())
        Fail(sim.Error());
}

std::vector<int> Every(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i)
        v.push_back(i);
    return v;
}

std::vector<md::meter::ScanPoint> FullOrder(std::optional<ScanPoint> first) {
    return md::meter::ScanOrder(
        first, Every(1, 247), {std::begin(md::meter::kScanRates), std::end(md::meter::kScanRates)},
        {std::begin(md::meter::kScanParities), std::end(md::meter::kScanParities)});
}

QString Where(const std::vector<md::meter::ScanHit>& hits) {
    if (hits.empty())
        return QStringLiteral("not found");
    const md::meter::ScanHit& h = hits.front();
    return QStringLiteral("%1@%2%3 in %4 ms")
        .arg(h.at.address)
        .arg(h.at.baudRate)
        .arg(QLatin1Char(h.at.parity))
        .arg(h.responseMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    md::bench::MeterSimProgram();

    {
        md::MeterSim sim(SimOptions(9600, 'N', 37));
        Start(sim);
        md::meter::ScanOptions options;
        options.order = FullOrder(ScanPoint{37, 9600, 'N'});
        const Run run = Scan(sim, options);
        std::printf("meter at the dialog's settings (37@9600N), window 100 ms\n");
        std::printf("  port opened     %8.1f ms\n  first candidate %8.1f ms\n"
                    "  confirmed       %8.1f ms   (%s)\n",
                    run.openMs, run.firstCandidateMs, run.endMs, qPrintable(Where(run.hits)));
        std::fflush(stdout);
    }

    const QString windows = qEnvironmentVariableIsEmpty("BENCH_SCAN_WINDOWS")
                                ? QStringLiteral("20")
                                : qEnvironmentVariable("BENCH_SCAN_WINDOWS");
    std::printf("\nmeter at 247@1200O\nwindow ms  probes     wall s    floor s   ratio  cpu %%   "
                "found at\n");
    std::fflush(stdout);
    for (const QString& w : windows.split(QLatin1Char(','))) {
        const int window = w.toInt();
        if (window < 20 || window > 1000)
            Fail(QStringLiteral("BENCH_SCAN_WINDOWS: %1 is not a window of 20 to 1000 ms").arg(w));
        md::MeterSim sim(SimOptions(1200, 'O', 247));
        Start(sim);
        md::meter::ScanOptions options;
        options.order = FullOrder(std::nullopt);
        options.windowMs = static_cast<std::uint32_t>(window);
        const Run run = Scan(sim, options);
        int probes = 0;
        for (const ScanPoint& p : options.order) {
            ++probes;
            if (!run.hits.empty() && p == run.hits.front().at)
                break;
        }
        std::printf("%9d %7d %10.1f %10.1f %7.3f %6.2f   %s\n", window, probes, run.endMs / 1000,
                    run.floorMs / 1000, run.endMs / run.floorMs,
                    100 * run.cpuSeconds / (run.endMs / 1000), qPrintable(Where(run.hits)));
        std::fflush(stdout);
    }
    return 0;
}
