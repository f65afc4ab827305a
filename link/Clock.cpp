#include "link/Clock.h"

#include <chrono>
#include <thread>

namespace md {

void SteadyClock::Sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t SteadyClock::GetTickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    // Truncation keeps the low 32 bits, so the count wraps like the kernel's tick count.
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SteadyClock::SleepUs(std::uint64_t us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

std::uint64_t SteadyClock::NowUs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

} // namespace md
