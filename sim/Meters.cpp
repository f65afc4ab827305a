#include "sim/Meters.h"

#include "sim/Numbers.h"

#include <algorithm>

namespace md::sim {

namespace {

constexpr int kMaxAddress = 247;

} // namespace

std::optional<std::vector<int>> ParseAddresses(const std::string& text, std::string& error) {
    std::vector<int> addresses;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        // A dash past the first character is a range; a leading one is a minus sign, which
        // the range check refuses.
        const std::size_t dash = item.find('-', 1);
        const std::string from = item.substr(0, dash);
        const std::string to = dash == std::string::npos ? from : item.substr(dash + 1);
        const auto a = ParseNumber(from, 1, kMaxAddress), b = ParseNumber(to, 1, kMaxAddress);
        if (!a || !b) {
            error = "wants 1 to 247, not " + Quoted(!a ? from : to);
            return std::nullopt;
        }
        if (*b < *a) {
            error = "range " + Quoted(item) + " runs backwards";
            return std::nullopt;
        }
        for (long long v = *a; v <= *b; ++v) {
            if (std::find(addresses.begin(), addresses.end(), v) != addresses.end()) {
                error = "names " + std::to_string(v) + " twice";
                return std::nullopt;
            }
            addresses.push_back(static_cast<int>(v));
        }
        if (comma == std::string::npos)
            return addresses;
        start = comma + 1;
    }
}

Meters::Meters(const std::vector<int>& addresses, int baudCode) {
    for (const int a : addresses) {
        MeterModel& m = m_meters.emplace_back(static_cast<std::uint8_t>(a), baudCode);
        m.SetAddressTaken([this, &m](int address) {
            const MeterModel* other = Find(address);
            return other != nullptr && other != &m;
        });
    }
}

MeterModel* Meters::Find(int address) {
    for (MeterModel& m : m_meters)
        if (m.Address() == address)
            return &m;
    return nullptr;
}

std::string Meters::Addresses() const {
    std::string text;
    for (const MeterModel& m : m_meters)
        text += (text.empty() ? "" : " ") + std::to_string(m.Address());
    return text;
}

} // namespace md::sim
