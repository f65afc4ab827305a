// The meter scan over the network, run as an operator runs it (MeterDebug --scan), against its
// floor.
//
// 1. modbus-tcp:// to metersim --modbus-tcp with the meter at address 247: the scan tries the
//    addresses only, each for the window (20 ms) from the moment its request was written, the
//    round trip inside it and no serial wire time on this side; its floor is a window per
//    address.
// 2. rfc2217:// through ser2net to metersim --line-timing (20 ms turnaround) with the meter at
//    247, 1200 bit/s, odd parity: the full rate x parity x address scan, whose floor is each
//    probe's wire time and window (the rate changes on the server's port cost round trips on
//    top).
//
// The wall time includes MeterDebug's own start (a few tens of ms). MeterDebug is $METERDEBUG,
// else the one built beside this benchmark.
//
//   bench_net_scan [WINDOW_MS]    the scan window (default 20)

#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "fakes/Ser2Net.h"
#include "meter/MeterScan.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>

namespace {

using md::bench::Fail;
using md::bench::WallClock;
using md::meter::ScanPoint;

struct Run {
    double wallS = 0;
    QString found;
};

Run Scan(const QString& device, int windowMs) {
    // $METERDEBUG, else the one built beside this benchmark.
    QString program = qEnvironmentVariable("METERDEBUG");
    if (program.isEmpty())
        program = QCoreApplication::applicationDirPath() + QStringLiteral("/../app/MeterDebug");
    QProcess tool;
    const auto t0 = WallClock::now();
    tool.start(program, {QStringLiteral("--scan"), QStringLiteral("--com1"), device,
                         QStringLiteral("--scan-window"), QString::number(windowMs)});
    if (!tool.waitForFinished(-1) || tool.exitCode() != 0)
        Fail(QStringLiteral("the scan over %1 failed: %2").arg(device,
             QString::fromLocal8Bit(tool.readAllStandardError()).trimmed()));
    Run run;
    run.wallS = std::chrono::duration<double>(WallClock::now() - t0).count();
    run.found = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    return run;
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int window = md::bench::CountArgument(argc, argv, 20, "[WINDOW_MS]");
    md::bench::MeterSimProgram();
    std::printf("transport     probes     wall s    floor s   ratio   found\n");

    {
        md::MeterSim sim({QStringLiteral("--modbus-tcp"), QStringLiteral("0"),
                          QStringLiteral("--address"), QStringLiteral("247")});
        Start(sim);
        const Run run = Scan(QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(sim.Port()), window);
        const double floorS = 247 * window / 1000.0;
        std::printf("%-12s %7d %10.2f %10.2f %7.3f   %s\n", "modbus-tcp", 247, run.wallS, floorS,
                    run.wallS / floorS, qPrintable(run.found));
        std::fflush(stdout);
    }

    if (md::Ser2Net::Program().isEmpty())
        Fail(QStringLiteral("ser2net is not installed (tools/setup installs it)"));
    md::MeterSim sim({QStringLiteral("--line-timing"), QStringLiteral("--turnaround"),
                      QStringLiteral("20"), QStringLiteral("--baud"), QStringLiteral("1200"),
                      QStringLiteral("--parity"), QStringLiteral("O"), QStringLiteral("--address"),
                      QStringLiteral("247")});
    Start(sim);
    md::Ser2Net server(sim.LinkPath(), md::Ser2Net::Mode::Rfc2217);
    if (!server.Start())
        Fail(server.Error());
    const Run run = Scan(server.DeviceName(), window);
    // Every probe up to the meter's own, as the scan orders them from the dialog's defaults.
    const std::vector<ScanPoint> order = md::meter::ScanOrder(
        std::nullopt, Every(1, 247),
        {std::begin(md::meter::kScanRates), std::end(md::meter::kScanRates)},
        {std::begin(md::meter::kScanParities), std::end(md::meter::kScanParities)});
    // Where the meter was found: behind ser2net a rate tried at none after one at odd keeps
    // the pseudo-terminal's odd flag, so metersim may hear 1200 bit/s without parity first.
    static const QRegularExpression hit(
        QStringLiteral("^address (\\d+)  (\\d+) bit/s  parity (none|even|odd)"));
    const QRegularExpressionMatch m = hit.match(run.found);
    if (!m.hasMatch())
        Fail(QStringLiteral("the scan over rfc2217:// found no meter: ") + run.found);
    const ScanPoint found{static_cast<std::uint8_t>(m.captured(1).toInt()), m.captured(2).toInt(),
                          m.captured(3) == QLatin1String("odd")    ? 'O'
                          : m.captured(3) == QLatin1String("even") ? 'E'
                                                                   : 'N'};
    double floorMs = 0;
    int probes = 0;
    for (const ScanPoint& p : order) {
        floorMs += md::meter::ProbeWaitMs(p, static_cast<std::uint32_t>(window));
        ++probes;
        if (p == found)
            break;
    }
    std::printf("%-12s %7d %10.2f %10.2f %7.3f   %s\n", "rfc2217", probes, run.wallS,
                floorMs / 1000, run.wallS / (floorMs / 1000), qPrintable(run.found));
    return 0;
}
