#include "meter/MeterOps.h"

#include "modbus/Frame.h"
#include "meter/Registers.h"

#include <charconv>
#include <limits>

namespace md::meter {

namespace {

// Flushes, sends the write, then sleeps the pause between requests; the echo that arrived during
// the pause is located before anything else touches the input.
// An acknowledgement from alsoFrom (-1: none) is taken as well.
bool WriteAndCollectEcho(CExchange& link, std::uint8_t address, std::uint16_t reg, int value,
                         int alsoFrom = -1) {
    const int len = BuildWriteSingleRequest(link.m_bySendBuf, address, reg, value);
    return link.Transact(len, WaitKind::Sleep, CExchange::kPauseMs,
                         {kFnWriteSingle, address, kWriteAnswerLen, alsoFrom}) >= 0;
}

// printf's "%.4f" as the "C" locale prints it: a full stop, whatever locale the application
// runs in.
std::string Printf4(double value) {
    char text[std::numeric_limits<double>::max_exponent10 + 32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4).ptr;
    return std::string(text, end);
}

} // namespace

std::optional<std::uint16_t> ReadRegister(CExchange& link, std::uint8_t address,
                                          std::uint16_t reg) {
    const int len = BuildReadRequest(link.m_bySendBuf, address, reg, 1);
    const int p =
        link.Transact(len, WaitKind::Sleep, kReadWaitMs, kFnReadHolding, address, ReadAnswerLen(1));
    if (p < 0)
        return std::nullopt;
    return link.Register(p, 0);
}

std::optional<std::uint16_t> ReadUpperLimit(CExchange& link, std::uint8_t address) {
    return ReadRegister(link, address, reg::kUpperLimit);
}

std::optional<std::uint16_t> ReadLowerLimit(CExchange& link, std::uint8_t address) {
    return ReadRegister(link, address, reg::kLowerLimit);
}

std::optional<std::uint16_t> ReadDecimalPoint(CExchange& link, std::uint8_t address) {
    return ReadRegister(link, address, reg::kDecimalPoint);
}

std::optional<int> ReadBaudCode(CExchange& link, std::uint8_t address) {
    const auto code = ReadRegister(link, address, reg::kParamBaudCode);
    if (!code)
        return std::nullopt;
    return BaudCodeToField(*code);
}

int BaudCodeToField(int code) {
    const int rate = reg::BaudRateOf(code);
    return rate < 0 ? code : rate;
}

int BaudFieldToCode(int field) {
    const int code = reg::BaudCodeOf(field);
    return code < 0 ? field : code;
}

ParamWriteResult WriteParams(CExchange& link, std::uint8_t address,
                             const std::function<std::optional<ParamValues>()>& take) {
    struct Step {
        std::uint16_t reg;
        int ParamValues::*field;
    };
    static constexpr Step kSteps[] = {
        {reg::kDecimalPoint, &ParamValues::decimalPoint},
        {reg::kUpperLimit, &ParamValues::upperLimit},
        {reg::kLowerLimit, &ParamValues::lowerLimit},
        {reg::kParamBaudCode, &ParamValues::baudRate},
    };

    ParamWriteResult result;
    bool allEchoed = true;
    for (const Step& step : kSteps) {
        const auto values = take();
        if (!values)
            return result;
        int value = (*values).*step.field;
        // The baud field goes out as its code, and the field keeps that code afterwards.
        if (step.reg == reg::kParamBaudCode)
            value = result.baudCode = BaudFieldToCode(value);
        allEchoed &= WriteAndCollectEcho(link, address, step.reg, value);
    }

    const bool confirmed = allEchoed || address == kBroadcastAddress;
    result.outcome = confirmed ? WriteOutcome::Confirmed : WriteOutcome::Unconfirmed;
    return result;
}

bool WriteOwnAddress(CExchange& link, std::uint8_t address, std::uint8_t newAddress) {
    const bool echoed =
        WriteAndCollectEcho(link, address, reg::kOwnAddress, newAddress, newAddress);
    return echoed || address == kBroadcastAddress;
}

double ScaleFor(int decimalPoint) {
    switch (decimalPoint) {
    case 1:
        return 0.1;
    case 2:
        return 0.01;
    case 3:
        return 0.001;
    default:
        return 1.0;
    }
}

std::string FormatCurrent(std::uint16_t raw, double scale) {
    return Printf4(static_cast<double>(raw) * scale);
}

std::string ErrorRateText(int successCount, int failureCount) {
    const double total = static_cast<double>(successCount) + failureCount;
    if (total == 0)
        return "0";
    return Printf4(failureCount * 100.0 / total) + "%";
}

std::optional<std::array<std::uint16_t, 3>> ReadPhaseCurrents(CExchange& link,
                                                              std::uint8_t address) {
    const int len = BuildReadRequest(link.m_bySendBuf, address, reg::kPhaseCurrents, 3);
    const int p =
        link.Transact(len, WaitKind::Sleep, kReadWaitMs, kFnReadHolding, address, ReadAnswerLen(3));
    if (p < 0)
        return std::nullopt;
    return std::array<std::uint16_t, 3>{link.Register(p, 0), link.Register(p, 1),
                                        link.Register(p, 2)};
}

CurrentsPoll PollCurrents(CExchange& link, std::uint8_t address) {
    CurrentsPoll poll;
    poll.decimalPoint = ReadDecimalPoint(link, address);
    poll.raw = ReadCurrentsAfterPause(link, address);
    return poll;
}

std::optional<std::array<std::uint16_t, 3>> ReadCurrentsAfterPause(CExchange& link,
                                                                   std::uint8_t address) {
    link.WaitBetweenRequests();
    return ReadPhaseCurrents(link, address);
}

std::array<std::string, 3> CurrentTexts(const std::array<std::uint16_t, 3>& raw, int decimalPoint) {
    const double scale = ScaleFor(decimalPoint);
    std::array<std::string, 3> texts;
    for (std::size_t i = 0; i < raw.size(); ++i)
        texts[i] = FormatCurrent(raw[i], scale);
    return texts;
}

SwitchState DecodeSwitchState(std::uint8_t relayByte, std::uint8_t switchByte) {
    return {relayByte == 1, switchByte == 1};
}

std::optional<SwitchState> ReadSwitchState(CExchange& link, std::uint8_t address) {
    const int len = BuildReadRequest(link.m_bySendBuf, address, reg::kRelaySwitch, 1);
    const int p =
        link.Transact(len, WaitKind::Sleep, kReadWaitMs, kFnReadHolding, address, ReadAnswerLen(1));
    if (p < 0)
        return std::nullopt;
    return DecodeSwitchState(link.DataByte(p, 0), link.DataByte(p, 1));
}

} // namespace md::meter
