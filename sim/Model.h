#pragma once
// The meter's registers. Reads and writes of the same number mean different things (0x0000 is
// phase A current when read, the PT ratio when written), so the model keeps what the meter
// measures apart from what the tool has set, and names each quantity for the console.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace md::sim {

enum class Quantity {
    CurrentA,
    CurrentB,
    CurrentC,
    Pt,
    Wiring,
    Ct,
    Decimal,
    LinkBaud,
    RelaySwitch,
    ClockMinSec,
    ClockDayHour,
    ClockYearMonth,
    Address,
    Upper,
    Lower,
    ParamBaud,
};

// "current-a" or a register number ("0x0302", "770"); a number names what a read there returns,
// or, for a register that is only written, what the last write set.
std::optional<Quantity> QuantityNamed(const std::string& name);
const char* NameOf(Quantity q);

struct ClockTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// "2006-11-15 10:30:45".
std::optional<ClockTime> ParseClock(const std::string& text);
std::string ClockText(const ClockTime& t);

class MeterModel {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    MeterModel(std::uint8_t address, int baudCode);

    // The Modbus exception code with which the meter refuses a request, or 0.
    std::uint8_t CheckRead(std::uint16_t first, int count) const;
    std::uint8_t CheckWrite(std::uint8_t function, std::uint16_t first,
                            std::span<const std::uint16_t> values) const;

    std::uint16_t Read(std::uint16_t reg, TimePoint now) const;
    // Acts on an accepted write. A new address or link rate only waits here: the meter must
    // still answer this write the old way.
    void Write(std::uint16_t first, std::span<const std::uint16_t> values);

    std::uint8_t Address() const { return m_address; }
    int LinkRate() const;
    // Switches to the address written to 0x0300, once the write has been answered.
    void CommitAddress();
    // Switches to the link rate written to 0x0008; true when it changed.
    bool CommitLinkRate();

    // Console access. Set returns false for a value the meter cannot hold.
    int Get(Quantity q, TimePoint now) const;
    bool Set(Quantity q, int value);

    void SetClockFixed(const ClockTime& t) { m_fixedClock = t; }
    void SetClockRunning() { m_fixedClock.reset(); }
    bool ClockRunning() const { return !m_fixedClock; }
    ClockTime Clock(TimePoint now) const;

    // Each phase current wanders by up to this many percent around its set value.
    void SetVary(int percent) { m_varyPercent = percent; }
    int Vary() const { return m_varyPercent; }

    // A meter that takes a new address before it answers the write of it: the answer comes
    // from the new address.
    void SetAnswerFromNewAddress(bool on) { m_answerFromNewAddress = on; }
    bool AnswersFromNewAddress() const { return m_answerFromNewAddress; }

    // Whether another meter on the same line answers to an address; such an address is refused
    // to a write of 0x0300 (exception 0x03) and to the console.
    void SetAddressTaken(std::function<bool(int)> taken) { m_addressTaken = std::move(taken); }

private:
    std::uint16_t Current(int phase, TimePoint now) const;

    std::uint16_t m_currents[3] = {1234, 100, 65535};
    int m_varyPercent = 0;
    std::uint16_t m_pt = 1, m_ct = 1, m_wiring = 0;
    std::uint16_t m_decimal = 2;
    std::uint16_t m_relaySwitch = 0x0100;
    std::uint16_t m_upper = 500, m_lower = 100;
    std::uint16_t m_paramBaud;
    std::uint8_t m_address;
    int m_baudCode;
    std::optional<std::uint8_t> m_pendingAddress;
    std::optional<int> m_pendingBaudCode;
    std::optional<ClockTime> m_fixedClock;
    bool m_answerFromNewAddress = false;
    std::function<bool(int)> m_addressTaken;
};

} // namespace md::sim
