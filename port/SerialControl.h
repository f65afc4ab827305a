#pragma once
// The serial port control as the program uses it: seven properties and SendFrame.
// Production uses CMSComm (over QSerialPort); tests use a scripted fake.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace md {

// Raised by the serial port control when it refuses a property (no such port, port busy,
// rejected settings). Its text is UTF-8 in the interface language and names the port and the
// device.
class CommError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What carries the bytes: a serial device on this PC, RTU frames over plain TCP, a serial
// device server speaking RFC 2217, or a Modbus TCP gateway (MBAP header, no check bytes).
enum class Transport { Serial, RawTcp, Rfc2217, ModbusTcp };

class SerialControl {
public:
    virtual ~SerialControl() = default;

    virtual void SetCommPort(std::int16_t port) = 0;
    virtual std::int16_t GetCommPort() const = 0;
    // "9600N,8,2" as the program writes it; the comma form "9600,N,8,2" is accepted too.
    virtual void SetSettings(const std::string& settings) = 0;
    virtual std::string GetSettings() const = 0;
    virtual void SetPortOpen(bool open) = 0;
    virtual bool GetPortOpen() const = 0;
    virtual void SetInputLen(std::int16_t len) = 0;
    // Putting 0 empties the receive buffer.
    virtual void SetInBufferCount(std::int16_t count) = 0;
    virtual std::int16_t GetInBufferCount() = 0;
    // Removes and returns every waiting byte (InputLen 0).
    virtual std::vector<std::uint8_t> GetInput() = 0;
    virtual void SetOutput(std::span<const std::uint8_t> bytes) = 0;

    // A port whose device went away while open (an adapter pulled, the line hung up) is
    // closed by the control at once and reported lost: this gives the UTF-8 text naming the
    // port, the device and the reason, and stays empty while the port is not lost. Closing or
    // opening the port by hand ends the lost state.
    virtual std::string LostReason() const = 0;
    // One attempt to open a lost port again with the port, device and settings now in force;
    // true when the port is open afterwards. A port that is not lost is left as it is. A failed
    // attempt on another port or device than the one lost makes the reason why that one
    // cannot be opened.
    virtual bool Reopen() = 0;
    // Closes the port (when open) and reports it lost with reason, as if its device had gone:
    // one who borrowed a lost port (the meter scan) hands the outage back this way, and only a
    // reopen that works ends it.
    virtual void MarkLost(const std::string& reason) = 0;
    // Blocks until bytes are waiting or ms have passed, without spinning; true when bytes are
    // waiting. Returns at once when bytes are already waiting, and false at once on a closed
    // port (nothing can arrive there).
    virtual bool WaitForInput(std::uint32_t ms) = 0;
    // The transport of the device the port is (or will be, at the next opening) on. Only the
    // framing (Modbus TCP) and whether the line's rate and parity can be set depend on it.
    virtual Transport GetTransport() const { return Transport::Serial; }
};

// Sends the first count bytes of buf, but only while the port is open; a closed port sends
// nothing and reports nothing. True when the bytes went out.
bool SendFrame(SerialControl& port, const std::uint8_t* buf, std::int16_t count);

// The complaint about a port found closed with no loss behind it, UTF-8 in the interface
// language.
std::string PortClosedText();

} // namespace md
