#pragma once
// The trace as text, one line per event, in the line style it shares with metersim (TraceText.h).
// Each line is flushed as it is written, so a crash loses nothing already traced. A line that
// cannot be written (a full disk) is reported once on the error stream and ends the trace.

#include "trace/Trace.h"
#include "trace/TraceText.h"

#include <cstdio>
#include <memory>
#include <string>

namespace md {

// What a collection means, and notes on how it was read.
struct CollectionText {
    std::string meaning; // "-> 1234 100 65535", "echo ok", "no answer: 0 bytes", ...
    std::string notes;   // "answer at offset 5; local echo removed", or empty
};
CollectionText DescribeCollection(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                                  const AnswerSearch& found);

class TraceWriter final : public TraceSink {
public:
    // Opens path for appending ("-" is standard error). Nothing, with the reason in error, when
    // it cannot be opened.
    static std::unique_ptr<TraceWriter> Open(const std::string& path, std::string& error);
    // Writes to out, named name in the report of a failed write to errors; closes it on
    // destruction, or when a write fails, when owned.
    TraceWriter(std::FILE* out, bool owned, std::string name = "-", std::FILE* errors = stderr);
    ~TraceWriter() override;
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void Sent(std::span<const std::uint8_t> request, bool sent) override;
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                  const AnswerSearch& found) override;
    void Dropped(std::span<const std::uint8_t> bytes, DropReason why) override;
    void SentMbap(std::span<const std::uint8_t> adu, bool sent) override;
    void Note(const std::string& text) override;

private:
    void Line(const std::string& line);

    std::FILE* m_out; // null once a write has failed
    bool m_owned;
    std::string m_name;
    std::FILE* m_errors;
};

} // namespace md
