// Numbers keep their full stop when the user's locale writes decimals with a comma. The
// application object is created under de_DE.UTF-8, which switches the C library's numeric
// locale, exactly as it happens for a German user.

#include "fakes/MainWindowRig.h"
#include "fakes/Support.h"
#include "meter/Registers.h"

#include <QApplication>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <functional>

using namespace md;

namespace {

// Drives a main window on the fake meter and returns what the row looks at.
using Probe = std::function<QByteArray(MainWindowRig&)>;

// Line n (1-based) of the log file, without its CR LF.
QByteArray LogLine(int n) {
    QFile file(QStringLiteral("Table.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\n').value(n - 1).chopped(1);
}

} // namespace

Q_DECLARE_METATYPE(Probe)

class TestLocale : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void numbersUseAFullStop_data();
    void numbersUseAFullStop();
};

// Without the comma locale these rows would pass whatever the code does.
void TestLocale::initTestCase() {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    QVERIFY2(QByteArray(text) == "1,5",
             "de_DE.UTF-8 is not available to the C library: run tools/setup");
}

void TestLocale::numbersUseAFullStop_data() {
    QTest::addColumn<Probe>("probe");
    QTest::addColumn<QByteArray>("expected");
    const auto poll = [](MainWindowRig& w) {
        w.meter.SetRegister(reg::kDecimalPoint, 2);
        w.meter.SetRegister(reg::kPhaseCurrents, 0x04D2);
        w.meter.SetSilent(true);
        w.dlg.OnTimer(1);
        w.meter.SetSilent(false);
        w.dlg.OnTimer(1);
        w.dlg.OnTimer(1);
    };
    QTest::newRow("phase current") << Probe([=](MainWindowRig& w) {
        poll(w);
        return w.Text(1051).toUtf8();
    }) << QByteArray("12.3400");
    QTest::newRow("error rate") << Probe([=](MainWindowRig& w) {
        poll(w);
        return w.Text(1071).toUtf8();
    }) << QByteArray("33.3333%");
    QTest::newRow("log record, six digits") << Probe([](MainWindowRig& w) {
        w.dlg.m_snapshot.m_dPhaseVoltA = 220.5;
        w.dlg.m_snapshot.m_dPhaseVoltB = 0.000125;
        w.dlg.AppendLogRecord();
        return LogLine(4).mid(9);
    }) << QByteArray("           0       220.5    0.000125           0");
    QTest::newRow("log record, exponent form") << Probe([](MainWindowRig& w) {
        w.dlg.m_snapshot.m_dFrequency = 1234567.5;
        w.dlg.m_snapshot.m_dRevActiveEnergy = 0.5;
        w.dlg.AppendLogRecord();
        return LogLine(11).mid(9, 12) + " | " + LogLine(13).left(23);
    }) << QByteArray("  1.2346e+06 |        0           -0.5");
}

void TestLocale::numbersUseAFullStop() {
    QFETCH(Probe, probe);
    QFETCH(QByteArray, expected);
    TempCurrentDir dir;
    QVERIFY(dir.IsValid());
    MainWindowRig w;
    w.Init();
    QCOMPARE(probe(w), expected);
}

int main(int argc, char** argv) {
    // The locale must be in the environment before the application object reads it.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    TestLocale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_locale.moc"
