#pragma once
// The traffic trace: what the exchange tells about every frame it sends and every collection of
// received bytes. The exchange calls a sink; the sink decides what to make of it (nothing, by
// default, or one text line per event: TraceWriter).

#include "modbus/Answer.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace md {

enum class DropReason {
    Flush,      // stale input read and thrown away before a request goes out
    Overflow,   // counted bytes beyond the receive copy's bound
    AfterCount, // bytes that arrived between the count and the read
};

class TraceSink {
public:
    virtual ~TraceSink() = default;
    // A request handed to the port; sent is false when nothing went out: the port was closed,
    // or the line was found lost while sending.
    virtual void Sent(std::span<const std::uint8_t> request, bool sent) = 0;
    // One collection: the bytes copied into the receive copy and what the search made of them.
    virtual void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                          const AnswerSearch& found) = 0;
    // Bytes taken off the line that never reach the receive copy.
    virtual void Dropped(std::span<const std::uint8_t> bytes, DropReason why) = 0;
    // A Modbus TCP request as it went out: MBAP header, then the PDU.
    virtual void SentMbap(std::span<const std::uint8_t> adu, bool sent) { Sent(adu, sent); }
    // A line of its own about the link, such as the transport and peer it runs over.
    virtual void Note(const std::string& /*text*/) {}
};

// The wall time of the report being handed on. A report reaches several sinks (the trace file,
// the monitor), each of which stamps its line; reading the clock in each would let their times
// differ by a millisecond. So whoever hands a report to several sinks holds one reading of the
// clock while they run, and the lines take that. Nested holds keep the outermost time.
class ReportTime {
public:
    using Clock = std::chrono::system_clock;
    ReportTime() : m_outer(!Held()) {
        if (m_outer)
            Held() = Clock::now();
    }
    ~ReportTime() {
        if (m_outer)
            Held().reset();
    }
    ReportTime(const ReportTime&) = delete;
    ReportTime& operator=(const ReportTime&) = delete;

    // The time held for the report now handed on; the clock when none is.
    static Clock::time_point Now() { return Held() ? *Held() : Clock::now(); }

private:
    static std::optional<Clock::time_point>& Held() {
        thread_local std::optional<Clock::time_point> held;
        return held;
    }
    bool m_outer;
};

// The sink that does nothing: the exchange's default.
TraceSink& NullTrace();

} // namespace md
