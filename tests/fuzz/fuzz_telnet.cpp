// The Telnet reader of an RFC 2217 server's stream. The input is a recipe: data bytes D and
// Telnet commands interleaved (negotiations, bare commands, subnegotiations whole, cut short
// before the next command, or longer than any the reader keeps), D's 0xFF doubled, the whole
// fed in pieces of arbitrary size. The data that comes out must be exactly D; an over-long
// subnegotiation may leak its own tail as data, so with one of those D need only appear in
// order. The com port replies kept are those of the whole subnegotiations, the last of each.

#include "port/Rfc2217.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

using md::rfc2217::kIac;

struct Recipe {
    const std::uint8_t* p;
    std::size_t n;
    bool Empty() const { return n == 0; }
    std::uint8_t Take() {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
};

struct Stream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> data; // D
    std::map<std::uint8_t, std::vector<std::uint8_t>> replies;
    bool exact = true;

    void Escaped(std::uint8_t b) {
        bytes.push_back(b);
        if (b == kIac)
            bytes.push_back(kIac);
    }
    void Negotiation(Recipe& r) {
        bytes.insert(bytes.end(),
                     {kIac, std::uint8_t(md::rfc2217::kWill + r.Take() % 4), r.Take()});
    }
    // IAC SB, the content, and IAC SE when whole.
    std::vector<std::uint8_t> Sub(Recipe& r, std::size_t len, bool whole) {
        std::vector<std::uint8_t> content;
        bytes.insert(bytes.end(), {kIac, md::rfc2217::kSb});
        for (std::size_t i = 0; i < len; ++i) {
            // Mostly com port replies, so that kept replies are checked too.
            const std::uint8_t b =
                i == 0 && r.Take() % 4 != 0 ? md::rfc2217::kOptComPort : r.Take();
            content.push_back(b);
            Escaped(b);
        }
        if (whole)
            bytes.insert(bytes.end(), {kIac, md::rfc2217::kSe});
        return content;
    }
    void WholeSub(Recipe& r) {
        const std::vector<std::uint8_t> c = Sub(r, r.Take() % 12, true);
        if (c.size() >= 2 && c[0] == md::rfc2217::kOptComPort && c[1] > md::rfc2217::kServerReply)
            replies[std::uint8_t(c[1] - md::rfc2217::kServerReply)].assign(c.begin() + 2, c.end());
    }
};

bool InOrder(const std::vector<std::uint8_t>& part, const std::vector<std::uint8_t>& whole) {
    std::size_t i = 0;
    for (std::size_t j = 0; i < part.size() && j < whole.size(); ++j)
        if (whole[j] == part[i])
            ++i;
    return i == part.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    Recipe r{in, size};
    const std::uint8_t pieceSeed = r.Take();
    Stream s;
    while (!r.Empty()) {
        switch (r.Take() % 8) {
        case 0:
        case 1:
        case 2:
            for (int len = r.Take() % 16; len > 0; --len) {
                s.data.push_back(r.Take());
                s.Escaped(s.data.back());
            }
            break;
        case 3:
            s.Negotiation(r);
            break;
        case 4: // SE, NOP, data mark, break ... go-ahead: no SB among them
            s.bytes.insert(s.bytes.end(), {kIac, std::uint8_t(md::rfc2217::kSe + r.Take() % 10)});
            break;
        case 5:
            s.WholeSub(r);
            break;
        case 6: // cut short; its end shows only where the next command starts
            s.Sub(r, r.Take() % 12, false);
            if (r.Take() % 2)
                s.Negotiation(r);
            else
                s.WholeSub(r);
            break;
        case 7: { // longer than any the reader keeps; its content need not come from the recipe
            s.exact = false;
            const std::size_t len = 300 + r.Take() * 4u;
            s.bytes.insert(s.bytes.end(), {kIac, md::rfc2217::kSb});
            for (std::size_t i = 0; i < len; ++i)
                s.Escaped(std::uint8_t(i * 37 + 11));
            if (r.Take() % 2)
                s.bytes.insert(s.bytes.end(), {kIac, md::rfc2217::kSe});
            break;
        }
        }
    }

    md::rfc2217::TelnetReader reader;
    std::vector<std::uint8_t> data, answers;
    std::uint32_t seed = pieceSeed;
    for (std::size_t at = 0; at < s.bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t piece = std::min<std::size_t>(1 + (seed >> 16) % 9, s.bytes.size() - at);
        reader.Feed(std::span(s.bytes).subspan(at, piece), data, answers);
        at += piece;
    }

    if (s.exact ? data != s.data : !InOrder(s.data, data) || data.size() > s.bytes.size())
        std::abort(); // data lost, changed or added
    if (reader.Replies() != s.replies)
        std::abort(); // a reply lost, or one taken from a broken subnegotiation
    if (answers.size() > s.bytes.size())
        std::abort(); // answers without bound
    return 0;
}
