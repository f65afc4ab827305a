#include "sim/Frames.h"

#include "trace/TraceText.h"

namespace md::sim {

// Bitwise form of the reflected polynomial 0xA001: slower than a table, and obviously right.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

bool CrcOk(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4)
        return false;
    const std::uint16_t crc = Crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

void Recrc(std::vector<std::uint8_t>& frame) {
    if (frame.size() < 4)
        return;
    const std::uint16_t crc = Crc16(std::span(frame).first(frame.size() - 2));
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
}

std::size_t RequestLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2)
        return 0;
    switch (bytes[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
        return 8;
    case 0x0F:
    case 0x10:
        return bytes.size() < 7 ? 0 : 9 + std::size_t{bytes[6]};
    default:
        return 0;
    }
}

std::size_t AnswerLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2)
        return 0;
    if (bytes[1] & 0x80)
        return 5;
    switch (bytes[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        return bytes.size() < 3 ? 0 : 5 + std::size_t{bytes[2]};
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        return 8;
    default:
        return 0;
    }
}

std::string DescribeRequest(std::span<const std::uint8_t> request) {
    // Too short to read, yet with its function: the function is worth naming on the meter's side.
    if (request.size() >= 2 && request.size() < 6)
        return FunctionText(request[1]);
    return md::DescribeRequest(request);
}

} // namespace md::sim
