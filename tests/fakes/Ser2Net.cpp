#include "Ser2Net.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace md {

namespace {

constexpr int kStartMs = 10'000;
constexpr int kStopMs = 5'000;
constexpr int kPollMs = 20;

} // namespace

int Ser2Net::FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

Ser2Net::Ser2Net(QString device, Mode mode, QString settings, Latency latency)
    : m_device(std::move(device)), m_mode(mode), m_settings(std::move(settings)),
      m_latency(latency) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test that crashes or is killed by its time-out must not leave a server behind.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

Ser2Net::~Ser2Net() {
    Stop();
}

QString Ser2Net::Program() {
    // A daemon: Debian puts it in sbin, which an ordinary user's PATH may lack.
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                          {QStringLiteral("/usr/sbin"),
                                           QStringLiteral("/usr/local/sbin")});
}

QString Ser2Net::DeviceName() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_mode == Mode::Raw ? QStringLiteral("tcp") : QStringLiteral("rfc2217"))
        .arg(m_port);
}

bool Ser2Net::Start() {
    const QString program = Program();
    if (program.isEmpty()) {
        m_error = QStringLiteral("ser2net is not installed (tools/setup installs it)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return false;
    }
    if (m_port == 0)
        m_port = FreePort();
    // "local": no modem control lines, which a pseudo-terminal does not have.
    const bool prompt = m_latency == Latency::Prompt;
    const QString tcp = prompt ? QStringLiteral("tcp(nodelay)") : QStringLiteral("tcp");
    const QString accepter =
        (m_mode == Mode::Raw ? QStringLiteral("%1,127.0.0.1,%2")
                             : QStringLiteral("telnet(rfc2217),%1,127.0.0.1,%2"))
            .arg(tcp)
            .arg(m_port);
    QString config = QStringLiteral("%YAML 1.1\n---\n"
                                    "connection: &meter\n"
                                    "  accepter: %1\n"
                                    "  connector: serialdev,%2,%3,local\n")
                         .arg(accepter, m_device, m_settings);
    if (prompt)
        config += QStringLiteral("  options:\n"
                                 "    chardelay: false\n");
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) != config.toUtf8().size()) {
        m_error = QStringLiteral("cannot write the configuration: ") + file.errorString();
        return false;
    }
    file.close();
    // -n: in the foreground; -d: its messages to standard output; -u: no UUCP lock files in the
    // system's lock folder; -P: the pid file in our folder, not the system's.
    m_process.start(program, {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"),
                              QStringLiteral("-c"),
                              file.fileName(), QStringLiteral("-P"),
                              m_dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("ser2net did not start: ") + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(kStartMs);
    while (!Listening()) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            m_error = QStringLiteral("ser2net does not listen on port %1").arg(m_port);
            return false;
        }
        QThread::msleep(kPollMs);
    }
    return true;
}

bool Ser2Net::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    if (m_process.waitForFinished(kStopMs))
        return true;
    m_process.kill();
    m_process.waitForFinished(kStopMs);
    m_error = QStringLiteral("ser2net ignored SIGTERM");
    return false;
}

void Ser2Net::Kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kStopMs);
}

QString Ser2Net::Error() {
    QString text = m_error;
    const QByteArray out = m_process.readAll();
    if (!out.isEmpty())
        text += QStringLiteral(" [ser2net: ") + QString::fromUtf8(out).trimmed() + QLatin1Char(']');
    return text;
}

// Whether the kernel has a listening socket on our port: looking does not connect, which
// would open the device behind the server.
bool Ser2Net::Listening() const {
    const QByteArray local = QStringLiteral(":%1").arg(m_port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        // "  1: 0100007F:B8CF 00000000:0000 0A ...": the local address, the remote, the state
        // (0A: listening).
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1].endsWith(local) &&
                fields[3] == "0A")
                return true;
        }
    }
    return false;
}

} // namespace md
