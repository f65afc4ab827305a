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

    // Advances time without recording a sleep (the operator taking a while, say).
    void Advance(std::uint64_t ms) { m_elapsed += ms; }
    // Milliseconds since construction; never wraps. FakePort schedules arrivals on it.
    std::uint64_t Elapsed() const { return m_elapsed; }
    // The tick count now, without counting a read.
    std::uint32_t Now() const { return static_cast<std::uint32_t>(m_start + m_elapsed); }

    const std::vector<std::uint32_t>& Sleeps() const { return m_sleeps; }
    int TickReads() const { return m_tickReads; }
    // Forgets recorded sleeps and tick reads; time itself goes on.
    void ClearRecord();

private:
    std::uint32_t m_start;
    std::uint64_t m_elapsed = 0;
    std::vector<std::uint32_t> m_sleeps;
    int m_tickReads = 0;
};

} // namespace md
