#pragma once
// A meter behind the network as a serial port control: a TCP connection to a transparent
// converter (RTU frames as they are), to a serial device server speaking RFC 2217 (the line
// settings go to the server's port, data bytes 0xFF are doubled), or to a Modbus TCP gateway
// (the exchange frames the requests; the bytes pass as they are). Connects out only.

#include "port/DeviceName.h"
#include "port/MSComm.h"
#include "port/Rfc2217.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace md {

class NetPort final : public SerialControl {
    Q_DECLARE_TR_FUNCTIONS(NetPort)

public:
    // A connect that has not completed by then has failed, the name's look-up and every one
    // of its addresses included.
    static constexpr int kConnectMs = 3000;
    // A peer that vanishes without a word (no FIN, no reset) is found within this time, idle
    // or while polling: the keep-alive probes' time and the limit on unacknowledged data.
    static constexpr int kLossFoundMs = 25000;
    // How long a serial device server has to confirm new line settings.
    static constexpr int kReplyMs = 1000;
    // How long a serial device server has to answer a purge of its buffer before a request.
    static constexpr int kPurgeReplyMs = 200;
    // Unread input held at most, as a serial device's control holds: the socket's own buffer
    // and the bytes taken out of it together.
    static constexpr qint64 kSocketBufferBytes = 1024;
    static constexpr std::size_t kHeldBytes = 4096 - kSocketBufferBytes;

    // where names the port and device in messages ("串口 COM1（tcp://host:502）").
    NetPort(NetDevice device, QString where, LineSettings line, std::string settings);
    ~NetPort() override;

    // Looks the host up and connects, letting the event loop run meanwhile (the window stays
    // responsive), for at most kConnectMs; on an RFC 2217 server the line is then set. Throws
    // CommError naming the device and the reason when it cannot.
    void Connect();
    // Connect's second half: tries the addresses in turn, each with its share of what is left
    // of budgetMs, and stays with the first that answers.
    void ConnectTo(const QList<QHostAddress>& addresses, int budgetMs);
    // The connection's socket, for the system's own options; -1 while there is none.
    qintptr Descriptor() const { return m_socket.socketDescriptor(); }

    void SetCommPort(std::int16_t port) override { m_commPort = port; }
    std::int16_t GetCommPort() const override { return m_commPort; }
    // On an RFC 2217 server the server's port is set and its confirmation awaited; a server
    // that refuses or does not confirm throws CommError. Elsewhere the rate and parity are the
    // converter's and the text is only kept.
    void SetSettings(const std::string& settings) override;
    std::string GetSettings() const override { return m_settings; }
    void SetPortOpen(bool open) override;
    bool GetPortOpen() const override;
    void SetInputLen(std::int16_t len) override { m_inputLen = len; }
    // Putting 0 drops what has arrived and, on an RFC 2217 server, purges what the server
    // holds from its serial port.
    void SetInBufferCount(std::int16_t count) override;
    std::int16_t GetInBufferCount() override;
    std::vector<std::uint8_t> GetInput() override;
    void SetOutput(std::span<const std::uint8_t> bytes) override;
    std::string LostReason() const override { return m_lost.toStdString(); }
    bool Reopen() override;
    void MarkLost(const std::string& reason) override;
    bool WaitForInput(std::uint32_t ms) override;
    Transport GetTransport() const override { return m_device.transport; }

    const NetDevice& Device() const { return m_device; }
    // The port and device that messages name.
    const QString& Where() const { return m_where; }

private:
    void Pull();
    // Moves what the socket holds into m_in, as far as there is room; Telnet commands are
    // answered and left out.
    void Take();
    void Write(std::span<const std::uint8_t> bytes);
    // Closes a connection the peer has ended or that failed, and keeps the report.
    void CheckGone();
    void Lose(const QString& reason);
    // Waits for the server's DO to the com port option; throws CommError on a refusal or none.
    void AgreeComPort(const QDeadlineTimer& deadline);
    // Throws CommError when the server refused the com port option or binary transmission.
    void RefuseCheck() const;
    bool AwaitServer(const std::function<bool()>& done, const QDeadlineTimer& deadline,
                     bool eventLoop);
    bool DropData(const std::function<bool()>& done);
    // Sets the server's line and awaits its confirmation by deadline; throws CommError.
    void SendLine(const LineSettings& line, const std::string& text, const QDeadlineTimer& deadline,
                  bool opening);
    void PurgeServer();
    QString Reason() const;

    NetDevice m_device;
    QString m_where;
    LineSettings m_line;
    std::string m_settings;
    std::int16_t m_commPort = 1;
    std::int16_t m_inputLen = 0;
    QTcpSocket m_socket;
    std::vector<std::uint8_t> m_in;
    rfc2217::TelnetReader m_telnet;
    QString m_lost;
    bool m_connecting = false;
    // The server let a purge go unanswered; later purges are sent without waiting.
    bool m_purgeUnanswered = false;
};

} // namespace md
