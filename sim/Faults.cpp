#include "sim/Faults.h"

#include "sim/Frames.h"
#include "sim/Numbers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace md::sim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Silent, "silent"},
    {FaultKind::BadCrc, "bad-crc"},
    {FaultKind::WrongAddress, "wrong-address"},
    {FaultKind::Exception, "exception"},
    {FaultKind::Stray, "stray"},
    {FaultKind::Late, "late"},
    {FaultKind::Truncated, "truncated"},
    {FaultKind::Flood, "flood"},
    {FaultKind::GatewayPath, "gateway-path"},
    {FaultKind::GatewayTarget, "gateway-target"},
};

constexpr std::size_t kStrayBytes = 5;
constexpr std::size_t kFloodBytes = 4096;
constexpr std::size_t kTruncatedBy = 3;
constexpr int kMaxAddress = 247;

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool ParseRate(const std::string& text, Fault& f) {
    if (text == "once") {
        f.remaining = 1;
        return true;
    }
    if (text == "always")
        return true;
    char* end = nullptr;
    double p = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return false;
    if (*end == '%') {
        p /= 100;
        ++end;
    }
    if (*end != '\0' || !(p > 0 && p <= 1))
        return false;
    f.probability = p;
    return true;
}

} // namespace

std::optional<Fault> ParseFault(const std::string& text, const std::string& rate,
                                std::string& error) {
    Fault f;
    const std::size_t at = text.rfind('@');
    if (at != std::string::npos) {
        const auto address = ParseNumber(text.substr(at + 1), 1, kMaxAddress);
        if (!address) {
            error = "bad address " + Quoted(text.substr(at)) + " (@1 to @247)";
            return std::nullopt;
        }
        f.address = static_cast<int>(*address);
    }
    std::vector<std::string> parts = Split(text.substr(0, at), ':');
    for (const KindName& k : kKinds)
        if (parts[0] == k.name)
            f.kind = k.kind;
    if (f.kind == FaultKind::None) {
        error = "unknown fault " + Quoted(parts[0]);
        return std::nullopt;
    }
    parts.erase(parts.begin());
    if (f.kind == FaultKind::Late && !parts.empty()) {
        char* end = nullptr;
        const long ms = std::strtol(parts[0].c_str(), &end, 10);
        if (!parts[0].empty() && *end == '\0') {
            if (ms < 0 || ms > 60000) {
                error = "late: delay must be 0 to 60000 ms";
                return std::nullopt;
            }
            f.lateMs = static_cast<int>(ms);
            parts.erase(parts.begin());
        }
    }
    if (!rate.empty())
        parts.push_back(rate);
    if (parts.size() > 1) {
        error = "more than one rate in " + Quoted(text);
        return std::nullopt;
    }
    if (!parts.empty() && !ParseRate(parts[0], f)) {
        error = "bad rate " + Quoted(parts[0]) + " (once, always, 0.25 or 25%)";
        return std::nullopt;
    }
    return f;
}

std::string FaultText(const Fault& f) {
    std::string text = "none";
    for (const KindName& k : kKinds)
        if (k.kind == f.kind)
            text = k.name;
    if (f.kind == FaultKind::Late)
        text += ":" + std::to_string(f.lateMs);
    if (f.remaining >= 0) {
        text += f.remaining == 1 ? " once" : " x" + std::to_string(f.remaining);
    } else if (f.probability < 1) {
        char percent[16];
        std::snprintf(percent, sizeof percent, " %g%%", f.probability * 100);
        text += percent;
    }
    if (f.address != 0)
        text += " @" + std::to_string(f.address);
    return text;
}

std::uint8_t RefusalOf(FaultKind kind) {
    switch (kind) {
    case FaultKind::Exception:
        return 0x04; // server device failure
    case FaultKind::GatewayPath:
        return 0x0A; // gateway path unavailable
    case FaultKind::GatewayTarget:
        return 0x0B; // gateway target device failed to respond
    default:
        return 0;
    }
}

SpoiledAnswer Spoil(FaultKind kind, int lateMs, std::span<const std::uint8_t> answer,
                    std::mt19937& rng, std::size_t header) {
    const bool rtu = header == 1;
    SpoiledAnswer out;
    const auto addNoise = [&](std::size_t n) {
        std::uniform_int_distribution<int> byte(0, 255);
        for (std::size_t i = 0; i < n; ++i)
            out.bytes.push_back(static_cast<std::uint8_t>(byte(rng)));
        out.noise = n;
    };
    switch (kind) {
    case FaultKind::Silent:
        out.lost = true;
        return out;
    case FaultKind::Stray:
        addNoise(kStrayBytes);
        break;
    case FaultKind::Flood:
        addNoise(kFloodBytes);
        break;
    case FaultKind::Late:
        out.delayMs = lateMs;
        break;
    default:
        break;
    }
    out.bytes.insert(out.bytes.end(), answer.begin(), answer.end());
    std::span<std::uint8_t> frame = std::span(out.bytes).subspan(out.noise);
    switch (kind) {
    case FaultKind::BadCrc:
        (rtu ? frame.back() : frame[1]) ^= 0xFF;
        break;
    case FaultKind::WrongAddress: {
        std::vector<std::uint8_t> moved(frame.begin(), frame.end());
        moved[header - 1] = static_cast<std::uint8_t>(moved[header - 1] % kMaxAddress + 1);
        if (rtu)
            Recrc(moved);
        std::copy(moved.begin(), moved.end(), frame.begin());
        break;
    }
    case FaultKind::Truncated: {
        const std::size_t keep = frame.size() > kTruncatedBy ? frame.size() - kTruncatedBy : 1;
        out.bytes.resize(out.noise + keep);
        break;
    }
    default:
        break;
    }
    return out;
}

Fault FaultPlan::Pick(std::span<const std::uint8_t> request) {
    if (SilentWrite(request))
        return Fault{FaultKind::Silent};
    Fault picked;
    const int address = request.empty() ? 0 : request[0];
    for (Fault& f : m_faults) {
        if (f.address != 0 && f.address != address)
            continue;
        if (f.remaining != 0 && std::bernoulli_distribution(f.probability)(m_rng)) {
            if (f.remaining > 0)
                --f.remaining;
            picked = f;
            break;
        }
    }
    std::erase_if(m_faults, [](const Fault& f) { return f.remaining == 0; });
    return picked;
}

bool FaultPlan::SilentWrite(std::span<const std::uint8_t> request) const {
    if (request.size() < 6 || (request[1] != 0x06 && request[1] != 0x10))
        return false;
    const int first = request[2] << 8 | request[3];
    const int count = request[1] == 0x06 ? 1 : (request[4] << 8 | request[5]);
    return std::any_of(m_silentWrites.begin(), m_silentWrites.end(), [&](const auto& s) {
        return s.reg >= first && s.reg < first + count &&
               (s.address == 0 || s.address == request[0]);
    });
}

void FaultPlan::ClearFor(int address) {
    std::erase_if(m_faults, [&](const Fault& f) { return f.address == address; });
    std::erase_if(m_silentWrites, [&](const Muted& s) { return s.address == address; });
}

std::string FaultPlan::Describe() const {
    std::string text;
    for (const Fault& f : m_faults)
        text += (text.empty() ? "" : ", ") + FaultText(f);
    for (const Muted& s : m_silentWrites) {
        char item[32];
        std::snprintf(item, sizeof item, "silent-write 0x%04X", s.reg);
        text += (text.empty() ? "" : ", ") + std::string(item) +
                (s.address ? " @" + std::to_string(s.address) : "");
    }
    return text.empty() ? "none" : text;
}

} // namespace md::sim
