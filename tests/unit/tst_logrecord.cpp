// The log record byte for byte in GBK (expected bytes spelled out in hex, so the encoder is
// checked rather than trusted), the logging period, and the checked append.

#include "log/LogRecord.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <climits>
#include <cstdio>
#include <functional>
#include <limits>

using md::log::AppendResult;
using md::log::MeasurementSnapshot;

namespace {

const QDateTime kNoon(QDate(2006, 11, 8), QTime(4, 0, 0), QTimeZone::utc());

// Line n (1-based) of a record, without its CR LF.
QByteArray Line(const QByteArray& record, int n) {
    return record.split('\n').value(n - 1).chopped(1);
}

QByteArray Spaces(int n) {
    return QByteArray(n, ' ');
}

const QByteArray kPhaseVoltLabel = QByteArray::fromHex("cfe020b5e720d1b93a");   // 相 电 压:
const QByteArray kLineVoltLabel = QByteArray::fromHex("cfdf20b5e720d1b93a");    // 线 电 压:
const QByteArray kFrequencyLabel = QByteArray::fromHex("c6b520202020c2ca3a");   // 频    率:
const QByteArray kZeroSeqLabel = QByteArray::fromHex("c1e3d0f2b5e7c1f73a");     // 零序电流:
const QByteArray kPowerFactorLabel = QByteArray::fromHex("b9a6c2cad2f2cafd3a"); // 功率因数:

} // namespace

class TestLogRecord : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordIsThirteenCrLfLines();
    void rows_data();
    void rows();
    void numbersAsPrintfPrintsThem_data();
    void numbersAsPrintfPrintsThem();
    void timestamp_data();
    void timestamp();
    void period_data();
    void period();
    void appendCreatesAndGrows();
    void appendFailures_data();
    void appendFailures();
    void appendToFullDeviceIsWriteFailure();
};

void TestLogRecord::recordIsThirteenCrLfLines() {
    const QByteArray record = md::log::FormatRecord(MeasurementSnapshot{}, kNoon);
    QCOMPARE(record.count("\r\n"), 13);
    QCOMPARE(record.count('\n'), 13);
    QVERIFY(record.startsWith("\r\n"));
    QVERIFY(record.endsWith("\r\n"));
    QCOMPARE(Line(record, 2), QByteArray("2006/11/08   12:00:00"));
}

using Setup = std::function<void(MeasurementSnapshot&)>;
Q_DECLARE_METATYPE(Setup)

void TestLogRecord::rows_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("expected");

    const Setup none = [](MeasurementSnapshot&) {};
    QTest::newRow("heading") << none << 3
                             << Spaces(17) + QByteArray::fromHex("bacfcfe0") + Spaces(4) +
                                    QByteArray::fromHex("41cfe02f4341cfdf") + Spaces(4) +
                                    QByteArray::fromHex("42cfe02f4142cfdf") + Spaces(4) +
                                    QByteArray::fromHex("43cfe02f4243cfdf");
    QTest::newRow("energy labels")
        << none << 12
        << QByteArray::fromHex("d5fdcff2d3d0b9a6b5e7c4dc") + Spaces(3) +
               QByteArray::fromHex("b8bacfe0d3d0b9a6b5e7c4dc") + Spaces(3) +
               QByteArray::fromHex("d5fdcff2cedeb9a6b5e7c4dc") + Spaces(3) +
               QByteArray::fromHex("b8bacfe0cedeb9a6b5e7c4dc");
    QTest::newRow("phase voltages, six digits") << Setup([](MeasurementSnapshot& s) {
        s.m_dPhaseVoltTotal = 220;
        s.m_dPhaseVoltA = 220.5;
        s.m_dPhaseVoltB = 219.8;
        s.m_dPhaseVoltC = 221;
    }) << 4
                                                << kPhaseVoltLabel + Spaces(9) + "220" + Spaces(7) +
                                                       "220.5" + Spaces(7) + "219.8" + Spaces(9) +
                                                       "221";
    QTest::newRow("380.123 keeps six digits on line 4")
        << Setup([](MeasurementSnapshot& s) { s.m_dPhaseVoltTotal = 380.123; }) << 4
        << kPhaseVoltLabel + Spaces(5) + "380.123" + (Spaces(11) + "0").repeated(3);
    QTest::newRow("380.123 drops to five digits on line 5")
        << Setup([](MeasurementSnapshot& s) { s.m_dLineVoltTotal = 380.123; }) << 5
        << kLineVoltLabel + Spaces(6) + "380.12" + (Spaces(11) + "0").repeated(3);
    QTest::newRow("line voltages stand under CA, AB, BC") << Setup([](MeasurementSnapshot& s) {
        s.m_dLineVoltCA = 1;
        s.m_dLineVoltAB = 2;
        s.m_dLineVoltBC = 3;
    }) << 5
                                                          << kLineVoltLabel + Spaces(11) + "0" +
                                                                 Spaces(11) + "1" + Spaces(11) +
                                                                 "2" + Spaces(11) + "3";
    QTest::newRow("exponent form where %g chooses it")
        << Setup([](MeasurementSnapshot& s) {
               s.m_dPowerFactorTotal = 1234567;
               s.m_dPowerFactorC = -0.000012345678;
           })
        << 10
        << kPowerFactorLabel + "  1.2346e+06" + (Spaces(11) + "0").repeated(2) + " -1.2346e-05";
    QTest::newRow("frequency and zero-sequence current") << Setup([](MeasurementSnapshot& s) {
        s.m_dFrequency = 50.004;
        s.m_dZeroSeqCurrent = 0.1234567;
    }) << 11
                                                         << kFrequencyLabel + Spaces(6) + "50.004" +
                                                                Spaces(15) + kZeroSeqLabel +
                                                                Spaces(5) + "0.12346";
    QTest::newRow("empty units, zero reverse energies negated to -0")
        << none << 13
        << Spaces(7) + "0" + Spaces(4) + Spaces(3) + Spaces(6) + "-0" + Spaces(4) + Spaces(3) +
               Spaces(5) + "0" + Spaces(6) + Spaces(3) + Spaces(4) + "-0" + Spaces(6);
    QTest::newRow("reverse energies negated")
        << Setup([](MeasurementSnapshot& s) {
               s.m_dFwdActiveEnergy = 1234.5;
               s.m_dRevActiveEnergy = 12.5;
               s.m_dFwdReactiveEnergy = 7;
               s.m_dRevReactiveEnergy = 3.25;
           })
        << 13
        << Spaces(2) + "1234.5" + Spaces(4) + Spaces(3) + Spaces(3) + "-12.5" + Spaces(4) +
               Spaces(3) + Spaces(5) + "7" + Spaces(6) + Spaces(3) + " -3.25" + Spaces(6);
    QTest::newRow("units right-aligned, GBK bytes counted")
        << Setup([](MeasurementSnapshot& s) {
               s.m_strEnergyUnit = {QStringLiteral("kWh"), QStringLiteral("度"),
                                    QStringLiteral("kvarh"), QStringLiteral("千乏时")};
           })
        << 13
        << Spaces(7) + "0" + " kWh" + Spaces(3) + Spaces(6) + "-0" + Spaces(2) +
               QByteArray::fromHex("b6c8") + Spaces(3) + Spaces(5) + "0" + " kvarh" + Spaces(3) +
               Spaces(4) + "-0" + QByteArray::fromHex("c7a7b7a6cab1");
}

void TestLogRecord::rows() {
    QFETCH(Setup, setup);
    QFETCH(int, line);
    QFETCH(QByteArray, expected);
    MeasurementSnapshot s;
    setup(s);
    QCOMPARE(Line(md::log::FormatRecord(s, kNoon), line), expected);
}

// The record's numbers are printed without the C library; they must still be, byte for byte,
// what printf prints in the "C" locale, this test's locale.
void TestLogRecord::numbersAsPrintfPrintsThem_data() {
    QTest::addColumn<double>("value");
    const struct {
        const char* name;
        double value;
    } values[] = {
        {"negative zero", -0.0},
        {"rounds up into the exponent form", 999999.5},
        {"rounds half to even in binary", 2.5e-5},
        {"smallest without exponent", 0.0001},
        {"just below it", 0.0000999999},
        {"negative exponent", -1.234567e-7},
        {"huge", 1.7976931348623157e308},
        {"subnormal", 4.9406564584124654e-324},
        {"infinity", std::numeric_limits<double>::infinity()},
        {"nan", std::numeric_limits<double>::quiet_NaN()},
    };
    for (const auto& v : values)
        QTest::newRow(v.name) << v.value;
}

void TestLogRecord::numbersAsPrintfPrintsThem() {
    QFETCH(double, value);
    MeasurementSnapshot s;
    s.m_dPhaseVoltTotal = value;    // line 4, %12.6g
    s.m_dLineVoltTotal = value;     // line 5, %12.5g
    s.m_dFwdActiveEnergy = value;   // line 13, %8.5g
    s.m_dRevReactiveEnergy = value; // line 13, negated, %6.5g
    const QByteArray record = md::log::FormatRecord(s, kNoon);
    const auto printed = [](const char* format, double v) {
        char buf[512];
        std::snprintf(buf, sizeof buf, format, v);
        return QByteArray(buf);
    };
    QCOMPARE(Line(record, 4).mid(9, 12), printed("%12.6g", value));
    QCOMPARE(Line(record, 5).mid(9, 12), printed("%12.5g", value));
    const QByteArray energies = Line(record, 13);
    QVERIFY(energies.startsWith(printed("%8.5g", value)));
    QVERIFY(energies.endsWith(printed("%6.5g", -value) + Spaces(6)));
}

void TestLogRecord::timestamp_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("evening UTC is the next day")
        << QDateTime(QDate(2006, 11, 8), QTime(17, 30, 5), QTimeZone::utc())
        << QByteArray("2006/11/09   01:30:05");
    QTest::newRow("early UTC is the same day")
        << QDateTime(QDate(2006, 11, 8), QTime(3, 4, 5), QTimeZone::utc())
        << QByteArray("2006/11/08   11:04:05");
    QTest::newRow("carries into the new year")
        << QDateTime(QDate(2006, 12, 31), QTime(16, 0, 0), QTimeZone::utc())
        << QByteArray("2007/01/01   00:00:00");
    QTest::newRow("machine zone does not matter")
        << QDateTime(QDate(2006, 11, 8), QTime(12, 4, 5), QTimeZone(-5 * 3600))
        << QByteArray("2006/11/09   01:04:05");
}

void TestLogRecord::timestamp() {
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, expected);
    QCOMPARE(md::log::FormatTimestamp(now), expected);
    QCOMPARE(Line(md::log::FormatRecord(MeasurementSnapshot{}, now), 2), expected);
}

void TestLogRecord::period_data() {
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<qint64>("expected"); // -1: refused

    QTest::newRow("one second") << 0 << 0 << 1 << qint64(1000);
    QTest::newRow("one hour") << 1 << 0 << 0 << qint64(3600000);
    QTest::newRow("two and a half minutes") << 0 << 2 << 30 << qint64(150000);
    QTest::newRow("negative parts summing to a second") << 1 << -59 << -59 << qint64(1000);
    QTest::newRow("largest that fits") << 596 << 31 << 23 << qint64(2147483000);
    QTest::newRow("zero") << 0 << 0 << 0 << qint64(-1);
    QTest::newRow("negative") << 0 << 0 << -5 << qint64(-1);
    QTest::newRow("one past the largest") << 596 << 31 << 24 << qint64(-1);
    QTest::newRow("wraps to 704 ms in 32 bits") << 0 << 0 << 4294968 << qint64(-1);
    QTest::newRow("wraps to 0 ms in 32 bits") << 0 << 0 << 536870912 << qint64(-1);
    QTest::newRow("all at their maximum") << INT_MAX << INT_MAX << INT_MAX << qint64(-1);
}

void TestLogRecord::period() {
    QFETCH(int, hours);
    QFETCH(int, minutes);
    QFETCH(int, seconds);
    QFETCH(qint64, expected);
    const auto period = md::log::SavePeriodMs(hours, minutes, seconds);
    QCOMPARE(period ? qint64(*period) : qint64(-1), expected);
}

void TestLogRecord::appendCreatesAndGrows() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Table.txt");
    const QByteArray record = md::log::FormatRecord(MeasurementSnapshot{}, kNoon);

    QCOMPARE(md::log::AppendToFile(path, record), AppendResult::Ok);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), record);
    file.close();

    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("kept\r\n");
    file.close();
    QCOMPARE(md::log::AppendToFile(path, record), AppendResult::Ok);
    QCOMPARE(md::log::AppendToFile(path, "x"), AppendResult::Ok);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "kept\r\n" + record + "x");
}

void TestLogRecord::appendFailures_data() {
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("path is a directory") << QString(".");
    QTest::newRow("directory missing") << QString("missing/Table.txt");
}

void TestLogRecord::appendFailures() {
    QFETCH(QString, relativePath);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(md::log::AppendToFile(dir.filePath(relativePath), "x"), AppendResult::OpenFailed);
}

void TestLogRecord::appendToFullDeviceIsWriteFailure() {
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full on this system");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("Table.txt");
    QVERIFY(QFile::link("/dev/full", link));
    QCOMPARE(md::log::AppendToFile(link, md::log::FormatRecord(MeasurementSnapshot{}, kNoon)),
             AppendResult::WriteFailed);
}

QTEST_APPLESS_MAIN(TestLogRecord)
#include "tst_logrecord.moc"
