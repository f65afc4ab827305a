#include "port/Rfc2217.h"

namespace md::rfc2217 {

namespace {

// Far longer than any com port reply or notification. A subnegotiation that grows past it has
// lost its end: the reader starts over on data rather than swallow the meter's answers.
constexpr std::size_t kMaxSub = 256;

bool WeWill(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}

bool WeWant(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead;
}

void Command(std::vector<std::uint8_t>& out, std::uint8_t command,
             std::initializer_list<std::uint8_t> value) {
    out.insert(out.end(), {kIac, kSb, kOptComPort, command});
    for (const std::uint8_t b : value) {
        out.push_back(b);
        if (b == kIac)
            out.push_back(kIac);
    }
    out.insert(out.end(), {kIac, kSe});
}

} // namespace

std::vector<std::uint8_t> EscapeData(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    out.reserve(data.size() + 4);
    for (const std::uint8_t b : data) {
        out.push_back(b);
        if (b == kIac)
            out.push_back(kIac);
    }
    return out;
}

std::vector<std::uint8_t> Greeting() {
    return {kIac, kWill, kOptBinary,          kIac, kDo,   kOptBinary,
            kIac, kWill, kOptSuppressGoAhead, kIac, kDo,   kOptSuppressGoAhead,
            kIac, kWill, kOptComPort};
}

std::uint8_t ParityCode(char parity) {
    switch (parity) {
    case 'O':
        return 2;
    case 'E':
        return 3;
    case 'M':
        return 4;
    case 'S':
        return 5;
    default:
        return 1;
    }
}

std::vector<std::uint8_t> LineCommands(std::int32_t baudRate, int dataBits, char parity,
                                       int stopBits) {
    std::vector<std::uint8_t> out;
    const auto rate = static_cast<std::uint32_t>(baudRate);
    Command(out, kSetBaudRate,
            {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
             static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)});
    Command(out, kSetDataSize, {static_cast<std::uint8_t>(dataBits)});
    Command(out, kSetParity, {ParityCode(parity)});
    Command(out, kSetStopSize, {static_cast<std::uint8_t>(stopBits)});
    return out;
}

std::vector<std::uint8_t> PurgeCommand(std::uint8_t what) {
    std::vector<std::uint8_t> out;
    Command(out, kPurgeData, {what});
    return out;
}

void TelnetReader::Feed(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
                        std::vector<std::uint8_t>& replies) {
    for (const std::uint8_t b : in) {
        switch (m_state) {
        case State::Data:
            if (b == kIac)
                m_state = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            if (b == kIac) {
                data.push_back(kIac);
                m_state = State::Data;
            } else {
                AfterIac(b);
            }
            break;
        case State::Option:
            Negotiate(m_verb, b, replies);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == kIac) {
                m_state = State::SubIac;
            } else if (m_sub.size() < kMaxSub) {
                m_sub.push_back(b);
            } else {
                m_sub.clear();
                m_state = State::Data;
                data.push_back(b);
            }
            break;
        case State::SubIac:
            if (b == kIac) {
                if (m_sub.size() < kMaxSub) {
                    m_sub.push_back(kIac);
                    m_state = State::Sub;
                } else {
                    m_sub.clear();
                    data.push_back(kIac);
                    m_state = State::Data;
                }
            } else if (b == kSe) {
                EndSub();
                m_state = State::Data;
            } else {
                // The subnegotiation lost its end; what follows its IAC is a command of its
                // own (a new IAC SB, a WILL), and is read as one.
                m_sub.clear();
                AfterIac(b);
            }
            break;
        }
    }
}

void TelnetReader::AfterIac(std::uint8_t b) {
    if (b == kWill || b == kWont || b == kDo || b == kDont) {
        m_verb = b;
        m_state = State::Option;
    } else if (b == kSb) {
        m_sub.clear();
        m_state = State::Sub;
    } else {
        m_state = State::Data; // NOP, go-ahead, break and the like carry nothing here
    }
}

void TelnetReader::EndSub() {
    if (m_sub.size() < 2 || m_sub[0] != kOptComPort || m_sub[1] <= kServerReply)
        return;
    m_replies[static_cast<std::uint8_t>(m_sub[1] - kServerReply)] =
        std::vector<std::uint8_t>(m_sub.begin() + 2, m_sub.end());
}

// Each side answers only a change of state, so that no negotiation loops (RFC 854).
void TelnetReader::Negotiate(std::uint8_t verb, std::uint8_t option,
                             std::vector<std::uint8_t>& replies) {
    const auto say = [&](std::uint8_t v) { replies.insert(replies.end(), {kIac, v, option}); };
    switch (verb) {
    case kDo:
        // The greeting offered every option we will: a DO is the server's agreement.
        if (WeWill(option))
            m_will.insert(option);
        else if (m_wont.insert(option).second)
            say(kWont);
        break;
    case kDont:
        if (option == kOptComPort)
            m_comPortRefused = true;
        // Without binary both ways, a server may change bytes of the meter's frames.
        if (option == kOptBinary)
            m_binaryRefused = true;
        if (m_will.erase(option))
            say(kWont);
        break;
    case kWill:
        if (WeWant(option))
            m_do.insert(option);
        else if (m_dont.insert(option).second)
            say(kDont);
        break;
    case kWont:
        if (option == kOptBinary)
            m_binaryRefused = true;
        if (m_do.erase(option))
            say(kDont);
        break;
    default:
        break;
    }
}

} // namespace md::rfc2217
