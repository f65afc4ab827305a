#pragma once
// One report of the exchange handed to every sink that is on: the trace file, the traffic
// monitor, and whatever else listens, all with the same time (ReportTime). The exchange keeps
// talking to one sink.

#include "trace/Trace.h"

#include <vector>

namespace md {

class TraceFanOut final : public TraceSink {
public:
    // Sinks hear each report in the order they were added; each must outlive its membership.
    void Add(TraceSink& sink);
    void Remove(TraceSink& sink);

    void Sent(std::span<const std::uint8_t> request, bool sent) override;
    void Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                  const AnswerSearch& found) override;
    void Dropped(std::span<const std::uint8_t> bytes, DropReason why) override;
    void SentMbap(std::span<const std::uint8_t> adu, bool sent) override;
    void Note(const std::string& text) override;

private:
    std::vector<TraceSink*> m_sinks;
};

} // namespace md
