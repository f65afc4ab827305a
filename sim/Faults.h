#pragma once
// What the line and the meter can do wrong to an answer. A fault is chosen for each request the
// meter hears and acts on; every fault except `exception` lets the meter act on the request and
// then spoils the answer on its way back.

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace md::sim {

enum class FaultKind {
    None,
    Silent,       // the answer is lost
    BadCrc,       // the last check byte is inverted
    WrongAddress, // a valid answer, but from the next address up
    Exception,    // the meter refuses: exception 0x04, nothing done
    Stray,        // a few noise bytes before the answer
    Late,         // the answer comes after a delay
    Truncated,    // the answer's last three bytes are cut off
    Flood,        // kilobytes of noise before the answer
    GatewayPath,  // a gateway refuses: exception 0x0A (no path to the target), nothing done
    GatewayTarget, // a gateway refuses: exception 0x0B (the target did not respond), nothing done
};

// The exception code with which the meter or a gateway in front of it refuses under this
// fault, without acting on the request; 0 for the faults that let the meter act.
std::uint8_t RefusalOf(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::None;
    int lateMs = 1000;        // Late only
    double probability = 1.0; // of striking each answer
    int remaining = -1;       // answers left to strike; -1: no limit
    int address = 0;          // the meter it strikes, by the address it answers to; 0: every one
};

// "bad-crc", "late:1500", "bad-crc:once", "silent:0.25", "flood:10%", "late:800:once",
// "silent:50%@3" (only the meter at address 3). The rate may also come separately (the
// console's `fault bad-crc once`).
std::optional<Fault> ParseFault(const std::string& text, const std::string& rate,
                                std::string& error);
std::string FaultText(const Fault& f);

// The bytes that reach the tool for one answer. header: the bytes in front of the function
// code, 1 for an RTU frame (the address), 7 for a Modbus TCP one (the MBAP header). A Modbus
// TCP answer has no check bytes; bad-crc spoils its transaction identifier instead, which makes
// it as surely not the answer.
struct SpoiledAnswer {
    std::size_t noise = 0; // noise bytes in front of the frame
    std::vector<std::uint8_t> bytes;
    int delayMs = 0;
    bool lost = false;
};
SpoiledAnswer Spoil(FaultKind kind, int lateMs, std::span<const std::uint8_t> answer,
                    std::mt19937& rng, std::size_t header = 1);

class FaultPlan {
public:
    explicit FaultPlan(std::uint32_t seed) : m_rng(seed) {}

    void Add(const Fault& f) { m_faults.push_back(f); }
    void Clear() { m_faults.clear(); }
    // Writes touching this register are acted on but never answered; address: only those to
    // the meter at this address, 0: to every one.
    void SetSilentWrite(std::uint16_t reg, int address = 0) {
        m_silentWrites.push_back({reg, address});
    }
    void ClearSilentWrites() { m_silentWrites.clear(); }
    // Removes the faults and silent writes that name this address.
    void ClearFor(int address);

    // The fault for the request just heard (an RTU frame, its address first): a silent write
    // first, then the first fault that strikes, in the order they were added. Faults that name
    // another address are passed over.
    Fault Pick(std::span<const std::uint8_t> request);
    std::string Describe() const;
    std::mt19937& Rng() { return m_rng; }

private:
    bool SilentWrite(std::span<const std::uint8_t> request) const;

    std::vector<Fault> m_faults;
    struct Muted {
        std::uint16_t reg;
        int address; // 0: every meter
    };
    std::vector<Muted> m_silentWrites;
    std::mt19937 m_rng;
};

} // namespace md::sim
