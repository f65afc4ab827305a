#pragma once
// Millisecond tick count and sleep, injected so that every wait can be tested on a virtual clock;
// a microsecond reading and sleep beside them for the silence between frames, which at the
// usual rates is a few milliseconds and a fraction.

#include <cstdint>

namespace md {

class Clock {
public:
    virtual ~Clock() = default;
    virtual void Sleep(std::uint32_t ms) = 0;
    // Free-running millisecond counter; it wraps at 2^32 like the kernel's.
    virtual std::uint32_t GetTickCount() = 0;
    virtual void SleepUs(std::uint64_t us) = 0;
    // Free-running microsecond counter on the same time base as the tick count.
    virtual std::uint64_t NowUs() = 0;
};

class SteadyClock final : public Clock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint32_t GetTickCount() override;
    void SleepUs(std::uint64_t us) override;
    std::uint64_t NowUs() override;
};

} // namespace md
