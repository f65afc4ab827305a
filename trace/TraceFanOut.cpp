#include "trace/TraceFanOut.h"

#include <algorithm>

namespace md {

void TraceFanOut::Add(TraceSink& sink) {
    if (std::find(m_sinks.begin(), m_sinks.end(), &sink) == m_sinks.end())
        m_sinks.push_back(&sink);
}

void TraceFanOut::Remove(TraceSink& sink) {
    std::erase(m_sinks, &sink);
}

void TraceFanOut::Sent(std::span<const std::uint8_t> request, bool sent) {
    const ReportTime time;
    for (TraceSink* sink : m_sinks)
        sink->Sent(request, sent);
}

void TraceFanOut::Received(std::span<const std::uint8_t> bytes, const AnswerWanted& wanted,
                           const AnswerSearch& found) {
    const ReportTime time;
    for (TraceSink* sink : m_sinks)
        sink->Received(bytes, wanted, found);
}

void TraceFanOut::Dropped(std::span<const std::uint8_t> bytes, DropReason why) {
    const ReportTime time;
    for (TraceSink* sink : m_sinks)
        sink->Dropped(bytes, why);
}

void TraceFanOut::SentMbap(std::span<const std::uint8_t> adu, bool sent) {
    for (TraceSink* sink : m_sinks)
        sink->SentMbap(adu, sent);
}

void TraceFanOut::Note(const std::string& text) {
    for (TraceSink* sink : m_sinks)
        sink->Note(text);
}

} // namespace md
