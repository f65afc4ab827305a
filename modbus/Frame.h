#pragma once
// Modbus RTU request builders and the answer locator. Pure functions: bytes in, bytes out.

#include <cstddef>
#include <cstdint>
#include <span>

namespace md {

inline constexpr std::uint8_t kFnReadHolding = 0x03;
inline constexpr std::uint8_t kFnWriteSingle = 0x06;
inline constexpr std::uint8_t kFnWriteMultiple = 0x10;

inline constexpr int kShortRequestLen = 8; // 0x03 and 0x06
inline constexpr int kLongRequestLen = 13; // 0x10 with two registers

// Answer lengths, check bytes included: a 0x03 answer carries address, function, byte count
// and two bytes a register; a 0x06 answer echoes the request and a 0x10 answer repeats its
// first six bytes, eight bytes either way.
constexpr int ReadAnswerLen(int registers) {
    return 5 + 2 * registers;
}
inline constexpr int kWriteAnswerLen = 8;

// Each builder writes from buf[0] and returns the request length (8 or 13).
// Written values are the low 16 bits of the int (70000 -> 0x1170, -1 -> 0xFFFF).
int BuildReadRequest(std::span<std::uint8_t> buf, std::uint8_t address, std::uint16_t firstReg,
                     std::uint16_t count);
int BuildWriteSingleRequest(std::span<std::uint8_t> buf, std::uint8_t address, std::uint16_t reg,
                            int value);
// Two registers from firstReg: the first holds the low 16 bits of value, the second 0.
int BuildWriteDoubleRequest(std::span<std::uint8_t> buf, std::uint8_t address,
                            std::uint16_t firstReg, int value);

// The last two bytes of frame (at least 4 bytes) are the check over the rest, low-order byte
// first.
bool CheckBytesOk(std::span<const std::uint8_t> frame);

// Offset of the earliest answer in data[0, received) that carries address and function and a
// valid check over `expected` bytes, or -1. received < expected gives -1 without scanning.
// Nothing else in the answer is compared. A received beyond data.size() is cut to it, and an
// expected below 4 (address, function, two check bytes) finds nothing.
std::int16_t FindResponse(std::span<const std::uint8_t> data, std::int16_t received,
                          std::uint8_t function, std::uint8_t address, std::int16_t expected);

// Bits one character takes on the line: a start bit, 8 data bits, the parity bit when parity is
// on, and 2 stop bits.
constexpr int BitsPerCharacter(bool parity) {
    return 1 + 8 + (parity ? 1 : 0) + 2;
}
// The time n characters take on the line at baudRate (> 0), in whole microseconds rounded up.
std::uint64_t WireTimeUs(std::size_t n, std::int32_t baudRate, bool parity);
// The silence that must part two frames on the line: three and a half characters at baudRate
// (> 0), in whole milliseconds rounded up so that it never falls short, and at least 2 ms.
std::uint32_t InterFrameGapMs(std::int32_t baudRate, bool parity);

// The same silence in whole microseconds, rounded up: what a sleep to the microsecond keeps.
// Never below the 1750 us that the serial line rules fix for rates above 19200 bit/s.
std::uint64_t InterFrameGapUs(std::int32_t baudRate, bool parity);

// Time that bytes characters take on the wire at baudRate (> 0): a start bit, 8 data bits, the
// parity bit when parity is on and 2 stop bits each, in whole milliseconds rounded up.
std::uint32_t WireTimeMs(int bytes, std::int32_t baudRate, bool parity);

// Register k (from 0) of a 0x03 answer located at offset p: unsigned, high byte first.
std::uint16_t RegisterAt(std::span<const std::uint8_t> data, int p, int k);

} // namespace md
