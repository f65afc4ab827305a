#include "meter/SetupOps.h"

#include "modbus/Frame.h"
#include "meter/Registers.h"

namespace md::meter {

namespace {

// A write's answer is located by address, function, length and check only: the echoed
// register and value are not compared with what was sent.
bool WriteDouble(CExchange& link, std::uint8_t address, std::uint16_t firstReg, int value) {
    const int len = BuildWriteDoubleRequest(link.m_bySendBuf, address, firstReg, value);
    return link.Transact(len, WaitKind::Busy, kSetupWaitMs, kFnWriteMultiple, address,
                         kWriteAnswerLen) >= 0;
}

bool WriteSingle(CExchange& link, std::uint8_t address, std::uint16_t reg, int value) {
    const int len = BuildWriteSingleRequest(link.m_bySendBuf, address, reg, value);
    return link.Transact(len, WaitKind::Busy, kSetupWaitMs, kFnWriteSingle, address,
                         kWriteAnswerLen) >= 0;
}

} // namespace

bool RequestBaudChange(CExchange& link, std::uint8_t address, int newRate) {
    const int code = reg::BaudCodeOf(newRate);
    if (code < 0)
        return false;
    return WriteSingle(link, address, reg::kLinkBaudCode, code);
}

std::optional<MeterClock> ReadMeterClock(CExchange& link, std::uint8_t address) {
    const int len = BuildReadRequest(link.m_bySendBuf, address, reg::kClock, 3);
    const int p = link.Transact(len, WaitKind::Sleep, kClockWaitMs, kFnReadHolding, address,
                                ReadAnswerLen(3));
    if (p < 0)
        return std::nullopt;
    MeterClock clock;
    clock.minute = link.DataByte(p, 0);
    clock.second = link.DataByte(p, 1);
    clock.day = link.DataByte(p, 2);
    clock.hour = link.DataByte(p, 3);
    clock.year = link.DataByte(p, 4);
    clock.month = link.DataByte(p, 5);
    return clock;
}

bool WritePtRatio(CExchange& link, std::uint8_t address, int pt) {
    return WriteDouble(link, address, reg::kPtRatio, pt);
}

bool WriteCtRatio(CExchange& link, std::uint8_t address, int ct) {
    return WriteDouble(link, address, reg::kCtRatio, ct);
}

bool WriteWiringMode(CExchange& link, std::uint8_t address, std::uint8_t code) {
    return WriteSingle(link, address, reg::kWiringMode, code);
}

} // namespace md::meter
