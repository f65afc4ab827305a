// The Modbus TCP answer search: an answer built for a request (transaction, unit, function,
// length) behind arbitrary junk and ahead of arbitrary bytes. The first eight input bytes
// choose the request and how much of the rest is junk; the next bytes fill the answer's data.
// Property: the search finds the earliest frame that answers this request, which is the one
// built unless the junk (alone or running into it) holds one; and what it finds always
// carries this transaction and one of the units asked for.

#include "modbus/Mbap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

bool AnswersAt(const std::vector<std::uint8_t>& d, std::size_t i, const md::AnswerWanted& w) {
    if (i + 8 > d.size())
        return false;
    const unsigned length = d[i + 4] << 8 | d[i + 5];
    const unsigned unit = d[i + 6];
    return (d[i] << 8 | d[i + 1]) == w.transaction && d[i + 2] == 0 && d[i + 3] == 0 &&
           length == unsigned(w.expected - 2) && i + 6 + length <= d.size() &&
           (unit == w.address || int(unit) == w.alsoFrom) && d[i + 7] == w.function;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    if (size < 8)
        return 0;
    md::AnswerWanted wanted;
    wanted.transaction = in[0] << 8 | in[1];
    wanted.address = in[2];
    wanted.alsoFrom = in[3] & 1 ? in[3] >> 1 : -1;
    wanted.function = in[4] & 0x7F;
    const std::size_t dataLen = in[5] % 252; // the length field stays within 2..253
    wanted.expected = static_cast<int>(4 + dataLen);
    const std::size_t junkLen = std::min<std::size_t>(in[6] << 8 | in[7], size - 8);
    const std::uint8_t* rest = in + 8;
    const std::size_t restLen = size - 8;

    std::vector<std::uint8_t> d(rest, rest + junkLen);
    const std::size_t answerAt = d.size();
    const unsigned length = static_cast<unsigned>(wanted.expected - 2);
    const std::uint8_t header[] = {in[0], in[1], 0, 0, std::uint8_t(length >> 8),
                                   std::uint8_t(length & 0xFF), wanted.address, wanted.function};
    d.insert(d.end(), std::begin(header), std::end(header));
    for (std::size_t k = 0; k < dataLen; ++k)
        d.push_back(junkLen + k < restLen ? rest[junkLen + k] : std::uint8_t(k));
    if (junkLen + dataLen < restLen)
        d.insert(d.end(), rest + junkLen + dataLen, rest + restLen);

    const md::MbapSearch found = md::FindMbapAnswer(d, wanted);
    std::size_t earliest = answerAt;
    for (std::size_t i = 0; i < answerAt; ++i)
        if (AnswersAt(d, i, wanted)) {
            earliest = i;
            break;
        }
    if (found.offset < 0 || std::size_t(found.offset) != earliest + 6)
        std::abort(); // the answer missed, or another frame taken for it
    if (!AnswersAt(d, std::size_t(found.offset) - 6, wanted))
        std::abort(); // another transaction or unit
    if (found.exceptionAt >= 0) {
        const auto e = std::size_t(found.exceptionAt) - 6;
        if ((d[e] << 8 | d[e + 1]) != wanted.transaction || d[e + 7] != (wanted.function | 0x80))
            std::abort(); // an exception to another request
    }
    return 0;
}
