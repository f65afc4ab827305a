#pragma once
// Meter operations behind the link settings and the meter setup dialog: the request that moves
// the meter to a new baud rate, the clock read, and the PT, CT and wiring-mode writes. Each one
// is a single exchange judged by the answer locator; the caller shows the outcome.

#include "link/Exchange.h"

#include <cstdint>
#include <optional>
#include <string>

namespace md::meter {

// Every write here waits by polling the tick count for its answer.
inline constexpr std::uint32_t kSetupWaitMs = 300;
// The clock read sleeps, and for half the time of the other reads.
inline constexpr std::uint32_t kClockWaitMs = 300;
// The PT and CT ratios a meter takes, and the number of wiring modes (codes 0 to 5).
inline constexpr unsigned kRatioMin = 1;
inline constexpr unsigned kRatioMax = 64000;
inline constexpr int kWiringModeCount = 6;

// Asks the meter at address to switch its link to newRate (register 0x0008, the rate's code).
// The request and its echo travel at the current rate; the caller switches the port only
// afterwards. A rate without a baud code is never sent and counts as not acknowledged.
bool RequestBaudChange(CExchange& link, std::uint8_t address, int newRate);

// The meter clock as its three registers carry it: plain binary bytes, not BCD, with no range
// check. The window words it (MeterClockText).
struct MeterClock {
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t year = 0; // years since 2000
    std::uint8_t month = 0;
};

std::optional<MeterClock> ReadMeterClock(CExchange& link, std::uint8_t address);

// PT and CT go out as the first register of a two-register write (the second is 0); only the
// low 16 bits of the ratio are sent.
bool WritePtRatio(CExchange& link, std::uint8_t address, int pt);
bool WriteCtRatio(CExchange& link, std::uint8_t address, int ct);
// Wiring mode code 0..5 into register 0x0002.
bool WriteWiringMode(CExchange& link, std::uint8_t address, std::uint8_t code);

} // namespace md::meter
