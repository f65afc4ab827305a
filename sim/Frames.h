#pragma once
// What metersim needs to know about RTU frames on its own, without the tool's codec: the check
// bytes, where a frame ends, and a one-line reading of a request for the trace (in the tool's
// words, link/TraceText.h, whose AnswerText reads the answers).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace md::sim {

// CRC-16/MODBUS as the usual 16-bit value; its low-order byte goes on the wire first.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);
bool CrcOk(std::span<const std::uint8_t> frame);
// Replaces the last two bytes of frame with its check bytes.
void Recrc(std::vector<std::uint8_t>& frame);

// Total length of the request or answer that starts at bytes[0], or 0 while it cannot be told
// yet (too few bytes, or a function whose layout is unknown: silence has to end those).
std::size_t RequestLength(std::span<const std::uint8_t> bytes);
std::size_t AnswerLength(std::span<const std::uint8_t> bytes);

// "read 3 @0x0000", "write @0x0006 = 2", "write 2 @0x0000 = 100 0", "function 0x2B" (also for a
// fragment that has its function).
std::string DescribeRequest(std::span<const std::uint8_t> request);

} // namespace md::sim
