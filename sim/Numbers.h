#pragma once
// How metersim reads the numbers and byte strings it is given, on its command line and on
// standard input alike, and how it quotes what it was given back in a message.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace md::sim {

// A whole number written in decimal ("10", "-3") or hexadecimal ("0x10"), inside [min, max].
// A leading zero does not make it octal: "010" is ten.
std::optional<long long> ParseNumber(const std::string& text, long long min, long long max);

// Hexadecimal byte values, two digits each, spaces allowed between them: "00", "00 FF",
// "00ff". Nothing when the text holds anything else, an odd digit, or no byte at all.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text);

// "'text'": at most 40 bytes of it, bytes outside printable ASCII as \xNN, and the length
// of what was cut off, so that a message stays one short line whatever came in.
std::string Quoted(std::string_view text);

} // namespace md::sim
