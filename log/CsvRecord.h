#pragma once
// The phase currents of each poll as comma-separated values for a spreadsheet: UTF-8, a header
// line, ISO 8601 local times with their UTC offset, numbers with a full stop in every locale.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace md::log {

// One poll of the three phase currents.
struct CurrentSample {
    QDateTime time;               // when the poll ended
    bool ok = false;              // the currents were read
    std::array<double, 3> amps{}; // phases A, B, C, the decimal point applied, as shown
    int decimalPoint = 0;         // the decimal point the poll scaled by
    std::string_view outcome;     // "ok" or the failure's status word; a static text
};

// "2026-12-07T13:31:02.114+01:00": the time as its own zone has it, with that zone's offset.
QByteArray IsoTime(const QDateTime& time);

// "time,phase_a,phase_b,phase_c,decimal_point,outcome" and the line end.
QByteArray CsvHeader();
// One line: a failed poll leaves the three currents empty.
QByteArray CsvRow(const CurrentSample& sample);

// The same for several meters on one line, in a file of their own: "time,address,phase_a,...",
// the meter's address in the second column.
QByteArray BusCsvHeader();
QByteArray BusCsvRow(int address, const CurrentSample& sample);
// Where the rows of several meters go when a poll's rows go to path: "polls.csv" gives
// "polls-bus.csv", beside it.
QString BusCsvPath(const QString& path);

// Appends rows to the file at path, the header first when the file is new or empty, in one
// write. The file is open only for this call, and a write the system cuts short is taken back,
// so every row in the file is whole after any failure. Empty rows just create the file with
// its header. The system's reason when it fails.
std::optional<QString> AppendCsv(const QString& path, const QByteArray& rows);
// The same with the header given.
std::optional<QString> AppendCsv(const QString& path, const QByteArray& rows,
                                 const QByteArray& header);
// Replaces the file at path with bytes, whole or not at all. The reason when it fails.
std::optional<QString> ReplaceFile(const QString& path, const QByteArray& bytes);

} // namespace md::log
