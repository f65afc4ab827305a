#pragma once
// Random bytes to the tool at a steady rate, on top of the traffic. What the line cannot take
// at once is dropped, so a tool that stops reading builds up no backlog.

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace md::sim {

class Noise {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes per second from `now` on; 0 stops them. The bytes come from rng.
    void SetRate(std::uint64_t bytesPerSecond, std::mt19937& rng, Clock::time_point now);
    // Writes what is owed by `now` to fd; fd < 0 is a pulled cable, where the noise is lost.
    void Send(int fd, std::mt19937& rng, Clock::time_point now);
    // The line was full at the last write: wait until it takes more.
    bool Blocked() const { return m_blocked; }
    // When noise is due next; nothing while off or blocked.
    std::optional<Clock::time_point> NextDue() const;

private:
    std::uint64_t m_rate = 0;
    double m_owed = 0;
    bool m_blocked = false;
    Clock::time_point m_at;
    std::vector<std::uint8_t> m_pool;
};

} // namespace md::sim
