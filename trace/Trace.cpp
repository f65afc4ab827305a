#include "trace/Trace.h"

namespace md {

namespace {

class NullSink final : public TraceSink {
public:
    void Sent(std::span<const std::uint8_t>, bool) override {}
    void Received(std::span<const std::uint8_t>, const AnswerWanted&,
                  const AnswerSearch&) override {}
    void Dropped(std::span<const std::uint8_t>, DropReason) override {}
};

} // namespace

TraceSink& NullTrace() {
    static NullSink sink;
    return sink;
}

} // namespace md
