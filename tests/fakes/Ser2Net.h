#pragma once
// Runs the real ser2net (Debian's ser2net 4) in front of a serial device, for an end-to-end
// test: in the foreground, on a free port of the loopback interface, with a configuration and a
// pid file of its own in a private temporary folder; the system's configuration and service are
// left alone.
//
//   MeterSim sim;                      // metersim's pseudo-terminal is the serial device
//   Ser2Net server(sim.LinkPath(), Ser2Net::Mode::Rfc2217);
//   QVERIFY2(server.Start(), qPrintable(server.Error()));
//   comm.SetDevice(1, server.DeviceName());   // "rfc2217://127.0.0.1:40123"
//
// Every wait is bounded; the destructor stops ser2net, which also ends if the test dies.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace md {

class Ser2Net {
public:
    // Raw: the bytes pass as they are (tcp://). Rfc2217: Telnet with the Com Port Control
    // Option, so the client sets the device's rate and parity (rfc2217://).
    enum class Mode { Raw, Rfc2217 };

    // Defaults: ser2net as installed, which waits a little after the line falls silent before
    // it sends (chardelay) and keeps Nagle's algorithm on. Prompt: as the README configures it,
    // tcp(nodelay) on the accepter and chardelay off.
    enum class Latency { Defaults, Prompt };

    // settings: the device's rate, parity, data and stop bits as ser2net writes them
    // ("9600n82"); a client over RFC 2217 may change them.
    explicit Ser2Net(QString device, Mode mode, QString settings = QStringLiteral("9600n82"),
                     Latency latency = Latency::Defaults);
    ~Ser2Net();
    Ser2Net(const Ser2Net&) = delete;
    Ser2Net& operator=(const Ser2Net&) = delete;

    // The ser2net program, or empty when it is not installed.
    static QString Program();
    // A loopback port nobody listens on now (0 when none could be had). A server that binds
    // it a moment later may lose a race; its start then fails with its own message.
    static int FreePort();

    // Starts ser2net and waits up to 10 s until it listens; false with Error() otherwise. The
    // first start takes a free port; a start after Kill() or Stop() takes the same one again.
    bool Start();
    // Ends it with SIGTERM; true when it exited by then.
    bool Stop();
    // Ends it at once (SIGKILL), as a server that crashes or loses its power.
    void Kill();

    int Port() const { return m_port; }
    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT".
    QString DeviceName() const;
    // What went wrong, with whatever ser2net wrote.
    QString Error();

private:
    bool Listening() const;

    QString m_device;
    Mode m_mode;
    QString m_settings;
    Latency m_latency;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

} // namespace md
