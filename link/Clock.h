#pragma once
// Millisecond tick count and sleep, injected so that every wait can be tested on a virtual clock.

#include <cstdint>

namespace md {

class Clock {
public:
    virtual ~Clock() = default;
    virtual void Sleep(std::uint32_t ms) = 0;
    // Free-running millisecond counter; it wraps at 2^32 like the kernel's.
    virtual std::uint32_t GetTickCount() = 0;
};

class SteadyClock final : public Clock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint32_t GetTickCount() override;
};

} // namespace md
