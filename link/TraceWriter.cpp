#include "link/TraceWriter.h"

#include "link/Crc.h"
#include "link/Frame.h"

#include <cerrno>
#include <cstring>

namespace md {

namespace {

bool CheckOk(std::span<const std::uint8_t> frame) {
    const std::uint16_t crc = CalcCrc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc >> 8) && frame[frame.size() - 1] == (crc & 0xFF);
}

void AddNote(std::string& notes, const std::string& note) {
    notes += (notes.empty() ? "" : "; ") + note;
}

// Why no answer was located in bytes, as far as the bytes tell.
std::string WhyNotFound(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted) {
    const std::size_t len = static_cast<std::size_t>(wanted.expected);
    if (bytes.size() < len)
        return "short: " + std::to_string(bytes.size()) + " of " + std::to_string(len) + " bytes";
    for (std::size_t i = 0; i + len <= bytes.size(); ++i)
        if (bytes[i] == wanted.address && bytes[i + 1] == wanted.function)
            return "bad check bytes at offset " + std::to_string(i);
    for (std::size_t i = 0; i + len <= bytes.size(); ++i)
        if (bytes[i + 1] == wanted.function && CheckOk(bytes.subspan(i, len)))
            return "answer from address " + std::to_string(bytes[i]);
    return {};
}

// An exception answer to the request: address, function with bit 7 set, code, check bytes.
int ExceptionAt(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted) {
    constexpr std::size_t kLen = 5;
    for (std::size_t i = 0; i + kLen <= bytes.size(); ++i)
        if (bytes[i] == wanted.address && bytes[i + 1] == (wanted.function | 0x80) &&
            CheckOk(bytes.subspan(i, kLen)))
            return static_cast<int>(i);
    return -1;
}

} // namespace

CollectionText DescribeCollection(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                                  const AnswerSearch& found) {
    CollectionText text;
    const std::size_t echoLen = static_cast<std::size_t>(found.echoLen);
    switch (found.echo) {
    case EchoSeen::NotExpected:
        break;
    case EchoSeen::Removed:
        AddNote(text.notes, "local echo removed");
        break;
    case EchoSeen::CutShort:
        AddNote(text.notes, "local echo cut short: " + std::to_string(echoLen) + " bytes");
        break;
    case EchoSeen::Missing:
        AddNote(text.notes, "no local echo: searched as received");
        break;
    }
    const std::span<const std::uint8_t> rest = bytes.subspan(std::min(echoLen, bytes.size()));

    if (found.offset >= 0) {
        const std::size_t p = static_cast<std::size_t>(found.offset);
        if (wanted.function == kFnReadHolding) {
            text.meaning = "->";
            for (int k = 0; k < (wanted.expected - 5) / 2; ++k)
                text.meaning += " " + std::to_string(RegisterAt(bytes, found.offset, k));
        } else {
            text.meaning = "echo ok";
        }
        if (p > echoLen)
            AddNote(text.notes, "answer at offset " + std::to_string(p));
        const std::size_t end = p + static_cast<std::size_t>(wanted.expected);
        if (end < bytes.size())
            AddNote(text.notes, std::to_string(bytes.size() - end) + " bytes after the answer");
        return text;
    }

    if (rest.empty()) {
        text.meaning = "no answer: 0 bytes";
        return text;
    }
    const int e = ExceptionAt(rest, wanted);
    if (e >= 0) {
        char exception[64];
        std::snprintf(exception, sizeof exception, "exception 0x%02X (%s)", rest[e + 2],
                      ExceptionName(rest[e + 2]));
        text.meaning = exception;
        return text;
    }
    text.meaning = "no valid answer in " + std::to_string(rest.size()) + " bytes";
    const std::string why = WhyNotFound(rest, wanted);
    if (!why.empty())
        AddNote(text.notes, why);
    return text;
}

std::unique_ptr<TraceWriter> TraceWriter::Open(const std::string& path, std::string& error) {
    if (path == "-")
        return std::make_unique<TraceWriter>(stderr, false);
    // Appending: a trace left by a run that crashed is not wiped by the next start.
    std::FILE* out = std::fopen(path.c_str(), "a");
    if (!out) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<TraceWriter>(out, true);
}

TraceWriter::TraceWriter(std::FILE* out, bool owned) : m_out(out), m_owned(owned) {}

TraceWriter::~TraceWriter() {
    if (m_owned)
        std::fclose(m_out);
}

void TraceWriter::Line(const std::string& line) {
    std::fputs((line + "\n").c_str(), m_out);
    std::fflush(m_out);
}

void TraceWriter::Sent(std::span<const std::uint8_t> request, bool sent) {
    Line(TraceLine("->", TraceHex(request), DescribeRequest(request),
                   sent ? "" : "port closed: not sent"));
}

void TraceWriter::Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                           const AnswerSearch& found) {
    const CollectionText t = DescribeCollection(bytes, wanted, found);
    Line(TraceLine("<-", TraceHex(bytes), t.meaning, t.notes));
}

void TraceWriter::Dropped(std::span<const std::uint8_t> bytes, DropReason why) {
    const char* where = why == DropReason::Flush      ? "before the request"
                        : why == DropReason::Overflow ? "beyond the receive copy"
                                                      : "arriving after the count";
    Line(TraceLine("--", "",
                   "dropped " + std::to_string(bytes.size()) + " bytes " + where + ": " +
                       TraceHex(bytes)));
}

} // namespace md
