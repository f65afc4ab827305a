// FindResponse over arbitrary bytes and arbitrary counts. The first six input bytes choose
// received (int16), function, address and expected (int16); the rest is the data, kept in a
// buffer of its exact size so that AddressSanitizer sees any read past it. The result must be
// -1 or an offset whose bytes really form the earliest answer inside the data.

#include "modbus/Crc.h"
#include "modbus/Frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

bool IsAnswerAt(const std::vector<std::uint8_t>& d, int i, std::uint8_t fn, std::uint8_t addr,
                int len) {
    if (d[i] != addr || d[i + 1] != fn)
        return false;
    const std::uint16_t crc = md::CalcCrc16(std::span(d).subspan(i, len - 2));
    return d[i + len - 2] == (crc >> 8) && d[i + len - 1] == (crc & 0xFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    if (size < 6)
        return 0;
    const auto received = static_cast<std::int16_t>(in[0] << 8 | in[1]);
    const std::uint8_t fn = in[2];
    const std::uint8_t addr = in[3];
    const auto expected = static_cast<std::int16_t>(in[4] << 8 | in[5]);
    const std::vector<std::uint8_t> data(in + 6, in + size);

    const int p = md::FindResponse(data, received, fn, addr, expected);

    const int n = std::min<int>(received, static_cast<int>(data.size()));
    if (p == -1) {
        for (int i = 0; expected >= 4 && i <= n - expected; ++i)
            if (IsAnswerAt(data, i, fn, addr, expected))
                std::abort(); // missed an answer
        return 0;
    }
    if (p < 0 || expected < 4 || p > n - expected)
        std::abort(); // out of range
    if (!IsAnswerAt(data, p, fn, addr, expected))
        std::abort(); // not an answer
    for (int i = 0; i < p; ++i)
        if (IsAnswerAt(data, i, fn, addr, expected))
            std::abort(); // not the earliest
    return 0;
}
