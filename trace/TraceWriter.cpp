#include "trace/TraceWriter.h"

#include "modbus/Frame.h"
#include "modbus/Mbap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace md {

namespace {

void AddNote(std::string& notes, const std::string& note) {
    if (note.empty())
        return;
    notes += (notes.empty() ? "" : "; ") + note;
}

// Why no answer was located in bytes, as far as the bytes tell.
std::string WhyNotFound(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted) {
    // No frame is shorter than address, function and the two check bytes.
    if (wanted.expected < 4)
        return {};
    const std::size_t len = static_cast<std::size_t>(wanted.expected);
    if (bytes.size() < len)
        return "short: " + std::to_string(bytes.size()) + " of " + std::to_string(len) + " bytes";
    for (std::size_t i = 0; i + len <= bytes.size(); ++i)
        if (bytes[i] == wanted.address && bytes[i + 1] == wanted.function)
            return "bad check bytes at offset " + std::to_string(i);
    for (std::size_t i = 0; i + len <= bytes.size(); ++i)
        if (bytes[i + 1] == wanted.function && CheckBytesOk(bytes.subspan(i, len)))
            return "answer from address " + std::to_string(bytes[i]);
    return {};
}

// An exception answer to the request: address, function with bit 7 set, code, check bytes.
int ExceptionAt(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted) {
    constexpr std::size_t kLen = 5;
    for (std::size_t i = 0; i + kLen <= bytes.size(); ++i)
        if (bytes[i] == wanted.address && bytes[i + 1] == (wanted.function | 0x80) &&
            CheckBytesOk(bytes.subspan(i, kLen)))
            return static_cast<int>(i);
    return -1;
}

} // namespace

// A collection of Modbus TCP frames: no echo, no check bytes; frames that are not the answer
// are named by what does not match.
CollectionText DescribeMbapCollection(std::span<const std::uint8_t> bytes,
                                      const AnswerWanted& wanted) {
    CollectionText text;
    const MbapSearch mbap = FindMbapAnswer(bytes, wanted);
    if (mbap.offset >= 0) {
        const auto p = static_cast<std::size_t>(mbap.offset);
        // The answer in RTU form for AnswerText, which leaves out the last two bytes.
        std::vector<std::uint8_t> rtu(bytes.begin() + static_cast<std::ptrdiff_t>(p),
                                      bytes.begin() +
                                          static_cast<std::ptrdiff_t>(p + wanted.expected - 2));
        rtu.resize(rtu.size() + 2);
        text.meaning = wanted.function == kFnReadHolding ? "-> " + AnswerText(rtu) : "echo ok";
        if (bytes[p] != wanted.address)
            AddNote(text.notes, "answer from unit " + std::to_string(bytes[p]));
    } else if (mbap.exceptionAt >= 0) {
        char exception[80];
        std::snprintf(exception, sizeof exception, "exception 0x%02X (%s)", mbap.exceptionCode,
                      ExceptionName(mbap.exceptionCode));
        text.meaning = exception;
    } else if (bytes.empty()) {
        text.meaning = "no answer: 0 bytes";
    } else {
        text.meaning = "no valid answer in " + std::to_string(bytes.size()) + " bytes";
        if (mbap.frames == 0)
            AddNote(text.notes, "no whole Modbus TCP frame");
    }
    AddNote(text.notes, MbapMismatchText(bytes, wanted, mbap));
    return text;
}

CollectionText DescribeCollection(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                                  const AnswerSearch& found) {
    if (wanted.transaction >= 0)
        return DescribeMbapCollection(bytes, wanted);
    CollectionText text;
    const std::size_t echoLen = std::min(static_cast<std::size_t>(found.echoLen), bytes.size());
    const std::size_t echoAt = std::min(static_cast<std::size_t>(found.echoAt), echoLen);
    const std::span<const std::uint8_t> noise = bytes.first(echoAt);
    switch (found.echo) {
    case EchoSeen::NotExpected:
        break;
    case EchoSeen::Removed:
        // A write's acknowledgement is a copy of the request: with nothing answered behind it,
        // the copy set aside was the answer if the adapter does not echo.
        if (found.offset < 0 &&
            FindResponse(bytes.subspan(echoAt, echoLen - echoAt),
                         static_cast<std::int16_t>(echoLen - echoAt), wanted.function,
                         wanted.address, static_cast<std::int16_t>(wanted.expected)) == 0)
            AddNote(text.notes, "local echo removed, or the answer if the adapter does not echo");
        else
            AddNote(text.notes, "local echo removed");
        break;
    case EchoSeen::CutShort:
        AddNote(text.notes,
                "local echo cut short: " + std::to_string(echoLen - echoAt) + " bytes");
        break;
    case EchoSeen::Missing:
        AddNote(text.notes, "no local echo: searched as received");
        break;
    }
    if (found.echoNotHeard)
        AddNote(text.notes, std::string(kNoEchoNote));
    if (!noise.empty())
        AddNote(text.notes, std::to_string(noise.size()) + " bytes before the echo: " +
                                TraceHex(noise, kTraceBytesShown));
    // Acknowledgements of other writes (a late one to an earlier request) are not this one's.
    if (found.stale > 0)
        AddNote(text.notes, (found.stale == 1 ? std::string("stale acknowledgement")
                                              : std::to_string(found.stale) +
                                                    " stale acknowledgements, the first") +
                                " at offset " + std::to_string(found.staleAt) + " set aside");
    const std::span<const std::uint8_t> rest = bytes.subspan(echoLen);

    if (found.offset >= 0) {
        const std::size_t p = static_cast<std::size_t>(found.offset);
        const std::size_t end = p + static_cast<std::size_t>(wanted.expected);
        const std::string answer = AnswerText(bytes.subspan(p, end - p));
        text.meaning = wanted.function == kFnReadHolding ? "-> " + answer : "echo ok";
        if (bytes[p] != wanted.address)
            AddNote(text.notes, "answer from address " + std::to_string(bytes[p]));
        if (p > echoLen)
            AddNote(text.notes, "answer at offset " + std::to_string(p));
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
        text.meaning = AnswerText(rest.subspan(static_cast<std::size_t>(e), 5));
        return text;
    }
    text.meaning = "no valid answer in " + std::to_string(rest.size()) + " bytes";
    const std::string why = found.stale > 0 ? std::string() : WhyNotFound(rest, wanted);
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
    return std::make_unique<TraceWriter>(out, true, path);
}

TraceWriter::TraceWriter(std::FILE* out, bool owned, std::string name, std::FILE* errors)
    : m_out(out), m_owned(owned), m_name(std::move(name)), m_errors(errors) {}

TraceWriter::~TraceWriter() {
    if (m_owned && m_out)
        std::fclose(m_out);
}

void TraceWriter::Line(const std::string& line) {
    if (!m_out)
        return;
    errno = 0;
    if (std::fputs((line + "\n").c_str(), m_out) >= 0 && std::fflush(m_out) == 0)
        return;
    // A full disk or a vanished medium: said once, and the trace ends there rather than
    // losing lines silently. The tool itself goes on.
    const int error = errno;
    std::fprintf(m_errors, "MeterDebug: cannot write the trace to '%s': %s; the trace is closed\n",
                 m_name.c_str(), error ? std::strerror(error) : "write error");
    if (m_owned)
        std::fclose(m_out);
    m_out = nullptr;
}

void TraceWriter::Sent(std::span<const std::uint8_t> request, bool sent) {
    Line(TraceLine("->", TraceHex(request), DescribeRequest(request),
                   sent ? "" : kNotSentNote));
}

void TraceWriter::SentMbap(std::span<const std::uint8_t> adu, bool sent) {
    MbapRequestText t = DescribeMbapRequest(adu);
    if (!sent)
        t.notes += "; " + std::string(kNotSentNote);
    Line(TraceLine("->", TraceHex(adu), t.meaning, t.notes));
}

void TraceWriter::Note(const std::string& text) {
    Line(TraceLine("--", "", text));
}

void TraceWriter::Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                           const AnswerSearch& found) {
    const CollectionText t = DescribeCollection(bytes, wanted, found);
    Line(TraceLine("<-", TraceHex(bytes, kTraceBytesShown), t.meaning, t.notes));
}

void TraceWriter::Dropped(std::span<const std::uint8_t> bytes, DropReason why) {
    Line(TraceLine("--", "", DroppedText(bytes, why)));
}

} // namespace md
