#pragma once
// The commands metersim takes on standard input while it runs.

#include "sim/Faults.h"
#include "sim/Model.h"
#include "sim/Relay.h"

#include <cstdint>
#include <optional>
#include <string>

namespace md::sim {

// The command summary printed by `help` and at the end of --help.
extern const char* const kCommandHelp;

// A noise rate in bytes per second: digits, at most 1e9; nothing otherwise.
std::optional<std::uint64_t> NoiseRate(const std::string& text);

class Console {
public:
    Console(MeterModel& model, FaultPlan& faults, Relay& relay)
        : m_model(model), m_faults(faults), m_relay(relay) {}

    // Carries out one command line. The reply is one line: "NAME = VALUE" for get,
    // "ok ..." for a command done, "error: ..." otherwise (help prints several).
    std::string Execute(const std::string& line);

private:
    MeterModel& m_model;
    FaultPlan& m_faults;
    Relay& m_relay;
};

} // namespace md::sim
