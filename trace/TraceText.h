#pragma once
// The trace line style the tool and metersim share, so that their two traces can be laid side
// by side:
//   10:31:02.114 -> 01 03 00 00 00 03 05 CB  read 3 @0x0000
//   10:31:02.722 <- 01 03 06 04 D2 00 64 FF FF 2C 9B  -> 1234 100 65535  [local echo removed]
//   10:31:03.030 -- dropped 5 bytes before the request: 5A 3C 00 FF 12
// Plain text from bytes, with no Qt, so that metersim builds it too.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace md {

enum class DropReason;

// Collected and dropped bytes are shown in hex up to this many, the rest as a count, so that a
// flood of noise does not fill the disk.
inline constexpr std::size_t kTraceBytesShown = 48;
// The note of a request that did not go out.
inline constexpr std::string_view kNotSentNote = "not sent: port closed or line lost";
// The note of the collection that first shows the adapter not echoing under local echo.
inline constexpr std::string_view kNoEchoNote =
    "no local echo received: a lone copy of a write is taken as its answer from now on";
// "dropped 5 bytes before the request: 01 02 03 04 05".
std::string DroppedText(std::span<const std::uint8_t> bytes, DropReason why);

// Local wall time with milliseconds: "10:31:02.114", of the report now handed on (ReportTime).
std::string TraceTime();
// "01 03 00 00 00 03 05 CB"; empty for no bytes. Beyond shown bytes the rest is cut off as
// " ... (N bytes)".
std::string TraceHex(std::span<const std::uint8_t> bytes,
                     std::size_t shown = std::numeric_limits<std::size_t>::max());
// One line, without its newline: the time, direction ("->", "<-", "--"), hex and two spaces
// (when there is hex), meaning, and "  [notes]" when there are notes.
std::string TraceLine(std::string_view direction, std::string_view hex, std::string_view meaning,
                      std::string_view notes = {});

// A Modbus TCP request (MBAP header, PDU): "read 3 @0x0000  [transaction 7, unit 1]".
struct MbapRequestText {
    std::string meaning;
    std::string notes;
};
MbapRequestText DescribeMbapRequest(std::span<const std::uint8_t> adu);
// A request as the tool builds them: "read 3 @0x0000", "write @0x0302 = 500",
// "write 2 @0x0000 = 100 0"; other functions as "function 0x2B"; under six bytes "fragment".
std::string DescribeRequest(std::span<const std::uint8_t> request);
// What an answer frame (address first, check bytes last; not verified here) says, in the words
// both traces use: "1234 100 65535" for the registers of a read, "exception 0x02 (illegal data
// address)", "ok" for a write's acknowledgement, "fragment" under three bytes.
std::string AnswerText(std::span<const std::uint8_t> answer);
// "function 0x2B".
std::string FunctionText(std::uint8_t function);
// "illegal data address" for 0x02, ...; "gateway path unavailable" for 0x0A, ...;
// "unknown exception" for codes without a name.
const char* ExceptionName(std::uint8_t code);

} // namespace md
