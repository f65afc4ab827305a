#pragma once
// Modbus TCP framing: the MBAP header (transaction identifier, protocol identifier 0, length of
// what follows, unit identifier) in front of the PDU, and no check bytes. The tool builds RTU
// requests; on a Modbus TCP device they go out re-framed, the unit identifier being the meter
// address. Pure functions: bytes in, bytes or an offset out.

#include "modbus/Answer.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace md {

inline constexpr std::size_t kMbapHeaderLen = 7; // the unit identifier included
// Modbus exceptions a gateway answers with when it cannot reach the meter behind it.
inline constexpr std::uint8_t kGatewayPathUnavailable = 0x0A;
inline constexpr std::uint8_t kGatewayTargetFailed = 0x0B;

// The Modbus TCP request for an RTU request (address, PDU, two check bytes; at least 4 bytes):
// the header with transaction and unit = address, then the PDU.
std::vector<std::uint8_t> MbapRequest(std::span<const std::uint8_t> rtu, std::uint16_t transaction);

// Why a whole frame in the input is not the answer wanted.
enum class MbapMismatch { None, Transaction, Protocol, Length, Unit, Function };

struct MbapSearch {
    int offset = -1;      // the answer's unit identifier (address, function, data follow it)
    int exceptionAt = -1; // an exception answer to the request: its unit identifier
    std::uint8_t exceptionCode = 0;
    // The first whole frame that is neither: where its header starts, and why.
    MbapMismatch mismatch = MbapMismatch::None;
    int mismatchAt = -1;
    int frames = 0; // whole frames seen, not counting those inside another
};

// Looks through data, taking every offset for a header, for the answer to the request with
// wanted.transaction: protocol 0, unit wanted.address (or wanted.alsoFrom), wanted.function,
// and the length an RTU answer of wanted.expected bytes has without its address and check
// bytes. An exception answer (function | 0x80, one code byte) is reported apart.
MbapSearch FindMbapAnswer(std::span<const std::uint8_t> data, const AnswerWanted& wanted);

// Whether data holds the answer to a one-register read of address sent with transaction, or a
// meter's exception to it: either proves a meter there. A gateway's 0x0A or 0x0B proves none.
bool MbapMeterAnswered(std::span<const std::uint8_t> data, int transaction, std::uint8_t address);

// "transaction 7, not 8", "protocol 1", "length 9, not 7", "unit 3", "function 0x04".
std::string MbapMismatchText(std::span<const std::uint8_t> data, const AnswerWanted& wanted,
                             const MbapSearch& found);

} // namespace md
