#pragma once
// The commands metersim takes on standard input while it runs.

#include "sim/Faults.h"
#include "sim/LineControls.h"
#include "sim/Meters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace md::sim {

// The command summary printed by `help` and at the end of --help.
extern const char* const kCommandHelp;

// A noise rate in bytes per second, 0 to 1e9; nothing otherwise.
std::optional<std::uint64_t> NoiseRate(const std::string& text);

class Console {
public:
    Console(Meters& meters, FaultPlan& faults, LineControls& line)
        : m_meters(meters), m_faults(faults), m_line(line) {}

    // Takes whatever standard input delivered, in pieces of any size, and carries out each
    // line completed by it; returns the replies. A line ends at a line feed or a carriage
    // return; blank lines are skipped, and a line too long for any command is refused whole
    // without being kept.
    std::vector<std::string> Input(std::string_view bytes);

    // Carries out one command line. The reply is one line: "NAME = VALUE" for get,
    // "ok ..." for a command done, "error: ..." otherwise (help prints several); empty for a
    // line without words. A last word "@N" names the meter a command speaks to; without it,
    // get, set, clock, vary and status speak to the first meter listed, and a fault or a
    // silent write strikes every meter.
    std::string Execute(const std::string& line);

private:
    std::string Execute(const std::vector<std::string>& w, const std::string& line,
                        MeterModel& meter, int address);

    Meters& m_meters;
    FaultPlan& m_faults;
    LineControls& m_line;
    std::string m_pending;         // the line being received
    std::size_t m_overlong = 0;    // bytes of an over-long line dropped so far; 0: none
};

} // namespace md::sim
