// The command line of a script: argument vectors of up to twelve words, drawn from the real
// options and values and from junk, under one of a few environments. The parse ends either in
// a plan whose every value lies in the range the window and the meter can use, or in an exit
// with one reason (exit 2: one line, or one line and the usage), never in both. Nothing here
// has a port: a parse cannot touch a device.

#include "app/CommandLine.h"
#include "meter/Registers.h"
#include "port/DeviceName.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// clang-format off
const char* const kWords[] = {
    "--read-params", "--write-params", "--set-address", "--change-rate", "--read-currents",
    "--read-io", "--read-clock", "--set-pt", "--set-ct", "--set-wiring", "--rate", "--parity",
    "--address", "--count", "--interval", "--json", "--keep-going", "--port", "--scan", "--com1",
    "--com2", "--csv", "--language", "--help", "--local-echo", "--fast", "-platform",
    "-testability", "--scan-rates", "0", "1", "2", "3", "4", "5", "22", "247", "248", "255",
    "256", "960", "1200", "9600", "19200", "65535", "65536", "-1", "1.5", "64000", "64001",
    "upper=900", "lower=1", "rate=960", "rate=9600", "rate=3", "point=22", "point=2",
    "upper=1,rate=19200,point=3", " point = 0 ", "rate=", "upper=1,upper=2", "odd", "E", "mark",
    "en", "zh", "3p4w-balanced", "/dev/ttyUSB0", "tcp://h:1", "modbus-tcp://h", "rfc2217://h:2",
    "ftp://x", "", "=", "--write-params=rate=4", "--address=0", "--rate=2400", "1,3,5-8", "5-3", "1,,2", "3,248",
    "1-247", "2,2", "a",
};
// clang-format on
constexpr std::size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

void Check(bool holds) {
    if (!holds)
        std::abort();
}

bool AnyRate(int n) {
    return md::reg::BaudCodeOf(n) >= 0;
}

void CheckPlan(const md::Options& o) {
    const md::ScriptPlan& plan = o.script;
    Check(AnyRate(plan.rate));
    Check(plan.parity == 'N' || plan.parity == 'O' || plan.parity == 'E');
    Check(plan.address >= 0 && plan.address <= 255);
    Check(plan.count >= 1);
    if (plan.steps.empty())
        return;
    // A script: the meter's own address, and a device it names.
    Check(plan.address >= 1 && plan.address <= 247);
    // Every meter of the run a meter's own address, each once, the first of them the address.
    Check(!plan.addresses.empty() && plan.addresses.front() == plan.address);
    for (std::size_t i = 0; i < plan.addresses.size(); ++i) {
        Check(plan.addresses[i] >= 1 && plan.addresses[i] <= 247);
        Check(std::find(plan.addresses.begin(), plan.addresses.begin() + static_cast<long>(i),
                        plan.addresses[i]) == plan.addresses.begin() + static_cast<long>(i));
    }
    Check(plan.port == 1 || plan.port == 2);
    const QString& device = o.devices[plan.port == 2 ? 1 : 0];
    Check(!device.isEmpty());
    const bool setsLine = md::SetsLine(md::TransportOf(device));
    for (const md::ScriptStep& step : plan.steps) {
        switch (step.op) {
        case md::ScriptOp::WriteParams: {
            const md::ParamChanges& p = step.params;
            Check(!p.upper || (*p.upper >= 0 && *p.upper <= 65535));
            Check(!p.lower || (*p.lower >= 0 && *p.lower <= 65535));
            Check(!p.rate || AnyRate(*p.rate) || md::reg::BaudRateOf(*p.rate) > 0);
            Check(!p.point || (*p.point >= 0 && *p.point <= 3));
            break;
        }
        case md::ScriptOp::SetAddress:
            Check(step.value >= 1 && step.value <= 247 && plan.addresses.size() == 1);
            break;
        case md::ScriptOp::ChangeRate:
            Check(AnyRate(step.value) && setsLine && plan.addresses.size() == 1);
            break;
        case md::ScriptOp::SetPt:
        case md::ScriptOp::SetCt:
            Check(step.value >= 1 && step.value <= 64000);
            break;
        case md::ScriptOp::SetWiring:
            Check(step.value >= 0 && step.value <= 5);
            break;
        default:
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    if (size < 1)
        return 0;
    QProcessEnvironment env;
    if (in[0] % 4 == 1)
        env.insert(QStringLiteral("METERDEBUG_COM1"), QStringLiteral("/dev/ttyUSB0"));
    else if (in[0] % 4 == 2)
        env.insert(QStringLiteral("METERDEBUG_COM1"), QStringLiteral("tcp://h:1"));
    else if (in[0] % 4 == 3)
        env.insert(QStringLiteral("METERDEBUG_COM2"), QStringLiteral("modbus-tcp://h"));

    // Each word: a byte below 200 picks one of the words; another starts a junk word whose
    // length the next byte gives.
    QStringList args{QStringLiteral("MeterDebug")};
    for (std::size_t i = 1; i < size && args.size() <= 12;) {
        const std::uint8_t b = in[i++];
        if (b < 200) {
            args << QString::fromUtf8(kWords[b % kWordCount]);
            continue;
        }
        std::size_t n = 0;
        if (i < size) {
            n = in[i] % 16;
            ++i;
            n = std::min(n, size - i);
        }
        args << QString::fromUtf8(reinterpret_cast<const char*>(in + i), static_cast<qsizetype>(n));
        i += n;
    }

    const md::CommandLine cl = md::ParseCommandLine(args, env);
    if (!cl.exitCode) {
        Check(cl.out.isEmpty() && cl.err.isEmpty());
        CheckPlan(cl.options);
        return 0;
    }
    // An exit runs nothing.
    Check(cl.options.script.steps.empty());
    if (*cl.exitCode == 0) {
        Check(!cl.out.isEmpty() && cl.err.isEmpty());
        return 0;
    }
    Check(*cl.exitCode == 2 && cl.out.isEmpty() &&
          cl.err.startsWith(QLatin1String("MeterDebug: ")));
    const qsizetype end = cl.err.indexOf(QLatin1Char('\n'));
    Check(end > 0);
    const QString rest = cl.err.mid(end + 1);
    Check(rest.isEmpty() || rest == QLatin1Char('\n') + md::UsageText());
    return 0;
}
