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
    const std::span<const std::uint8_t> request(m_bySendBuf.data(), static_cast<std::size_t>(len));
    const bool sent = SendFrame(m_port, request.data(), static_cast<std::int16_t>(len));
    m_sentLen = sent ? len : 0;
    std::copy(request.begin(), request.end(), m_sent.begin());
    m_trace->Sent(request, sent);
}

int CExchange::Collect(std::uint8_t function, std::uint8_t address, int expected) {
    const AnswerWanted wanted{function, address, expected};
    const int received = TakeInput(0);
    const AnswerSearch found = Locate(received, wanted);
    TraceCollection(received, wanted, found);
    return found.offset;
}

int CExchange::TakeInput(int have) {
    assert(have >= 0 && have <= kRecvSize);
    const int n = m_port.GetInBufferCount();
    const std::vector<std::uint8_t> input = m_port.GetInput();
    // When more than the copy holds has arrived, the first bytes are kept. Stale input was
    // flushed just before the request went out and the meter answers at once, so its answer
    // sits near the start; whatever streams in later in the wait (a babbling line, a flood of
    // noise) comes after it, and the search never looks past the earliest answer anyway.
    const int counted = std::clamp(n, 0, static_cast<int>(input.size()));
    const int copied = std::min(counted, kRecvSize - have);
    std::copy_n(input.begin(), copied, m_byRecvBuf.begin() + have);
    const std::span<const std::uint8_t> rest(input);
    if (copied < counted)
        m_trace->Dropped(rest.subspan(copied, counted - copied), DropReason::Overflow);
    if (counted < static_cast<int>(input.size()))
        m_trace->Dropped(rest.subspan(counted), DropReason::AfterCount);
    return have + copied;
}

AnswerSearch CExchange::Locate(int received, const AnswerWanted& wanted) const {
    const std::span<const std::uint8_t> data(m_byRecvBuf.data(),
                                             std::clamp(received, 0, kRecvSize));
    AnswerSearch found;
    if (m_localEcho && m_sentLen > 0) {
        // A prefix of the request with nothing after it is an echo still arriving, or one
        // cut off; either way no answer can follow it yet.
        const std::size_t k = std::min(data.size(), static_cast<std::size_t>(m_sentLen));
        if (k > 0 && std::equal(data.begin(), data.begin() + k, m_sent.begin())) {
            found.echoLen = static_cast<int>(k);
            found.echo =
                k == static_cast<std::size_t>(m_sentLen) ? EchoSeen::Removed : EchoSeen::CutShort;
        } else {
            found.echo = EchoSeen::Missing;
        }
    }
    const std::span<const std::uint8_t> rest = data.subspan(found.echoLen);
    const int p = FindResponse(rest, static_cast<std::int16_t>(rest.size()), wanted.function,
                               wanted.address, static_cast<std::int16_t>(wanted.expected));
    found.offset = p < 0 ? -1 : p + found.echoLen;
    return found;
}

void CExchange::TraceCollection(int received, const AnswerWanted& wanted,
                                const AnswerSearch& found) {
    m_trace->Received(
        std::span<const std::uint8_t>(m_byRecvBuf.data(), std::clamp(received, 0, kRecvSize)),
        wanted, found);
}

void CExchange::DiscardInput() {
    const std::vector<std::uint8_t> stale = m_port.GetInput();
    if (!stale.empty())
        m_trace->Dropped(stale, DropReason::Flush);
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
