#include "modbus/Crc.h"

#include <array>

namespace md {

namespace {

// CRC-16/MODBUS: polynomial 0x8005 processed LSB first (reflected form 0xA001), initial value
// 0xFFFF, no final exclusive-or. The table-driven form of the Modbus serial line keeps the
// 16-bit register as two bytes and splits the reflected 256-entry table into two byte tables.
constexpr std::uint16_t kReflectedPoly = 0xA001;

constexpr std::uint16_t ReflectedEntry(unsigned i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1U) ? static_cast<std::uint16_t>((crc >> 1) ^ kReflectedPoly)
                         : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

struct ByteTables {
    std::array<std::uint8_t, 256> a{}; // low byte of each reflected table entry
    std::array<std::uint8_t, 256> b{}; // high byte of each reflected table entry
};

constexpr ByteTables MakeTables() {
    ByteTables t;
    for (unsigned i = 0; i < 256; ++i) {
        const std::uint16_t e = ReflectedEntry(i);
        t.a[i] = static_cast<std::uint8_t>(e & 0xFF);
        t.b[i] = static_cast<std::uint8_t>(e >> 8);
    }
    return t;
}

constexpr ByteTables kTables = MakeTables();

// The first entries of the two tables as the Modbus serial line guide prints them.
static_assert(kTables.a[1] == 0xC1 && kTables.a[2] == 0x81 && kTables.a[255] == 0x40);
static_assert(kTables.b[1] == 0xC0 && kTables.b[2] == 0xC1 && kTables.b[255] == 0x40);

} // namespace

std::uint16_t CalcCrc16(std::span<const std::uint8_t> bytes) {
    // `first` is the register's low-order byte, which goes on the wire first.
    std::uint8_t first = 0xFF;
    std::uint8_t second = 0xFF;
    for (const std::uint8_t b : bytes) {
        const std::uint8_t i = first ^ b;
        first = second ^ kTables.a[i];
        second = kTables.b[i];
    }
    return static_cast<std::uint16_t>(first << 8 | second);
}

} // namespace md
