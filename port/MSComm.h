#pragma once
// The serial port control over QSerialPort, with the property model the program was written
// against: port number, settings text, open flag, input and output by polling.

#include "port/SerialControl.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace md {

struct LineSettings {
    enum class StopBits { One, OneAndHalf, Two };

    std::int32_t baudRate = 9600;
    char parity = 'N'; // N, O, E, M or S
    int dataBits = 8;  // 5..8
    StopBits stopBits = StopBits::One;

    bool operator==(const LineSettings&) const = default;
};

// "9600N,8,2" as the program writes it, or the comma form "9600,N,8,2". The parity letter
// may be lower case. Anything else (no digits, a zero rate, an unknown parity, data bits
// outside 5..8, stop bits other than 1, 1.5 or 2, blanks) gives nothing.
std::optional<LineSettings> ParseSettings(std::string_view text);

// The platform's own device behind port n: COMn on Windows, /dev/ttyS(n-1) elsewhere. Empty for
// n < 1. Which device a run uses is start-up's decision (SetDevice).
QString DeviceForPort(int port);

// What a device reads back of the parity put on it.
struct HeldParity {
    bool enabled = false; // parity enable
    bool odd = false;
};

// Whether a device that reads back held has taken parity ('N', 'O' or 'E'). A pseudo-terminal
// never keeps parity enable (it has no line to check parity on), so there the odd flag alone
// tells; any other device without it has refused the parity, as does a USB adapter whose
// driver cannot do parity.
bool ParityTaken(char parity, HeldParity held, bool pseudoTerminal);

// Whether descriptor fd is the terminal end of a pseudo-terminal; false where there are none.
bool IsPseudoTerminal(int fd);

class NetPort;

class CMSComm final : public SerialControl {
    Q_DECLARE_TR_FUNCTIONS(CMSComm)

public:
    CMSComm();
    ~CMSComm() override;

    // Takes effect at the next opening, as with the original control.
    void SetCommPort(std::int16_t port) override;
    std::int16_t GetCommPort() const override { return m_commPort; }
    // Rejected text throws CommError and keeps the previous settings; on an open port the new
    // settings apply at once.
    void SetSettings(const std::string& settings) override;
    std::string GetSettings() const override { return m_settings; }
    // Opening an open port and closing a closed one do nothing; either ends a lost state.
    void SetPortOpen(bool open) override;
    bool GetPortOpen() const override;
    // 0 makes one Input read take every waiting byte; n > 0 takes at most n.
    void SetInputLen(std::int16_t len) override;
    // Putting 0 drops everything received and not yet read; other values are ignored.
    void SetInBufferCount(std::int16_t count) override;
    // Bytes waiting (at most kReadBufferBytes); 0 on a closed port.
    std::int16_t GetInBufferCount() override;
    // Nothing on a closed port.
    std::vector<std::uint8_t> GetInput() override;
    // Writes and waits until the bytes have left for the device; a closed port throws, a
    // lost one (or one lost on the way) drops the bytes without a word.
    void SetOutput(std::span<const std::uint8_t> bytes) override;
    std::string LostReason() const override;
    // A failed attempt on another port or device than the one lost makes the reason why that
    // one cannot be opened.
    bool Reopen() override;
    void MarkLost(const std::string& reason) override;

    // Unread input the control holds at most; what comes beyond it waits in the OS driver,
    // whose own buffer is bounded too, until a read or a clear makes room.
    static constexpr qint64 kReadBufferBytes = 4096;
    // Sleeps in the OS until the device has bytes or the time is up.
    bool WaitForInput(std::uint32_t ms) override;
    // A device named by a URL (DeviceName.h) is reached over the network; its transport.
    Transport GetTransport() const override;

    // Names the device behind port n from now on, ahead of DeviceForPort; empty restores it.
    // The name is looked up at every opening, so a link (a stable name under
    // /dev/serial/by-id) that udev points at a replugged adapter's new node is followed.
    void SetDevice(int port, const QString& device);
    // The device SetDevice put behind port n; empty when none was.
    QString NamedDevice(int port) const;
    // The device the port number currently maps to (for messages and tests).
    QString Device() const;

private:
    bool PutLine(const LineSettings& line);
    bool PutParity(char parity);
    void Apply(const LineSettings& line, const std::string& text);
    [[noreturn]] void Throw(const QString& text) const;
    QString Where() const;
    void Open();
    void Pull();
    // Why the device has gone from under the open port; nothing while it is there.
    std::optional<QString> Gone() const;
    void CheckGone();
    void Lose(const QString& reason);
    void OnError(QSerialPort::SerialPortError error);
    void Close();
    // The watch on the open device's handle: the event loop wakes it for arriving bytes and
    // for a hang-up alike, whatever the port object makes of either.
    void Watch();
    void OnLineActivity();
    void Rearm();
    // The device is a URL: the connection goes to a network port instead (MSCommNet.cpp).
    void OpenNet(const QString& device);

    QSerialPort m_port;
    std::int16_t m_commPort = 1;
    std::string m_settings = "9600,N,8,1";
    LineSettings m_line;
    std::int16_t m_inputLen = 0;
    std::map<int, QString> m_devices;
    QString m_lost;      // the loss report; empty while the port is not lost
    QString m_lostWhere; // the port and device it reports on
    QPointer<QSocketNotifier> m_watch;
    bool m_closing = false; // a close of ours, not one the port object made by itself
    // The connection while the device is a URL, open or lost; every property goes to it.
    std::unique_ptr<NetPort> m_net;
    bool m_connecting = false; // a connect is under way: another cannot start meanwhile
};

} // namespace md
