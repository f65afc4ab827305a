#include "link/Exchange.h"

#include "link/Frame.h"

#include <algorithm>
#include <cassert>

namespace md {

CExchange::CExchange(SerialControl& port, Clock& clock) : m_port(port), m_clock(clock) {}

int CExchange::Transact(int len, WaitKind kind, std::uint32_t ms, std::uint8_t function,
                        std::uint8_t address, int expected) {
    SendOnly(len);
    Wait(kind, ms);
    return Collect(function, address, expected);
}

void CExchange::SendOnly(int len) {
    assert(len >= 0 && static_cast<std::size_t>(len) <= m_bySendBuf.size());
    DiscardInput();
    SendFrame(m_port, m_bySendBuf.data(), static_cast<std::int16_t>(len));
}

int CExchange::Collect(std::uint8_t function, std::uint8_t address, int expected) {
    const int n = m_port.GetInBufferCount();
    const std::vector<std::uint8_t> input = m_port.GetInput();
    // When more than the copy holds has arrived, the first bytes are kept. Stale input was
    // flushed just before the request went out and the meter answers at once, so its answer
    // sits near the start; whatever streams in later in the wait (a babbling line, a flood of
    // noise) comes after it, and the search never looks past the earliest answer anyway.
    const int copied =
        std::clamp(std::min(n, static_cast<int>(input.size())), 0, static_cast<int>(kRecvSize));
    std::copy_n(input.begin(), copied, m_byRecvBuf.begin());
    m_nCopied = copied;
    return Locate(function, address, expected);
}

int CExchange::Locate(std::uint8_t function, std::uint8_t address, int expected) const {
    return FindResponse(m_byRecvBuf, static_cast<std::int16_t>(m_nCopied), function, address,
                        static_cast<std::int16_t>(expected));
}

void CExchange::DiscardInput() {
    m_port.GetInput();
}

void CExchange::Wait(WaitKind kind, std::uint32_t ms) {
    if (kind == WaitKind::Sleep) {
        m_clock.Sleep(ms);
        return;
    }
    // Unsigned 32-bit difference: correct across the tick count's wrap at 2^32.
    const std::uint32_t t0 = m_clock.GetTickCount();
    while (static_cast<std::uint32_t>(m_clock.GetTickCount() - t0) < ms)
        m_clock.Sleep(1); // a short nap between reads, so the wait does not burn a core
}

void CExchange::WaitBetweenRequests() {
    m_clock.Sleep(kPauseMs);
}

std::uint16_t CExchange::Register(int p, int k) const {
    return RegisterAt(m_byRecvBuf, p, k);
}

std::uint8_t CExchange::DataByte(int p, int i) const {
    assert(p >= 0 && i >= 0 && static_cast<std::size_t>(p + 3 + i) < m_byRecvBuf.size());
    return m_byRecvBuf[static_cast<std::size_t>(p + 3 + i)];
}

} // namespace md
