// The CSV rows of the polls: ISO local times with their offset and milliseconds, currents with a
// full stop, under a user whose locale writes decimals with a comma and whose clock is not UTC.

#include "fakes/Support.h"
#include "log/CsvRecord.h"
#include "meter/MeterOps.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>

using namespace md;

class TestCsvRecord : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Without the comma locale and the zone the rows would pass whatever the code does.
    void initTestCase() {
        QVERIFY2(DecimalCommaInForce(), "de_DE.UTF-8 is missing: run tools/setup");
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc() % 3600, 45 * 60);
    }

    void RowsAreLocaleFree_data() {
        QTest::addColumn<QByteArray>("zone"); // empty: the machine's own (Asia/Kathmandu)
        QTest::addColumn<QList<int>>("raw");  // empty: the poll failed
        QTest::addColumn<int>("decimalPoint");
        QTest::addColumn<QByteArray>("outcome");
        QTest::addColumn<QByteArray>("row");
        QTest::newRow("local time, two decimals")
            << QByteArray() << QList<int>{1234, 100, 65535} << 2 << QByteArray("ok")
            << QByteArray("2026-12-07T13:31:02.004+05:45,12.34,1,655.35,2,ok\r\n");
        QTest::newRow("west of UTC, failed poll")
            << QByteArray("America/New_York") << QList<int>{} << 2 << QByteArray("no answer")
            << QByteArray("2026-12-07T13:31:02.004-05:00,,,,2,no answer\r\n");
        QTest::newRow("UTC, three decimals")
            << QByteArray("UTC") << QList<int>{1, 65535, 300} << 3 << QByteArray("ok")
            << QByteArray("2026-12-07T13:31:02.004+00:00,0.001,65.535,0.3,3,ok\r\n");
        QTest::newRow("no decimal point")
            << QByteArray("Asia/Shanghai") << QList<int>{0, 7, 65535} << 9 << QByteArray("ok")
            << QByteArray("2026-12-07T13:31:02.004+08:00,0,7,65535,9,ok\r\n");
    }
    void RowsAreLocaleFree() {
        QFETCH(QByteArray, zone);
        QFETCH(QList<int>, raw);
        QFETCH(int, decimalPoint);
        QFETCH(QByteArray, outcome);
        QFETCH(QByteArray, row);
        const QDate date(2026, 12, 7);
        const QTime time(13, 31, 2, 4);
        log::CurrentSample s;
        s.time = zone.isEmpty() ? QDateTime(date, time) : QDateTime(date, time, QTimeZone(zone));
        s.ok = !raw.isEmpty();
        for (qsizetype i = 0; i < raw.size(); ++i)
            s.amps[std::size_t(i)] = raw[i] * meter::ScaleFor(decimalPoint);
        s.decimalPoint = decimalPoint;
        s.outcome = std::string_view(outcome.constData(), std::size_t(outcome.size()));
        QCOMPARE(log::CsvRow(s), row);
    }

    void HeaderOnlyInAnEmptyFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("polls.csv"));
        QCOMPARE(log::AppendCsv(path, {}), std::nullopt);
        QCOMPARE(log::AppendCsv(path, "a\r\n"), std::nullopt);
        QCOMPARE(log::AppendCsv(path, "b\r\n"), std::nullopt);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), log::CsvHeader() + "a\r\nb\r\n");
        QCOMPARE(log::CsvHeader(),
                 QByteArray("time,phase_a,phase_b,phase_c,decimal_point,outcome\r\n"));
        const auto reason = log::AppendCsv(dir.filePath(QStringLiteral("no/such/dir.csv")), "a");
        QVERIFY(reason && !reason->isEmpty());
    }

    // A row the system cuts short must not stay cut, nor glue the next row onto it, and the
    // box must say why.
    void RowsStayWholeWhenTheDiskFills_data() {
        QTest::addColumn<bool>("fileSystem"); // a full tmpfs; else a file size limit
        QTest::addColumn<QString>("reason");
        QTest::newRow("file size limit") << false << qt_error_string(EFBIG);
        QTest::newRow("full file system") << true << qt_error_string(ENOSPC);
    }
    void RowsStayWholeWhenTheDiskFills() {
        QFETCH(bool, fileSystem);
        QFETCH(QString, reason);
        const QByteArray row("2026-12-07T18:08:29.431+00:00,12.34,1,655.35,2,ok\r\n");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("polls.csv"));
        std::function<void()> giveSpaceBack;
        if (fileSystem) {
            // Two pages: one for a file that makes room again when it goes, one for the CSV.
            if (::mount("tmpfs", qPrintable(dir.path()), "tmpfs", 0, "size=8k") != 0)
                QSKIP("mounting a small file system needs root");
            const QString room = dir.filePath(QStringLiteral("room"));
            QFile file(room);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1 && file.flush());
            giveSpaceBack = [room] { QFile::remove(room); };
        } else {
            rlimit old{};
            getrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = old;
            small.rlim_cur = static_cast<rlim_t>(log::CsvHeader().size() + 3 * row.size() + 20);
            setrlimit(RLIMIT_FSIZE, &small);
            giveSpaceBack = [old] { setrlimit(RLIMIT_FSIZE, &old); };
        }
        const auto restore = qScopeGuard([&] {
            giveSpaceBack();
            if (fileSystem)
                ::umount2(qPrintable(dir.path()), MNT_DETACH);
        });
        int rows = 0;
        std::optional<QString> failure;
        while (!(failure = log::AppendCsv(path, row)) && rows < 1000)
            ++rows;
        QVERIFY(failure);
        QCOMPARE(*failure, reason);
        const auto contents = [&path] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QCOMPARE(contents(), log::CsvHeader() + row.repeated(rows));
        giveSpaceBack();
        QCOMPARE(log::AppendCsv(path, row), std::nullopt);
        QCOMPARE(contents(), log::CsvHeader() + row.repeated(rows + 1));
    }
};

int main(int argc, char** argv) {
    // Both must be in the environment before the application object reads them.
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("TZ", "Asia/Kathmandu");
    QCoreApplication app(argc, argv);
    TestCsvRecord test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_csvrecord.moc"
