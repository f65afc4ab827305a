#pragma once
// The blocking request/response exchange: flush, send, fixed wait, count, input, copy, locate.

#include "Clock.h"
#include "SerialControl.h"

#include <array>
#include <cstdint>

namespace md {

enum class WaitKind {
    Sleep, // the thread sleeps the given time
    Busy,  // the tick count is polled until the unsigned difference reaches the time
};

class CExchange {
public:
    static constexpr int kRecvSize = 300;
    static constexpr std::uint32_t kPauseMs = 300;

    CExchange(SerialControl& port, Clock& clock);

    SerialControl& Port() { return m_port; }

    // Exchange with answer for the request already built in m_bySendBuf[0, len).
    // Returns the answer's offset in m_byRecvBuf, or -1.
    int Transact(int len, WaitKind kind, std::uint32_t ms, std::uint8_t function,
                 std::uint8_t address, int expected);
    // Write without answer: flush and send only.
    void SendOnly(int len);
    // The second half of an exchange on its own: count, input, copy, locate. At most the first
    // kRecvSize of the counted bytes are copied; the rest of the input is dropped.
    int Collect(std::uint8_t function, std::uint8_t address, int expected);
    // Searches what the last Collect copied once more, for an answer it was not looking for.
    int Locate(std::uint8_t function, std::uint8_t address, int expected) const;
    // Reads Input once and drops it.
    void DiscardInput();
    void Wait(WaitKind kind, std::uint32_t ms);
    // The 300 ms pause between consecutive requests.
    void WaitBetweenRequests();

    // Register k of the 0x03 answer at offset p of the receive copy.
    std::uint16_t Register(int p, int k) const;
    // Data byte i (after the byte count) of the 0x03 answer at offset p.
    std::uint8_t DataByte(int p, int i) const;

    std::array<std::uint8_t, 16> m_bySendBuf{};
    std::array<std::uint8_t, kRecvSize> m_byRecvBuf{};

private:
    SerialControl& m_port;
    Clock& m_clock;
    int m_nCopied = 0; // bytes the last Collect copied into m_byRecvBuf
};

} // namespace md
