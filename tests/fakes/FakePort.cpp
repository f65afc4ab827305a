#include "fakes/FakePort.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace md {

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        s += kDigits[b >> 4];
        s += kDigits[b & 0x0F];
    }
    return s;
}

void FakePort::Record(std::string what) const {
    m_events.push_back({std::move(what), m_clock.Elapsed()});
}

void FakePort::Deliver() {
    const std::uint64_t now = m_clock.Elapsed();
    auto due = m_pending.begin();
    for (; due != m_pending.end() && due->due <= now; ++due)
        if (m_open)
            m_arrived.insert(m_arrived.end(), due->bytes.begin(), due->bytes.end());
    m_pending.erase(m_pending.begin(), due);
}

void FakePort::SetCommPort(std::int16_t port) {
    Record("CommPort=" + std::to_string(port));
    m_commPort = port;
}

void FakePort::SetSettings(const std::string& settings) {
    Record("Settings=" + settings);
    m_settings = settings;
}

void FakePort::SetPortOpen(bool open) {
    Record(std::string("PortOpen=") + (open ? "1" : "0"));
    Deliver();
    m_lost.clear();
    if (open && m_openFailure)
        throw CommError(*m_openFailure);
    // Closing drops what the driver held; what was still on its way is lost too.
    if (!open) {
        m_arrived.clear();
        m_pending.clear();
    }
    m_open = open;
}

bool FakePort::GetPortOpen() const {
    Record("PortOpen?");
    return m_open;
}

void FakePort::SetInputLen(std::int16_t len) {
    Record("InputLen=" + std::to_string(len));
    m_inputLen = len;
}

void FakePort::SetInBufferCount(std::int16_t count) {
    Record("InBufferCount=" + std::to_string(count));
    Deliver();
    if (count == 0)
        m_arrived.clear();
}

std::int16_t FakePort::GetInBufferCount() {
    Record("InBufferCount?");
    Deliver();
    return static_cast<std::int16_t>(
        std::min<std::size_t>(m_arrived.size(), std::numeric_limits<std::int16_t>::max()));
}

std::vector<std::uint8_t> FakePort::GetInput() {
    Record("Input?");
    Deliver();
    std::size_t take = m_arrived.size();
    if (m_inputLen > 0)
        take = std::min<std::size_t>(take, static_cast<std::size_t>(m_inputLen));
    std::vector<std::uint8_t> out(m_arrived.begin(), m_arrived.begin() + take);
    m_arrived.erase(m_arrived.begin(), m_arrived.begin() + take);
    return out;
}

void FakePort::SetOutput(std::span<const std::uint8_t> bytes) {
    Record("Output=" + ToHex(bytes));
    if (!m_lost.empty())
        return;
    if (!m_open)
        throw CommError("端口未打开");
    m_outputs.push_back({{bytes.begin(), bytes.end()}, m_clock.Elapsed(), m_clock.ElapsedUs()});
    std::vector<Reply> replies;
    if (!m_queue.empty()) {
        replies = std::move(m_queue.front());
        m_queue.pop_front();
    } else if (m_responder) {
        replies = m_responder(bytes);
    }
    for (Reply& r : replies)
        ArriveAfter(r.delayMs, std::move(r.bytes));
}

bool FakePort::Reopen() {
    if (m_lost.empty())
        return m_open;
    Record("Reopen");
    if (m_openFailure) {
        if (m_commPort != m_lostPort) {
            m_lost = *m_openFailure;
            m_lostPort = m_commPort;
        }
        return false;
    }
    m_lost.clear();
    m_open = true;
    return true;
}

void FakePort::MarkLost(const std::string& reason) {
    Record("Lost");
    Lose(reason);
}

void FakePort::Lose(std::string reason) {
    m_open = false;
    m_arrived.clear();
    m_pending.clear();
    m_lost = std::move(reason);
    m_lostPort = m_commPort;
}

bool FakePort::WaitForInput(std::uint32_t ms) {
    Record("WaitForInput=" + std::to_string(ms));
    Deliver();
    if (!m_open)
        return false;
    if (!m_arrived.empty())
        return true;
    const std::uint64_t deadline = m_clock.Elapsed() + ms;
    const bool arrives = !m_pending.empty() && m_pending.front().due <= deadline;
    m_clock.Advance((arrives ? m_pending.front().due : deadline) - m_clock.Elapsed());
    Deliver();
    return !m_arrived.empty();
}

void FakePort::QueueAnswer(std::vector<std::uint8_t> bytes, std::uint32_t delayMs) {
    std::vector<Reply> replies;
    replies.push_back({std::move(bytes), delayMs});
    QueueAnswer(std::move(replies));
}

void FakePort::ArriveAfter(std::uint32_t ms, std::vector<std::uint8_t> bytes) {
    const std::uint64_t due = m_clock.Elapsed() + ms;
    // After every entry due at the same time or earlier, so equal times keep their order.
    const auto at = std::upper_bound(m_pending.begin(), m_pending.end(), due,
                                     [](std::uint64_t t, const Pending& p) { return t < p.due; });
    m_pending.insert(at, {due, std::move(bytes)});
}

std::vector<std::string> FakePort::Log() const {
    std::vector<std::string> log;
    log.reserve(m_events.size());
    for (const Event& e : m_events)
        log.push_back(e.what);
    return log;
}

std::vector<std::string> FakePort::Puts() const {
    std::vector<std::string> puts;
    for (const Event& e : m_events)
        if (e.what != "PortOpen?" && e.what != "InBufferCount?" && e.what != "Input?" &&
            e.what.rfind("Output=", 0) != 0 && e.what.rfind("WaitForInput=", 0) != 0)
            puts.push_back(e.what);
    return puts;
}

std::size_t FakePort::Waiting() {
    Deliver();
    return m_arrived.size();
}

void FakePort::ClearRecord() {
    m_events.clear();
    m_outputs.clear();
}

} // namespace md
