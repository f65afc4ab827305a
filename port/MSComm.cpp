#include "port/MSComm.h"

#include "port/DeviceName.h"
#include "port/NetPort.h"

#include <QAbstractEventDispatcher>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

#ifndef Q_OS_WIN
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif

namespace md {

namespace {

// Long enough for a 13-byte request at 1200 bit/s several times over; a device that takes
// longer than this to accept a few bytes is stuck.
constexpr int kWriteTimeoutMs = 1000;

QSerialPort::Parity ToQt(char parity) {
    switch (parity) {
    case 'O':
        return QSerialPort::OddParity;
    case 'E':
        return QSerialPort::EvenParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ToQt(LineSettings::StopBits stop) {
    switch (stop) {
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case LineSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

#ifndef Q_OS_WIN
// What poll() reports on the descriptor right now: bytes to read, a hang-up, an error.
short LineEvents(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 ? p.revents : short(0);
}
#endif

} // namespace

bool ParityTaken(char parity, HeldParity held, bool pseudoTerminal) {
    const bool enabled = held.enabled || (pseudoTerminal && parity != 'N');
    return enabled == (parity != 'N') && held.odd == (parity == 'O');
}

bool IsPseudoTerminal([[maybe_unused]] int fd) {
#if defined(Q_OS_LINUX)
    // The terminal ends of Unix 98 pseudo-terminals, whichever devpts instance they live in.
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
#elif !defined(Q_OS_WIN)
    const char* name = ::ttyname(fd);
    return name && QByteArray(name).startsWith("/dev/pts/");
#else
    return false;
#endif
}

std::optional<LineSettings> ParseSettings(std::string_view text) {
    LineSettings s;
    const char* p = text.data();
    const char* const end = text.data() + text.size();

    const auto [afterRate, ec] = std::from_chars(p, end, s.baudRate);
    if (ec != std::errc() || afterRate == p || *p == '-' || *p == '+' || s.baudRate <= 0)
        return std::nullopt;
    p = afterRate;
    if (p != end && *p == ',')
        ++p;

    if (p == end)
        return std::nullopt;
    const char parity = static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
    if (std::string_view("NOEMS").find(parity) == std::string_view::npos)
        return std::nullopt;
    s.parity = parity;
    ++p;

    if (end - p < 2 || p[0] != ',' || p[1] < '5' || p[1] > '8')
        return std::nullopt;
    s.dataBits = p[1] - '0';
    p += 2;

    const std::string_view stop(p, static_cast<std::size_t>(end - p));
    if (stop == ",1")
        s.stopBits = LineSettings::StopBits::One;
    else if (stop == ",1.5")
        s.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (stop == ",2")
        s.stopBits = LineSettings::StopBits::Two;
    else
        return std::nullopt;
    return s;
}

QString DeviceForPort(int port) {
    if (port < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

CMSComm::CMSComm() {
    m_line = *ParseSettings(m_settings);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // Whatever streams in between two exchanges (a babbling line, a flood of noise) would
    // otherwise pile up in the control for as long as the event loop keeps reading it.
    m_port.setReadBufferSize(kReadBufferBytes);
    // Errors that the event loop's own reads and writes meet arrive here too; a hung-up line
    // left open would have Qt retry the failing call on every pass of the loop.
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] { Rearm(); });
    QObject::connect(&m_port, &QIODevice::aboutToClose, &m_port, [this] {
        if (m_watch) {
            m_watch->setEnabled(false);
            m_watch->deleteLater();
        }
        // A close that the port object makes by itself, on a failure it judges fatal, is a
        // loss like any other.
        if (!m_closing && m_lost.isEmpty())
            Lose(CMSComm::tr("%1 已断开：%2").arg(Where(), m_port.errorString()));
    });
}

// Closed while the members its signals reach are still there.
CMSComm::~CMSComm() {
    Close();
}

void CMSComm::SetDevice(int port, const QString& device) {
    if (device.isEmpty())
        m_devices.erase(port);
    else
        m_devices[port] = device;
}

QString CMSComm::NamedDevice(int port) const {
    const auto named = m_devices.find(port);
    return named != m_devices.end() ? named->second : QString();
}

QString CMSComm::Device() const {
    const auto named = m_devices.find(m_commPort);
    return named != m_devices.end() ? named->second : DeviceForPort(m_commPort);
}

QString CMSComm::Where() const {
    const QString device = Device();
    return device.isEmpty() ? CMSComm::tr("串口 COM%1").arg(m_commPort)
                            : CMSComm::tr("串口 COM%1（%2）").arg(m_commPort).arg(device);
}

void CMSComm::Throw(const QString& text) const {
    throw CommError(text.toStdString());
}

void CMSComm::SetCommPort(std::int16_t port) {
    m_commPort = port;
}

void CMSComm::SetSettings(const std::string& settings) {
    const std::optional<LineSettings> line = ParseSettings(settings);
    if (!line)
        Throw(CMSComm::tr("%1 不接受设置“%2”").arg(Where(), QString::fromStdString(settings)));
    if (m_net)
        m_net->SetSettings(settings);
    else if (m_port.isOpen())
        Apply(*line, settings);
    m_line = *line;
    m_settings = settings;
}

// Puts the line settings into the QSerialPort; on an open port each one reaches the device
// at once and the device may refuse it.
bool CMSComm::PutLine(const LineSettings& line) {
    return m_port.setBaudRate(line.baudRate) &&
           m_port.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits)) &&
           PutParity(line.parity) && m_port.setStopBits(ToQt(line.stopBits));
}

bool CMSComm::PutParity(char parity) {
    const bool put = m_port.setParity(ToQt(parity));
#ifndef Q_OS_WIN
    // A pseudo-terminal keeps the odd flag but drops parity enable. Qt then calls odd and even
    // refused (the device changed nothing), and its "no parity" leaves the odd flag behind, so
    // a line once set to odd would still read as odd at the far end. On an open port the flags
    // are put here as well, and what the device keeps of them is read back.
    const int fd = m_port.isOpen() ? m_port.handle() : -1;
    termios tio{};
    if ((parity != 'N' && parity != 'O' && parity != 'E') || fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return put;
    const bool odd = parity == 'O';
    tio.c_cflag &= ~tcflag_t(PARENB | PARODD);
    if (parity != 'N')
        tio.c_cflag |= PARENB | (odd ? PARODD : 0);
    ::tcsetattr(fd, TCSANOW, &tio); // EINVAL where the device kept nothing new
    if (::tcgetattr(fd, &tio) != 0 ||
        !ParityTaken(parity, {(tio.c_cflag & PARENB) != 0, (tio.c_cflag & PARODD) != 0},
                     IsPseudoTerminal(fd)))
        return false;
    if (!put)
        m_port.clearError();
    return true;
#else
    return put;
#endif
}

// A refused settings text leaves the line as it was: the settings already taken are put back,
// so the device and the control agree on what is in force.
void CMSComm::Apply(const LineSettings& line, const std::string& text) {
    if (PutLine(line))
        return;
    // Parity the device dropped without a word leaves Qt nothing to report.
    const QString reason = m_port.error() == QSerialPort::NoError
                               ? CMSComm::tr("设备不支持该校验位")
                               : m_port.errorString();
    m_port.clearError();
    PutLine(m_line);
    m_port.clearError();
    Throw(CMSComm::tr("%1 不接受设置“%2”：%3").arg(Where(), QString::fromStdString(text), reason));
}

void CMSComm::SetPortOpen(bool open) {
    m_lost.clear();
    if (m_net && !m_net->GetPortOpen())
        m_net.reset(); // a lost connection: closed by hand

    if (open == GetPortOpen())
        return;
    if (open)
        Open();
    else
        Close();
}

void CMSComm::Close() {
    m_net.reset();
    m_closing = true;
    m_port.close();
    m_closing = false;
}

bool CMSComm::Reopen() {
    if (LostReason().empty())
        return GetPortOpen();
    try {
        Open();
    } catch (const CommError& e) {
        // Pointed at another port or device during the outage (a reconfiguration), the news is
        // why that one cannot be opened, not how the old one went. A lost network connection
        // keeps its own report: it goes, or its reason would go on hiding the new one.
        const QString lostWhere = m_net ? m_net->Where() : m_lostWhere;
        if (Where() != lostWhere) {
            m_net.reset();
            Lose(QString::fromUtf8(e.what()));
        }
        return false;
    }
    m_lost.clear();
    return true;
}

void CMSComm::MarkLost(const std::string& reason) {
    Close();
    Lose(QString::fromStdString(reason));
}

void CMSComm::Lose(const QString& reason) {
    m_lost = reason;
    m_lostWhere = Where();
}

void CMSComm::Open() {
    const QString device = Device();
    if (device.isEmpty())
        Throw(CMSComm::tr("串口 COM%1 无效：端口号应从 1 开始").arg(m_commPort));
    if (LooksLikeUrl(device)) {
        OpenNet(device);
        return;
    }
#ifndef Q_OS_WIN
    // A path that names no character device is reported plainly instead of by the ioctl that
    // would fail on it.
    const QFileInfo info(device);
    if (!info.exists())
        Throw(CMSComm::tr("无法打开%1：设备不存在").arg(Where()));
    if (info.isDir() || info.isFile())
        Throw(CMSComm::tr("无法打开%1：不是串口设备").arg(Where()));
#endif

    m_port.setPortName(device);
    Apply(m_line, m_settings);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        const QString reason = m_port.errorString();
        m_port.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            Throw(CMSComm::tr("无法打开%1：设备不存在").arg(Where()));
        case QSerialPort::PermissionError:
#ifndef Q_OS_WIN
            // Qt says the same for a device another program holds and for one this user may
            // not open; the cures differ (close the other program, or join the device's
            // group), so the file's own permission tells them apart.
            if (::access(device.toLocal8Bit().constData(), R_OK | W_OK) != 0 &&
                (errno == EACCES || errno == EPERM))
                Throw(CMSComm::tr("无法打开%1：没有访问该设备的权限（%2）")
                          .arg(Where(), QString::fromLocal8Bit(std::strerror(errno))));
            Throw(CMSComm::tr("无法打开%1：串口已被其他程序占用").arg(Where()));
#else
            Throw(CMSComm::tr("无法打开%1：串口已被占用或无权访问").arg(Where()));
#endif
        case QSerialPort::UnsupportedOperationError:
            // The opening sets the line up; a device that is no terminal, or that cannot
            // run these settings, fails here.
            Throw(CMSComm::tr("无法打开%1：设备不是串口或不接受设置“%2”（%3）")
                      .arg(Where(), QString::fromStdString(m_settings), reason));
        default:
            Throw(CMSComm::tr("无法打开%1：%2").arg(Where(), reason));
        }
    }
    m_net.reset();
    // The opening put the settings on the device, which keeps what it can of them: parity it
    // dropped would leave the meter deaf to every request.
    if (!PutParity(m_line.parity)) {
        Close();
        m_port.clearError();
        Throw(CMSComm::tr("%1 不接受设置“%2”：%3")
                  .arg(Where(), QString::fromStdString(m_settings),
                       CMSComm::tr("设备不支持该校验位")));
    }
    Watch();
}

void CMSComm::Watch() {
#ifndef Q_OS_WIN
    // Qt's plain Unix event loop keeps one read notifier per descriptor, and the port object
    // has its own; there, hang-ups are found by the next read, wait or send instead.
    const QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (!loop || !loop->inherits("QEventDispatcherGlib"))
        return;
    m_watch =
        new QSocketNotifier(static_cast<qintptr>(m_port.handle()), QSocketNotifier::Read, &m_port);
    QObject::connect(m_watch, &QSocketNotifier::activated, &m_port, [this] { OnLineActivity(); });
#endif
}

// A hang-up closes the port here, however the port object reads it.
void CMSComm::OnLineActivity() {
#ifndef Q_OS_WIN
    CheckGone();
    // Bytes that the port object leaves waiting (its buffer is full) would wake the watch on
    // every pass of the event loop: it rests until a read has made room.
    if (m_port.isOpen() && m_watch && (LineEvents(static_cast<int>(m_port.handle())) & POLLIN))
        m_watch->setEnabled(false);
#endif
}

void CMSComm::Rearm() {
    if (m_watch && m_port.isOpen())
        m_watch->setEnabled(true);
}

// Takes into QSerialPort's buffer whatever the OS holds, without an event loop.
void CMSComm::Pull() {
    m_port.waitForReadyRead(0);
    CheckGone();
    // A poll that found nothing leaves a timeout error behind; it means nothing here.
    m_port.clearError();
}

std::optional<QString> CMSComm::Gone() const {
#ifdef Q_OS_WIN
    if (m_port.error() == QSerialPort::ResourceError)
        return m_port.errorString();
#else
    // Qt's error codes cannot tell a hung-up line from a busy one (both can come as a
    // ResourceError), and Qt versions differ in which they report, but the descriptor can:
    // a terminal that has been hung up, or whose device has gone, reports it on every poll.
    const short events = LineEvents(static_cast<int>(m_port.handle()));
    if (events & POLLNVAL)
        return CMSComm::tr("设备句柄已失效");
    if (events & POLLHUP)
        return CMSComm::tr("线路已挂断，设备已拔出或已关闭");
    if (events & POLLERR)
        return CMSComm::tr("设备报告错误");
#endif
    return std::nullopt;
}

// Closes a port whose device has gone, at once, so that nothing retries on a dead handle, and
// keeps the report for whoever asks.
void CMSComm::CheckGone() {
    if (!m_port.isOpen())
        return;
    const std::optional<QString> reason = Gone();
    if (!reason)
        return;
    Lose(CMSComm::tr("%1 已断开：%2").arg(Where(), *reason));
    Close();
    m_port.clearError();
}

void CMSComm::OnError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError)
        CheckGone();
}

// Clearing drops both QSerialPort's buffer and what the OS still holds.
void CMSComm::SetInBufferCount(std::int16_t count) {
    if (m_net)
        return m_net->SetInBufferCount(count);
    if (count == 0 && m_port.isOpen()) {
        m_port.clear(QSerialPort::Input);
        Rearm();
    }
}

std::int16_t CMSComm::GetInBufferCount() {
    if (m_net)
        return m_net->GetInBufferCount();
    if (!m_port.isOpen())
        return 0;
    Pull();
    if (!m_port.isOpen())
        return 0;
    return static_cast<std::int16_t>(
        std::min<qint64>(m_port.bytesAvailable(), std::numeric_limits<std::int16_t>::max()));
}

std::vector<std::uint8_t> CMSComm::GetInput() {
    if (m_net)
        return m_net->GetInput();
    if (!m_port.isOpen())
        return {};
    Pull();
    if (!m_port.isOpen())
        return {};
    const QByteArray bytes = m_inputLen > 0 ? m_port.read(m_inputLen) : m_port.readAll();
    Rearm();
    return {bytes.begin(), bytes.end()};
}

void CMSComm::SetOutput(std::span<const std::uint8_t> bytes) {
    if (m_net)
        return m_net->SetOutput(bytes);
    CheckGone();
    if (!m_lost.isEmpty())
        return;
    if (!m_port.isOpen())
        Throw(CMSComm::tr("%1 未打开，无法发送").arg(Where()));
    const qint64 written = m_port.write(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<qint64>(bytes.size()));
    bool flushed = written == static_cast<qint64>(bytes.size());
    while (flushed && m_port.isOpen() && m_port.bytesToWrite() > 0)
        flushed = m_port.waitForBytesWritten(kWriteTimeoutMs);
    CheckGone();
    if (!m_lost.isEmpty())
        return;
    if (!flushed) {
        const QString reason = m_port.errorString();
        // Bytes left queued would have the event loop retry them without end.
        m_port.clear(QSerialPort::Output);
        m_port.clearError();
        Throw(CMSComm::tr("%1 发送失败：%2").arg(Where(), reason));
    }
}

bool CMSComm::WaitForInput(std::uint32_t ms) {
    if (m_net)
        return m_net->WaitForInput(ms);
    if (!m_port.isOpen())
        return false;
    // The line is looked at before blocking: a hung-up line is found here, not waited on.
    Pull();
    if (!m_port.isOpen())
        return false;
    if (m_port.bytesAvailable() == 0) {
        const int timeout = static_cast<int>(std::min<std::uint32_t>(
            ms, static_cast<std::uint32_t>(std::numeric_limits<int>::max())));
#ifdef Q_OS_WIN
        m_port.waitForReadyRead(timeout);
        // Running out of time leaves a timeout error behind, as in Pull.
        m_port.clearError();
#else
        // Qt's own wait comes back from a hang-up without a word on some versions and leaves
        // the port open; poll() on the descriptor wakes for it, and Pull then finds it.
        pollfd p{static_cast<int>(m_port.handle()), POLLIN, 0};
        if (::poll(&p, 1, timeout) == 1)
            Pull();
#endif
    }
    return m_port.isOpen() && m_port.bytesAvailable() > 0;
}

} // namespace md
