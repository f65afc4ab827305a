#pragma once
// The client side of the Telnet Com Port Control Option (RFC 2217): the bytes that ask a serial
// device server to set its port's rate, data bits, parity and stop bits and to purge its
// buffers, and the reading of what the server sends: data bytes with IAC (0xFF) undoubled, the
// Telnet commands among them answered or taken apart, never handed on as data. Pure code.

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <vector>

namespace md::rfc2217 {

inline constexpr std::uint8_t kIac = 0xFF;
inline constexpr std::uint8_t kDont = 0xFE;
inline constexpr std::uint8_t kDo = 0xFD;
inline constexpr std::uint8_t kWont = 0xFC;
inline constexpr std::uint8_t kWill = 0xFB;
inline constexpr std::uint8_t kSb = 0xFA;
inline constexpr std::uint8_t kSe = 0xF0;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// Client commands; the server answers each with the same number plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerReply = 100;
// PURGE-DATA: what the server receives from its serial port and has not passed on yet.
inline constexpr std::uint8_t kPurgeReceive = 1;

// Data bytes as they go into the Telnet stream: every 0xFF doubled.
std::vector<std::uint8_t> EscapeData(std::span<const std::uint8_t> data);

// What the client offers when it connects: binary both ways, no go-ahead, and the com port
// option.
std::vector<std::uint8_t> Greeting();

// SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE for a line. parity is N, O, E, M or
// S; stopBits 1, 2, or 3 for one and a half.
std::vector<std::uint8_t> LineCommands(std::int32_t baudRate, int dataBits, char parity,
                                       int stopBits);
// The value SET-PARITY carries for a parity letter (1 none, 2 odd, 3 even, 4 mark, 5 space).
std::uint8_t ParityCode(char parity);
std::vector<std::uint8_t> PurgeCommand(std::uint8_t what);

// Reads the server's stream in pieces of any size.
class TelnetReader {
public:
    // Appends the data bytes of in to data and the negotiation answers owed to the server to
    // replies.
    void Feed(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& replies);

    // The server's replies to the com port commands, by client command (1 for SET-BAUDRATE),
    // with the value they carry; each new reply replaces the last.
    const std::map<std::uint8_t, std::vector<std::uint8_t>>& Replies() const { return m_replies; }
    void ForgetReplies() { m_replies.clear(); }
    void ForgetReply(std::uint8_t command) { m_replies.erase(command); }
    // The server said DO or DONT to the com port option; neither yet: both false.
    bool ComPortAccepted() const { return m_will.contains(kOptComPort); }
    bool ComPortRefused() const { return m_comPortRefused; }
    // The server said WONT or DONT to binary transmission: bytes of a frame may not pass as
    // they are.
    bool BinaryRefused() const { return m_binaryRefused; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& replies);
    // Takes b, the byte after an IAC that is not a doubled 0xFF.
    void AfterIac(std::uint8_t b);
    void EndSub();

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::vector<std::uint8_t> m_sub;
    // What we have agreed to do (WILL) and asked the server to do (DO), as Greeting offers.
    std::set<std::uint8_t> m_will;
    std::set<std::uint8_t> m_do;
    // Options the server offered or asked for that we declined; each is declined once only.
    std::set<std::uint8_t> m_wont;
    std::set<std::uint8_t> m_dont;
    bool m_comPortRefused = false;
    bool m_binaryRefused = false;
    std::map<std::uint8_t, std::vector<std::uint8_t>> m_replies;
};

} // namespace md::rfc2217
