#include "fakes/VirtualClock.h"

namespace md {

void VirtualClock::Sleep(std::uint32_t ms) {
    m_sleeps.push_back(ms);
    m_elapsed += ms;
}

std::uint32_t VirtualClock::GetTickCount() {
    ++m_tickReads;
    return Now();
}

void VirtualClock::ClearRecord() {
    m_sleeps.clear();
    m_tickReads = 0;
}

} // namespace md
