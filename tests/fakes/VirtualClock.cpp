#include "fakes/VirtualClock.h"

namespace md {

void VirtualClock::Sleep(std::uint32_t ms) {
    m_sleeps.push_back(ms);
    m_elapsedUs += std::uint64_t{ms} * 1000;
}

void VirtualClock::SleepUs(std::uint64_t us) {
    m_sleepsUs.push_back(us);
    m_elapsedUs += us;
}

std::uint32_t VirtualClock::GetTickCount() {
    ++m_tickReads;
    return Now();
}

void VirtualClock::ClearRecord() {
    m_sleeps.clear();
    m_sleepsUs.clear();
    m_tickReads = 0;
}

} // namespace md
