#pragma once
// A half-duplex adapter that hears its own transmitter: every byte the tool sends goes straight
// back to it, ahead of any answer, after the bytes the adapter may send as its transmitter
// switches on (a glitch).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace md::sim {

class EchoAdapter {
public:
    void Set(bool on, std::vector<std::uint8_t> glitch) {
        m_on = on;
        m_glitch = std::move(glitch);
    }
    bool On() const { return m_on; }

    // What goes back to the tool for bytes it just sent; startsRequest: they begin a request
    // on a quiet line, so the transmitter has just switched on.
    std::vector<std::uint8_t> Echo(std::span<const std::uint8_t> sent, bool startsRequest);
    // Whether a glitch went ahead of the request now being received; taking it clears it.
    bool TakeGlitched();
    // The tool's request was dropped unfinished.
    void Reset() { m_glitched = false; }
    // The trace's note for a request: "echoed", "echoed behind 00"; empty when off.
    std::string Note(bool glitched) const;

private:
    bool m_on = false;
    std::vector<std::uint8_t> m_glitch;
    bool m_glitched = false;
};

} // namespace md::sim
