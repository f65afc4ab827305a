#pragma once
// The trace as text, one line per event, in metersim's line style so that the two traces can be
// laid side by side:
//   10:31:02.114 -> 01 03 00 00 00 03 05 CB  read 3 @0x0000
//   10:31:02.722 <- 01 03 06 04 D2 00 64 FF FF 2C 9B  -> 1234 100 65535
//   10:31:03.030 -- dropped 5 bytes before the request: 5A 3C 00 FF 12
// Each line is flushed as it is written, so a crash loses nothing already traced.

#include "link/Trace.h"

#include <cstdio>
#include <memory>
#include <string>

namespace md {

// "01 03 00 00 00 03 05 CB"; empty for no bytes.
std::string TraceHex(std::span<const std::uint8_t> bytes);
// A request as the tool builds them: "read 3 @0x0000", "write @0x0302 = 500",
// "write 2 @0x0000 = 100 0"; other functions as "function 0x2B".
std::string DescribeRequest(std::span<const std::uint8_t> request);

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
    // Writes to out; closes it on destruction when owned.
    TraceWriter(std::FILE* out, bool owned);
    ~TraceWriter() override;
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void Sent(std::span<const std::uint8_t> request, bool sent) override;
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                  const AnswerSearch& found) override;
    void Dropped(std::span<const std::uint8_t> bytes, DropReason why) override;

private:
    void Line(const std::string& text);

    std::FILE* m_out;
    bool m_owned;
};

} // namespace md
