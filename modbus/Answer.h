#pragma once
// What a search of the received bytes looks for and what it found: the answer wanted, where it
// starts, and what the start of the collection showed of the adapter's echo of the request.

#include <array>
#include <cstdint>
#include <optional>

namespace md {

// What the start of a collection showed of the adapter's echo of the request.
enum class EchoSeen {
    NotExpected, // local echo is off, or nothing was sent
    Removed,     // the whole request came back (its first copy, after whatever came ahead of
                 // it), and everything up to its end was set aside
    CutShort,    // only the first bytes of the request came back, and nothing after them
    Missing,     // the request is not among the first bytes; searched as received
};

// Bytes of line noise allowed before an echo that is still arriving: many RS-485 adapters send
// a glitch byte or two when their transmitter switches on, ahead of the echo of what they send.
inline constexpr int kEchoSlack = 8;

// One search of the receive copy for the answer to the last request.
struct AnswerSearch {
    int offset = -1; // the answer's offset in the receive copy, or -1
    int echoLen = 0; // leading bytes set aside: line noise, then the adapter's echo
    EchoSeen echo = EchoSeen::NotExpected;
    int echoAt = 0; // where the echo starts: the bytes before it are line noise
    // Added by the exchange, not by the search: ms from the end of the request on the line to
    // the arrival of the last byte collected, or -1 when that is not known (nothing came, nothing
    // went out, or a fixed wait, which does not watch the line).
    int responseMs = -1;
    // This collection is the first to show that the adapter does not echo: an answer came with
    // no copy of the request ahead of it. From now on a lone copy of a write is its answer.
    bool echoNotHeard = false;
    // The meter's refusal (function | 0x80, valid check) that ended the search, or -1. It is the
    // answer to the request: nothing behind it is looked at.
    int exceptionAt = -1;
    // Whole acknowledgements of writes that were set aside because they confirm another
    // request (a late one, say): how many, and where the first starts (-1 for none).
    int stale = 0;
    int staleAt = -1;
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
    // A write's acknowledgement repeats bytes 2 to 5 of its request: the register and the value
    // (0x06), or the first register and the quantity (0x10). When set, only a frame that carries
    // these bytes there answers; any other is an acknowledgement of something else.
    std::optional<std::array<std::uint8_t, 4>> echoes{};
};

} // namespace md
