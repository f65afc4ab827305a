#include "link/Exchange.h"

#include "modbus/Frame.h"
#include "modbus/Mbap.h"

#include <algorithm>
#include <cassert>

namespace md {

namespace {

constexpr std::size_t kExceptionLen = 5; // address, function | 0x80, code, two check bytes

// What a pass over the bytes found: the earliest frame that ends the search (the answer or the
// meter's refusal), and the acknowledgements of other writes passed over on the way.
struct FrameScan {
    int answer = -1;
    int exception = -1;
    int stale = 0;
    int staleAt = -1;
    int End() const { return answer >= 0 ? answer : exception; }
};

bool FrameAt(std::span<const std::uint8_t> data, std::size_t i, std::size_t len) {
    return i + len <= data.size() && CheckBytesOk(data.subspan(i, len));
}

FrameScan ScanFrames(std::span<const std::uint8_t> data, const AnswerWanted& wanted) {
    FrameScan scan;
    if (wanted.expected < 4)
        return scan;
    const auto len = static_cast<std::size_t>(wanted.expected);
    const auto refusal = static_cast<std::uint8_t>(wanted.function | 0x80);
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        const std::uint8_t from = data[i];
        const std::uint8_t function = data[i + 1];
        // The meter's refusal is its answer, wherever it stands: a later frame that looks like
        // an acknowledgement cannot be this request's.
        if (function == refusal && from == wanted.address && FrameAt(data, i, kExceptionLen)) {
            scan.exception = static_cast<int>(i);
            return scan;
        }
        if (scan.answer >= 0 || function != wanted.function)
            continue;
        if (from != wanted.address && (wanted.alsoFrom < 0 || from != wanted.alsoFrom))
            continue;
        if (!FrameAt(data, i, len))
            continue;
        // A frame too short to carry bytes 2 to 5 cannot repeat them.
        if (wanted.echoes &&
            (len < 6 || !std::equal(wanted.echoes->begin(), wanted.echoes->end(),
                                    data.begin() + static_cast<std::ptrdiff_t>(i + 2)))) {
            if (scan.stale++ == 0)
                scan.staleAt = static_cast<int>(i);
            continue;
        }
        scan.answer = static_cast<int>(i);
        // A write's acknowledgement repeats the request, and so does (or its first bytes do)
        // an adapter's echo: a refusal behind it shows it was the echo. A read's answer ends
        // the search here.
        if (!wanted.echoes)
            return scan;
        i += len - 1;
    }
    return scan;
}

// The search's verdict from a scan of data[from, ...).
void Settle(AnswerSearch& found, const FrameScan& scan, int from) {
    found.offset = scan.answer < 0 || scan.exception >= 0 ? -1 : scan.answer + from;
    found.exceptionAt = scan.exception < 0 ? -1 : scan.exception + from;
    found.stale += scan.stale;
    if (found.staleAt < 0 && scan.staleAt >= 0)
        found.staleAt = scan.staleAt + from;
}

} // namespace

AnswerSearch LocateAnswer(std::span<const std::uint8_t> data, std::span<const std::uint8_t> echo,
                          const AnswerWanted& wanted, bool loneCopyAnswers) {
    AnswerSearch found;
    if (echo.empty()) {
        Settle(found, ScanFrames(data, wanted), 0);
        return found;
    }
    const std::size_t n = echo.size();
    // The echo is the first whole copy of the request, wherever it lies: an echoing adapter
    // sends it back while the request goes out, so nothing ahead of it (noise, a late answer to
    // an earlier request) can answer this request, and a write's acknowledgement, which repeats
    // the request, is the second copy and never the first.
    for (std::size_t i = 0; i + n <= data.size(); ++i) {
        if (!std::equal(echo.begin(), echo.end(), data.begin() + static_cast<std::ptrdiff_t>(i)))
            continue;
        found.echo = EchoSeen::Removed;
        found.echoAt = static_cast<int>(i);
        found.echoLen = static_cast<int>(i + n);
        const FrameScan behind = ScanFrames(data.subspan(i + n), wanted);
        Settle(found, behind, found.echoLen);
        // An adapter found not to echo: a copy with nothing answered behind it is the meter's
        // acknowledgement, when it passes for one. A refusal behind it makes it the echo.
        if (behind.End() < 0 && loneCopyAnswers) {
            const FrameScan copy = ScanFrames(data.subspan(i, n), wanted);
            if (copy.answer == 0) {
                found = AnswerSearch{};
                found.echo = EchoSeen::Missing;
                found.offset = static_cast<int>(i);
            }
        }
        return found;
    }
    found.echo = EchoSeen::Missing;
    const FrameScan scan = ScanFrames(data, wanted);
    Settle(found, scan, 0);
    if (scan.End() >= 0)
        return found;
    // Nothing found: a tail that begins the echo is an echo still arriving, or one cut off;
    // either way no answer can follow it yet.
    for (std::size_t i = 0; i <= kEchoSlack && i < data.size(); ++i) {
        const std::span<const std::uint8_t> tail = data.subspan(i);
        if (tail.size() < n && std::equal(tail.begin(), tail.end(), echo.begin())) {
            found.echo = EchoSeen::CutShort;
            found.echoAt = static_cast<int>(i);
            found.echoLen = static_cast<int>(data.size());
            break;
        }
    }
    return found;
}

bool ShowsNoEcho(std::span<const std::uint8_t> data, std::span<const std::uint8_t> sent,
                 const AnswerWanted& wanted, const AnswerSearch& found) {
    if (found.echo != EchoSeen::Missing || found.offset < 0 ||
        static_cast<std::size_t>(found.offset) > data.size())
        return false;
    const auto p = static_cast<std::size_t>(found.offset);
    const auto answer = data.subspan(p);
    const std::size_t behind =
        answer.size() - std::min(answer.size(), static_cast<std::size_t>(wanted.expected));
    const bool room = p >= sent.size() || behind >= sent.size();
    const bool copy =
        answer.size() >= sent.size() && std::equal(sent.begin(), sent.end(), answer.begin());
    return !room && !copy;
}

CExchange::CExchange(SerialControl& port, Clock& clock) : m_port(port), m_clock(clock) {}

void CExchange::SetLocalEcho(bool on) {
    m_localEcho = on;
    m_noEcho = false;
    m_noEchoNews = false;
}

void CExchange::SetLine(std::int32_t baudRate, bool parity) {
    assert(baudRate > 0);
    m_baudRate = baudRate;
    m_parity = parity;
}

int CExchange::Transact(int len, WaitKind kind, std::uint32_t ms, std::uint8_t function,
                        std::uint8_t address, int expected) {
    return Transact(len, kind, ms, {function, address, expected});
}

int CExchange::Transact(int len, WaitKind kind, std::uint32_t ms, const AnswerWanted& wanted) {
    SendOnly(len);
    if (m_fast)
        return AwaitAnswer(ms, wanted);
    Wait(kind, ms);
    return Collect(wanted);
}

AnswerWanted CExchange::Framed(const AnswerWanted& wanted) const {
    AnswerWanted framed = wanted;
    framed.transaction = m_transaction;
    // A write is acknowledged only by a frame that repeats what it wrote where.
    const bool write = wanted.function == kFnWriteSingle || wanted.function == kFnWriteMultiple;
    if (write && !framed.echoes && m_sent[1] == wanted.function)
        framed.echoes = std::array<std::uint8_t, 4>{m_sent[2], m_sent[3], m_sent[4], m_sent[5]};
    return framed;
}

bool CExchange::EchoAwaited(const AnswerSearch& found) const {
    return m_localEcho && !m_noEcho && m_transaction < 0 && m_sentLen > 0 &&
           found.echo == EchoSeen::Missing;
}

int CExchange::AwaitAnswer(std::uint32_t ms, const AnswerWanted& asked) {
    const AnswerWanted wanted = Framed(asked);
    const std::uint32_t t0 = m_clock.GetTickCount();
    int received = 0;
    AnswerSearch found;
    // Each take follows the wait that woke on its bytes: its time is when they arrived.
    std::optional<std::uint32_t> lastArrival;
    for (;;) {
        // Everything Input returns is kept: with several takes, bytes that land between a
        // count and the read are part of the answer still coming in.
        const std::vector<std::uint8_t> input = m_port.GetInput();
        const std::uint32_t takenAt = m_clock.GetTickCount();
        if (!input.empty())
            lastArrival = takenAt;
        received = Keep(input, static_cast<int>(input.size()), received);
        found = Locate(received, wanted);
        const std::uint32_t spent = takenAt - t0;
        // While the adapter is taken to echo, an answer with no echo ahead of it may be a late
        // one to an earlier request, with the echo and this request's answer still to come:
        // the wait runs its course, so that the search sees them.
        if ((found.offset >= 0 && !EchoAwaited(found)) || spent >= ms)
            break;
        // Nothing came in time, or the port cannot receive (closed): the rest of the fixed
        // wait passes as a sleep, and the loop takes once more and ends.
        if (!m_port.WaitForInput(ms - spent)) {
            const std::uint32_t now = m_clock.GetTickCount() - t0;
            if (now < ms)
                m_clock.Sleep(ms - now);
        }
    }
    m_quietSince = m_clock.NowUs();
    int responseMs = -1;
    if (lastArrival && m_sentLen > 0) {
        // On a serial line the request is on the line for its wire time after the port took
        // it. A Modbus TCP gateway's line is not ours to know: the time counts from the write.
        const std::uint32_t wire =
            m_transaction < 0 ? WireTimeMs(m_sentLen, m_baudRate, m_parity) : 0;
        const std::uint32_t end = t0 + wire;
        responseMs = std::max(static_cast<std::int32_t>(*lastArrival - end), 0);
    }
    TraceCollection(received, wanted, found, responseMs);
    return found.offset;
}

void CExchange::SendOnly(int len) {
    assert(len >= 0 && static_cast<std::size_t>(len) <= m_bySendBuf.size());
    if (m_fast)
        KeepGap();
    DiscardInput();
    // Input takes at most what the control holds; after a long burst the driver still keeps
    // older bytes, which would open the collection ahead of the answer.
    m_port.SetInBufferCount(0);
    const std::span<const std::uint8_t> request(m_bySendBuf.data(), static_cast<std::size_t>(len));
    // Over Modbus TCP the request goes out re-framed, with a transaction identifier of its own.
    std::vector<std::uint8_t> adu;
    m_transaction = -1;
    if (m_port.GetTransport() == Transport::ModbusTcp && len >= 4) {
        m_transaction = ++m_nextTransaction;
        adu = MbapRequest(request, m_nextTransaction);
    }
    const std::span<const std::uint8_t> wire = m_transaction < 0 ? request : adu;
    // A line found lost inside the send dropped the bytes: they did not go out either.
    const bool sent = SendFrame(m_port, wire.data(), static_cast<std::int16_t>(wire.size())) &&
                      m_port.LostReason().empty();
    m_sentLen = sent ? len : 0;
    std::copy(request.begin(), request.end(), m_sent.begin());
    if (m_transaction < 0)
        m_trace->Sent(request, sent);
    else
        m_trace->SentMbap(wire, sent);
}

int CExchange::Collect(const AnswerWanted& asked) {
    const AnswerWanted wanted = Framed(asked);
    const int received = TakeInput(0);
    const AnswerSearch found = Locate(received, wanted);
    TraceCollection(received, wanted, found);
    return found.offset;
}

int CExchange::TakeInput(int have) {
    const int n = m_port.GetInBufferCount();
    const std::vector<std::uint8_t> input = m_port.GetInput();
    return Keep(input, n, have);
}

int CExchange::Keep(std::span<const std::uint8_t> input, int n, int have) {
    assert(have >= 0 && have <= kRecvSize);
    // When more than the copy holds has arrived, the first bytes are kept. Stale input was
    // flushed just before the request went out and the meter answers at once, so its answer
    // sits near the start; whatever streams in later in the wait (a babbling line, a flood of
    // noise) comes after it, and the search never looks past the earliest answer anyway.
    const int counted = std::clamp(n, 0, static_cast<int>(input.size()));
    const int copied = std::min(counted, kRecvSize - have);
    std::copy_n(input.begin(), copied, m_byRecvBuf.begin() + have);
    if (copied < counted)
        m_trace->Dropped(input.subspan(copied, counted - copied), DropReason::Overflow);
    if (counted < static_cast<int>(input.size()))
        m_trace->Dropped(input.subspan(counted), DropReason::AfterCount);
    return have + copied;
}

AnswerSearch CExchange::Locate(int received, const AnswerWanted& wanted) const {
    const std::span<const std::uint8_t> data(m_byRecvBuf.data(),
                                             std::clamp(received, 0, kRecvSize));
    // Modbus TCP has no adapter echo and no check bytes: the frame says whose answer it is.
    if (wanted.transaction >= 0) {
        AnswerSearch found;
        found.offset = FindMbapAnswer(data, wanted).offset;
        return found;
    }
    const std::span<const std::uint8_t> echo(m_sent.data(),
                                             m_localEcho ? static_cast<std::size_t>(m_sentLen) : 0);
    return LocateAnswer(data, echo, wanted, m_noEcho);
}

void CExchange::TraceCollection(int received, const AnswerWanted& wanted, AnswerSearch found,
                                int responseMs) {
    const std::span<const std::uint8_t> bytes(m_byRecvBuf.data(),
                                              std::clamp(received, 0, kRecvSize));
    const auto sent =
        std::span<const std::uint8_t>(m_sent).first(static_cast<std::size_t>(m_sentLen));
    if (found.echo == EchoSeen::Removed) {
        m_noEcho = false;
    } else if (!m_noEcho && ShowsNoEcho(bytes, sent, wanted, found)) {
        m_noEcho = true;
        m_noEchoNews = true;
        found.echoNotHeard = true;
    }
    found.responseMs = responseMs;
    m_trace->Received(bytes, wanted, found);
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
    if (m_fast)
        KeepGap();
    else
        m_clock.Sleep(kPauseMs);
}

std::uint64_t CExchange::InterFrameGapUs() const {
    return md::InterFrameGapUs(m_baudRate, m_parity);
}

void CExchange::KeepGap() {
    // A Modbus TCP gateway keeps the silence on its own line; nothing on ours needs it.
    if (!m_quietSince || m_port.GetTransport() == Transport::ModbusTcp)
        return;
    const std::uint64_t quiet = m_clock.NowUs() - *m_quietSince;
    const std::uint64_t gap = InterFrameGapUs();
    if (quiet < gap)
        m_clock.SleepUs(gap - quiet);
}

std::uint16_t CExchange::Register(int p, int k) const {
    return RegisterAt(m_byRecvBuf, p, k);
}

std::uint8_t CExchange::DataByte(int p, int i) const {
    assert(p >= 0 && i >= 0 && static_cast<std::size_t>(p + 3 + i) < m_byRecvBuf.size());
    return m_byRecvBuf[static_cast<std::size_t>(p + 3 + i)];
}

} // namespace md
