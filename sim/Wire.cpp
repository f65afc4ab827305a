#include "sim/Wire.h"

#include <algorithm>

namespace md::sim {

std::chrono::nanoseconds CharTime(int rate) {
    return std::chrono::nanoseconds(11'000'000'000LL / rate);
}

std::chrono::steady_clock::duration FrameSilence(int rate) {
    const auto chars = std::chrono::microseconds(38'500'000 / rate);
    return std::max<std::chrono::steady_clock::duration>(chars, std::chrono::milliseconds(5));
}

void Wire::ToMeter(std::vector<std::uint8_t> frame, bool glitched, int rate,
                   Clock::time_point start) {
    start = std::max(start, m_toMeterFree);
    m_toMeterFree = start + static_cast<long>(frame.size()) * CharTime(rate);
    m_toMeter.push_back({m_toMeterFree, std::move(frame), glitched});
}

void Wire::ToTool(std::span<const std::uint8_t> bytes, int rate, Clock::time_point start) {
    auto at = std::max(start, m_toToolFree);
    for (const std::uint8_t b : bytes) {
        at += CharTime(rate);
        m_toTool.push_back({at, b});
    }
    m_toToolFree = at;
}

std::vector<Wire::Request> Wire::HeardBy(Clock::time_point now) {
    std::vector<Request> heard;
    for (; !m_toMeter.empty() && m_toMeter.front().due <= now; m_toMeter.pop_front())
        heard.push_back(std::move(m_toMeter.front()));
    return heard;
}

std::vector<std::uint8_t> Wire::ArrivedBy(Clock::time_point now) {
    std::vector<std::uint8_t> arrived;
    for (; !m_toTool.empty() && m_toTool.front().due <= now; m_toTool.pop_front())
        arrived.push_back(m_toTool.front().byte);
    return arrived;
}

std::optional<Wire::Clock::time_point> Wire::NextDue() const {
    std::optional<Clock::time_point> due;
    if (!m_toMeter.empty())
        due = m_toMeter.front().due;
    if (!m_toTool.empty())
        due = due ? std::min(*due, m_toTool.front().due) : m_toTool.front().due;
    return due;
}

void Wire::Clear() {
    m_toMeter.clear();
    m_toTool.clear();
}

} // namespace md::sim
