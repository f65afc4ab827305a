#pragma once
// The blocking request/response exchange: flush, send, fixed wait, count, input, copy, locate.

#include "link/Clock.h"
#include "port/SerialControl.h"
#include "trace/Trace.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace md {

enum class WaitKind {
    Sleep, // the thread sleeps the given time
    Busy,  // the tick count is polled until the unsigned difference reaches the time
};

// Searches data for the answer wanted. echo is the request as it went out when the adapter
// echoes (empty otherwise). The echo is the first whole copy of the request, wherever it lies.
// The answer is searched for only behind it, so that the acknowledgement of a write, which
// repeats the request, is the second copy and never the first. With no copy, data is searched
// as received; should nothing be found and data end in the first bytes of the echo (after at
// most kEchoSlack bytes of noise), the echo is still arriving (or was cut off) and everything
// is set aside. loneCopyAnswers: the adapter is known not to echo, so a copy with nothing
// answered behind it is itself the answer when it passes for one.
// The search ends at the earliest frame that answers: one from wanted.address (or
// wanted.alsoFrom) with the function, length and valid check bytes, and for a write repeating
// wanted.echoes; or a refusal from wanted.address (function | 0x80), which is the answer and
// leaves offset at -1. Acknowledgements of other writes are counted as stale and passed over.
// A write's acknowledgement with a refusal behind it was an echo: the refusal answers.
AnswerSearch LocateAnswer(std::span<const std::uint8_t> data, std::span<const std::uint8_t> echo,
                          const AnswerWanted& wanted, bool loneCopyAnswers = false);

// Whether a collection searched under local echo (LocateAnswer gave found) shows that the
// adapter does not echo: an answer with no copy of the request sent ahead of it, and no room for
// one ahead of it or behind it either, that is not itself a copy (a read's answer never is).
// Bytes that could hold an echo damaged on the line are no such proof, nor is a lone copy of a
// write, which could be either.
bool ShowsNoEcho(std::span<const std::uint8_t> data, std::span<const std::uint8_t> sent,
                 const AnswerWanted& wanted, const AnswerSearch& found);

class CExchange {
public:
    static constexpr int kRecvSize = 300;
    static constexpr std::uint32_t kPauseMs = 300;

    CExchange(SerialControl& port, Clock& clock);

    SerialControl& Port() { return m_port; }
    Clock& GetClock() { return m_clock; }

    // Where the exchange reports its traffic; the null sink until set. The sink must outlive
    // the exchange.
    void SetTrace(TraceSink& sink) { m_trace = &sink; }
    // The line adapter echoes every byte sent: the request is looked for among the first bytes
    // collected (LocateAnswer), and everything up to its end is set aside before the answer is
    // located. Off by default. An answer that comes with no copy of the request ahead of it,
    // and no room for one (ShowsNoEcho), shows that the adapter does not echo after all: from
    // then on a lone copy of a write is taken as its answer, until an echo is seen again.
    void SetLocalEcho(bool on);
    bool LocalEcho() const { return m_localEcho; }
    // True once after a collection has found that the adapter does not echo.
    bool TakeNoEchoNews() { return std::exchange(m_noEchoNews, false); }
    // Answer-complete waits: an exchange ends as soon as its answer is located, its fixed wait
    // being only the upper bound, and the pause between requests shrinks to the inter-frame gap
    // at the port's rate (none over Modbus TCP, where no line of ours carries the frames). Off
    // by default: every wait then lasts its fixed time.
    void SetFastWaits(bool on) { m_fast = on; }
    bool FastWaits() const { return m_fast; }
    // The line the port is set to, for the inter-frame gap: the rate in bit/s (> 0) and whether
    // a parity bit goes with every character. 9600 bit/s without parity until told, as the
    // port control starts.
    void SetLine(std::int32_t baudRate, bool parity);

    // Exchange with answer for the request already built in m_bySendBuf[0, len).
    // Returns the answer's offset in m_byRecvBuf, or -1. With fast waits the kind of wait does
    // not matter: both block on the port.
    int Transact(int len, WaitKind kind, std::uint32_t ms, std::uint8_t function,
                 std::uint8_t address, int expected);
    int Transact(int len, WaitKind kind, std::uint32_t ms, const AnswerWanted& wanted);
    // Write without answer: flush and send only. With fast waits the line is first left quiet
    // for the inter-frame gap since the last exchange ended.
    void SendOnly(int len);
    // The second half of an exchange on its own: count, input, copy, locate. At most the first
    // kRecvSize of the counted bytes are copied; the rest of the input is dropped.
    int Collect(const AnswerWanted& wanted);

    // The steps of Collect, for a wait that collects in several takes:
    // Reads the count, then Input, and copies the counted bytes to m_byRecvBuf from position
    // `have` up to kRecvSize; what does not fit, and what came after the count, is dropped.
    // Returns the number of valid bytes in the copy now.
    int TakeInput(int have);
    // Searches m_byRecvBuf[0, received) for the answer to the request last sent, the adapter's
    // echo of that request set aside first when local echo is on. Touches neither the port nor
    // the trace.
    AnswerSearch Locate(int received, const AnswerWanted& wanted) const;
    // Reports one finished collection to the trace, with what it showed of the adapter's echo
    // and the response time (-1 when the arrivals were not watched).
    void TraceCollection(int received, const AnswerWanted& wanted, AnswerSearch found,
                         int responseMs = -1);

    // The transaction identifier the last request went out with over Modbus TCP; -1 when it
    // went out as an RTU frame. Answers are looked for as this framing has them.
    int Transaction() const { return m_transaction; }

    // Reads Input once and drops it.
    void DiscardInput();
    void Wait(WaitKind kind, std::uint32_t ms);
    // The 300 ms pause between consecutive requests; with fast waits, what is left of the
    // inter-frame gap since the last exchange ended.
    void WaitBetweenRequests();
    // The inter-frame gap on the line given to SetLine, in microseconds.
    std::uint64_t InterFrameGapUs() const;

    // Register k of the 0x03 answer at offset p of the receive copy.
    std::uint16_t Register(int p, int k) const;
    // Data byte i (after the byte count) of the 0x03 answer at offset p.
    std::uint8_t DataByte(int p, int i) const;

    std::array<std::uint8_t, 16> m_bySendBuf{};
    std::array<std::uint8_t, kRecvSize> m_byRecvBuf{};

private:
    // Copies the first n bytes of input into m_byRecvBuf from position `have`, as TakeInput
    // describes, and returns the number of valid bytes in the copy now.
    int Keep(std::span<const std::uint8_t> input, int n, int have);
    // Collects until the answer is located or ms have passed, blocking on the port meanwhile.
    int AwaitAnswer(std::uint32_t ms, const AnswerWanted& wanted);
    // Sleeps what is left of the inter-frame gap since the last fast exchange ended, to the
    // microsecond; nothing over Modbus TCP.
    void KeepGap();
    // wanted, told the framing of the last request and, for a write, what its acknowledgement
    // repeats of it.
    AnswerWanted Framed(const AnswerWanted& wanted) const;
    // Whether an answer found without the echo ahead of it must not end a fast wait yet: the
    // adapter is taken to echo, and the echo has not come.
    bool EchoAwaited(const AnswerSearch& found) const;

    SerialControl& m_port;
    Clock& m_clock;
    TraceSink* m_trace = &NullTrace();
    bool m_localEcho = false;
    bool m_fast = false;
    // The clock's microsecond count when the last fast exchange ended; none before the first.
    std::optional<std::uint64_t> m_quietSince;
    std::int32_t m_baudRate = 9600;
    bool m_parity = false;
    // The request as it last went out (length 0 when nothing went out): what an echoing
    // adapter sends back first.
    std::array<std::uint8_t, 16> m_sent{};
    int m_sentLen = 0;
    // A collection under local echo found an answer without the echo: the adapter does not echo.
    bool m_noEcho = false;
    bool m_noEchoNews = false;
    // Modbus TCP: the last request's transaction identifier (-1 for RTU), and the counter
    // that gives every request its own.
    int m_transaction = -1;
    std::uint16_t m_nextTransaction = 0;
};

} // namespace md
