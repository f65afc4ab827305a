#include "sim/Console.h"

#include "sim/Numbers.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace md::sim {

const char* const kCommandHelp =
    R"(Commands on standard input, one per line (replies are single lines):
  get NAME|REG           print what the meter holds: "upper = 500"
  set NAME|REG VALUE     change it ("set 0x0006 2", "set current-a 1500")
  clock now              the clock runs from the system time at UTC+8
  clock YYYY-MM-DD HH:MM:SS
                         the clock stands still at that time
  vary PERCENT           phase currents wander by up to PERCENT around their values (0: steady)
  fault KIND[:MS] [RATE] add a fault ("fault bad-crc once", "fault late:1500", "fault silent 30%")
  fault off              remove every fault and silent write
  silent-write REG       writes touching REG are carried out but never answered
  unplug                 the cable is pulled: the tool's open line fails with an I/O error
                         and its path names a device that is not there
  replug                 and comes back at the same path (the tool must reopen it)
  vanish                 the tool's device goes away entirely, path and all, as a pulled USB
                         adapter's does (pseudo-terminal links only)
  return                 and comes back under the same path (the tool must reopen it)
                         (with --modbus-tcp: unplug resets the connections and stops listening,
                         vanish keeps them but falls silent; replug and return undo them)
  noise RATE|off         random bytes to the tool at RATE bytes per second, on top of the
                         traffic; what the line cannot take is dropped
  trace on|off           print one line per frame
  status                 address, rate, clock and faults in one line
  help                   this summary
  quit                   end metersim
With several meters on the line (--address 1,3,5), a last word @N names the meter a command
speaks to ("set ct 5 @3", "fault silent 50% @3", "fault off @3"); without it get, set, clock,
vary and status speak to the first meter listed, and a fault or silent write strikes every
meter. The line's own commands (unplug ... quit) take no address.
NAME is one of current-a current-b current-c pt ct wiring decimal link-baud relay-switch
clock-min-sec clock-day-hour clock-year-month address upper lower param-baud; REG is a
register number ("0x0302"), naming what a read there returns, or for a register that is only
written (0x0004, 0x0008, 0x0300), what the last write set. Setting link-baud or address takes
effect at once, without an answer.)";

namespace {

// No command comes near this; a longer line is refused without being stored.
constexpr std::size_t kMaxLine = 4096;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : line) {
        // Control characters other than these stay inside a word, and make it unknown.
        if (c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

std::optional<int> Number(const std::string& text) {
    const auto v = ParseNumber(text, -1'000'000, 1'000'000);
    if (!v)
        return std::nullopt;
    return static_cast<int>(*v);
}

std::string Error(const std::string& text) {
    return "error: " + text;
}

} // namespace

std::optional<std::uint64_t> NoiseRate(const std::string& text) {
    const auto rate = ParseNumber(text, 0, 1'000'000'000);
    if (!rate)
        return std::nullopt;
    return static_cast<std::uint64_t>(*rate);
}

std::vector<std::string> Console::Input(std::string_view bytes) {
    std::vector<std::string> replies;
    for (const char c : bytes) {
        if (c != '\n' && c != '\r') {
            if (m_overlong > 0) {
                ++m_overlong;
            } else if (m_pending.size() < kMaxLine) {
                m_pending += c;
            } else {
                m_overlong = m_pending.size() + 1;
                std::string().swap(m_pending);
            }
            continue;
        }
        std::string reply;
        if (m_overlong > 0)
            reply = Error("a line of " + std::to_string(m_overlong) + " bytes is no command");
        else
            reply = Execute(m_pending);
        m_overlong = 0;
        m_pending.clear();
        if (!reply.empty())
            replies.push_back(std::move(reply));
    }
    return replies;
}

std::string Console::Execute(const std::string& line) {
    std::vector<std::string> w = Words(line);
    if (w.empty())
        return {};
    if (w.size() < 2 || w.back().size() < 2 || w.back()[0] != '@')
        return Execute(w, line, m_meters.First(), 0);
    const auto address = ParseNumber(w.back().substr(1), 1, 247);
    if (!address)
        return Error("an address is @1 to @247, not " + Quoted(w.back()));
    MeterModel* meter = m_meters.Find(static_cast<int>(*address));
    w.pop_back();
    // Faults stay with the address they name, also when its meter has moved away.
    if (!meter && !(w.size() == 2 && w[0] == "fault" && w[1] == "off"))
        return Error("no meter at address " + std::to_string(*address));
    return Execute(w, line, meter ? *meter : m_meters.First(), static_cast<int>(*address));
}

std::string Console::Execute(const std::vector<std::string>& w, const std::string& line,
                             MeterModel& meter, int address) {
    const std::string& cmd = w[0];
    const auto now = std::chrono::system_clock::now();
    const bool forLine = cmd == "unplug" || cmd == "replug" || cmd == "vanish" || cmd == "return" ||
                         cmd == "noise" || cmd == "trace" || cmd == "help" || cmd == "quit";
    if (address != 0 && forLine)
        return Error(cmd + " acts on the line, not on one meter");

    if (cmd == "get" && w.size() == 2) {
        if (w[1] == "clock")
            return "clock = " + ClockText(meter.Clock(now)) +
                   (meter.ClockRunning() ? " running" : " fixed");
        const auto q = QuantityNamed(w[1]);
        if (!q)
            return Error("no such quantity or register: " + Quoted(w[1]));
        return std::string(NameOf(*q)) + " = " + std::to_string(meter.Get(*q, now));
    }
    if (cmd == "set" && w.size() == 3) {
        const auto q = QuantityNamed(w[1]);
        const auto v = Number(w[2]);
        if (!q)
            return Error("no such quantity or register: " + Quoted(w[1]));
        if (!v || !meter.Set(*q, *v))
            return Error(std::string(NameOf(*q)) + " cannot be set to " + Quoted(w[2]));
        if (*q == Quantity::LinkBaud)
            m_line.Note("meter " +
                        (m_meters.Several() ? std::to_string(meter.Address()) + " " : "") +
                        "now at " + std::to_string(meter.LinkRate()) + " bit/s");
        return "ok " + std::string(NameOf(*q)) + " = " + std::to_string(*v);
    }
    if (cmd == "clock" && w.size() == 2 && w[1] == "now") {
        meter.SetClockRunning();
        return "ok clock running";
    }
    if (cmd == "clock" && w.size() == 3) {
        const auto t = ParseClock(w[1] + " " + w[2]);
        if (!t)
            return Error("clock wants YYYY-MM-DD HH:MM:SS, each field a byte");
        meter.SetClockFixed(*t);
        return "ok clock fixed at " + ClockText(*t);
    }
    if (cmd == "vary" && w.size() == 2) {
        const auto v = Number(w[1]);
        if (!v || *v < 0 || *v > 100)
            return Error("vary wants 0 to 100 percent");
        meter.SetVary(*v);
        return "ok vary " + std::to_string(*v) + "%";
    }
    if (cmd == "fault" && w.size() == 2 && w[1] == "off") {
        if (address != 0) {
            m_faults.ClearFor(address);
            return "ok no faults @" + std::to_string(address);
        }
        m_faults.Clear();
        m_faults.ClearSilentWrites();
        return "ok no faults";
    }
    if (cmd == "fault" && (w.size() == 2 || w.size() == 3)) {
        std::string error;
        auto f = ParseFault(w[1], w.size() == 3 ? w[2] : "", error);
        if (!f)
            return Error(error);
        if (address != 0 && f->address != 0 && f->address != address)
            return Error("two addresses in " + Quoted(line));
        if (address != 0)
            f->address = address;
        else if (f->address != 0 && !m_meters.Find(f->address))
            return Error("no meter at address " + std::to_string(f->address));
        m_faults.Add(*f);
        return "ok fault " + FaultText(*f);
    }
    if (cmd == "silent-write" && w.size() == 2) {
        const auto reg = ParseNumber(w[1], 0, 0xFFFF);
        if (!reg)
            return Error("silent-write wants a register number, 0 to 0xFFFF");
        m_faults.SetSilentWrite(static_cast<std::uint16_t>(*reg), address);
        char text[8];
        std::snprintf(text, sizeof text, "0x%04llX", *reg);
        return std::string("ok silent-write ") + text +
               (address != 0 ? " @" + std::to_string(address) : "");
    }
    if (cmd == "unplug" && w.size() == 1) {
        m_line.Unplug();
        return "ok unplugged";
    }
    if (cmd == "replug" && w.size() == 1) {
        std::string error;
        if (!m_line.Replug(error))
            return Error(error);
        return "ok replugged";
    }
    if (cmd == "vanish" && w.size() == 1) {
        std::string error;
        if (!m_line.Vanish(error))
            return Error(error);
        return "ok vanished";
    }
    if (cmd == "return" && w.size() == 1) {
        std::string error;
        if (!m_line.Replug(error, "returned"))
            return Error(error);
        return "ok returned";
    }
    if (cmd == "noise" && w.size() == 2) {
        const std::optional<std::uint64_t> rate = w[1] == "off" ? 0 : NoiseRate(w[1]);
        if (!rate)
            return Error("noise wants a rate in bytes per second, or off");
        m_line.SetNoise(*rate);
        return *rate ? "ok noise " + std::to_string(*rate) + " bytes/s" : "ok noise off";
    }
    if (cmd == "trace" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
        m_line.SetTrace(w[1] == "on");
        return "ok trace " + w[1];
    }
    if (cmd == "status" && w.size() == 1)
        return "ok address " + std::to_string(meter.Address()) + ", " +
               std::to_string(meter.LinkRate()) + " bit/s, clock " + ClockText(meter.Clock(now)) +
               (meter.ClockRunning() ? " running" : " fixed") + ", vary " +
               std::to_string(meter.Vary()) + "%, faults: " + m_faults.Describe() +
               (m_meters.Several() && address == 0 ? "; meters at " + m_meters.Addresses() : "");
    if (cmd == "help" && w.size() == 1)
        return kCommandHelp;
    if (cmd == "quit" && w.size() == 1) {
        m_line.Quit();
        return "ok quit";
    }
    return Error("unknown command " + Quoted(line) + " (try help)");
}

} // namespace md::sim
