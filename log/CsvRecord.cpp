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

QByteArray CsvRow(const CurrentSample& s) {
    QByteArray row = IsoTime(s.time);
    for (const double amps : s.amps)
        row += ',' + (s.ok ? GeneralNumber(amps, kCurrentDigits) : QByteArray());
    row += ',' + QByteArray::number(s.decimalPoint) + ',';
    row += QByteArray(s.outcome.data(), static_cast<qsizetype>(s.outcome.size()));
    return row + kLineEnd;
}

std::optional<QString> AppendCsv(const QString& path, const QByteArray& rows) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.errorString();
    const QByteArray bytes = file.size() == 0 ? CsvHeader() + rows : rows;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        return reason;
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
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
