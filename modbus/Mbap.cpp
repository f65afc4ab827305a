#include "modbus/Mbap.h"

#include <cstdio>
#include <string>

namespace md {

namespace {

std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

// The MBAP length counts the unit identifier and the PDU: 1 + at most 253.
constexpr std::uint16_t kMinLength = 2;
constexpr std::uint16_t kMaxLength = 254;

bool UnitWanted(std::uint8_t unit, const AnswerWanted& wanted) {
    return unit == wanted.address || (wanted.alsoFrom >= 0 && unit == wanted.alsoFrom);
}

} // namespace

std::vector<std::uint8_t> MbapRequest(std::span<const std::uint8_t> rtu, std::uint16_t transaction) {
    const std::size_t pdu = rtu.size() - 3; // no address, no check bytes
    const auto length = static_cast<std::uint16_t>(pdu + 1);
    std::vector<std::uint8_t> adu(kMbapHeaderLen + pdu);
    adu[0] = static_cast<std::uint8_t>(transaction >> 8);
    adu[1] = static_cast<std::uint8_t>(transaction & 0xFF);
    adu[4] = static_cast<std::uint8_t>(length >> 8);
    adu[5] = static_cast<std::uint8_t>(length & 0xFF);
    adu[6] = rtu[0];
    for (std::size_t i = 0; i < pdu; ++i)
        adu[kMbapHeaderLen + i] = rtu[1 + i];
    return adu;
}

MbapSearch FindMbapAnswer(std::span<const std::uint8_t> data, const AnswerWanted& wanted) {
    MbapSearch found;
    const auto noteMismatch = [&](MbapMismatch why, std::size_t at) {
        if (found.mismatch == MbapMismatch::None) {
            found.mismatch = why;
            found.mismatchAt = static_cast<int>(at);
        }
    };
    const std::uint16_t answerLength = static_cast<std::uint16_t>(wanted.expected - 2);
    std::size_t frameEnd = 0; // the end of the last whole frame counted
    // Every offset is a candidate: junk ahead of the answer (a flush that cut a frame, line
    // noise behind a converter) can look like a header whose length runs over the answer or
    // past the end of what has come, and jumping by that length would lose the answer.
    for (std::size_t i = 0; i + kMbapHeaderLen + 1 <= data.size(); ++i) {
        const std::uint16_t length = Word(data, i + 4);
        if (length < kMinLength || length > kMaxLength || i + 6 + length > data.size())
            continue;
        const std::size_t unitAt = i + 6;
        const std::uint8_t unit = data[unitAt];
        const std::uint8_t function = data[unitAt + 1];
        if (i >= frameEnd) {
            ++found.frames;
            frameEnd = i + 6 + length;
        }
        if (Word(data, i + 2) != 0)
            noteMismatch(MbapMismatch::Protocol, i);
        else if (wanted.transaction < 0 || Word(data, i) != wanted.transaction)
            noteMismatch(MbapMismatch::Transaction, i);
        else if (!UnitWanted(unit, wanted))
            noteMismatch(MbapMismatch::Unit, i);
        else if (function == (wanted.function | 0x80) && length == 3) {
            if (found.exceptionAt < 0) {
                found.exceptionAt = static_cast<int>(unitAt);
                found.exceptionCode = data[unitAt + 2];
            }
        } else if (function != wanted.function)
            noteMismatch(MbapMismatch::Function, i);
        else if (length != answerLength)
            noteMismatch(MbapMismatch::Length, i);
        else {
            found.offset = static_cast<int>(unitAt);
            return found;
        }
    }
    return found;
}

bool MbapMeterAnswered(std::span<const std::uint8_t> data, int transaction, std::uint8_t address) {
    AnswerWanted wanted;
    wanted.function = 0x03;
    wanted.address = address;
    wanted.expected = 7; // address, function, byte count, one register, two check bytes
    wanted.transaction = transaction;
    const MbapSearch found = FindMbapAnswer(data, wanted);
    return found.offset >= 0 ||
           (found.exceptionAt >= 0 && found.exceptionCode != kGatewayPathUnavailable &&
            found.exceptionCode != kGatewayTargetFailed);
}

std::string MbapMismatchText(std::span<const std::uint8_t> data, const AnswerWanted& wanted,
                             const MbapSearch& found) {
    if (found.mismatchAt < 0)
        return {};
    const auto at = static_cast<std::size_t>(found.mismatchAt);
    char text[64];
    switch (found.mismatch) {
    case MbapMismatch::Transaction:
        std::snprintf(text, sizeof text, "transaction %u, not %d", unsigned(Word(data, at)),
                      wanted.transaction);
        break;
    case MbapMismatch::Protocol:
        std::snprintf(text, sizeof text, "protocol %u", unsigned(Word(data, at + 2)));
        break;
    case MbapMismatch::Length:
        std::snprintf(text, sizeof text, "length %u, not %d", unsigned(Word(data, at + 4)),
                      wanted.expected - 2);
        break;
    case MbapMismatch::Unit:
        std::snprintf(text, sizeof text, "unit %u", unsigned(data[at + 6]));
        break;
    case MbapMismatch::Function:
        std::snprintf(text, sizeof text, "function 0x%02X", unsigned(data[at + 7]));
        break;
    case MbapMismatch::None:
        return {};
    }
    return std::string("not the answer: ") + text;
}

} // namespace md
