#pragma once
// A pseudo-terminal pair for tests that need a real serial device: the code under test opens
// the slave side (by its path, or through a symlink) and the test plays the far end on the
// master. The test keeps the slave open too, so it can read the line settings the code under
// test put on the device.

#include <QByteArray>
#include <QString>

#include <termios.h>

namespace md {

class PseudoTerminal {
public:
    // Throws std::runtime_error when the system has no pseudo-terminal to give.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    QString SlavePath() const { return m_slavePath; }
    // The device's line settings as whoever opened it last left them.
    termios Attributes() const;
    // Bytes the code under test sent, waiting at most waitMs for the first one.
    QByteArray ReadMaster(int waitMs = 200);
    void WriteMaster(const QByteArray& bytes);
    // The far end goes away, as a pulled adapter does: the device is hung up and its node
    // removed; handles on it, ours included, fail from now on.
    void CloseMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

// Speed constant (B9600, ...) for a rate in bit/s; 0 for a rate without one.
speed_t SpeedConstant(int baud);

} // namespace md
