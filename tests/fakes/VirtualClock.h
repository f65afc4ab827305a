#pragma once
// A clock for tests: time stands still until someone sleeps, so every wait is exact and free.

#include "link/Clock.h"

#include <cstdint>
#include <vector>

namespace md {

class VirtualClock final : public Clock {
public:
    // start: the first tick count; set it near 2^32 to test the counter's wrap.
    explicit VirtualClock(std::uint32_t start = 0) : m_start(start) {}

    // Advances time by ms and records the sleep.
    void Sleep(std::uint32_t ms) override;
    // Counted read of the tick count.
    std::uint32_t GetTickCount() override;
    // Advances time by us and records the sleep apart from the millisecond ones.
    void SleepUs(std::uint64_t us) override;
    // The microsecond count, from the first tick count's millisecond on.
    std::uint64_t NowUs() override { return std::uint64_t{m_start} * 1000 + m_elapsedUs; }

    // Advances time without recording a sleep (the operator taking a while, say).
    void Advance(std::uint64_t ms) { m_elapsedUs += ms * 1000; }
    // Milliseconds since construction, whole ones; never wraps. FakePort schedules arrivals on
    // it.
    std::uint64_t Elapsed() const { return m_elapsedUs / 1000; }
    // Microseconds since construction.
    std::uint64_t ElapsedUs() const { return m_elapsedUs; }
    // The tick count now, without counting a read.
    std::uint32_t Now() const { return static_cast<std::uint32_t>(m_start + Elapsed()); }

    const std::vector<std::uint32_t>& Sleeps() const { return m_sleeps; }
    const std::vector<std::uint64_t>& SleepsUs() const { return m_sleepsUs; }
    int TickReads() const { return m_tickReads; }
    // Forgets recorded sleeps and tick reads; time itself goes on.
    void ClearRecord();

private:
    std::uint32_t m_start;
    std::uint64_t m_elapsedUs = 0;
    std::vector<std::uint32_t> m_sleeps;
    std::vector<std::uint64_t> m_sleepsUs;
    int m_tickReads = 0;
};

} // namespace md
