#include "sim/Line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace md::sim {

namespace {

struct Speed {
    speed_t code;
    int rate;
};
constexpr Speed kSpeeds[] = {
    {B300, 300},     {B600, 600},       {B1200, 1200},     {B2400, 2400},
    {B4800, 4800},   {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
};

speed_t CodeOf(int rate) {
    for (const Speed& s : kSpeeds)
        if (s.rate == rate)
            return s.code;
    return B9600;
}

int RateOf(speed_t code) {
    for (const Speed& s : kSpeeds)
        if (s.code == code)
            return s.rate;
    return -1;
}

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Raw 8-bit bytes, two stop bits like the tool's, and the given rate and parity.
bool Configure(int fd, int rate, char parity, std::string& error) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | CSTOPB;
    t.c_cflag &= ~(PARENB | PARODD);
    if (parity == 'E' || parity == 'O')
        t.c_cflag |= PARENB;
    if (parity == 'O')
        t.c_cflag |= PARODD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, CodeOf(rate));
    cfsetospeed(&t, CodeOf(rate));
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    return true;
}

} // namespace

PtyLine::PtyLine(std::string path, int rate) : m_path(std::move(path)), m_rate(rate) {
    struct stat st {};
    // A symlink left behind by an earlier run is ours to replace; anything else is not.
    if (lstat(m_path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        throw std::runtime_error(m_path + " exists and is not a symlink");
    std::string error;
    if (!Open(error))
        throw std::runtime_error(error);
}

PtyLine::~PtyLine() {
    RemovePath();
    Close();
}

bool PtyLine::Open(std::string& error) {
    m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
        error = Errno("pseudo-terminal");
        RemovePath();
        Close();
        return false;
    }
    m_terminal = ptsname(m_fd);
    m_terminalFd = open(m_terminal.c_str(), O_RDWR | O_NOCTTY);
    if (m_terminalFd < 0 || !Configure(m_terminalFd, m_rate, 'N', error)) {
        if (error.empty())
            error = Errno(m_terminal);
        RemovePath();
        Close();
        return false;
    }
    unlink(m_path.c_str());
    if (symlink(m_terminal.c_str(), m_path.c_str()) != 0) {
        error = Errno("symlink " + m_path);
        Close();
        return false;
    }
    m_linkTarget = m_terminal;
    return true;
}

int PtyLine::ToolRate() const {
    // On the master side, tcgetattr reports the terminal side's settings: the tool's.
    termios t{};
    if (m_fd < 0 || tcgetattr(m_fd, &t) != 0)
        return -1;
    return RateOf(cfgetospeed(&t));
}

std::optional<bool> PtyLine::ToolOdd() const {
    termios t{};
    if (m_fd < 0 || tcgetattr(m_fd, &t) != 0)
        return std::nullopt;
    return (t.c_cflag & PARODD) != 0;
}

// Only our own symlink: a path someone else has put there since is left alone.
bool PtyLine::RemovePath() {
    char target[256];
    const ssize_t n = readlink(m_path.c_str(), target, sizeof target - 1);
    if (n <= 0 || m_linkTarget.empty() ||
        std::string(target, static_cast<std::size_t>(n)) != m_linkTarget)
        return false;
    m_linkTarget.clear();
    return unlink(m_path.c_str()) == 0;
}

// Closing the master hangs the terminal side up (its handles fail with EIO) and takes its
// device node away; the symlink is left dangling. Not at the old node's name, though: the
// system hands that number to the next pseudo-terminal anyone opens, and a tool reopening the
// path would find a stranger's line and take the outage for over.
void PtyLine::Unplug() {
    Close();
    if (m_terminal.empty() || !RemovePath())
        return;
    m_linkTarget = m_terminal + ".unplugged";
    if (symlink(m_linkTarget.c_str(), m_path.c_str()) != 0)
        m_linkTarget.clear();
}

void PtyLine::Close() {
    if (m_terminalFd >= 0)
        close(m_terminalFd);
    if (m_fd >= 0)
        close(m_fd);
    m_terminalFd = m_fd = -1;
}

bool PtyLine::Vanish(std::string&) {
    RemovePath();
    Close();
    return true;
}

bool PtyLine::Replug(std::string& error) {
    if (Plugged())
        return true;
    return Open(error);
}

DeviceLine::DeviceLine(std::string device, int rate, char parity)
    : m_device(std::move(device)), m_rate(rate), m_parity(parity) {
    std::string error;
    if (!Open(error))
        throw std::runtime_error(error);
}

DeviceLine::~DeviceLine() {
    Unplug();
}

bool DeviceLine::Open(std::string& error) {
    m_fd = open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        error = Errno(m_device);
        return false;
    }
    if (!Configure(m_fd, m_rate, m_parity, error)) {
        Unplug();
        return false;
    }
    return true;
}

void DeviceLine::MeterRateChanged(int rate) {
    m_rate = rate;
    if (!Plugged())
        return;
    // The acknowledgement still goes out at the old rate.
    tcdrain(m_fd);
    std::string error;
    Configure(m_fd, m_rate, m_parity, error);
}

void DeviceLine::Unplug() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

bool DeviceLine::Vanish(std::string& error) {
    error = "a real port cannot vanish; unplug plays its cable pulled";
    return false;
}

bool DeviceLine::Replug(std::string& error) {
    if (Plugged())
        return true;
    return Open(error);
}

} // namespace md::sim
