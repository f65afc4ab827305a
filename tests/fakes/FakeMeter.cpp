#include "fakes/FakeMeter.h"

#include "modbus/Crc.h"
#include "modbus/Frame.h"
#include "meter/Registers.h"

#include <cctype>

namespace md {

namespace {

std::uint16_t WordAt(std::span<const std::uint8_t> f, std::size_t pos) {
    return static_cast<std::uint16_t>(f[pos] << 8 | f[pos + 1]);
}

void PushWord(std::vector<std::uint8_t>& f, unsigned value) {
    f.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
    f.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::vector<std::uint8_t> Sealed(std::vector<std::uint8_t> f) {
    PushWord(f, CalcCrc16(f));
    return f;
}

bool CheckValid(std::span<const std::uint8_t> f) {
    if (f.size() < 4)
        return false;
    return WordAt(f, f.size() - 2) == CalcCrc16(f.first(f.size() - 2));
}

// Baud rate and parity from "9600N,8,2" or "9600,N,8,2"; rate 0 when there is none.
std::pair<int, char> ParseLine(const std::string& settings) {
    int rate = 0;
    std::size_t i = 0;
    for (; i < settings.size() && std::isdigit(static_cast<unsigned char>(settings[i])); ++i)
        rate = rate * 10 + (settings[i] - '0');
    if (i < settings.size() && settings[i] == ',')
        ++i;
    const char parity =
        i < settings.size()
            ? static_cast<char>(std::toupper(static_cast<unsigned char>(settings[i])))
            : '?';
    return {rate, parity};
}

// Registers where a write sets what a read returns.
bool ReadsBack(std::uint16_t reg) {
    return reg == reg::kDecimalPoint || reg == reg::kUpperLimit || reg == reg::kLowerLimit ||
           reg == reg::kParamBaudCode;
}

} // namespace

FakeMeter::FakeMeter(FakePort& port, std::uint8_t address)
    : m_port(port), m_next(port.GetResponder()), m_address(address) {
    m_registers = {
        {reg::kPhaseCurrents, 1234},     {reg::kPhaseCurrents + 1, 2345},
        {reg::kPhaseCurrents + 2, 3456}, {reg::kDecimalPoint, 2},
        {reg::kRelaySwitch, 0x0100},     {reg::kClock, 0x3015},
        {reg::kClock + 1, 0x050E},       {reg::kClock + 2, 0x060B},
        {reg::kUpperLimit, 500},         {reg::kLowerLimit, 100},
        {reg::kParamBaudCode, 3},
    };
    m_port.SetResponder([this](std::span<const std::uint8_t> request) { return Answer(request); });
}

FakeMeter::~FakeMeter() {
    m_port.SetResponder(m_next);
}

void FakeMeter::SetLine(std::int16_t commPort, int baudRate, char parity) {
    m_commPort = commPort;
    m_baudRate = baudRate;
    m_parity = parity;
}

std::optional<std::uint16_t> FakeMeter::Register(std::uint16_t reg) const {
    const auto it = m_registers.find(reg);
    if (it == m_registers.end())
        return std::nullopt;
    return it->second;
}

void FakeMeter::SetNoAnswerAt(std::uint16_t reg, bool on) {
    if (on)
        m_mutedRegisters.insert(reg);
    else
        m_mutedRegisters.erase(reg);
}

bool FakeMeter::OnLine() const {
    const auto [rate, parity] = ParseLine(m_port.GetSettings());
    return m_port.GetCommPort() == m_commPort && rate == m_baudRate && parity == m_parity;
}

std::vector<std::uint8_t> FakeMeter::Exception(std::uint8_t function, std::uint8_t code) const {
    return Sealed({m_address, static_cast<std::uint8_t>(function | 0x80), code});
}

bool FakeMeter::Withheld(std::uint16_t first, int count) const {
    if (m_silent)
        return true;
    for (int k = 0; k < count; ++k)
        if (m_mutedRegisters.contains(static_cast<std::uint16_t>(first + k)))
            return true;
    return false;
}

std::vector<FakePort::Reply> FakeMeter::Answer(std::span<const std::uint8_t> request) {
    if (!OnLine() || request.size() < 4 || request[0] != m_address || !CheckValid(request))
        return m_next ? m_next(request) : std::vector<FakePort::Reply>{};
    ++m_heard;
    const std::uint8_t fn = request[1];
    std::vector<std::uint8_t> answer;
    std::uint16_t first = 0;
    int count = 1;
    // Switches that take effect only once the acknowledgement is on its way.
    std::optional<int> newRate;
    std::optional<std::uint8_t> newAddress;

    if (fn == kFnReadHolding && request.size() == 8) {
        first = WordAt(request, 2);
        count = WordAt(request, 4);
        if (count < 1 || count > 125) {
            answer = Exception(fn, 0x03);
        } else {
            answer = {m_address, fn, static_cast<std::uint8_t>(2 * count)};
            for (int k = 0; k < count && !answer.empty(); ++k) {
                const auto value = Register(static_cast<std::uint16_t>(first + k));
                if (value)
                    PushWord(answer, *value);
                else
                    answer.clear();
            }
            answer = answer.empty() ? Exception(fn, 0x02) : Sealed(std::move(answer));
        }
    } else if ((fn == kFnWriteSingle || fn == kFnWriteMultiple) && request.size() >= 8 &&
               m_refusals.contains(WordAt(request, 2))) {
        first = WordAt(request, 2);
        answer = Exception(fn, m_refusals.at(first));
    } else if (fn == kFnWriteSingle && request.size() == 8) {
        first = WordAt(request, 2);
        const std::uint16_t value = WordAt(request, 4);
        if (first == reg::kLinkBaudCode && reg::BaudRateOf(value) < 0) {
            answer = Exception(fn, 0x03);
        } else {
            m_writes.push_back({fn, first, {value}});
            if (ReadsBack(first))
                m_registers[first] = value;
            if (first == reg::kLinkBaudCode)
                newRate = reg::BaudRateOf(value);
            if (first == reg::kOwnAddress)
                newAddress = static_cast<std::uint8_t>(value);
            answer.assign(request.begin(), request.end());
        }
    } else if (fn == kFnWriteMultiple && request.size() >= 9 && request.size() == 9u + request[6]) {
        first = WordAt(request, 2);
        count = WordAt(request, 4);
        if (count < 1 || request[6] != 2 * count) {
            answer = Exception(fn, 0x03);
        } else {
            Write w{fn, first, {}};
            for (int k = 0; k < count; ++k)
                w.values.push_back(WordAt(request, 7 + 2 * static_cast<std::size_t>(k)));
            m_writes.push_back(std::move(w));
            answer = Sealed({m_address, fn, request[2], request[3], request[4], request[5]});
        }
    } else {
        answer = Exception(fn, 0x01);
    }

    const bool withheld = Withheld(first, count);
    if (newRate)
        m_baudRate = *newRate;
    if (newAddress)
        m_address = *newAddress;
    if (withheld)
        return {};
    return {{std::move(answer), m_delayMs}};
}

} // namespace md
