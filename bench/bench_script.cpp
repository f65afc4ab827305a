// Meter operations from a script against the line's physical limit: the built MeterDebug run as
// a station script runs it, over a real pseudo-terminal to metersim with --line-timing (every
// frame takes its wire time, the meter a 5 ms turnaround), at 9600 bit/s with --fast.
//
// 1. Start to exit of `--read-params` (four reads): the process's wall time against the floor
//    its four exchanges set on the wire; what is left over is the program's own start-up and
//    shut-down. `--version` (no port, no exchange) shows the bare start-up of the process.
// 2. `--read-currents --count N --interval 0`: polls per second against the line's limit (each
//    poll is two exchanges with the inter-frame gap before each), and the processor time the
//    tool used.
//
//   bench_script [POLLS]    polls of the second run (default 100)
//
// MeterDebug is $METERDEBUG, else the one built beside this benchmark.

#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "modbus/Frame.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <sys/resource.h>

namespace {

using md::bench::Fail;
using md::bench::WallClock;

constexpr int kRate = 9600;
constexpr double kTurnaroundMs = 5; // metersim's default
constexpr int kRounds = 10;

double CharMs(int rate) {
    return 11'000.0 / rate;
}

double ExchangeMs(int requestLen, int answerLen) {
    return (requestLen + answerLen) * CharMs(kRate) + kTurnaroundMs;
}

double GapMs() {
    return 3.5 * CharMs(kRate);
}

// Processor time of the children waited for so far, in seconds.
double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QString Tool() {
    const QString named = qEnvironmentVariable("METERDEBUG");
    return named.isEmpty()
               ? QCoreApplication::applicationDirPath() + QStringLiteral("/../app/MeterDebug")
               : named;
}

struct Result {
    double wallMs = 0;
    double cpuSeconds = 0;
    QByteArray out;
};

// One run of the tool; fails the benchmark unless it exits 0.
Result RunTool(const QStringList& args) {
    QProcess tool;
    const double cpu0 = ChildCpuSeconds();
    const auto t0 = WallClock::now();
    tool.start(Tool(), args);
    if (!tool.waitForFinished(120'000) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0)
        Fail(QStringLiteral("MeterDebug %1 failed: %2")
                 .arg(args.join(' '), QString::fromUtf8(tool.readAllStandardError())));
    Result r;
    r.wallMs = std::chrono::duration<double, std::milli>(WallClock::now() - t0).count();
    r.cpuSeconds = ChildCpuSeconds() - cpu0;
    r.out = tool.readAllStandardOutput();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int polls = md::bench::CountArgument(argc, argv, 100, "[POLLS]");
    md::bench::MeterSimProgram();
    md::MeterSim sim({QStringLiteral("--line-timing")});
    if (!sim.Start())
        Fail(sim.Error());
    const QStringList line{QStringLiteral("--com1"), sim.LinkPath(), QStringLiteral("--fast")};

    const int read1 = md::ReadAnswerLen(1), read3 = md::ReadAnswerLen(3);
    const int request = md::kShortRequestLen;

    // On a shared machine the wall times include waiting for a processor; the processor time
    // is the program's own cost whatever the load.
    double version = 0, versionCpu = 0, params = 0, paramsCpu = 0;
    for (int i = 0; i < kRounds; ++i) {
        const Result v = RunTool({QStringLiteral("--version")});
        const Result p = RunTool(line + QStringList{QStringLiteral("--read-params")});
        version += v.wallMs / kRounds;
        versionCpu += v.cpuSeconds * 1000 / kRounds;
        params += p.wallMs / kRounds;
        paramsCpu += p.cpuSeconds * 1000 / kRounds;
    }
    const double paramsFloor = 4 * ExchangeMs(request, read1) + 3 * GapMs();
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average: %s\n", loadavg.readLine().trimmed().constData());
    std::printf("--read-params --fast at %d bit/s, mean of %d runs\n", kRate, kRounds);
    std::printf("  start to exit   %8.1f ms   (processor %.1f ms)\n"
                "  wire floor      %8.1f ms   (4 exchanges)\n"
                "  own start/exit  %8.1f ms   (aim: under 100)\n"
                "  --version alone %8.1f ms   (processor %.1f ms)\n\n",
                params, paramsCpu, paramsFloor, params - paramsFloor, version, versionCpu);
    std::fflush(stdout);

    const Result series =
        RunTool(line + QStringList{QStringLiteral("--read-currents"), QStringLiteral("--count"),
                                   QString::number(polls), QStringLiteral("--interval"),
                                   QStringLiteral("0")});
    if (series.out.count("ok=true") != polls)
        Fail(QStringLiteral("not every poll was answered:\n") + QString::fromUtf8(series.out));
    const double pollMs = ExchangeMs(request, read1) + ExchangeMs(request, read3) + 2 * GapMs();
    const double limit = 1000 / pollMs;
    const double rate = polls / (series.wallMs / 1000);
    std::printf("--read-currents --count %d --interval 0 --fast at %d bit/s\n", polls, kRate);
    std::printf("  wall            %8.1f ms\n  polls/s         %8.2f\n  line limit      %8.2f /s\n"
                "  ratio           %8.3f   (aim: 0.9 or more)\n  tool cpu        %8.1f ms  (%.1f%% "
                "of the wall time)\n",
                series.wallMs, rate, limit, rate / limit, series.cpuSeconds * 1000,
                100 * series.cpuSeconds * 1000 / series.wallMs);
    return 0;
}
