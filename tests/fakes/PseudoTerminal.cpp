#include "fakes/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

namespace md {

PseudoTerminal::PseudoTerminal() {
    std::array<char, 256> name{};
    if (::openpty(&m_master, &m_slave, name.data(), nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_slavePath = QString::fromLocal8Bit(name.data());
}

PseudoTerminal::~PseudoTerminal() {
    ::close(m_slave);
    CloseMaster();
}

void PseudoTerminal::CloseMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

termios PseudoTerminal::Attributes() const {
    termios t{};
    ::tcgetattr(m_slave, &t);
    return t;
}

QByteArray PseudoTerminal::ReadMaster(int waitMs) {
    QByteArray got;
    pollfd p{m_master, POLLIN, 0};
    // Once something has come, take only what is already there.
    for (int timeout = waitMs; ::poll(&p, 1, timeout) > 0 && (p.revents & POLLIN); timeout = 0) {
        std::array<char, 512> buf{};
        const ssize_t n = ::read(m_master, buf.data(), buf.size());
        if (n <= 0)
            break;
        got.append(buf.data(), n);
    }
    return got;
}

void PseudoTerminal::WriteMaster(const QByteArray& bytes) {
    if (::write(m_master, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
        throw std::runtime_error("write to the pseudo-terminal master failed");
}

speed_t SpeedConstant(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    default:
        return 0;
    }
}

} // namespace md
