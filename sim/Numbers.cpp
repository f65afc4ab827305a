#include "sim/Numbers.h"

#include <algorithm>
#include <cstdio>

namespace md::sim {

namespace {

constexpr std::size_t kQuoted = 40;

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

} // namespace

std::optional<long long> ParseNumber(const std::string& text, long long min, long long max) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        ++i;
    int base = 10;
    if (text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    // Stopping as soon as the digits pass the range keeps a long string of digits from
    // overflowing.
    const long long limit = std::max(max, -min);
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0)
            return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            return std::nullopt;
    }
    const long long v = negative ? -magnitude : magnitude;
    if (v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int high = -1; // the first digit of a byte still open
    for (const char c : text) {
        if (c == ' ') {
            if (high >= 0)
                return std::nullopt;
            continue;
        }
        const int d = DigitValue(c, 16);
        if (d < 0)
            return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty())
        return std::nullopt;
    return bytes;
}

std::string Quoted(std::string_view text) {
    std::string shown = "'";
    for (const char c : text.substr(0, kQuoted)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            shown += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            shown += hex;
        }
    }
    shown += "'";
    if (text.size() > kQuoted)
        shown += " (cut, " + std::to_string(text.size()) + " bytes)";
    return shown;
}

} // namespace md::sim
