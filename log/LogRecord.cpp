#include "log/LogRecord.h"

#include <QFile>
#include <QStringEncoder>

#include <charconv>
#include <cstdio>
#include <limits>

namespace md::log {
namespace {

QByteArray Gbk(QStringView text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

// A field of width bytes, the text at its right; a longer text is kept whole.
QByteArray RightAligned(const QByteArray& text, qsizetype width) {
    return text.size() >= width ? text : QByteArray(width - text.size(), ' ') + text;
}

// printf's %*.*g as the "C" locale prints it.
QByteArray Number(double value, int width, int precision) {
    return RightAligned(GeneralNumber(value, precision), width);
}

// The reverse energies are held as magnitudes and printed negated, exactly as printf prints the
// negation: a reverse energy of zero comes out as "-0", the bytes readers of the file know.
double Reverse(double magnitude) {
    return -magnitude;
}

QByteArray Row(const char* label, std::initializer_list<double> values, int precision) {
    QByteArray row = Gbk(QString::fromUtf8(label));
    for (double v : values)
        row += Number(v, 12, precision);
    return row;
}

} // namespace

QByteArray GeneralNumber(double value, int precision) {
    char buf[std::numeric_limits<double>::max_exponent10 + 32];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision).ptr;
    return QByteArray(buf, end - buf);
}

bool HasGbkEncoder() {
    static const bool available = QStringEncoder("GBK").isValid();
    return available;
}

QByteArray FormatTimestamp(const QDateTime& now) {
    const QDateTime local = now.toUTC().addSecs(8 * 3600);
    const QDate d = local.date();
    const QTime t = local.time();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4d/%02d/%02d   %02d:%02d:%02d", d.year(), d.month(), d.day(),
                  t.hour(), t.minute(), t.second());
    return QByteArray(buf);
}

QByteArray FormatRecord(const MeasurementSnapshot& s, const QDateTime& now) {
    // Line 4 carries six significant digits; every later number carries five.
    constexpr int kFirstRowPrecision = 6;
    constexpr int kPrecision = 5;
    const QByteArray sep = "   ";

    QByteArray headings = QByteArray(9, ' ');
    for (const char* heading : {"合相", "A相/CA线", "B相/AB线", "C相/BC线"})
        headings += RightAligned(Gbk(QString::fromUtf8(heading)), 12);

    const std::array<QByteArray, 4> units = {Gbk(s.m_strEnergyUnit[0]), Gbk(s.m_strEnergyUnit[1]),
                                             Gbk(s.m_strEnergyUnit[2]), Gbk(s.m_strEnergyUnit[3])};

    const QByteArray lines[] = {
        QByteArray(),
        FormatTimestamp(now),
        headings,
        Row("相 电 压:", {s.m_dPhaseVoltTotal, s.m_dPhaseVoltA, s.m_dPhaseVoltB, s.m_dPhaseVoltC},
            kFirstRowPrecision),
        Row("线 电 压:", {s.m_dLineVoltTotal, s.m_dLineVoltCA, s.m_dLineVoltAB, s.m_dLineVoltBC},
            kPrecision),
        Row("相 电 流:", {s.m_dCurrentTotal, s.m_dCurrentA, s.m_dCurrentB, s.m_dCurrentC},
            kPrecision),
        Row("有功功率:",
            {s.m_dActivePowerTotal, s.m_dActivePowerA, s.m_dActivePowerB, s.m_dActivePowerC},
            kPrecision),
        Row("无功功率:",
            {s.m_dReactivePowerTotal, s.m_dReactivePowerA, s.m_dReactivePowerB,
             s.m_dReactivePowerC},
            kPrecision),
        Row("视在功率:",
            {s.m_dApparentPowerTotal, s.m_dApparentPowerA, s.m_dApparentPowerB,
             s.m_dApparentPowerC},
            kPrecision),
        Row("功率因数:",
            {s.m_dPowerFactorTotal, s.m_dPowerFactorA, s.m_dPowerFactorB, s.m_dPowerFactorC},
            kPrecision),
        Row("频    率:", {s.m_dFrequency}, kPrecision) + RightAligned(Gbk(u"零序电流:"), 24) +
            Number(s.m_dZeroSeqCurrent, 12, kPrecision),
        Gbk(u"正向有功电能") + sep + Gbk(u"负相有功电能") + sep + Gbk(u"正向无功电能") + sep +
            Gbk(u"负相无功电能"),
        Number(s.m_dFwdActiveEnergy, 8, kPrecision) + RightAligned(units[0], 4) + sep +
            Number(Reverse(s.m_dRevActiveEnergy), 8, kPrecision) + RightAligned(units[1], 4) + sep +
            Number(s.m_dFwdReactiveEnergy, 6, kPrecision) + RightAligned(units[2], 6) + sep +
            Number(Reverse(s.m_dRevReactiveEnergy), 6, kPrecision) + RightAligned(units[3], 6),
    };

    QByteArray record;
    for (const QByteArray& line : lines)
        record += line + "\r\n";
    return record;
}

std::optional<std::uint32_t> SavePeriodMs(int hours, int minutes, int seconds) {
    const std::int64_t ms =
        (std::int64_t{hours} * 3600 + std::int64_t{minutes} * 60 + std::int64_t{seconds}) * 1000;
    if (ms < kMinSavePeriodMs || ms > kMaxSavePeriodMs)
        return std::nullopt;
    return static_cast<std::uint32_t>(ms);
}

AppendResult AppendToFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return AppendResult::OpenFailed;
    // Every step is checked on its own: close() clears an earlier write error when its own
    // flush succeeds, so the error state at the end alone would not tell.
    const bool written = file.write(bytes) == bytes.size();
    const bool flushed = file.flush();
    file.close();
    const bool closed = file.error() == QFileDevice::NoError;
    return written && flushed && closed ? AppendResult::Ok : AppendResult::WriteFailed;
}

} // namespace md::log
