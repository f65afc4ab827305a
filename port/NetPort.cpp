#include "port/NetPort.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostInfo>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <limits>

#if defined(Q_OS_WIN)
#include <winsock2.h>
// After winsock2.h, whose types they use.
#include <mstcpip.h>
#include <ws2tcpip.h>
#elif defined(Q_OS_LINUX) || defined(Q_OS_MACOS)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace md {

namespace {

// A peer that vanishes without a word (a cable pulled at the converter) is found by keep-alive
// probes: the first after this many seconds of silence, then every few seconds, a few times.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;
static_assert(NetPort::kLossFoundMs == (kKeepIdleS + kKeepIntervalS * kKeepCount) * 1000);
// Long enough for a request to leave; a connection that cannot take a few bytes is stuck.
constexpr int kWriteTimeoutMs = 1000;
// Reads that one flush makes at most: a peer that floods cannot hold the flush forever.
constexpr int kFlushRounds = 16;

int StopCode(LineSettings::StopBits stop) {
    switch (stop) {
    case LineSettings::StopBits::Two:
        return 2;
    case LineSettings::StopBits::OneAndHalf:
        return 3;
    case LineSettings::StopBits::One:
        break;
    }
    return 1;
}

// Keep-alive probes only run while nothing is in flight, and a poll every few seconds always
// leaves a request unacknowledged: a peer that vanishes while polling is found by the limit on
// how long sent data may stay unacknowledged, set to the same budget.
void KeepAlive(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
#if defined(Q_OS_LINUX)
    const int fd = static_cast<int>(socket.socketDescriptor());
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    const unsigned userTimeoutMs = NetPort::kLossFoundMs;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
#elif defined(Q_OS_MACOS)
    const int fd = static_cast<int>(socket.socketDescriptor());
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPALIVE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    const int dropS = NetPort::kLossFoundMs / 1000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_RXT_CONNDROPTIME, &dropS, sizeof dropS);
#elif defined(Q_OS_WIN)
    // Windows sends ten probes, a number no option changes: an idle peer is found later than
    // elsewhere (idle time and ten intervals), a peer that vanishes while polling as elsewhere.
    const auto fd = static_cast<SOCKET>(socket.socketDescriptor());
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(kKeepIdleS) * 1000;
    values.keepaliveinterval = static_cast<ULONG>(kKeepIntervalS) * 1000;
    DWORD returned = 0;
    ::WSAIoctl(fd, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
               nullptr);
    const DWORD maxRetransmitS = NetPort::kLossFoundMs / 1000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&maxRetransmitS),
                 sizeof maxRetransmitS);
#endif
}

} // namespace

NetPort::NetPort(NetDevice device, QString where, LineSettings line, std::string settings)
    : m_device(std::move(device)), m_where(std::move(where)), m_line(line),
      m_settings(std::move(settings)) {
    m_socket.setReadBufferSize(kSocketBufferBytes);
    // Failures the event loop meets between exchanges (the peer closes, a reset) close the
    // connection at once; the window learns of it from LostReason at its next tick.
    QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, &m_socket, [this] {
        if (!m_connecting)
            CheckGone();
    });
    QObject::connect(&m_socket, &QAbstractSocket::disconnected, &m_socket, [this] {
        if (!m_connecting)
            CheckGone();
    });
}

NetPort::~NetPort() {
    m_connecting = true; // the close of ours is no loss
    m_socket.abort();
}

QString NetPort::Reason() const {
    const QString system = m_socket.errorString();
    switch (m_socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("连接被拒绝（%1）").arg(system);
    case QAbstractSocket::HostNotFoundError:
        return tr("找不到主机（%1）").arg(system);
    case QAbstractSocket::RemoteHostClosedError:
        return tr("对方关闭了连接");
    case QAbstractSocket::SocketTimeoutError:
        return tr("连接超时（%1）").arg(system);
    default:
        return system;
    }
}

void NetPort::Connect() {
    m_lost.clear();
    m_in.clear();
    m_telnet = rfc2217::TelnetReader();
    m_purgeUnanswered = false;
    m_socket.abort();
    const QDeadlineTimer deadline(kConnectMs);
    QList<QHostAddress> addresses;
    QHostAddress literal;
    if (literal.setAddress(m_device.host)) {
        addresses.append(literal);
    } else {
        // The look-up runs in the event loop, as the connect does, and counts against the
        // same limit: a slow name server cannot stretch it.
        std::optional<QHostInfo> found;
        m_connecting = true; // no second connect starts from the loop meanwhile
        const auto done = qScopeGuard([this] { m_connecting = false; });
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        const int id = QHostInfo::lookupHost(m_device.host, &loop, [&](const QHostInfo& info) {
            found = info;
            loop.quit();
        });
        limit.start(static_cast<int>(deadline.remainingTime()));
        if (!found)
            loop.exec();
        if (!found) {
            QHostInfo::abortHostLookup(id);
            throw CommError(CMSComm::tr("无法打开%1：%2")
                                .arg(m_where, tr("%1 秒内没有连上").arg(kConnectMs / 1000))
                                .toStdString());
        }
        if (found->error() != QHostInfo::NoError || found->addresses().isEmpty())
            throw CommError(CMSComm::tr("无法打开%1：%2")
                                .arg(m_where, tr("找不到主机（%1）").arg(found->errorString()))
                                .toStdString());
        addresses = found->addresses();
    }
    ConnectTo(addresses, static_cast<int>(deadline.remainingTime()));
}

void NetPort::ConnectTo(const QList<QHostAddress>& addresses, int budgetMs) {
    const QDeadlineTimer deadline(budgetMs);
    m_connecting = true;
    bool timedOut = false;
    QString reason;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        m_socket.abort();
        // Each address has its share of what is left: a first address that swallows the
        // connect (an IPv6 address on a network without IPv6) leaves the next one its time.
        const qint64 share = deadline.remainingTime() / (addresses.size() - i);
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto c1 =
            QObject::connect(&m_socket, &QAbstractSocket::connected, &loop, &QEventLoop::quit);
        const auto c2 = QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, &loop,
                                         &QEventLoop::quit);
        m_socket.connectToHost(addresses[i], m_device.port);
        limit.start(static_cast<int>(std::max<qint64>(share, 0)));
        if (m_socket.state() != QAbstractSocket::ConnectedState &&
            m_socket.state() != QAbstractSocket::UnconnectedState)
            loop.exec();
        QObject::disconnect(c1);
        QObject::disconnect(c2);
        if (m_socket.state() == QAbstractSocket::ConnectedState)
            break;
        timedOut = m_socket.state() != QAbstractSocket::UnconnectedState;
        reason = timedOut ? tr("%1 秒内没有连上").arg(kConnectMs / 1000) : Reason();
    }
    m_connecting = false;
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        m_connecting = true;
        m_socket.abort();
        m_connecting = false;
        throw CommError(CMSComm::tr("无法打开%1：%2").arg(m_where, reason).toStdString());
    }
    KeepAlive(m_socket);
    if (m_device.transport != Transport::Rfc2217)
        return;
    // The agreement to the com port option and the confirmations of the line share one
    // budget; the window's event loop runs while they are awaited.
    const QDeadlineTimer replies(kReplyMs);
    try {
        Write(rfc2217::Greeting());
        AgreeComPort(replies);
        SendLine(m_line, m_settings, replies, true);
    } catch (const CommError& e) {
        m_connecting = true;
        m_socket.abort();
        m_connecting = false;
        throw CommError(
            CMSComm::tr("无法打开%1：%2").arg(m_where, QString::fromStdString(e.what())).toStdString());
    }
}

// Com port commands go out only once the server said DO to the option (RFC 855): a server that
// has not agreed may read them as anything.
void NetPort::AgreeComPort(const QDeadlineTimer& deadline) {
    const auto answered = [this] {
        return m_telnet.ComPortAccepted() || m_telnet.ComPortRefused() || m_telnet.BinaryRefused();
    };
    AwaitServer(answered, deadline, true);
    if (!GetPortOpen())
        throw CommError(m_lost.isEmpty() ? Reason().toStdString() : m_lost.toStdString());
    RefuseCheck();
    if (!m_telnet.ComPortAccepted())
        throw CommError(
            tr("服务器在 %1 秒内没有同意 RFC 2217 串口控制").arg(kReplyMs / 1000).toStdString());
}

void NetPort::RefuseCheck() const {
    if (m_telnet.ComPortRefused())
        throw CommError(tr("服务器不支持 RFC 2217 串口控制").toStdString());
    if (m_telnet.BinaryRefused())
        throw CommError(tr("服务器拒绝二进制传输，帧的字节可能被改动").toStdString());
}

// Reads what the server sends until done holds, the connection ends or the deadline passes;
// data bytes that come meanwhile are dropped, since nothing was asked of the meter. With
// eventLoop the window's events are served meanwhile, as during the connect.
bool NetPort::AwaitServer(const std::function<bool()>& done, const QDeadlineTimer& deadline,
                          bool eventLoop) {
    if (DropData(done))
        return GetPortOpen() && done();
    if (eventLoop) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QIODevice::readyRead, &loop, [&] {
            if (DropData(done))
                loop.quit();
        });
        QObject::connect(&m_socket, &QAbstractSocket::disconnected, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
        limit.start(static_cast<int>(deadline.remainingTime()));
        loop.exec();
    } else {
        while (!deadline.hasExpired()) {
            if (!m_socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                CheckGone();
            if (DropData(done))
                break;
        }
    }
    return GetPortOpen() && done();
}

// Takes what the socket holds, as often as the room for input fills, and drops the data;
// true once done holds or the connection is gone.
bool NetPort::DropData(const std::function<bool()>& done) {
    do {
        m_in.clear();
        Take();
    } while (GetPortOpen() && !done() && m_socket.bytesAvailable() > 0);
    m_in.clear();
    return !GetPortOpen() || done();
}

// The server confirms each setting with the value now in force; the rate and the parity must
// be what was asked for, since the meter's line check sees exactly these. Confirmations that
// came with the server's agreement on opening count: the reader is new then.
void NetPort::SendLine(const LineSettings& line, const std::string& text,
                       const QDeadlineTimer& deadline, bool opening) {
    if (!opening)
        m_telnet.ForgetReplies();
    Write(rfc2217::LineCommands(line.baudRate, line.dataBits, line.parity, StopCode(line.stopBits)));
    const auto confirmed = [&] {
        const auto& r = m_telnet.Replies();
        return r.contains(rfc2217::kSetBaudRate) && r.contains(rfc2217::kSetDataSize) &&
               r.contains(rfc2217::kSetParity) && r.contains(rfc2217::kSetStopSize);
    };
    AwaitServer(
        [&] { return confirmed() || m_telnet.ComPortRefused() || m_telnet.BinaryRefused(); },
        deadline, opening);
    const QString asked = QString::fromStdString(text);
    if (!GetPortOpen())
        throw CommError(m_lost.toStdString());
    RefuseCheck();
    if (!confirmed())
        throw CommError(tr("服务器在 %1 秒内没有确认设置“%2”")
                            .arg(kReplyMs / 1000)
                            .arg(asked)
                            .toStdString());
    const auto& r = m_telnet.Replies();
    const std::vector<std::uint8_t>& rate = r.at(rfc2217::kSetBaudRate);
    const std::vector<std::uint8_t>& parity = r.at(rfc2217::kSetParity);
    const std::uint32_t gotRate =
        rate.size() == 4 ? std::uint32_t(rate[0]) << 24 | std::uint32_t(rate[1]) << 16 |
                               std::uint32_t(rate[2]) << 8 | rate[3]
                         : 0;
    if (gotRate != static_cast<std::uint32_t>(line.baudRate) || parity.size() != 1 ||
        parity[0] != rfc2217::ParityCode(line.parity))
        throw CommError(tr("服务器不接受设置“%1”").arg(asked).toStdString());
}

void NetPort::SetSettings(const std::string& settings) {
    const std::optional<LineSettings> line = ParseSettings(settings);
    if (!line)
        throw CommError(CMSComm::tr("%1 不接受设置“%2”")
                            .arg(m_where, QString::fromStdString(settings))
                            .toStdString());
    if (m_device.transport == Transport::Rfc2217 && GetPortOpen()) {
        try {
            SendLine(*line, settings, QDeadlineTimer(kReplyMs), false);
        } catch (const CommError& e) {
            // The server may have taken part of it: what was in force is asked for again.
            if (GetPortOpen())
                Write(rfc2217::LineCommands(m_line.baudRate, m_line.dataBits, m_line.parity,
                                            StopCode(m_line.stopBits)));
            throw CommError(CMSComm::tr("%1 不接受设置“%2”：%3")
                                .arg(m_where, QString::fromStdString(settings),
                                     QString::fromStdString(e.what()))
                                .toStdString());
        }
    }
    m_line = *line;
    m_settings = settings;
}

void NetPort::SetPortOpen(bool open) {
    m_lost.clear();
    if (open == GetPortOpen())
        return;
    if (open) {
        Connect();
        return;
    }
    m_connecting = true;
    m_socket.abort();
    m_connecting = false;
    m_in.clear();
}

bool NetPort::GetPortOpen() const {
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool NetPort::Reopen() {
    if (m_lost.isEmpty())
        return GetPortOpen();
    if (m_connecting)
        return false;
    const QString lost = m_lost;
    try {
        Connect();
    } catch (const CommError&) {
        m_lost = lost; // still away: the outage goes on
        return false;
    }
    return true;
}

void NetPort::MarkLost(const std::string& reason) {
    m_socket.abort();
    m_connecting = false;
    m_in.clear();
    m_lost = QString::fromStdString(reason);
}

void NetPort::Lose(const QString& reason) {
    if (m_lost.isEmpty())
        m_lost = CMSComm::tr("%1 已断开：%2").arg(m_where, reason);
    m_connecting = true;
    m_socket.abort();
    m_connecting = false;
    m_in.clear();
}

void NetPort::CheckGone() {
    if (m_connecting || !m_lost.isEmpty())
        return;
    // A wait that ran out leaves a timeout behind on a connection that is still there.
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        return;
    Lose(Reason());
}

void NetPort::Take() {
    while (m_in.size() < kHeldBytes && m_socket.bytesAvailable() > 0) {
        // Telnet takes out at least as much as it leaves in, so the room is never overrun.
        const QByteArray chunk = m_socket.read(static_cast<qint64>(kHeldBytes - m_in.size()));
        if (chunk.isEmpty())
            break;
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(chunk.constData()),
            static_cast<std::size_t>(chunk.size()));
        if (m_device.transport != Transport::Rfc2217) {
            m_in.insert(m_in.end(), bytes.begin(), bytes.end());
            continue;
        }
        std::vector<std::uint8_t> replies;
        m_telnet.Feed(bytes, m_in, replies);
        if (!replies.empty())
            Write(replies);
    }
}

void NetPort::Pull() {
    if (!GetPortOpen())
        return;
    m_socket.waitForReadyRead(0);
    Take();
    CheckGone();
}

void NetPort::SetInBufferCount(std::int16_t count) {
    if (count != 0 || !GetPortOpen())
        return;
    if (m_device.transport == Transport::Rfc2217)
        PurgeServer();
    for (int round = 0; round < kFlushRounds && GetPortOpen(); ++round) {
        m_in.clear();
        Pull();
        if (m_in.empty() && m_socket.bytesAvailable() == 0)
            break;
    }
    m_in.clear();
}

// The server's reply to the purge marks the point in the stream behind which nothing the meter
// sent before can come: what arrives ahead of it is dropped, and the request waits for it. The
// request then carries the acknowledgement of the reply. Sent without waiting, the reply would
// sit unacknowledged at a server that keeps Nagle's algorithm on (ser2net's default), and the
// meter's answer behind it until our delayed acknowledgement (40 ms on Linux, up to 200 ms
// elsewhere). A server that does not answer a purge is not waited for again on this connection.
void NetPort::PurgeServer() {
    m_telnet.ForgetReply(rfc2217::kPurgeData);
    Write(rfc2217::PurgeCommand(rfc2217::kPurgeReceive));
    if (m_purgeUnanswered || !GetPortOpen())
        return;
    const bool answered =
        AwaitServer([this] { return m_telnet.Replies().contains(rfc2217::kPurgeData); },
                    QDeadlineTimer(kPurgeReplyMs), false);
    if (!answered && GetPortOpen())
        m_purgeUnanswered = true;
}

std::int16_t NetPort::GetInBufferCount() {
    Pull();
    if (!GetPortOpen())
        return 0;
    return static_cast<std::int16_t>(
        std::min<std::size_t>(m_in.size(), std::numeric_limits<std::int16_t>::max()));
}

std::vector<std::uint8_t> NetPort::GetInput() {
    Pull();
    if (!GetPortOpen())
        return {};
    const std::size_t n =
        m_inputLen > 0 ? std::min<std::size_t>(m_in.size(), std::size_t(m_inputLen)) : m_in.size();
    std::vector<std::uint8_t> out(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(n));
    m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(n));
    // Bytes the socket kept back while the room was full move up now.
    Take();
    return out;
}

// Writes and waits until the bytes have left; a failure is a loss of the connection.
void NetPort::Write(std::span<const std::uint8_t> bytes) {
    const qint64 written = m_socket.write(reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<qint64>(bytes.size()));
    bool flushed = written == static_cast<qint64>(bytes.size());
    while (flushed && GetPortOpen() && m_socket.bytesToWrite() > 0)
        flushed = m_socket.waitForBytesWritten(kWriteTimeoutMs);
    if (!flushed)
        Lose(tr("发送失败（%1）").arg(m_socket.errorString()));
    else
        CheckGone();
}

void NetPort::SetOutput(std::span<const std::uint8_t> bytes) {
    CheckGone();
    if (!m_lost.isEmpty())
        return;
    if (!GetPortOpen())
        throw CommError(CMSComm::tr("%1 未打开，无法发送").arg(m_where).toStdString());
    if (m_device.transport == Transport::Rfc2217)
        Write(rfc2217::EscapeData(bytes));
    else
        Write(bytes);
}

bool NetPort::WaitForInput(std::uint32_t ms) {
    Pull();
    if (!GetPortOpen())
        return false;
    const QDeadlineTimer deadline(static_cast<qint64>(ms));
    while (m_in.empty() && GetPortOpen() && !deadline.hasExpired()) {
        const qint64 left = deadline.remainingTime();
        // Telnet commands alone wake the wait without giving data: it goes on.
        if (!m_socket.waitForReadyRead(static_cast<int>(std::min<qint64>(
                left, std::numeric_limits<int>::max()))))
            CheckGone();
        Take();
    }
    return GetPortOpen() && !m_in.empty();
}

} // namespace md
