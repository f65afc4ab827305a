#include "log/CsvRecord.h"

#include "log/LogRecord.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>

namespace md::log {

namespace {

// RFC 4180 ends every line with CR LF; spreadsheets read it on every platform.
constexpr const char* kLineEnd = "\r\n";
// A register holds at most five digits, so five significant digits show every current exactly.
constexpr int kCurrentDigits = 5;

} // namespace

QByteArray IsoTime(const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    const int offset = time.offsetFromUtc() / 60;
    const int magnitude = std::abs(offset);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(),
                  d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                  offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return buf;
}

QByteArray CsvHeader() {
    return QByteArray("time,phase_a,phase_b,phase_c,decimal_point,outcome") + kLineEnd;
}

namespace {

// The columns after the time, and the line end.
QByteArray Columns(const CurrentSample& s) {
    QByteArray row;
    for (const double amps : s.amps)
        row += ',' + (s.ok ? GeneralNumber(amps, kCurrentDigits) : QByteArray());
    row += ',' + QByteArray::number(s.decimalPoint) + ',';
    row += QByteArray(s.outcome.data(), static_cast<qsizetype>(s.outcome.size()));
    return row + kLineEnd;
}

} // namespace

QByteArray CsvRow(const CurrentSample& s) {
    return IsoTime(s.time) + Columns(s);
}

QByteArray BusCsvHeader() {
    return QByteArray("time,address,phase_a,phase_b,phase_c,decimal_point,outcome") + kLineEnd;
}

QByteArray BusCsvRow(int address, const CurrentSample& s) {
    return IsoTime(s.time) + ',' + QByteArray::number(address) + Columns(s);
}

QString BusCsvPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // A dot in a folder's name, or one that starts the file's name, is no suffix.
    if (dot <= slash + 1)
        return path + QStringLiteral("-bus");
    return path.left(dot) + QStringLiteral("-bus") + path.mid(dot);
}

std::optional<QString> AppendCsv(const QString& path, const QByteArray& rows) {
    return AppendCsv(path, rows, CsvHeader());
}

std::optional<QString> AppendCsv(const QString& path, const QByteArray& rows,
                                 const QByteArray& header) {
    // Unbuffered, the rows reach the system in one write, so that a tool killed afterwards
    // leaves none of them cut.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    const qint64 whole = file.size();
    const QByteArray bytes = whole == 0 ? header + rows : rows;
    qint64 written = 0;
    while (written < bytes.size()) {
        // A short write (a full disk) is tried again for the rest: the attempt that fails
        // outright is the one that gives the system's reason.
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            const QString reason = file.errorString();
            // A cut row would glue the next one onto it: the file goes back to its last
            // whole row.
            if (written > 0)
                file.resize(whole);
            return reason;
        }
        written += n;
    }
    return std::nullopt;
}

std::optional<QString> ReplaceFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(bytes);
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace md::log
