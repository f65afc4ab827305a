#pragma once

#include <cstdint>
#include <span>

namespace md {

// CRC-16/MODBUS. Bits 15..8 of the result are the check byte sent first, bits 7..0 the second.
std::uint16_t CalcCrc16(std::span<const std::uint8_t> bytes);

} // namespace md
