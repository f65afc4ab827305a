#include "meter/BusPoller.h"

#include <algorithm>
#include <memory>

namespace md::meter {

// How the exchange's last request fared, heard on the trace as the monitor hears it.
class BusPoller::Tap final : public TraceSink {
public:
    void Sent(std::span<const std::uint8_t>, bool sent) override { m_notSent = !sent; }
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                  const AnswerSearch& found) override {
        status = m_notSent ? TraceStatus::NotSent : CollectionStatus(bytes, wanted, found);
        responseMs = found.responseMs;
    }
    void Dropped(std::span<const std::uint8_t>, DropReason) override {}

    TraceStatus status = TraceStatus::Ok;
    int responseMs = -1;

private:
    bool m_notSent = false;
};

BusPoller::BusPoller(CExchange& link, TraceFanOut& trace, std::vector<std::uint8_t> addresses,
                     std::uint32_t intervalMs)
    : m_link(link), m_trace(trace), m_tap(std::make_unique<Tap>()), m_intervalMs(intervalMs) {
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    for (const std::uint8_t a : addresses) {
        BusMeter m;
        m.address = a;
        m_meters.push_back(m);
    }
    m_trace.Add(*m_tap);
}

BusPoller::~BusPoller() {
    m_trace.Remove(*m_tap);
}

bool BusPoller::Due(const BusMeter& m) const {
    return !m.Resting() || m_cycle >= m.nextTry;
}

bool BusPoller::FindDue() {
    while (m_index < m_meters.size() && !Due(m_meters[m_index]))
        ++m_index;
    return m_index < m_meters.size();
}

bool BusPoller::LineDown() {
    if (m_tap->status != TraceStatus::NotSent)
        return false;
    const std::string lost = m_link.Port().LostReason();
    m_lineLost = lost.empty() ? PortClosedText() : lost;
    return true;
}

std::uint32_t BusPoller::EndCycle() {
    m_stage = Stage::Between;
    const std::uint32_t spent = m_link.GetClock().GetTickCount() - m_cycleStart;
    return spent >= m_intervalMs ? 0 : m_intervalMs - spent;
}

std::uint32_t BusPoller::Step() {
    try {
        return Advance();
    } catch (const CommError& e) {
        // The port refused outright (closed under the poll, say): the line is down for every
        // meter, and the next cycle tries again.
        m_lineLost = e.what();
        return EndCycle();
    }
}

std::uint32_t BusPoller::Advance() {
    switch (m_stage) {
    case Stage::Between: {
        const std::uint32_t now = m_link.GetClock().GetTickCount();
        if (m_cycle > 0 && now - m_cycleStart < m_intervalMs)
            return m_intervalMs - (now - m_cycleStart);
        ++m_cycle;
        m_cycleStart = now;
        m_index = 0;
        // A line the port has lost costs the cycle nothing: the caller's recovery reopens it
        // before a later step, and no meter is blamed for it.
        if (const std::string lost = m_link.Port().LostReason(); !lost.empty()) {
            m_lineLost = lost;
            return EndCycle();
        }
        m_stage = Stage::DecimalPoint;
        return FindDue() ? 0 : EndCycle();
    }
    case Stage::DecimalPoint: {
        BusMeter& m = m_meters[m_index];
        const auto decimalPoint = ReadDecimalPoint(m_link, m.address);
        if (LineDown())
            return EndCycle();
        m_lineLost.clear();
        if (decimalPoint) {
            m.decimalPoint = *decimalPoint;
            m_stage = Stage::Currents;
            return 0;
        }
        // A silent meter costs its one wait: the currents read would only wait as long again.
        Failed(m);
        break;
    }
    case Stage::Currents: {
        BusMeter& m = m_meters[m_index];
        const auto raw = ReadCurrentsAfterPause(m_link, m.address);
        if (LineDown())
            return EndCycle();
        if (raw)
            Answered(m, *raw);
        else
            Failed(m);
        break;
    }
    }
    ++m_index;
    m_stage = Stage::DecimalPoint;
    return FindDue() ? 0 : EndCycle();
}

void BusPoller::Answered(BusMeter& m, const std::array<std::uint16_t, 3>& raw) {
    m.raw = raw;
    ++m.successCount;
    m.responseMs = m_tap->responseMs;
    m.state = BusMeterState::Answering;
    m.why = TraceStatus::Ok;
    m.missed = 0;
    if (onPolled)
        onPolled({m.address, raw, m.decimalPoint, TraceStatus::Ok});
}

void BusPoller::Failed(BusMeter& m) {
    ++m.failureCount;
    m.why = m_tap->status;
    m.state = m.why == TraceStatus::Exception ? BusMeterState::Refused : BusMeterState::NoAnswer;
    if (++m.missed >= kBusMissesBeforeRest)
        m.nextTry = m_cycle + kBusRestCycles;
    if (onPolled)
        onPolled({m.address, std::nullopt, m.decimalPoint, m.why});
}

} // namespace md::meter
