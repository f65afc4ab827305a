// The echo-aware answer search and the trace's reading of a collection over arbitrary bytes, and
// the same search over collections built the way a line brings them.
//
// Raw: the first input byte gives the request's length (0 to 16: 0 means local echo off), the
// next four the function, address, second address and expected length; then come the request
// and the collection, each kept in a buffer of its exact size so that AddressSanitizer sees any
// read past it. With local echo on, an answer located behind a whole echo must not start inside
// it, and a copy of the request is never taken for the answer unless the echo came before it (or
// the adapter is known not to echo).
//
// Built: the same bytes read as a request (a read of one or three registers, or a write of one
// or two), the adapter's echo of it (exact, one bit flipped, or none), noise ahead of it and
// behind it (never the meter's address, so that no frame of the meter starts there), for a
// write perhaps a late acknowledgement of another write, and the meter's answer (right, a
// refusal, or none). Whatever the echo mode and whether the adapter is known not to echo:
// - a refusal is never taken for a write's acknowledgement;
// - a write is acknowledged only by a frame that repeats its register and value (0x06) or its
//   first register and quantity (0x10);
// - a collection whose request came back, exact or damaged, never shows that the adapter does
//   not echo (unless the damaged copy itself passes for an answer, which the bytes cannot tell).

#include "link/Exchange.h"
#include "modbus/Crc.h"
#include "modbus/Frame.h"
#include "trace/TraceWriter.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void CheckRaw(const std::uint8_t* in, std::size_t size) {
    constexpr std::size_t kHead = 5;
    if (size < kHead)
        return;
    const std::size_t echoLen = in[0] % 17;
    md::AnswerWanted wanted;
    wanted.function = in[1];
    wanted.address = in[2];
    wanted.alsoFrom = in[3] & 0x80 ? -1 : in[3];
    wanted.expected = in[4] % 64;
    if (size < kHead + echoLen)
        return;
    const std::vector<std::uint8_t> echo(in + kHead, in + kHead + echoLen);
    const std::vector<std::uint8_t> data(in + kHead + echoLen, in + size);
    // A write's answer repeats bytes 2 to 5 of the request, whatever length it is searched at.
    if (in[3] & 0x40 && echo.size() >= 6)
        wanted.echoes = std::array<std::uint8_t, 4>{echo[2], echo[3], echo[4], echo[5]};

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
}

// Input bytes one at a time, zeros once they run out.
struct Reader {
    const std::uint8_t* in;
    std::size_t size;
    std::size_t at = 0;
    std::uint8_t Byte() { return at < size ? in[at++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() << 8 | Byte()); }
};

void Seal(std::vector<std::uint8_t>& frame) {
    frame.resize(frame.size() + 2);
    const std::span<std::uint8_t> body(frame.data(), frame.size() - 2);
    const std::uint16_t crc = md::CalcCrc16(body);
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc & 0xFF);
}

void CheckBuilt(const std::uint8_t* in, std::size_t size) {
    Reader r{in, size};
    const int kind = r.Byte() % 4; // read 1, read 3, write one register, write two
    const auto address = static_cast<std::uint8_t>(1 + r.Byte() % 247);
    const std::uint16_t reg = r.Word();
    const std::uint16_t value = r.Word();
    std::array<std::uint8_t, 16> buf{};
    const bool write = kind >= 2;
    const int len = kind == 0   ? md::BuildReadRequest(buf, address, reg, 1)
                    : kind == 1 ? md::BuildReadRequest(buf, address, reg, 3)
                    : kind == 2 ? md::BuildWriteSingleRequest(buf, address, reg, value)
                                : md::BuildWriteDoubleRequest(buf, address, reg, value);
    const std::span<const std::uint8_t> request(buf.data(), static_cast<std::size_t>(len));
    const std::uint8_t fn = request[1];

    const std::uint8_t shape = r.Byte();
    const int echoMode = shape % 3;       // 0 exact, 1 one bit flipped, 2 none
    const int answerMode = shape / 3 % 3; // 0 right, 1 refusal, 2 none
    const bool staleAhead = write && shape / 9 % 2;
    const bool localEcho = shape / 18 % 2;
    const bool loneCopy = localEcho && shape / 36 % 2;

    md::AnswerWanted wanted;
    wanted.function = fn;
    wanted.address = address;
    wanted.expected = write ? md::kWriteAnswerLen : md::ReadAnswerLen(kind == 0 ? 1 : 3);
    if (write)
        wanted.echoes = std::array<std::uint8_t, 4>{request[2], request[3], request[4], request[5]};

    std::vector<std::uint8_t> data;
    const auto noise = [&] {
        for (int n = r.Byte() % 13; n > 0; --n) {
            const std::uint8_t b = r.Byte();
            data.push_back(b == address ? static_cast<std::uint8_t>(b ^ 0x80) : b);
        }
    };
    noise();
    if (staleAhead) {
        // A late acknowledgement of a write to the next register.
        std::vector<std::uint8_t> stale{address,
                                        fn,
                                        static_cast<std::uint8_t>((reg + 1) >> 8),
                                        static_cast<std::uint8_t>((reg + 1) & 0xFF),
                                        request[4],
                                        request[5]};
        Seal(stale);
        data.insert(data.end(), stale.begin(), stale.end());
    }
    const std::size_t echoAt = data.size();
    if (echoMode != 2) {
        data.insert(data.end(), request.begin(), request.end());
        if (echoMode == 1) {
            const std::size_t byte = echoAt + r.Byte() % request.size();
            data[byte] = static_cast<std::uint8_t>(data[byte] ^ (1u << (r.Byte() % 8)));
        }
    }
    const std::size_t echoEnd = data.size();
    noise();
    std::vector<std::uint8_t> answer;
    if (answerMode == 1) {
        answer = {address, static_cast<std::uint8_t>(fn | 0x80),
                  static_cast<std::uint8_t>(1 + r.Byte() % 11)};
    } else if (answerMode == 0 && write) {
        answer.assign(request.begin(), request.begin() + 6);
    } else if (answerMode == 0) {
        const int registers = kind == 0 ? 1 : 3;
        answer = {address, fn, static_cast<std::uint8_t>(2 * registers)};
        for (int k = 0; k < 2 * registers; ++k)
            answer.push_back(r.Byte());
    }
    if (!answer.empty()) {
        Seal(answer);
        data.insert(data.end(), answer.begin(), answer.end());
    }
    noise();

    const std::span<const std::uint8_t> sent =
        localEcho ? request : std::span<const std::uint8_t>();
    const md::AnswerSearch found = md::LocateAnswer(data, sent, wanted, loneCopy);
    const int p = found.offset;
    if (p >= 0 && write) {
        const auto frame = std::span<const std::uint8_t>(data).subspan(
            static_cast<std::size_t>(p), static_cast<std::size_t>(wanted.expected));
        if (frame[1] != fn || !md::CheckBytesOk(frame) ||
            !std::equal(request.begin() + 2, request.begin() + 6, frame.begin() + 2))
            std::abort(); // a write acknowledged by a frame that does not repeat it
        if (answerMode == 1)
            std::abort(); // a refusal passed over for an acknowledgement
    }
    // The damaged copy itself passing for an answer is a coincidence the bytes cannot tell.
    const bool insideEcho =
        p >= 0 && static_cast<std::size_t>(p) >= echoAt && static_cast<std::size_t>(p) < echoEnd;
    if (localEcho && echoMode != 2 && !insideEcho && md::ShowsNoEcho(data, request, wanted, found))
        std::abort(); // an echo that came, taken to show that the adapter does not echo
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    CheckRaw(in, size);
    CheckBuilt(in, size);
    return 0;
}
