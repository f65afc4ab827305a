// The command line: one table of argument lists and what they come to (settings, or an exit
// code with a text on the right stream), and the port list's layout.

#include "app/CommandLine.h"

#include <QtTest>

using namespace md;

class tst_commandline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ArgumentsComeToSettingsOrAnExit_data();
    void ArgumentsComeToSettingsOrAnExit();
    void ScanOptionsOrAOneLineReason_data();
    void ScanOptionsOrAOneLineReason();
    void PortListIsAligned_data();
    void PortListIsAligned();
};

void tst_commandline::ArgumentsComeToSettingsOrAnExit_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env"); // METERDEBUG_COM1, METERDEBUG_COM2 ("" unset)
    QTest::addColumn<int>("exitCode");    // -1: the window runs
    QTest::addColumn<QString>("out");     // start of standard output
    QTest::addColumn<QString>("err");     // start of standard error
    QTest::addColumn<QStringList>("devices");
    // l(ist) e(cho) f(ast) a(ll commands), c=csv, t=trace, L=language, Q=what Qt gets (last)
    QTest::addColumn<QString>("flags");

    const QStringList noEnv{"", ""};
    const QStringList platform{"", ""};
    QTest::newRow("nothing: as before") << QStringList{} << noEnv << -1 << ""
                                        << "" << platform << "";
    QTest::newRow("environment still names the ports")
        << QStringList{} << QStringList{"/tmp/a", "/tmp/b"} << -1 << ""
        << "" << QStringList{"/tmp/a", "/tmp/b"} << "";
    QTest::newRow("--com1 ahead of the environment")
        << QStringList{"--com1", "/dev/ttyUSB0"} << QStringList{"/tmp/a", "/tmp/b"} << -1 << ""
        << "" << QStringList{"/dev/ttyUSB0", "/tmp/b"} << "";
    QTest::newRow("--com2=DEVICE form") << QStringList{"--com2=/dev/ttyUSB1"} << noEnv << -1 << ""
                                        << "" << QStringList{"", "/dev/ttyUSB1"} << "";
    QTest::newRow("every switch") << QStringList{"--list-ports",   "--local-echo", "--fast",
                                                 "--all-commands", "--trace",      "-",
                                                 "--csv",          "polls.csv"}
                                  << noEnv << -1 << ""
                                  << "" << platform << "lefa c=polls.csv t=-";
    QTest::newRow("Chinese asked for") << QStringList{"--language", "zh"} << noEnv << -1 << ""
                                       << "" << platform << "L=zh";
    QTest::newRow("a language there is none of")
        << QStringList{"--language=fr"} << noEnv << 2 << ""
        << "MeterDebug: --language takes en or zh, not 'fr'\n"
        << platform << "";
    QTest::newRow("help") << QStringList{"--help"} << noEnv << 0 << "Usage: MeterDebug"
                          << "" << platform << "";
    QTest::newRow("help wins over other options")
        << QStringList{"--all-commands", "-h"} << noEnv << 0 << "Usage: MeterDebug"
        << "" << platform << "";
    QTest::newRow("version") << QStringList{"--version"} << noEnv << 0 << "MeterDebug 2."
                             << "" << platform << "";
    QTest::newRow("unknown option")
        << QStringList{"--fats"} << noEnv << 2 << ""
        << "MeterDebug: Unknown option 'fats'.\n\nUsage: MeterDebug" << platform << "";
    QTest::newRow("missing value")
        << QStringList{"--trace"} << noEnv << 2 << ""
        << "MeterDebug: Missing value after '--trace'.\n\nUsage:" << platform << "";
    QTest::newRow("empty device") << QStringList{"--com1="} << noEnv << 2 << ""
                                  << "MeterDebug: --com1 needs a device\n"
                                  << platform << "";
    QTest::newRow("empty trace file") << QStringList{"--trace", ""} << noEnv << 2 << ""
                                      << "MeterDebug: --trace needs a file" << platform << "";
    QTest::newRow("empty csv file") << QStringList{"--csv="} << noEnv << 2 << ""
                                    << "MeterDebug: --csv needs a file" << platform << "";
    QTest::newRow("stray argument") << QStringList{"COM3"} << noEnv << 2 << ""
                                    << "MeterDebug: unexpected argument 'COM3'" << platform << "";
    // Qt's own options are the application object's: left alone, in any of Qt's forms.
    QTest::newRow("Qt's options pass")
        << QStringList{"-platform", "xcb",  "-style=fusion",   "-reverse", "--fast",
                       "--display", ":1",   "-qwindowgeometry", "640x480", "-widgetcount",
                       "-qmljsdebugger=port:1234"}
        << noEnv << -1 << "" << "" << platform << "f";
    QTest::newRow("Qt's option without its value")
        << QStringList{"--fast", "-platform"} << noEnv << 2 << ""
        << "MeterDebug: -platform needs a value\n" << platform << "";
    QTest::newRow("Qt's option with nothing after =")
        << QStringList{"-platform="} << noEnv << 2 << ""
        << "MeterDebug: -platform needs a value\n" << platform << "";
    // Qt passes over its options' "=" forms: they reach it as two words.
    QTest::newRow("Qt's = forms go to Qt as two words")
        << QStringList{"-platform=offscreen", "--fast", "--style=fusion", "-reverse"} << noEnv
        << -1 << "" << "" << platform << "f Q=-platform offscreen --fast --style fusion -reverse";
    QTest::newRow("one dash and a word: one unknown option")
        << QStringList{"-bogus"} << noEnv << 2 << ""
        << "MeterDebug: Unknown option 'bogus'.\n\nUsage: MeterDebug" << platform << "";
}

void tst_commandline::ArgumentsComeToSettingsOrAnExit() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, devices);
    QFETCH(QString, flags);
    const QString qt = flags.section("Q=", 1);
    flags = flags.section("Q=", 0, 0);

    QProcessEnvironment environment;
    for (int i = 0; i < 2; ++i)
        if (!env[i].isEmpty())
            environment.insert(QStringLiteral("METERDEBUG_COM%1").arg(i + 1), env[i]);
    const CommandLine cl = ParseCommandLine(QStringList{"MeterDebug"} + args, environment);

    QCOMPARE(cl.exitCode.value_or(-1), exitCode);
    QVERIFY2(out.isEmpty() ? cl.out.isEmpty() : cl.out.startsWith(out), qPrintable(cl.out));
    QVERIFY2(err.isEmpty() ? cl.err.isEmpty() : cl.err.startsWith(err), qPrintable(cl.err));
    if (exitCode >= 0)
        return;
    QCOMPARE(cl.options.devices[0], devices[0]);
    QCOMPARE(cl.options.devices[1], devices[1]);
    QCOMPARE(cl.options.listPorts, flags.contains('l'));
    QCOMPARE(cl.options.localEcho, flags.contains('e'));
    QCOMPARE(cl.options.fast, flags.contains('f'));
    QCOMPARE(cl.options.allCommands, flags.contains('a'));
    QCOMPARE(cl.options.trace, flags.contains("t=") ? flags.section("t=", 1) : QString());
    QCOMPARE(cl.options.csv, flags.section("c=", 1).section(' ', 0, 0));
    QCOMPARE(cl.options.language, flags.contains("L=") ? flags.section("L=", 1) : QString());
    if (!qt.isEmpty())
        QCOMPARE(QtArguments(QStringList{"MeterDebug"} + args),
                 QStringList{"MeterDebug"} + qt.split(' '));
}

void tst_commandline::ScanOptionsOrAOneLineReason_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result"); // the scan's options, or the whole error text

    QTest::newRow("defaults") << QStringList{"--scan"} << -1
                              << "port 1, 100 ms, first, 247 addresses, 1200 2400 4800 9600 "
                                 "19200, NEO";
    QTest::newRow("narrowed")
        << QStringList{"--scan", "--port", "2", "--scan-window", "20", "--scan-all",
                       "--scan-addresses", "1-3,37", "--scan-rates", "2400,9600",
                       "--scan-parities", "odd,N"}
        << -1 << "port 2, 20 ms, all, 4 addresses, 2400 9600, ON";
    const struct {
        const char* name;
        QStringList args;
        const char* error;
    } bad[] = {
        {"window too short", {"--scan-window", "19"}, "--scan-window: the window is 20 to 1000 ms"},
        {"port 3", {"--port", "3"}, "--port: the port is 1 or 2"},
        {"rate without a code", {"--scan-rates", "9600,300"},
         "--scan-rates: '300' is not one of 1200, 2400, 4800, 9600, 19200"},
        {"parity mark", {"--scan-parities", "mark"}, "--scan-parities: 'mark' is not none, even or odd"},
        {"address 0", {"--scan-addresses", "0-5"},
         "--scan-addresses: addresses and ranges from 1 to 247, e.g. 1-10,37"},
        {"range backwards", {"--scan-addresses", "9-3"},
         "--scan-addresses: addresses and ranges from 1 to 247, e.g. 1-10,37"},
    };
    for (const auto& row : bad)
        QTest::newRow(row.name) << QStringList{"--scan"} + row.args << 2
                                << QStringLiteral("MeterDebug: %1\n").arg(row.error);
    QTest::newRow("scan option without --scan")
        << QStringList{"--scan-all"} << 2 << "MeterDebug: --scan-all goes with --scan\n\nUsage:";
}

void tst_commandline::ScanOptionsOrAOneLineReason() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, result);

    const CommandLine cl = ParseCommandLine(QStringList{"MeterDebug"} + args, {});
    QCOMPARE(cl.exitCode.value_or(-1), exitCode);
    if (exitCode == 2) {
        QVERIFY2(cl.err.startsWith(result), qPrintable(cl.err));
        QVERIFY(result.endsWith("Usage:") || cl.err == result);
        return;
    }
    const Options& o = cl.options;
    QVERIFY(o.scan);
    QStringList rates;
    for (const int rate : o.scanRates)
        rates << QString::number(rate);
    const QString got = QStringLiteral("port %1, %2 ms, %3, %4 addresses, %5, %6")
                            .arg(o.scanPort)
                            .arg(o.scanWindowMs)
                            .arg(QLatin1String(o.scanAll ? "all" : "first"))
                            .arg(o.scanAddresses.size())
                            .arg(rates.join(' '))
                            .arg(QString::fromLatin1(o.scanParities.data(),
                                                     qsizetype(o.scanParities.size())));
    QCOMPARE(got, result);
}

void tst_commandline::PortListIsAligned_data() {
    QTest::addColumn<QList<PortRow>>("ports");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QList<PortRow>{} << "no serial ports found\n";
    QTest::newRow("an adapter with its stable name, and a plain port")
        << QList<PortRow>{{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K3X", 0x0403, 0x6001,
                           "/dev/serial/by-id/usb-FTDI_A10K3X-if00-port0"},
                          {"/dev/ttyS0", "", "", "", std::nullopt, std::nullopt, {}}}
        << "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_A10K3X-if00-port0  FT232R USB UART  FTDI  "
           "A10K3X  0403:6001\n"
           "/dev/ttyS0    -                                             -                -     "
           "-       -\n";
    QTest::newRow("vendor known, product not")
        << QList<PortRow>{{"COM3", "USB-SERIAL CH340", "wch.cn", "", 0x1a86, std::nullopt, {}}}
        << "COM3  -  USB-SERIAL CH340  wch.cn  -  1a86:?\n";
}

void tst_commandline::PortListIsAligned() {
    QFETCH(QList<PortRow>, ports);
    QFETCH(QString, text);
    QCOMPARE(PortListText(ports), text);
}

QTEST_APPLESS_MAIN(tst_commandline)
#include "tst_commandline.moc"
