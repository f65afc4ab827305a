// metersim: plays the three-phase meter on a serial line, for training, demonstrations and the
// tool's own end-to-end tests. The meter is a libmodbus RTU server on an inner pseudo-terminal;
// metersim relays between it and the tool's line, where the faults and the trace live.

#include "meter/Registers.h"
#include "sim/Console.h"
#include "sim/Faults.h"
#include "sim/Line.h"
#include "sim/Meters.h"
#include "sim/Model.h"
#include "sim/NetServer.h"
#include "sim/Numbers.h"
#include "sim/Relay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <getopt.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace md::sim;

const char* const kUsage = R"(Usage: metersim --link PATH [options]
       metersim --device DEVICE [options]
       metersim --modbus-tcp PORT [--listen ADDRESS] [options]
Plays the three-phase power meter (Modbus RTU server, functions 0x03, 0x06, 0x10) on a line,
or (Modbus TCP server) on the network.

The line:
  --link PATH          create a pseudo-terminal for the tool and make PATH a symlink to it;
                       the symlink is removed again on exit (SIGINT, SIGTERM, quit)
  --device DEVICE      serve a real serial port instead (e.g. /dev/ttyUSB0)
  --modbus-tcp PORT    serve Modbus TCP on PORT instead, as a meter with Ethernet or a
                       gateway with the meters on its line: the unit identifier is a
                       meter's address, other units get no answer. PORT 0 takes a free port,
                       which the ready line names. The line behind stays at --baud: a meter
                       switched to another rate is no longer heard. unplug resets every
                       connection and stops listening, replug listens again; vanish keeps
                       the connections but reads and answers nothing, return speaks again.
                       Not with --echo or --line-timing
  --listen ADDRESS     with --modbus-tcp: the address to listen on, a name, IPv4 or IPv6
                       address (default 127.0.0.1; 0.0.0.0 or :: for every interface)
  --echo               play a half-duplex adapter that echoes: every byte the tool sends
                       comes back to it at once, ahead of the meter's answer
  --echo-glitch HEX    with --echo: bytes the adapter sends as its transmitter switches on,
                       ahead of the echo of each request (e.g. 00 or "00 FF")
  --baud RATE          the meter's rate: 1200, 2400, 4800, 9600 (default) or 19200
  --parity N|O|E       the meter's parity (default N). On a real port the wire garbles a
                       mismatch. Over --link the relay reads the tool's rate and parity from
                       the pseudo-terminal, which keeps the odd flag but not parity enable:
                       a meter at O hears only a tool at odd parity, a meter at N or E only a
                       tool at none or even (those two look alike). A tool at another rate
                       or parity is not heard and gets no answer.
  --line-timing        every frame takes its time on the wire at the line's rate (11 bits a
                       character) in both directions, echoes too, and the meter answers a
                       turnaround after the request ended: the timing of a real RS-485 line
  --turnaround MS      the meter's turnaround with --line-timing, 0 to 10000 (default 5)
The meter:
  --address LIST       its address, 1 to 247 (default 1); a list such as 1,3,5-8 plays one
                       meter at each address on the one line, each with its own registers.
                       A request reaches only the meter it names; one for an address no
                       meter holds gets no answer. The options below set every meter alike;
                       the console sets them apart. Over a real port several meters keep the
                       line at --baud, and a meter switched to another rate is not heard
  --currents A,B,C     raw phase currents (default 1234,100,65535)
  --vary PERCENT       let the currents wander by up to PERCENT around those values
  --set NAME=VALUE     start with another value (e.g. decimal=3, upper=800, relay-switch=0x0101)
  --clock now|"YYYY-MM-DD HH:MM:SS"
                       clock running from the system time at UTC+8 (default), or fixed
  --answer-from-new-address
                       take a new address (0x0300) before answering its write, so the
                       answer comes from the new address
Faults and trace:
  --fault KIND[:MS][:RATE][@ADDRESS]
                       spoil answers (repeatable), of the meter at ADDRESS only or of every
                       meter. RATE is once, always (default), a probability (0.25) or a
                       percentage (25%). KIND is one of
                         silent         the answer is lost
                         bad-crc        the last check byte is inverted
                         wrong-address  a valid answer from the next address up
                         exception      the meter refuses with exception 0x04 and does nothing
                         stray          5 noise bytes come before the answer
                         late[:MS]      the answer comes MS ms late (default 1000)
                         truncated      the answer's last 3 bytes are cut off
                         flood          4096 noise bytes come before the answer
                         gateway-path   a gateway refuses with exception 0x0A (path
                                        unavailable) and the meter does nothing
                         gateway-target a gateway refuses with exception 0x0B (target device
                                        failed to respond) and the meter does nothing
                       The meter acts on every request it hears except under `exception` and
                       the gateway kinds. Over Modbus TCP, which has no check bytes, bad-crc
                       spoils the answer's transaction identifier instead.
  --silent-write REG[@ADDRESS]
                       writes touching REG (to the meter at ADDRESS only) are carried out
                       but never answered (repeatable)
  --noise RATE         random bytes to the tool at RATE bytes per second from the start, on
                       top of the traffic; what the line cannot take is dropped
  --seed N             seed for fault rates and noise bytes (default: from the time); the
                       seed in use is printed in the ready line
  --trace              one line per frame: time, direction (-> to the meter, <- to the tool),
                       hex bytes, meaning ("read 3 @0x0000 -> 1234 100 65535"), [notes, fault];
                       with several meters the notes of each frame begin with its meter
                       ("meter 3"), or say "for address 2: ignored" when none holds it
  -h, --help           this text
  --version            the version

Registers: reads 0x0000-0x0002 phase currents, 0x0006 decimal point, 0x0016 relay (high byte)
and switch (low byte), 0x0110-0x0112 clock (minute|second, day|hour, year-2000|month),
0x0302/0x0304 upper/lower threshold, 0x0308 baud code. Writes 0x0000-0x0001 (0x10) PT,
0x0002 wiring mode 0-5, 0x0004-0x0005 (0x10) CT, 0x0006, 0x0302, 0x0304, 0x0308 as read, 0x0300
the meter's address (answered from the old address, then switched; refused with 0x03 when
another meter on the line holds it), 0x0008 the link baud code 0-4 (acknowledged at the old
rate, then the meter listens at the new one; 0x0308 follows).
PT and CT take only 0x10, every other written register only 0x06. Other registers, or a
register written with the other function, answer exception 0x02; other functions 0x01; values
it cannot take 0x03.

Numbers are decimal or 0x hexadecimal ("010" is ten).
metersim prints "ready ..." on standard output once the line exists (or the server listens),
with where it is and the seed in use: "ready 127.0.0.1:40521 (Modbus TCP), meter at ...".
)";

struct Options {
    std::string link, device;
    std::optional<int> modbusTcp;
    std::string listen;
    int baud = 9600;
    char parity = 'N';
    std::vector<int> addresses{1};
    std::vector<std::pair<Quantity, int>> sets;
    int vary = 0;
    std::optional<ClockTime> clock;
    std::vector<Fault> faults;
    std::vector<std::pair<std::uint16_t, int>> silentWrites; // register, address (0: all)
    std::uint32_t seed =
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint64_t noise = 0;
    bool trace = false;
    bool lineTiming = false;
    std::optional<int> turnaroundMs;
    bool echo = false;
    std::vector<std::uint8_t> echoGlitch;
    bool answerFromNewAddress = false;
};

[[noreturn]] void UsageError(const std::string& text) {
    std::fprintf(stderr, "metersim: %s (see --help)\n", text.c_str());
    std::exit(2);
}

// A whole number in [min, max], decimal or 0x hexadecimal, as the console takes them.
long long Integer(const std::string& text, const char* option, long long min, long long max) {
    const auto v = ParseNumber(text, min, max);
    if (!v)
        UsageError(std::string(option) + " wants " + std::to_string(min) + " to " +
                   std::to_string(max) + ", not " + Quoted(text));
    return *v;
}

void AddSet(Options& o, const std::string& name, const std::string& value) {
    const auto q = QuantityNamed(name);
    if (!q)
        UsageError("no such quantity " + Quoted(name));
    const auto v = ParseNumber(value, -1'000'000, 1'000'000);
    if (!v)
        UsageError(std::string(NameOf(*q)) + " wants a number, not " + Quoted(value));
    o.sets.emplace_back(*q, static_cast<int>(*v));
}

// What getopt_long stumbled over, in one line: the option it could not place.
[[noreturn]] void BadOption(int c, const char* word, const option* longs) {
    if (c == ':')
        UsageError(std::string(word) + " wants a value");
    if (optopt != 0 && std::string_view(word).substr(0, 2) != "--")
        UsageError("unknown option " + Quoted(std::string("-") + static_cast<char>(optopt)));
    const std::string_view given = std::string_view(word).substr(2);
    const std::string_view name = given.substr(0, given.find('='));
    int matches = 0;
    for (const option* o = longs; o->name; ++o) {
        if (o->name == name && o->has_arg == no_argument)
            UsageError("--" + std::string(name) + " takes no value");
        if (std::string_view(o->name).starts_with(name))
            ++matches;
    }
    UsageError(std::string(matches > 1 ? "ambiguous" : "unknown") + " option " + Quoted(word));
}

Options Parse(int argc, char** argv) {
    enum {
        kLink = 256,
        kDevice,
        kBaud,
        kParity,
        kAddress,
        kCurrents,
        kVary,
        kSet,
        kClock,
        kFault,
        kSilentWrite,
        kSeed,
        kNoise,
        kTrace,
        kLineTiming,
        kTurnaround,
        kEcho,
        kEchoGlitch,
        kAnswerFromNewAddress,
        kModbusTcp,
        kListen,
        kHelp,
        kVersion
    };
    const option longs[] = {
        {"link", required_argument, nullptr, kLink},
        {"device", required_argument, nullptr, kDevice},
        {"modbus-tcp", required_argument, nullptr, kModbusTcp},
        {"listen", required_argument, nullptr, kListen},
        {"baud", required_argument, nullptr, kBaud},
        {"parity", required_argument, nullptr, kParity},
        {"address", required_argument, nullptr, kAddress},
        {"currents", required_argument, nullptr, kCurrents},
        {"vary", required_argument, nullptr, kVary},
        {"set", required_argument, nullptr, kSet},
        {"clock", required_argument, nullptr, kClock},
        {"fault", required_argument, nullptr, kFault},
        {"silent-write", required_argument, nullptr, kSilentWrite},
        {"seed", required_argument, nullptr, kSeed},
        {"noise", required_argument, nullptr, kNoise},
        {"trace", no_argument, nullptr, kTrace},
        {"line-timing", no_argument, nullptr, kLineTiming},
        {"turnaround", required_argument, nullptr, kTurnaround},
        {"echo", no_argument, nullptr, kEcho},
        {"echo-glitch", required_argument, nullptr, kEchoGlitch},
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {"answer-from-new-address", no_argument, nullptr, kAnswerFromNewAddress},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    opterr = 0; // one message of our own per bad option, not getopt's as well
    for (int c; (c = getopt_long(argc, argv, ":h", longs, nullptr)) != -1;) {
        const std::string arg = optarg ? optarg : "";
        switch (c) {
        case kLink:
            o.link = arg;
            break;
        case kDevice:
            o.device = arg;
            break;
        case kModbusTcp:
            o.modbusTcp = static_cast<int>(Integer(arg, "--modbus-tcp", 0, 65535));
            break;
        case kListen:
            if (arg.empty())
                UsageError("--listen wants an address");
            o.listen = arg;
            break;
        case kBaud:
            o.baud = static_cast<int>(Integer(arg, "--baud", 1200, 19200));
            if (md::reg::BaudCodeOf(o.baud) < 0)
                UsageError("the meter runs at 1200, 2400, 4800, 9600 or 19200 bit/s");
            break;
        case kParity:
            if (arg != "N" && arg != "O" && arg != "E")
                UsageError("parity is N, O or E");
            o.parity = arg[0];
            break;
        case kAddress: {
            std::string error;
            auto addresses = ParseAddresses(arg, error);
            if (!addresses)
                UsageError("--address " + error);
            o.addresses = std::move(*addresses);
            break;
        }
        case kCurrents: {
            const auto a = arg.find(','), b = arg.find(',', a + 1);
            if (a == std::string::npos || b == std::string::npos)
                UsageError("--currents wants A,B,C");
            AddSet(o, "current-a", arg.substr(0, a));
            AddSet(o, "current-b", arg.substr(a + 1, b - a - 1));
            AddSet(o, "current-c", arg.substr(b + 1));
            break;
        }
        case kVary:
            o.vary = static_cast<int>(Integer(arg, "--vary", 0, 100));
            break;
        case kSet: {
            const auto eq = arg.find('=');
            if (eq == std::string::npos)
                UsageError("--set wants NAME=VALUE");
            AddSet(o, arg.substr(0, eq), arg.substr(eq + 1));
            break;
        }
        case kClock:
            if (arg != "now") {
                o.clock = ParseClock(arg);
                if (!o.clock)
                    UsageError("--clock wants now or \"YYYY-MM-DD HH:MM:SS\"");
            }
            break;
        case kFault: {
            std::string error;
            const auto f = ParseFault(arg, "", error);
            if (!f)
                UsageError(error);
            o.faults.push_back(*f);
            break;
        }
        case kSilentWrite: {
            const std::size_t at = arg.find('@');
            o.silentWrites.push_back(
                {static_cast<std::uint16_t>(
                     Integer(arg.substr(0, at), "--silent-write", 0, 0xFFFF)),
                 at == std::string::npos
                     ? 0
                     : static_cast<int>(Integer(arg.substr(at + 1), "--silent-write @", 1, 247))});
            break;
        }
        case kSeed:
            o.seed = static_cast<std::uint32_t>(Integer(arg, "--seed", 0, 0xFFFFFFFF));
            break;
        case kNoise: {
            const auto rate = NoiseRate(arg);
            if (!rate)
                UsageError("--noise wants 0 to 1000000000 bytes per second, not " + Quoted(arg));
            o.noise = *rate;
            break;
        }
        case kTrace:
            o.trace = true;
            break;
        case kLineTiming:
            o.lineTiming = true;
            break;
        case kTurnaround:
            o.turnaroundMs = static_cast<int>(Integer(arg, "--turnaround", 0, 10000));
            break;
        case kEcho:
            o.echo = true;
            break;
        case kEchoGlitch: {
            auto glitch = ParseHexBytes(arg);
            if (!glitch)
                UsageError("--echo-glitch wants hexadecimal bytes, e.g. 00 or \"00 FF\"");
            o.echoGlitch = std::move(*glitch);
            break;
        }
        case kAnswerFromNewAddress:
            o.answerFromNewAddress = true;
            break;
        case 'h':
        case kHelp:
            std::printf("%s\n%s\n", kUsage, kCommandHelp);
            std::exit(0);
        case kVersion:
            std::printf("metersim %s\n", METERDEBUG_VERSION);
            std::exit(0);
        default:
            BadOption(c, argv[optind - 1], longs);
        }
    }
    if (optind < argc)
        UsageError(std::string("unexpected argument '") + argv[optind] + "'");
    if (int(!o.link.empty()) + int(!o.device.empty()) + int(o.modbusTcp.has_value()) != 1)
        UsageError("give exactly one of --link, --device and --modbus-tcp");
    if (!o.listen.empty() && !o.modbusTcp)
        UsageError("--listen only applies with --modbus-tcp");
    if (o.modbusTcp && (o.echo || o.lineTiming))
        UsageError(std::string(o.echo ? "--echo" : "--line-timing") +
                   " applies to a line, not to --modbus-tcp");
    if (o.turnaroundMs && !o.lineTiming)
        UsageError("--turnaround only applies with --line-timing");
    if (!o.echoGlitch.empty() && !o.echo)
        UsageError("--echo-glitch only applies with --echo");
    // A fault aimed at an address no meter holds would strike nothing: a typing error.
    const auto onBus = [&](int address) {
        if (address != 0 &&
            std::find(o.addresses.begin(), o.addresses.end(), address) == o.addresses.end())
            UsageError("no meter at address " + std::to_string(address) + " to strike");
    };
    for (const Fault& f : o.faults)
        onBus(f.address);
    for (const auto& [reg, address] : o.silentWrites)
        onBus(address);
    return o;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    // Piped output (a test harness, a log) must still see each line as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    // Every meter starts alike; the console sets them apart.
    Meters meters(o.addresses, md::reg::BaudCodeOf(o.baud));
    for (MeterModel& model : meters.All()) {
        for (const auto& [q, v] : o.sets)
            if (!model.Set(q, v)) {
                std::fprintf(stderr, "metersim: %s cannot be %d\n", NameOf(q), v);
                return 2;
            }
        model.SetVary(o.vary);
        model.SetAnswerFromNewAddress(o.answerFromNewAddress);
        if (o.clock)
            model.SetClockFixed(*o.clock);
    }
    FaultPlan faults(o.seed);
    for (const Fault& f : o.faults)
        faults.Add(f);
    for (const auto& [reg, address] : o.silentWrites)
        faults.SetSilentWrite(reg, address);
    const std::string who = meters.Several()
                                ? "meters at addresses " + meters.Addresses()
                                : "meter at address " + std::to_string(o.addresses.front());

    try {
        if (o.modbusTcp) {
            NetServer server(o.listen.empty() ? "127.0.0.1" : o.listen,
                             std::to_string(*o.modbusTcp), o.baud, meters, faults, o.trace);
            Console console(meters, faults, server);
            if (o.noise)
                server.SetNoise(o.noise);
            std::printf("ready %s (Modbus TCP), %s, %d bit/s, seed %u\n", server.Where().c_str(),
                        who.c_str(), o.baud, static_cast<unsigned>(o.seed));
            server.Run([&](std::string_view input) { return console.Input(input); });
            return 0;
        }
        std::unique_ptr<ToolLine> line;
        if (!o.link.empty())
            line = std::make_unique<PtyLine>(o.link, o.baud);
        else
            line = std::make_unique<DeviceLine>(o.device, o.baud, o.parity);
        Relay relay(*line, meters, faults, o.trace);
        relay.SetMeterParity(o.parity);
        if (o.lineTiming)
            relay.SetLineTiming(std::chrono::milliseconds(o.turnaroundMs.value_or(5)));
        relay.SetEcho(o.echo, o.echoGlitch);
        Console console(meters, faults, relay);
        if (o.noise)
            relay.SetNoise(o.noise);
        std::printf("ready %s, %s, %d bit/s, seed %u\n", line->Where().c_str(), who.c_str(), o.baud,
                    static_cast<unsigned>(o.seed));
        relay.Run([&](std::string_view input) { return console.Input(input); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "metersim: %s\n", e.what());
        return 1;
    }
    return 0;
}
