#pragma once
// Meter operations of the parameter block, the address change, the measurement poll and the
// relay/switch status. Each takes the exchange and the meter address and returns a plain result;
// the window around them does the data exchange, the prompts and the message boxes.

#include "link/Exchange.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace md::meter {

inline constexpr std::uint32_t kReadWaitMs = 600;
// Nobody answers a request sent to this address, so no echo can confirm it.
inline constexpr std::uint8_t kBroadcastAddress = 0;
// What a written register can carry, and the addresses a meter can be given (248 and above are
// reserved in Modbus RTU).
inline constexpr int kRegisterMin = 0;
inline constexpr int kRegisterMax = 65535;
inline constexpr int kOwnAddressMin = 1;
inline constexpr int kOwnAddressMax = 247;

// One holding register (0x03, one register, 600 ms sleep, 7-byte answer), or nullopt when no
// answer was located.
std::optional<std::uint16_t> ReadRegister(CExchange& link, std::uint8_t address, std::uint16_t reg);

std::optional<std::uint16_t> ReadUpperLimit(CExchange& link, std::uint8_t address);
std::optional<std::uint16_t> ReadLowerLimit(CExchange& link, std::uint8_t address);
std::optional<std::uint16_t> ReadDecimalPoint(CExchange& link, std::uint8_t address);
// The baud code as it is shown: codes 0..4 become their rate, anything else stays the number.
std::optional<int> ReadBaudCode(CExchange& link, std::uint8_t address);

// A register's baud code as the field shows it, and the field as the code that goes out.
int BaudCodeToField(int code);
int BaudFieldToCode(int field);

// The operator's values of the parameter block, as one take of the fields gives them.
struct ParamValues {
    int decimalPoint = 0;
    int upperLimit = 0;
    int lowerLimit = 0;
    int baudRate = 0;
};

enum class WriteOutcome {
    Confirmed,   // every write's echo was located (or the writes went to the broadcast address)
    Unconfirmed, // at least one echo is missing
    Abandoned,   // a take failed; nothing more was sent from that write on
};

struct ParamWriteResult {
    WriteOutcome outcome = WriteOutcome::Abandoned;
    int baudCode = 0; // the value sent to the baud register, when that write went out
};

// The four parameter writes (decimal point, upper, lower, baud code) with a 300 ms pause after
// each. take() is called before every write; the echo of each write is collected at the end of
// the pause that follows it, so the next write's flush no longer throws it away unseen.
ParamWriteResult WriteParams(CExchange& link, std::uint8_t address,
                             const std::function<std::optional<ParamValues>()>& take);

// Writes the meter's own address register and collects its echo after a 300 ms pause. true when
// the echo was located, from the old address or from the new one (a meter may switch before it
// answers), or the request went to the broadcast address.
bool WriteOwnAddress(CExchange& link, std::uint8_t address, std::uint8_t newAddress);

// Scale factor for a decimal point; values outside 0..3 keep the raw value (factor 1.0), so a
// strange register does not turn into a link failure.
double ScaleFor(int decimalPoint);
// "%.4f" of raw × scale.
std::string FormatCurrent(std::uint16_t raw, double scale);
// Error rate "%.4f%" from the counts with the poll just made already counted, answered or not;
// "0" (the text before the first poll) while both are 0.
std::string ErrorRateText(int successCount, int failureCount);

// The three raw phase currents (0x03 at 0x0000, three registers, 600 ms sleep, 11 bytes).
std::optional<std::array<std::uint16_t, 3>> ReadPhaseCurrents(CExchange& link,
                                                              std::uint8_t address);

// One poll of the measurements: the decimal point is read first, then, after the pause between
// requests, the three currents.
struct CurrentsPoll {
    std::optional<std::uint16_t> decimalPoint;
    std::optional<std::array<std::uint16_t, 3>> raw;
};
CurrentsPoll PollCurrents(CExchange& link, std::uint8_t address);
// The poll's second half on its own, for a caller that goes back to its event loop after the
// decimal point read: the pause between requests, then the currents read.
std::optional<std::array<std::uint16_t, 3>> ReadCurrentsAfterPause(CExchange& link,
                                                                   std::uint8_t address);

// The texts of the three phase currents one answered poll shows.
std::array<std::string, 3> CurrentTexts(const std::array<std::uint16_t, 3>& raw, int decimalPoint);

// Relay output (high byte) and switch input (low byte); only the exact value 1 means on/closed.
struct SwitchState {
    bool relayOn = false;
    bool switchClosed = false;
};

SwitchState DecodeSwitchState(std::uint8_t relayByte, std::uint8_t switchByte);
std::optional<SwitchState> ReadSwitchState(CExchange& link, std::uint8_t address);

} // namespace md::meter
