#include "sim/Echo.h"

#include "trace/TraceText.h"

#include <utility>

namespace md::sim {

std::vector<std::uint8_t> EchoAdapter::Echo(std::span<const std::uint8_t> sent,
                                            bool startsRequest) {
    std::vector<std::uint8_t> echoed;
    if (startsRequest && !m_glitch.empty()) {
        echoed = m_glitch;
        m_glitched = true;
    }
    echoed.insert(echoed.end(), sent.begin(), sent.end());
    return echoed;
}

bool EchoAdapter::TakeGlitched() {
    return std::exchange(m_glitched, false);
}

std::string EchoAdapter::Note(bool glitched) const {
    if (!m_on)
        return {};
    return glitched ? "echoed behind " + TraceHex(m_glitch) : "echoed";
}

} // namespace md::sim
