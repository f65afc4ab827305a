#include "sim/Noise.h"

#include <algorithm>
#include <unistd.h>

namespace md::sim {

namespace {

// Noise goes out at least this often (and whenever a full line takes more), from a pool of
// random bytes this large.
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr std::size_t kPool = 1 << 16;

} // namespace

void Noise::SetRate(std::uint64_t bytesPerSecond, std::mt19937& rng, Clock::time_point now) {
    m_rate = bytesPerSecond;
    m_owed = 0;
    m_at = now;
    if (m_pool.empty()) {
        m_pool.resize(kPool);
        for (std::uint8_t& b : m_pool)
            b = static_cast<std::uint8_t>(rng());
    }
}

void Noise::Send(int fd, std::mt19937& rng, Clock::time_point now) {
    m_blocked = false;
    if (m_rate == 0)
        return;
    const double rate = static_cast<double>(m_rate);
    // At most a tenth of a second's worth waits for a full line; the rest is lost on the
    // wire, so the rate resumes afterwards instead of a burst making up for it.
    m_owed = std::min(m_owed + std::chrono::duration<double>(now - m_at).count() * rate, rate / 10);
    m_at = now;
    if (fd < 0) {
        m_owed = 0;
        return;
    }
    while (m_owed >= 1) {
        const std::size_t offset = rng() % kPool;
        const std::size_t n = std::min({static_cast<std::size_t>(m_owed), kPool - offset});
        const ssize_t written = write(fd, m_pool.data() + offset, n);
        if (written > 0)
            m_owed -= static_cast<double>(written);
        if (written < static_cast<ssize_t>(n)) {
            m_blocked = true; // the line is full: go on once it takes more
            break;
        }
    }
}

std::optional<Noise::Clock::time_point> Noise::NextDue() const {
    if (m_rate == 0 || m_blocked)
        return std::nullopt;
    return m_at + kTick;
}

} // namespace md::sim
