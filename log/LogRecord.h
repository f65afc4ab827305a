#pragma once
// The 13-line measurement record appended to Table.txt, as a pure function of the snapshot
// and the time; the period of the logging timer; and the checked append of a record.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace md::log {

// The main window's measurement snapshot: three groups of seven doubles (phase A, B, C),
// thirteen further doubles, and the four energy unit texts. Nothing in the tool assigns them,
// so every record repeats these start values.
struct MeasurementSnapshot {
    double m_dPhaseVoltA = 0, m_dLineVoltCA = 0, m_dCurrentA = 0, m_dActivePowerA = 0,
           m_dPowerFactorA = 0, m_dReactivePowerA = 0, m_dApparentPowerA = 0;
    double m_dPhaseVoltB = 0, m_dLineVoltAB = 0, m_dCurrentB = 0, m_dActivePowerB = 0,
           m_dPowerFactorB = 0, m_dReactivePowerB = 0, m_dApparentPowerB = 0;
    double m_dPhaseVoltC = 0, m_dLineVoltBC = 0, m_dCurrentC = 0, m_dActivePowerC = 0,
           m_dPowerFactorC = 0, m_dReactivePowerC = 0, m_dApparentPowerC = 0;
    double m_dZeroSeqCurrent = 0, m_dPhaseVoltTotal = 0, m_dCurrentTotal = 0, m_dFrequency = 0,
           m_dActivePowerTotal = 0, m_dPowerFactorTotal = 0, m_dReactivePowerTotal = 0,
           m_dApparentPowerTotal = 0, m_dFwdActiveEnergy = 0, m_dRevActiveEnergy = 0,
           m_dFwdReactiveEnergy = 0, m_dRevReactiveEnergy = 0, m_dLineVoltTotal = 0;
    std::array<QString, 4> m_strEnergyUnit;
};

// printf's %.*g as the "C" locale prints it: the same rounding, trailing zeros dropped, the
// exponent form where %g chooses it, and a full stop whatever locale the application runs in.
QByteArray GeneralNumber(double value, int precision);

// Whether this Qt build can encode GBK (it needs ICU). Without it every Chinese label of the
// record would vanish, so a log must not be started. Checked once, on the first call.
bool HasGbkEncoder();

// "yyyy/mm/dd   hh:mm:ss" of the given instant in civil time at UTC+8 (the meter's market),
// whatever the time zone of the machine.
QByteArray FormatTimestamp(const QDateTime& now);

// One whole record in GBK, every line ended by CR LF: an empty line, the timestamp, the
// column headings, eight rows of numbers, the energy labels and the energies.
QByteArray FormatRecord(const MeasurementSnapshot& snapshot, const QDateTime& now);

// Logging period for the operator's storage interval. The timer service takes at most
// 2^31 - 1 ms, and a record per second is the fastest the log is meant for, so an interval
// below one second (zero and negative totals included) or above 596 h 31 min 23 s has no
// period: the caller refuses it rather than bending it into range behind the operator's back.
inline constexpr std::uint32_t kMinSavePeriodMs = 1000;
inline constexpr std::uint32_t kMaxSavePeriodMs = 2147483647;
std::optional<std::uint32_t> SavePeriodMs(int hours, int minutes, int seconds);

enum class AppendResult { Ok, OpenFailed, WriteFailed };

// Appends bytes to the file at path, creating it if missing and never truncating it. The file
// is open only for this call. WriteFailed covers a short write, a failed flush and a failed
// close: the record did not reach the file whole.
AppendResult AppendToFile(const QString& path, const QByteArray& bytes);

} // namespace md::log
