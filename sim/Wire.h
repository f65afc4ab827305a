#pragma once
// The time frames take on the wire. Untimed, bytes pass at once; timed, a request reaches the
// meter once its last character is through, and bytes for the tool arrive one character time
// apart, each direction after whatever it still carries.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace md::sim {

// One character on the wire: start bit, 8 data bits and 2 stop bits (or parity and 1 stop).
std::chrono::nanoseconds CharTime(int rate);
// The silence that ends an RTU frame at this rate: three and a half characters, at least 5 ms.
std::chrono::steady_clock::duration FrameSilence(int rate);

class Wire {
public:
    using Clock = std::chrono::steady_clock;

    struct Request { // a request the meter hears once its last bit is in
        Clock::time_point due;
        std::vector<std::uint8_t> frame;
        bool glitched; // an echo glitch went out ahead of it
    };

    // From now on every frame takes its time on the wire, and the meter starts its answer
    // `turnaround` after the request ended.
    void SetTiming(Clock::duration turnaround) { m_turnaround = turnaround; }
    bool Timed() const { return m_turnaround.has_value(); }
    Clock::duration Turnaround() const { return m_turnaround.value_or(Clock::duration::zero()); }

    // Whether the tool's direction carries nothing at `now`.
    bool ToMeterQuiet(Clock::time_point now) const { return m_toMeterFree <= now; }
    // A request written from `start` on at `rate`, behind what is still on its way.
    void ToMeter(std::vector<std::uint8_t> frame, bool glitched, int rate, Clock::time_point start);
    // Bytes sent to the tool from `start` on at `rate`, behind what is still on its way.
    void ToTool(std::span<const std::uint8_t> bytes, int rate, Clock::time_point start);

    // Requests whose last bit is in by `now`, in order, taken off the wire.
    std::vector<Request> HeardBy(Clock::time_point now);
    // Bytes for the tool whose last bit is in by `now`, taken off the wire.
    std::vector<std::uint8_t> ArrivedBy(Clock::time_point now);
    // When the next request or byte is due; nothing while the wire is empty.
    std::optional<Clock::time_point> NextDue() const;
    // The cable is pulled: what was on it is gone.
    void Clear();

private:
    struct Byte { // a byte still on its way to the tool
        Clock::time_point due;
        std::uint8_t byte;
    };

    std::optional<Clock::duration> m_turnaround; // set: frames take their wire time
    std::deque<Request> m_toMeter;
    std::deque<Byte> m_toTool;
    Clock::time_point m_toMeterFree, m_toToolFree; // when each direction's wire falls quiet
};

} // namespace md::sim
