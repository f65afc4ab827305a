#pragma once
// The traffic trace: what the exchange tells about every frame it sends and every collection of
// received bytes. The exchange calls a sink; the sink decides what to make of it (nothing, by
// default, or one text line per event: TraceWriter).

#include <cstdint>
#include <span>
#include <string>

namespace md {

// What the start of a collection showed of the adapter's echo of the request.
enum class EchoSeen {
    NotExpected, // local echo is off, or nothing was sent
    Removed,     // the whole request came back, after at most kEchoSlack bytes of line noise,
                 // and everything up to its end was set aside
    CutShort,    // only the first bytes of the request came back, and nothing after them
    Missing,     // the request is not among the first bytes; searched as received
};

// Bytes of line noise allowed before the echo: many RS-485 adapters send a glitch byte or two
// when their transmitter switches on, ahead of the echo of what they send.
inline constexpr int kEchoSlack = 8;

// One search of the receive copy for the answer to the last request.
struct AnswerSearch {
    int offset = -1; // the answer's offset in the receive copy, or -1
    int echoLen = 0; // leading bytes set aside: line noise, then the adapter's echo
    EchoSeen echo = EchoSeen::NotExpected;
    int echoAt = 0; // where the echo starts: the bytes before it are line noise
};

// The answer a collection was searched for.
struct AnswerWanted {
    std::uint8_t function = 0;
    std::uint8_t address = 0;
    int expected = 0; // total length, check bytes included
    // A second address whose answer is taken as well, or -1: a meter acknowledges the write of
    // its own address from the address it has just been given.
    int alsoFrom = -1;
    // Modbus TCP: the transaction identifier the answer must carry, the bytes being MBAP frames
    // (Mbap.h); -1 for RTU frames.
    int transaction = -1;
};

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

// The sink that does nothing: the exchange's default.
TraceSink& NullTrace();

} // namespace md
