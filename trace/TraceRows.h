#pragma once
// The trace as rows for a window: each row is the line the trace file gets (bytes beyond
// kTraceBytesShown counted rather than shown), with its columns apart, one status word that
// says how the frame fared, and for a collection its response time where it is known.

#include "trace/Trace.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace md {

enum class TraceStatus {
    Ok,
    EchoRemoved,  // answered, behind the adapter's echo of the request
    NotSent,      // the port was closed
    NoAnswer,     // nothing, or nothing that could be an answer
    CheckError,   // the answer's address and function, wrong check bytes
    WrongAddress, // a whole answer, from another address
    Exception,    // the meter refused the request
    GatewayPath,  // a gateway found no path to the meter (Modbus exception 0x0A)
    GatewayTarget, // a gateway got no answer from the meter (Modbus exception 0x0B)
    Dropped,      // bytes taken off the line outside any collection
};

// "ok", "echo removed", "not sent", "no answer", "check error", "wrong address", "exception",
// "gateway: no path", "gateway: no answer", "dropped".
const char* StatusWord(TraceStatus status);
// Whether the row is a failure of the exchange it belongs to.
bool IsFailure(TraceStatus status);
// How a collection fared, read the same way its trace line reads it.
TraceStatus CollectionStatus(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                             const AnswerSearch& found);

struct TraceRow {
    std::string line;          // "10:31:02.114 <- 01 03 ...  -> 1234  [notes]"
    std::uint16_t hexSize = 0; // characters of hex after the direction
    TraceStatus status = TraceStatus::Ok;
    // A collection: ms from the end of its request to the last byte's arrival, as the
    // exchange measured it; -1 when not known, and for every other row.
    int responseMs = -1;

    std::string_view Time() const;      // "10:31:02.114"
    std::string_view Direction() const; // "->", "<-" or "--"
    std::string_view Hex() const;
    std::string_view Meaning() const; // with the notes, as the line has them
};

// Turns the exchange's reports into rows and hands each to out.
class TraceRowMaker final : public TraceSink {
public:
    using Out = std::function<void(TraceRow&&)>;
    // out receives each row as it is made.
    explicit TraceRowMaker(Out out);

    void Sent(std::span<const std::uint8_t> request, bool sent) override;
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                  const AnswerSearch& found) override;
    void Dropped(std::span<const std::uint8_t> bytes, DropReason why) override;
    void SentMbap(std::span<const std::uint8_t> adu, bool sent) override;
    void Note(const std::string& text) override;

    // How the last exchange fared: its collection's status, or NotSent when its request never
    // went out. Ok before the first.
    TraceStatus LastOutcome() const { return m_last; }
    // Collections reported so far.
    std::uint64_t Collections() const { return m_collections; }

private:
    void Emit(std::string_view direction, std::string_view hex, std::string_view meaning,
              std::string_view notes, TraceStatus status, int responseMs = -1);

    Out m_out;
    bool m_notSent = false; // the last request never went out
    TraceStatus m_last = TraceStatus::Ok;
    std::uint64_t m_collections = 0;
};

} // namespace md
