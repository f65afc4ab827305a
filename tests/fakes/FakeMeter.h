#pragma once
// An in-process meter on a FakePort: a Modbus RTU slave that answers 0x03, 0x06 and 0x10 from a
// register map. Reads and writes are kept apart, because the same register number means
// different things in the two directions; only the parameter block (decimal point, thresholds,
// baud code) reads back what was written. It hears a request only on its own port, at its own
// baud rate and parity, addressed to it with a valid check. After acknowledging a write of the
// link baud code or of its own address it switches, as the real meter does.

#include "fakes/FakePort.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace md {

class FakeMeter {
public:
    struct Write {
        std::uint8_t function; // 0x06 or 0x10
        std::uint16_t reg;     // the (first) register
        std::vector<std::uint16_t> values;
        bool operator==(const Write&) const = default;
    };

    // Installs itself as the port's responder; a request it does not hear goes on to the
    // responder installed before it, so several meters can share one line. The map starts with
    // a value for every register the tool reads.
    explicit FakeMeter(FakePort& port, std::uint8_t address = 1);
    // Gives the line back to the meters installed before it (meters go in the reverse order
    // of their making), so that no request reaches a meter that is gone.
    ~FakeMeter();
    FakeMeter(const FakeMeter&) = delete;
    FakeMeter& operator=(const FakeMeter&) = delete;

    // The line the meter listens on: port number, baud rate, parity 'N', 'O' or 'E'.
    void SetLine(std::int16_t commPort, int baudRate, char parity);
    int BaudRate() const { return m_baudRate; }
    char Parity() const { return m_parity; }
    void SetAddress(std::uint8_t address) { m_address = address; }
    std::uint8_t Address() const { return m_address; }

    // The value a 0x03 read returns; a read touching an unset register gets exception 0x02.
    void SetRegister(std::uint16_t reg, std::uint16_t value) { m_registers[reg] = value; }
    void EraseRegister(std::uint16_t reg) { m_registers.erase(reg); }
    std::optional<std::uint16_t> Register(std::uint16_t reg) const;

    // Every write the meter acknowledged, in order.
    const std::vector<Write>& Writes() const { return m_writes; }

    // Failure switches: no answer at all, none to requests touching a register (writes are
    // still carried out, only the answer is withheld).
    void SetSilent(bool silent) { m_silent = silent; }
    void SetNoAnswerAt(std::uint16_t reg, bool on = true);
    // A write to reg is refused with exception code and not carried out.
    void SetRefusal(std::uint16_t reg, std::uint8_t code) { m_refusals[reg] = code; }
    // Time from the end of the request to the arrival of the whole answer.
    void SetAnswerDelay(std::uint32_t ms) { m_delayMs = ms; }

    // Number of requests addressed to this meter that it heard (valid check, right line).
    int Heard() const { return m_heard; }

private:
    std::vector<FakePort::Reply> Answer(std::span<const std::uint8_t> request);
    bool OnLine() const;
    std::vector<std::uint8_t> Exception(std::uint8_t function, std::uint8_t code) const;
    bool Withheld(std::uint16_t first, int count) const;

    FakePort& m_port;
    FakePort::Responder m_next; // the meters installed before this one
    std::uint8_t m_address;
    std::int16_t m_commPort = 1;
    int m_baudRate = 9600;
    char m_parity = 'N';
    std::map<std::uint16_t, std::uint16_t> m_registers;
    std::vector<Write> m_writes;
    bool m_silent = false;
    std::set<std::uint16_t> m_mutedRegisters;
    std::map<std::uint16_t, std::uint8_t> m_refusals;
    std::uint32_t m_delayMs = 20;
    int m_heard = 0;
};

} // namespace md
