#include "trace/TraceRows.h"

#include "modbus/Crc.h"
#include "modbus/Frame.h"
#include "modbus/Mbap.h"
#include "trace/TraceText.h"
#include "trace/TraceWriter.h"

#include <algorithm>

namespace md {

namespace {

// "HH:MM:SS.mmm" and a blank, the direction and a blank: where the hex starts.
constexpr std::size_t kTimeSize = 12;
constexpr std::size_t kHexStart = kTimeSize + 4;

bool ValidCheck(std::span<const std::uint8_t> frame) {
    const std::uint16_t crc = CalcCrc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc >> 8) && frame[frame.size() - 1] == (crc & 0xFF);
}

} // namespace

const char* StatusWord(TraceStatus status) {
    switch (status) {
    case TraceStatus::Ok:
        return "ok";
    case TraceStatus::EchoRemoved:
        return "echo removed";
    case TraceStatus::NotSent:
        return "not sent";
    case TraceStatus::NoAnswer:
        return "no answer";
    case TraceStatus::CheckError:
        return "check error";
    case TraceStatus::WrongAddress:
        return "wrong address";
    case TraceStatus::Exception:
        return "exception";
    case TraceStatus::GatewayPath:
        return "gateway: no path";
    case TraceStatus::GatewayTarget:
        return "gateway: no answer";
    case TraceStatus::Dropped:
        return "dropped";
    }
    return "";
}

bool IsFailure(TraceStatus status) {
    return status != TraceStatus::Ok && status != TraceStatus::EchoRemoved &&
           status != TraceStatus::Dropped;
}

TraceStatus CollectionStatus(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                             const AnswerSearch& found) {
    if (wanted.transaction >= 0) {
        const MbapSearch mbap = FindMbapAnswer(bytes, wanted);
        if (mbap.offset >= 0)
            return TraceStatus::Ok;
        if (mbap.exceptionAt < 0)
            return TraceStatus::NoAnswer;
        return mbap.exceptionCode == kGatewayPathUnavailable ? TraceStatus::GatewayPath
               : mbap.exceptionCode == kGatewayTargetFailed  ? TraceStatus::GatewayTarget
                                                             : TraceStatus::Exception;
    }
    if (found.offset >= 0)
        return found.echo == EchoSeen::Removed ? TraceStatus::EchoRemoved : TraceStatus::Ok;
    const auto rest =
        bytes.subspan(std::min(static_cast<std::size_t>(found.echoLen), bytes.size()));
    if (rest.empty())
        return TraceStatus::NoAnswer;
    const auto size = static_cast<std::int16_t>(std::min<std::size_t>(rest.size(), 0x7FFF));
    constexpr std::int16_t kExceptionLen = 5;
    if (FindResponse(rest, size, wanted.function | 0x80, wanted.address, kExceptionLen) >= 0)
        return TraceStatus::Exception;
    // Only acknowledgements of other writes came: this one was not answered.
    if (found.stale > 0)
        return TraceStatus::NoAnswer;
    const auto len = static_cast<std::size_t>(wanted.expected);
    if (len < 4)
        return TraceStatus::NoAnswer;
    for (std::size_t i = 0; i + len <= rest.size(); ++i)
        if (rest[i] == wanted.address && rest[i + 1] == wanted.function)
            return TraceStatus::CheckError;
    for (std::size_t i = 0; i + len <= rest.size(); ++i)
        if (rest[i + 1] == wanted.function && ValidCheck(rest.subspan(i, len)))
            return TraceStatus::WrongAddress;
    return TraceStatus::NoAnswer;
}

std::string_view TraceRow::Time() const {
    return std::string_view(line).substr(0, kTimeSize);
}

std::string_view TraceRow::Direction() const {
    return std::string_view(line).substr(kTimeSize + 1, 2);
}

std::string_view TraceRow::Hex() const {
    return std::string_view(line).substr(std::min(kHexStart, line.size()), hexSize);
}

std::string_view TraceRow::Meaning() const {
    // Two blanks part the hex from the meaning.
    const std::size_t at = kHexStart + (hexSize ? hexSize + 2u : 0u);
    return std::string_view(line).substr(std::min(at, line.size()));
}

TraceRowMaker::TraceRowMaker(Out out) : m_out(std::move(out)) {}

void TraceRowMaker::Emit(std::string_view direction, std::string_view hex, std::string_view meaning,
                         std::string_view notes, TraceStatus status, int responseMs) {
    TraceRow row;
    row.line = TraceLine(direction, hex, meaning, notes);
    row.hexSize = static_cast<std::uint16_t>(hex.size());
    row.status = status;
    row.responseMs = responseMs;
    m_out(std::move(row));
}

void TraceRowMaker::Sent(std::span<const std::uint8_t> request, bool sent) {
    m_notSent = !sent;
    m_last = sent ? TraceStatus::Ok : TraceStatus::NotSent;
    Emit("->", TraceHex(request, kTraceBytesShown), DescribeRequest(request),
         sent ? "" : kNotSentNote, m_last);
}

void TraceRowMaker::SentMbap(std::span<const std::uint8_t> adu, bool sent) {
    m_notSent = !sent;
    m_last = sent ? TraceStatus::Ok : TraceStatus::NotSent;
    MbapRequestText t = DescribeMbapRequest(adu);
    if (!sent)
        t.notes += "; " + std::string(kNotSentNote);
    Emit("->", TraceHex(adu, kTraceBytesShown), t.meaning, t.notes, m_last);
}

void TraceRowMaker::Note(const std::string& text) {
    Emit("--", "", text, "", TraceStatus::Ok);
}

void TraceRowMaker::Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                             const AnswerSearch& found) {
    ++m_collections;
    const TraceStatus status = CollectionStatus(bytes, wanted, found);
    m_last = m_notSent ? TraceStatus::NotSent : status;
    const CollectionText text = DescribeCollection(bytes, wanted, found);
    Emit("<-", TraceHex(bytes, kTraceBytesShown), text.meaning, text.notes, status,
         found.responseMs);
}

void TraceRowMaker::Dropped(std::span<const std::uint8_t> bytes, DropReason why) {
    Emit("--", "", DroppedText(bytes, why), "", TraceStatus::Dropped);
}

} // namespace md
