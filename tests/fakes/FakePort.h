#pragma once
// A scripted serial port for tests. Bytes "arrive" on the virtual clock: a reply or a late byte
// becomes visible to InBufferCount and Input only once the clock has reached its time. Every
// property put, every read of the data properties and every Output is recorded in order.

#include "fakes/VirtualClock.h"
#include "port/SerialControl.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace md {

class FakePort : public SerialControl {
public:
    // Bytes sent back, arriving delayMs after the request went out.
    struct Reply {
        std::vector<std::uint8_t> bytes;
        std::uint32_t delayMs = 0;
    };
    // Answers one request (the bytes of one Output); an empty result is silence.
    using Responder = std::function<std::vector<Reply>(std::span<const std::uint8_t> request)>;

    struct Event {
        // "CommPort=1", "Settings=9600N,8,2", "PortOpen=1", "InputLen=0", "InBufferCount=0",
        // "Output=010300000001840a" (lower-case hex), or a read: "PortOpen?",
        // "InBufferCount?", "Input?", or a wait: "WaitForInput=600".
        std::string what;
        std::uint64_t at; // VirtualClock::Elapsed() when it happened
    };
    struct Sent {
        std::vector<std::uint8_t> bytes;
        std::uint64_t at;
        std::uint64_t atUs = 0; // the same time in microseconds
    };

    explicit FakePort(VirtualClock& clock) : m_clock(clock) {}

    void SetCommPort(std::int16_t port) override;
    std::int16_t GetCommPort() const override { return m_commPort; }
    void SetSettings(const std::string& settings) override;
    std::string GetSettings() const override { return m_settings; }
    // Opening fails with CommError while FailOpen() holds a text.
    void SetPortOpen(bool open) override;
    bool GetPortOpen() const override;
    void SetInputLen(std::int16_t len) override;
    void SetInBufferCount(std::int16_t count) override;
    std::int16_t GetInBufferCount() override;
    std::vector<std::uint8_t> GetInput() override;
    // Throws CommError on a closed port, as the real control does; a lost one drops the bytes.
    void SetOutput(std::span<const std::uint8_t> bytes) override;
    std::string LostReason() const override { return m_lost; }
    // Recorded as "Reopen" when the port is lost; fails while FailOpen() holds a text, which
    // becomes the reason when the port number is no longer the one lost.
    bool Reopen() override;
    // Recorded as "Lost"; then as Lose.
    void MarkLost(const std::string& reason) override;

    // The device goes away under the port: it is closed and reported lost with reason.
    void Lose(std::string reason);
    // Moves the clock on to the next scripted arrival, or by ms when nothing arrives sooner;
    // recorded as "WaitForInput=ms".
    bool WaitForInput(std::uint32_t ms) override;
    Transport GetTransport() const override { return transport; }
    // What the port plays: a serial line unless a test says otherwise.
    Transport transport = Transport::Serial;

    // Who answers a request: a queued entry first (one per request, in order), else the
    // responder, else nobody.
    void SetResponder(Responder responder) { m_responder = std::move(responder); }
    const Responder& GetResponder() const { return m_responder; }
    void QueueAnswer(std::vector<Reply> replies) { m_queue.push_back(std::move(replies)); }
    void QueueAnswer(std::vector<std::uint8_t> bytes, std::uint32_t delayMs = 0);

    // Stray bytes, floods, late answers: bytes that arrive now, or once ms more have passed.
    // Bytes that arrive while the port is closed are lost, as on a real line.
    void Arrive(std::vector<std::uint8_t> bytes) { ArriveAfter(0, std::move(bytes)); }
    void ArriveAfter(std::uint32_t ms, std::vector<std::uint8_t> bytes);

    void FailOpen(std::optional<std::string> text) { m_openFailure = std::move(text); }

    const std::vector<Event>& Events() const { return m_events; }
    std::vector<std::string> Log() const;
    // The puts only, in order (no reads, no Output).
    std::vector<std::string> Puts() const;
    const std::vector<Sent>& Outputs() const { return m_outputs; }
    // Bytes that have arrived by now and not been read.
    std::size_t Waiting();
    void ClearRecord();

private:
    struct Pending {
        std::uint64_t due;
        std::vector<std::uint8_t> bytes;
    };

    void Record(std::string what) const;
    void Deliver();

    VirtualClock& m_clock;
    std::int16_t m_commPort = 1;
    std::string m_settings = "9600,N,8,1";
    bool m_open = false;
    std::int16_t m_inputLen = 0;
    std::vector<std::uint8_t> m_arrived;
    std::vector<Pending> m_pending; // kept in order of arrival time
    Responder m_responder;
    std::deque<std::vector<Reply>> m_queue;
    std::optional<std::string> m_openFailure;
    std::string m_lost;
    std::int16_t m_lostPort = 0;         // the port m_lost reports on
    mutable std::vector<Event> m_events; // reads of const properties are recorded too
    std::vector<Sent> m_outputs;
};

// Lower-case hex without separators, as QByteArray::toHex writes it.
std::string ToHex(std::span<const std::uint8_t> bytes);

} // namespace md
