#include "trace/TraceText.h"

#include "trace/Trace.h"

#include "modbus/Frame.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace md {

namespace {

std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

std::string Reg(std::uint16_t reg) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", reg);
    return text;
}

} // namespace

std::string TraceTime() {
    const auto now = ReportTime::Now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return text;
}

std::string TraceHex(std::span<const std::uint8_t> bytes, std::size_t shown) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size() && i < shown; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    if (bytes.size() > shown)
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

std::string TraceLine(std::string_view direction, std::string_view hex, std::string_view meaning,
                      std::string_view notes) {
    std::string line = TraceTime();
    line += ' ';
    line += direction;
    line += ' ';
    if (!hex.empty()) {
        line += hex;
        line += "  ";
    }
    line += meaning;
    if (!notes.empty()) {
        line += "  [";
        line += notes;
        line += ']';
    }
    return line;
}

std::string DescribeRequest(std::span<const std::uint8_t> request) {
    if (request.size() < 6)
        return "fragment";
    const std::uint8_t fn = request[1];
    if (fn == kFnReadHolding)
        return "read " + std::to_string(Word(request, 4)) + " @" + Reg(Word(request, 2));
    if (fn == kFnWriteSingle)
        return "write @" + Reg(Word(request, 2)) + " = " + std::to_string(Word(request, 4));
    if (fn == kFnWriteMultiple && request.size() >= 7) {
        const std::size_t count = Word(request, 4);
        std::string text = "write " + std::to_string(count) + " @" + Reg(Word(request, 2)) + " =";
        for (std::size_t k = 0; k < count && 7 + 2 * k + 1 < request.size(); ++k)
            text += " " + std::to_string(Word(request, 7 + 2 * k));
        return text;
    }
    return FunctionText(fn);
}

MbapRequestText DescribeMbapRequest(std::span<const std::uint8_t> adu) {
    if (adu.size() < 8)
        return {"fragment", {}};
    // The RTU form of the request without its check bytes; DescribeRequest never reads them.
    std::vector<std::uint8_t> rtu(adu.begin() + 6, adu.end());
    rtu.resize(rtu.size() + 2);
    return {DescribeRequest(rtu), "transaction " + std::to_string(Word(adu, 0)) + ", unit " +
                                      std::to_string(adu[6])};
}

std::string AnswerText(std::span<const std::uint8_t> answer) {
    if (answer.size() < 3)
        return "fragment";
    if (answer[1] & 0x80) {
        char exception[80];
        std::snprintf(exception, sizeof exception, "exception 0x%02X (%s)", answer[2],
                      ExceptionName(answer[2]));
        return exception;
    }
    if (answer[1] != kFnReadHolding)
        return "ok";
    std::string text;
    // The registers lie between the byte count and the two check bytes.
    for (std::size_t at = 3; at + 2 + 2 <= answer.size(); at += 2)
        text += (text.empty() ? "" : " ") + std::to_string(Word(answer, at));
    return text;
}

std::string FunctionText(std::uint8_t function) {
    char text[24];
    std::snprintf(text, sizeof text, "function 0x%02X", function);
    return text;
}

const char* ExceptionName(std::uint8_t code) {
    switch (code) {
    case 0x01:
        return "illegal function";
    case 0x02:
        return "illegal data address";
    case 0x03:
        return "illegal data value";
    case 0x04:
        return "server device failure";
    case 0x0A:
        return "gateway path unavailable";
    case 0x0B:
        return "gateway target device failed to respond";
    default:
        return "unknown exception";
    }
}

std::string DroppedText(std::span<const std::uint8_t> bytes, DropReason why) {
    const char* where = why == DropReason::Flush      ? "before the request"
                        : why == DropReason::Overflow ? "beyond the receive copy"
                                                      : "arriving after the count";
    return "dropped " + std::to_string(bytes.size()) + " bytes " + where + ": " +
           TraceHex(bytes, kTraceBytesShown);
}

} // namespace md
