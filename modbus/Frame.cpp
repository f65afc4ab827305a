#include "modbus/Frame.h"

#include "modbus/Crc.h"

#include <algorithm>
#include <cassert>

namespace md {

namespace {

void PutWord(std::span<std::uint8_t> buf, int pos, unsigned value) {
    buf[pos] = static_cast<std::uint8_t>(value >> 8 & 0xFF);
    buf[pos + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

// Appends the check over buf[0, len) at buf[len] and returns the frame length. The low-order
// byte of the CRC register goes first; CalcCrc16 returns it in bits 15..8.
int SealFrame(std::span<std::uint8_t> buf, int len) {
    PutWord(buf, len, CalcCrc16(buf.first(static_cast<std::size_t>(len))));
    return len + 2;
}

} // namespace

int BuildReadRequest(std::span<std::uint8_t> buf, std::uint8_t address, std::uint16_t firstReg,
                     std::uint16_t count) {
    assert(buf.size() >= kShortRequestLen);
    buf[0] = address;
    buf[1] = kFnReadHolding;
    PutWord(buf, 2, firstReg);
    PutWord(buf, 4, count);
    return SealFrame(buf, 6);
}

int BuildWriteSingleRequest(std::span<std::uint8_t> buf, std::uint8_t address, std::uint16_t reg,
                            int value) {
    assert(buf.size() >= kShortRequestLen);
    buf[0] = address;
    buf[1] = kFnWriteSingle;
    PutWord(buf, 2, reg);
    PutWord(buf, 4, static_cast<unsigned>(value));
    return SealFrame(buf, 6);
}

int BuildWriteDoubleRequest(std::span<std::uint8_t> buf, std::uint8_t address,
                            std::uint16_t firstReg, int value) {
    assert(buf.size() >= kLongRequestLen);
    buf[0] = address;
    buf[1] = kFnWriteMultiple;
    PutWord(buf, 2, firstReg);
    PutWord(buf, 4, 2);
    buf[6] = 4;
    PutWord(buf, 7, static_cast<unsigned>(value));
    PutWord(buf, 9, 0);
    return SealFrame(buf, 11);
}

bool CheckBytesOk(std::span<const std::uint8_t> frame) {
    assert(frame.size() >= 4);
    const std::uint16_t crc = CalcCrc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc >> 8) && frame[frame.size() - 1] == (crc & 0xFF);
}

std::int16_t FindResponse(std::span<const std::uint8_t> data, std::int16_t received,
                          std::uint8_t function, std::uint8_t address, std::int16_t expected) {
    // A count larger than the buffer would send the scan past its end, and a frame needs at
    // least address, function and the two check bytes.
    const int n = std::min<int>(received, static_cast<int>(data.size()));
    const int len = expected;
    if (len < 4 || n < len)
        return -1;
    for (int i = 0; i <= n - len; ++i) {
        if (data[i] == address && data[i + 1] == function && CheckBytesOk(data.subspan(i, len)))
            return static_cast<std::int16_t>(i);
    }
    return -1;
}

std::uint16_t RegisterAt(std::span<const std::uint8_t> data, int p, int k) {
    const int hi = p + 3 + 2 * k;
    assert(p >= 0 && k >= 0 && static_cast<std::size_t>(hi) + 1 < data.size());
    return static_cast<std::uint16_t>(data[hi] << 8 | data[hi + 1]);
}

std::uint64_t WireTimeUs(std::size_t n, std::int32_t baudRate, bool parity) {
    assert(baudRate > 0);
    const std::uint64_t bitUs = std::uint64_t{n} * BitsPerCharacter(parity) * 1'000'000;
    const auto rate = static_cast<std::uint64_t>(baudRate);
    return (bitUs + rate - 1) / rate;
}

std::uint32_t InterFrameGapMs(std::int32_t baudRate, bool parity) {
    assert(baudRate > 0);
    constexpr std::uint32_t kMinGapMs = 2;
    // 3.5 characters, counted in half characters so that the sum stays whole: the gap in ms is
    // 7 characters' bits × 1000 over twice the rate in bit/s.
    const std::uint64_t halfBitMs = std::uint64_t{7} * BitsPerCharacter(parity) * 1000;
    const auto twiceRate = 2 * static_cast<std::uint64_t>(baudRate);
    const auto ms = static_cast<std::uint32_t>((halfBitMs + twiceRate - 1) / twiceRate);
    return std::max(ms, kMinGapMs);
}

std::uint64_t InterFrameGapUs(std::int32_t baudRate, bool parity) {
    assert(baudRate > 0);
    constexpr std::uint64_t kMinGapUs = 1750;
    const std::uint64_t halfBitUs = std::uint64_t{7} * BitsPerCharacter(parity) * 1'000'000;
    const auto twiceRate = 2 * static_cast<std::uint64_t>(baudRate);
    return std::max((halfBitUs + twiceRate - 1) / twiceRate, kMinGapUs);
}

std::uint32_t WireTimeMs(int bytes, std::int32_t baudRate, bool parity) {
    assert(bytes >= 0);
    return static_cast<std::uint32_t>(
        (WireTimeUs(static_cast<std::size_t>(bytes), baudRate, parity) + 999) / 1000);
}

} // namespace md
