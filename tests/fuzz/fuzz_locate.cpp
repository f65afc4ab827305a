// The echo-aware answer search and the trace's reading of a collection over arbitrary bytes.
// The first input byte gives the request's length (0 to 16: 0 means local echo off), the next
// four the function, address, second address and expected length; then come the request and
// the collection, each kept in a buffer of its exact size so that AddressSanitizer sees any read
// past it. With local echo on, an answer located behind a whole echo must not start inside it,
// and a copy of the request is never taken for the answer unless the echo came before it (or
// the adapter is known not to echo).

#include "link/Exchange.h"
#include "trace/TraceWriter.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    constexpr std::size_t kHead = 5;
    if (size < kHead)
        return 0;
    const std::size_t echoLen = in[0] % 17;
    md::AnswerWanted wanted;
    wanted.function = in[1];
    wanted.address = in[2];
    wanted.alsoFrom = in[3] & 0x80 ? -1 : in[3];
    wanted.expected = in[4] % 64;
    if (size < kHead + echoLen)
        return 0;
    const std::vector<std::uint8_t> echo(in + kHead, in + kHead + echoLen);
    const std::vector<std::uint8_t> data(in + kHead + echoLen, in + size);

    // The third pass: an adapter known not to echo, whose lone copy of a write is the answer.
    for (const int pass : {0, 1, 2}) {
        const bool localEcho = pass > 0;
        const bool loneCopy = pass == 2;
        const std::span<const std::uint8_t> sent =
            localEcho ? std::span<const std::uint8_t>(echo) : std::span<const std::uint8_t>();
        const md::AnswerSearch found = md::LocateAnswer(data, sent, wanted, loneCopy);
        if (found.offset >= 0 && found.offset + wanted.expected > static_cast<int>(data.size()))
            std::abort(); // an answer running past the collection
        if (found.echoAt < 0 || found.echoAt > found.echoLen ||
            found.echoLen > static_cast<int>(data.size()))
            std::abort(); // an echo outside the collection
        if (found.echo == md::EchoSeen::Removed && found.offset >= 0 &&
            found.offset < found.echoLen)
            std::abort(); // an answer inside the echo
        if (!localEcho && found.echo != md::EchoSeen::NotExpected)
            std::abort(); // an echo nobody asked for
        if (localEcho && !loneCopy && found.offset >= 0 && found.echo != md::EchoSeen::Removed &&
            static_cast<std::size_t>(wanted.expected) == echo.size() &&
            std::equal(echo.begin(), echo.end(), data.begin() + found.offset))
            std::abort(); // the echo taken for the answer
        md::DescribeCollection(data, wanted, found);
    }
    md::DescribeRequest(echo);
    md::AnswerText(data);
    return 0;
}
