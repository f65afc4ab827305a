#include "MeterSim.h"

#include "port/MSComm.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <filesystem>
#include <signal.h>
#include <sys/prctl.h>

namespace md {

namespace {

constexpr int kStartMs = 10'000;
constexpr int kReplyMs = 5'000;
constexpr int kStopMs = 5'000;

// Trace lines begin with the time of day; nothing else metersim prints does.
bool IsTrace(const QString& line) {
    return !line.isEmpty() && line.front().isDigit();
}

} // namespace

MeterSim::MeterSim(QStringList options) : m_options(std::move(options)) {
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    // A test that crashes or is killed by its time-out must not leave a meter behind.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

MeterSim::~MeterSim() {
    Stop();
}

QString MeterSim::LinkPath() const {
    return m_dir.filePath(QStringLiteral("meter"));
}

void MeterSim::PointComAt(CMSComm& comm, int port) const {
    comm.SetDevice(port, LinkPath());
}

bool MeterSim::Start() {
    const QString program = qEnvironmentVariable("METERSIM");
    if (program.isEmpty()) {
        m_error = QStringLiteral("METERSIM is not set");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return false;
    }
    const bool network = m_options.contains(QStringLiteral("--modbus-tcp"));
    m_process.start(program,
                    (network ? QStringList{} : QStringList{QStringLiteral("--link"), LinkPath()}) +
                        m_options);
    if (!m_process.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("metersim did not start: ") + m_process.errorString();
        return false;
    }
    const std::optional<QString> line = NextLine(kStartMs);
    if (!line || !line->startsWith(QStringLiteral("ready"))) {
        m_error = QStringLiteral("metersim did not get ready: ") + line.value_or(QString());
        return false;
    }
    // "ready 127.0.0.1:40521 (Modbus TCP), ..."
    static const QRegularExpression where(QStringLiteral("^ready \\S+:(\\d+) \\(Modbus TCP\\)"));
    m_port = where.match(*line).captured(1).toInt();
    return true;
}

bool MeterSim::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.terminate();
    if (!m_process.waitForFinished(kStopMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
        m_error = QStringLiteral("metersim ignored SIGTERM");
        return false;
    }
    while (NextLine(0)) {
    }
    std::error_code ec;
    const bool linkGone =
        !std::filesystem::is_symlink(std::filesystem::symlink_status(LinkPath().toStdString(), ec));
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0 && linkGone;
}

QString MeterSim::Command(const QString& line) {
    if (m_process.state() != QProcess::Running) {
        m_error = QStringLiteral("metersim is not running");
        return {};
    }
    m_process.write((line + QLatin1Char('\n')).toUtf8());
    m_process.waitForBytesWritten(kReplyMs);
    QDeadlineTimer deadline(kReplyMs);
    while (const std::optional<QString> reply = NextLine(int(deadline.remainingTime())))
        if (!IsTrace(*reply))
            return *reply;
    m_error = QStringLiteral("no reply to '%1'").arg(line);
    return {};
}

namespace {

QString At(int address) {
    return address ? QStringLiteral(" @%1").arg(address) : QString();
}

} // namespace

std::optional<int> MeterSim::Get(const QString& what, int address) {
    static const QRegularExpression value(QStringLiteral("^\\S+ = (\\d+)$"));
    const QRegularExpressionMatch m =
        value.match(Command(QStringLiteral("get ") + what + At(address)));
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1).toInt();
}

bool MeterSim::Fault(const QString& text, int address) {
    return Command(QStringLiteral("fault ") + text + At(address)).startsWith(QStringLiteral("ok"));
}

QMap<int, MeterSim::Counts> MeterSim::CountsByAddress() const {
    // "10:31:02.114 -> 03 03 00 00 00 03 04 29  read 3 @0x0000  [meter 3; not heard: ...]"
    static const QRegularExpression frame(QStringLiteral(
        "^\\S+ (->|<-) ((?:[0-9A-F]{2} )*[0-9A-F]{2})(?: \\.\\.\\. \\(\\d+ bytes\\))?  (.*?)"
        "(?:  \\[(.*)\\])?$"));
    static const QRegularExpression named(QStringLiteral("(?:^meter |for address )(\\d+)"));
    QMap<int, Counts> counts;
    for (const QString& line : m_trace) {
        const QRegularExpressionMatch m = frame.match(line);
        if (!m.hasMatch() || m.captured(3) == QLatin1String("unasked"))
            continue;
        const QString notes = m.captured(4);
        // With several meters each frame's notes name its meter; alone, a meter is named by
        // the frame (the unit identifier, the seventh byte, over Modbus TCP).
        const QRegularExpressionMatch who = named.match(notes);
        const QStringList hex = m.captured(2).split(QLatin1Char(' '));
        const int byte = m_port != 0 ? 6 : 0;
        const int address = who.hasMatch()      ? who.captured(1).toInt()
                            : hex.size() > byte ? hex[byte].toInt(nullptr, 16)
                                                : -1;
        if (address <= 0)
            continue; // a broadcast asks for no answer
        const bool toMeter = m.captured(1) == QLatin1String("->");
        const bool lost = notes.contains(QLatin1String("not heard")) ||
                          notes.contains(QLatin1String("ignored")) ||
                          notes.contains(QLatin1String("bad check bytes")) ||
                          notes.contains(QLatin1String("lost")) ||
                          notes.contains(QLatin1String("not understood")) ||
                          notes.contains(QLatin1String("dropped"));
        if (lost)
            ++counts[address].unanswered;
        else if (!toMeter)
            ++counts[address].answered;
    }
    return counts;
}

QString MeterSim::Error() {
    QString text = m_error;
    const QByteArray err = m_process.readAllStandardError();
    if (!err.isEmpty())
        text +=
            QStringLiteral(" [metersim: ") + QString::fromUtf8(err).trimmed() + QLatin1Char(']');
    return text;
}

// The next line from metersim's output, recording trace lines as they pass.
std::optional<QString> MeterSim::NextLine(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (IsTrace(line))
                m_trace << line;
            return line;
        }
        if (deadline.hasExpired() || m_process.state() != QProcess::Running ||
            !m_process.waitForReadyRead(int(deadline.remainingTime())))
            if (!m_process.canReadLine())
                return std::nullopt;
    }
}

} // namespace md
