#pragma once
// The meter's register map. The same numbers mean different things for reads and writes,
// so each constant is named for what the tool does with it. Shared by the tool and metersim.

#include <cstdint>

namespace md::reg {

// 0x03, three registers: phase A, B, C current (raw, scaled by the decimal point).
inline constexpr std::uint16_t kPhaseCurrents = 0x0000;
// 0x10, two registers: PT ratio (first register), 0 (second).
inline constexpr std::uint16_t kPtRatio = 0x0000;
// 0x06: wiring mode code 0..5.
inline constexpr std::uint16_t kWiringMode = 0x0002;
// 0x10, two registers: CT ratio, 0.
inline constexpr std::uint16_t kCtRatio = 0x0004;
// 0x03 / 0x06: decimal point (0..3 give a scale).
inline constexpr std::uint16_t kDecimalPoint = 0x0006;
// 0x06: the link's baud code; acknowledged at the old rate, then the meter switches.
inline constexpr std::uint16_t kLinkBaudCode = 0x0008;
// 0x03: relay output (high byte) and switch input (low byte).
inline constexpr std::uint16_t kRelaySwitch = 0x0016;
// 0x03, three registers: minute|second, day|hour, year-2000|month.
inline constexpr std::uint16_t kClock = 0x0110;
// 0x06: the meter's own address (written, never read back).
inline constexpr std::uint16_t kOwnAddress = 0x0300;
// Parameter block, 0x03 / 0x06.
inline constexpr std::uint16_t kUpperLimit = 0x0302;
inline constexpr std::uint16_t kLowerLimit = 0x0304;
inline constexpr std::uint16_t kParamBaudCode = 0x0308;

// Baud code 0..4 <-> 1200..19200 bit/s.
inline constexpr int kBaudRates[5] = {1200, 2400, 4800, 9600, 19200};

// Code for a rate, or -1 for a rate that has no code.
constexpr int BaudCodeOf(int rate) {
    for (int i = 0; i < 5; ++i)
        if (kBaudRates[i] == rate)
            return i;
    return -1;
}

// Rate for a code, or -1 for a code outside 0..4.
constexpr int BaudRateOf(int code) {
    return code >= 0 && code < 5 ? kBaudRates[code] : -1;
}

} // namespace md::reg
