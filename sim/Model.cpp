#include "sim/Model.h"

#include "meter/Registers.h"
#include "sim/Numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>

namespace md::sim {

namespace {

constexpr std::uint8_t kWriteSingle = 1, kWriteMultiple = 2;

struct Entry {
    Quantity q;
    const char* name;
    std::uint16_t reg;
    bool readable;       // answered to 0x03
    std::uint8_t writes; // kWriteSingle / kWriteMultiple: written by 0x06 / 0x10
};

// Read-side entries come first, so a register number names what a read there returns. Each
// written register takes only the function the tool uses for it, so a request built with the
// wrong function is refused here instead of passing unnoticed.
constexpr Entry kEntries[] = {
    {Quantity::CurrentA, "current-a", reg::kPhaseCurrents, true, 0},
    {Quantity::CurrentB, "current-b", reg::kPhaseCurrents + 1, true, 0},
    {Quantity::CurrentC, "current-c", reg::kPhaseCurrents + 2, true, 0},
    {Quantity::Decimal, "decimal", reg::kDecimalPoint, true, kWriteSingle},
    {Quantity::RelaySwitch, "relay-switch", reg::kRelaySwitch, true, 0},
    {Quantity::ClockMinSec, "clock-min-sec", reg::kClock, true, 0},
    {Quantity::ClockDayHour, "clock-day-hour", reg::kClock + 1, true, 0},
    {Quantity::ClockYearMonth, "clock-year-month", reg::kClock + 2, true, 0},
    {Quantity::Upper, "upper", reg::kUpperLimit, true, kWriteSingle},
    {Quantity::Lower, "lower", reg::kLowerLimit, true, kWriteSingle},
    {Quantity::ParamBaud, "param-baud", reg::kParamBaudCode, true, kWriteSingle},
    // The ratios are always written as a pair, the ratio first and a zero second.
    {Quantity::Pt, "pt", reg::kPtRatio, false, kWriteMultiple},
    {Quantity::Ct, "ct", reg::kCtRatio, false, kWriteMultiple},
    {Quantity::Wiring, "wiring", reg::kWiringMode, false, kWriteSingle},
    {Quantity::LinkBaud, "link-baud", reg::kLinkBaudCode, false, kWriteSingle},
    {Quantity::Address, "address", reg::kOwnAddress, false, kWriteSingle},
};

const Entry* EntryFor(Quantity q) {
    for (const Entry& e : kEntries)
        if (e.q == q)
            return &e;
    return nullptr;
}

std::uint8_t WritesAt(std::uint16_t reg) {
    // The second register of each ratio pair is accepted and ignored.
    if (reg == reg::kPtRatio + 1 || reg == reg::kCtRatio + 1)
        return kWriteMultiple;
    std::uint8_t writes = 0;
    for (const Entry& e : kEntries)
        if (e.reg == reg)
            writes |= e.writes;
    return writes;
}

bool Readable(std::uint16_t reg) {
    for (const Entry& e : kEntries)
        if (e.reg == reg && e.readable)
            return true;
    return false;
}

constexpr std::uint8_t kIllegalDataAddress = 0x02;
constexpr std::uint8_t kIllegalDataValue = 0x03;
constexpr int kMaxReadCount = 125;
constexpr int kMaxAddress = 247;

constexpr int kMaxWiringCode = 5;

bool ValueFits(std::uint16_t reg, std::uint16_t value) {
    if (reg == reg::kWiringMode)
        return value <= kMaxWiringCode;
    if (reg == reg::kLinkBaudCode)
        return reg::BaudRateOf(value) > 0;
    if (reg == reg::kOwnAddress)
        return value >= 1 && value <= kMaxAddress;
    return true;
}

std::uint16_t Pack(int high, int low) {
    return static_cast<std::uint16_t>((high & 0xFF) << 8 | (low & 0xFF));
}

} // namespace

std::optional<Quantity> QuantityNamed(const std::string& name) {
    for (const Entry& e : kEntries)
        if (name == e.name)
            return e.q;
    const auto reg = ParseNumber(name, 0, 0xFFFF);
    if (!reg)
        return std::nullopt;
    for (const Entry& e : kEntries)
        if (e.reg == *reg)
            return e.q;
    return std::nullopt;
}

const char* NameOf(Quantity q) {
    return EntryFor(q)->name;
}

std::optional<ClockTime> ParseClock(const std::string& text) {
    // Every field travels as one byte, so the meter can be made to show odd dates too; the
    // year as its distance from 2000.
    ClockTime t;
    struct Field {
        int* value;
        char after; // the separator that ends it; 0 for the last
        int min, max;
    };
    const Field fields[] = {{&t.year, '-', 2000, 2255}, {&t.month, '-', 0, 255},
                            {&t.day, ' ', 0, 255},      {&t.hour, ':', 0, 255},
                            {&t.minute, ':', 0, 255},   {&t.second, 0, 0, 255}};
    std::size_t at = 0;
    for (const Field& f : fields) {
        const std::size_t end = f.after ? text.find(f.after, at) : text.size();
        if (end == std::string::npos)
            return std::nullopt;
        const std::string digits = text.substr(at, end - at);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const auto v = ParseNumber(digits, f.min, f.max);
        if (!v)
            return std::nullopt;
        *f.value = static_cast<int>(*v);
        at = end + 1;
    }
    return t;
}

std::string ClockText(const ClockTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

MeterModel::MeterModel(std::uint8_t address, int baudCode)
    : m_paramBaud(static_cast<std::uint16_t>(baudCode)), m_address(address), m_baudCode(baudCode) {}

std::uint8_t MeterModel::CheckRead(std::uint16_t first, int count) const {
    if (count < 1 || count > kMaxReadCount)
        return kIllegalDataValue;
    for (int k = 0; k < count; ++k)
        if (!Readable(static_cast<std::uint16_t>(first + k)))
            return kIllegalDataAddress;
    return 0;
}

std::uint8_t MeterModel::CheckWrite(std::uint8_t function, std::uint16_t first,
                                    std::span<const std::uint16_t> values) const {
    const std::uint8_t kind = function == 0x06 ? kWriteSingle : kWriteMultiple;
    for (std::size_t k = 0; k < values.size(); ++k)
        if (!(WritesAt(static_cast<std::uint16_t>(first + k)) & kind))
            return kIllegalDataAddress;
    for (std::size_t k = 0; k < values.size(); ++k) {
        const auto reg = static_cast<std::uint16_t>(first + k);
        if (!ValueFits(reg, values[k]) ||
            (reg == reg::kOwnAddress && m_addressTaken && m_addressTaken(values[k])))
            return kIllegalDataValue;
    }
    return 0;
}

std::uint16_t MeterModel::Read(std::uint16_t reg, TimePoint now) const {
    for (const Entry& e : kEntries)
        if (e.reg == reg && e.readable)
            return static_cast<std::uint16_t>(Get(e.q, now));
    return 0;
}

void MeterModel::Write(std::uint16_t first, std::span<const std::uint16_t> values) {
    for (std::size_t k = 0; k < values.size(); ++k) {
        const auto reg = static_cast<std::uint16_t>(first + k);
        const std::uint16_t v = values[k];
        switch (reg) {
        case reg::kPtRatio:
            m_pt = v;
            break;
        case reg::kWiringMode:
            m_wiring = v;
            break;
        case reg::kCtRatio:
            m_ct = v;
            break;
        case reg::kDecimalPoint:
            m_decimal = v;
            break;
        case reg::kLinkBaudCode:
            m_pendingBaudCode = v;
            break;
        case reg::kOwnAddress:
            m_pendingAddress = static_cast<std::uint8_t>(v);
            break;
        case reg::kUpperLimit:
            m_upper = v;
            break;
        case reg::kLowerLimit:
            m_lower = v;
            break;
        case reg::kParamBaudCode:
            m_paramBaud = v;
            break;
        default:
            break;
        }
    }
}

int MeterModel::LinkRate() const {
    return reg::BaudRateOf(m_baudCode);
}

void MeterModel::CommitAddress() {
    if (m_pendingAddress)
        m_address = *m_pendingAddress;
    m_pendingAddress.reset();
}

bool MeterModel::CommitLinkRate() {
    if (!m_pendingBaudCode)
        return false;
    const bool changed = *m_pendingBaudCode != m_baudCode;
    Set(Quantity::LinkBaud, *m_pendingBaudCode);
    m_pendingBaudCode.reset();
    return changed;
}

std::uint16_t MeterModel::Current(int phase, TimePoint now) const {
    const double base = m_currents[phase];
    if (m_varyPercent == 0)
        return m_currents[phase];
    // A slow swing, a third of a turn apart per phase, so successive polls show movement.
    constexpr double kPeriodSeconds = 20.0;
    const double t = std::chrono::duration<double>(now.time_since_epoch()).count();
    const double angle =
        2 * std::numbers::pi * (std::fmod(t, kPeriodSeconds) / kPeriodSeconds + phase / 3.0);
    const double value = base * (1 + m_varyPercent / 100.0 * std::sin(angle));
    return static_cast<std::uint16_t>(std::lround(std::clamp(value, 0.0, 65535.0)));
}

ClockTime MeterModel::Clock(TimePoint now) const {
    if (m_fixedClock)
        return *m_fixedClock;
    // The meter keeps local time in China, UTC+8, whatever the host's zone.
    const std::time_t t = std::chrono::system_clock::to_time_t(now) + 8 * 3600;
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

int MeterModel::Get(Quantity q, TimePoint now) const {
    const ClockTime c = Clock(now);
    switch (q) {
    case Quantity::CurrentA:
        return Current(0, now);
    case Quantity::CurrentB:
        return Current(1, now);
    case Quantity::CurrentC:
        return Current(2, now);
    case Quantity::Pt:
        return m_pt;
    case Quantity::Wiring:
        return m_wiring;
    case Quantity::Ct:
        return m_ct;
    case Quantity::Decimal:
        return m_decimal;
    case Quantity::LinkBaud:
        return m_baudCode;
    case Quantity::RelaySwitch:
        return m_relaySwitch;
    case Quantity::ClockMinSec:
        return Pack(c.minute, c.second);
    case Quantity::ClockDayHour:
        return Pack(c.day, c.hour);
    case Quantity::ClockYearMonth:
        return Pack(c.year - 2000, c.month);
    case Quantity::Address:
        return m_address;
    case Quantity::Upper:
        return m_upper;
    case Quantity::Lower:
        return m_lower;
    case Quantity::ParamBaud:
        return m_paramBaud;
    }
    return 0;
}

bool MeterModel::Set(Quantity q, int value) {
    if (value < 0 || value > 0xFFFF)
        return false;
    const auto v = static_cast<std::uint16_t>(value);
    switch (q) {
    case Quantity::CurrentA:
    case Quantity::CurrentB:
    case Quantity::CurrentC:
        m_currents[static_cast<int>(q) - static_cast<int>(Quantity::CurrentA)] = v;
        return true;
    case Quantity::Pt:
        m_pt = v;
        return true;
    case Quantity::Wiring:
        m_wiring = v;
        return true;
    case Quantity::Ct:
        m_ct = v;
        return true;
    case Quantity::Decimal:
        m_decimal = v;
        return true;
    case Quantity::LinkBaud:
        if (reg::BaudRateOf(v) < 0)
            return false;
        // The parameter block reports the rate the meter runs at.
        m_baudCode = v;
        m_paramBaud = v;
        return true;
    case Quantity::RelaySwitch:
        m_relaySwitch = v;
        return true;
    case Quantity::Address:
        if (v < 1 || v > kMaxAddress || (m_addressTaken && m_addressTaken(v)))
            return false;
        m_address = static_cast<std::uint8_t>(v);
        return true;
    case Quantity::Upper:
        m_upper = v;
        return true;
    case Quantity::Lower:
        m_lower = v;
        return true;
    case Quantity::ParamBaud:
        m_paramBaud = v;
        return true;
    case Quantity::ClockMinSec:
    case Quantity::ClockDayHour:
    case Quantity::ClockYearMonth:
        return false;
    }
    return false;
}

} // namespace md::sim
