// Numbers keep their full stop when the user's locale writes decimals with a comma: the
// application object is created under de_DE.UTF-8, which switches the C library's numeric
// locale, as it does for a German user.

#include "app/ScriptCommand.h"
#include "fakes/MainWindowRig.h"
#include "fakes/Support.h"

#include <QApplication>
#include <QFile>
#include <QTest>

using namespace md;

class TestLocale : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Without the comma locale the test would pass whatever the code does.
    void initTestCase() {
        QVERIFY2(DecimalCommaInForce(), "de_DE.UTF-8 is missing: run tools/setup");
    }

    void numbersUseAFullStop_data() {
        QTest::addColumn<int>("line"); // of the log record; 0: the current and the error rate
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("current, error rate") << 0 << QByteArray("12.3400 50.0000%");
        QTest::newRow("log record, %g") << 4 << QByteArray("       220.5    0.000125 ");
        QTest::newRow("log record, exponent") << 11 << QByteArray("  1.2346e+06 ");
    }
    void numbersUseAFullStop() {
        QFETCH(int, line);
        QFETCH(QByteArray, expected);
        TempCurrentDir dir;
        QVERIFY(dir.IsValid());
        MainWindowRig w;
        w.Init();
        w.meter.SetSilent(true); // the fake meter's currents start at 1234 with decimal point 2
        w.dlg.OnTimer(1);
        w.meter.SetSilent(false);
        w.dlg.OnTimer(1);
        w.dlg.m_snapshot.m_dPhaseVoltA = 220.5;
        w.dlg.m_snapshot.m_dPhaseVoltB = 0.000125;
        w.dlg.m_snapshot.m_dFrequency = 1234567.5;
        w.dlg.AppendLogRecord();
        QFile log(QStringLiteral("Table.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray got = line ? log.readAll().split('\n').value(line - 1)
                                    : (w.Text(1051) + u' ' + w.Text(1071)).toUtf8();
        QVERIFY2(got.contains(expected), got.toPercentEncoding(" ").constData());
    }

    // A script's currents, in both of its forms.
    void scriptNumbersUseAFullStop_data() {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("name=value") << "" << QByteArray("phase_a=12.3400\n");
        QTest::newRow("JSON") << "--json" << QByteArray("\"phase_a\":12.34,");
    }
    void scriptNumbersUseAFullStop() {
        QFETCH(QString, form);
        QFETCH(QByteArray, expected);
        VirtualClock clock;
        FakePort port(clock);
        FakeMeter meter(port);
        const CommandLine cl = ParseCommandLine(
            QStringList{"MeterDebug", "--com1", "/dev/ttyUSB0", "--read-currents", form}.filter(
                QRegularExpression(".")),
            {});
        QByteArray out;
        const ScriptStreams io{[&](const QByteArray& b) { out += b; }, [](const QByteArray&) {}};
        QCOMPARE(RunScript(cl.options, port, clock, nullptr, io), 0);
        QVERIFY2(out.contains(expected), out.constData());
    }
};

int main(int argc, char** argv) {
    // The locale must be in the environment before the application object reads it.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestLocale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_locale.moc"
