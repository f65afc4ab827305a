// The command line: one table of argument lists and what they come to (settings, or an exit
// code with a text on the right stream), and the port list's layout.

#include "app/CommandLine.h"
#include "ui/MeterDebugDlg.h"

#include <QtTest>

using namespace md;

class tst_commandline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ArgumentsComeToSettingsOrAnExit_data();
    void ArgumentsComeToSettingsOrAnExit();
    void ScanOptionsOrAOneLineReason_data();
    void ScanOptionsOrAOneLineReason();
    void ScriptPlanOrAOneLineReason_data();
    void ScriptPlanOrAOneLineReason();
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
    QTest::newRow("Qt's option with an empty value")
        << QStringList{"-platform", "", "--fast"} << noEnv << 2 << ""
        << "MeterDebug: -platform needs a value\n" << platform << "";
    QTest::newRow("Qt's -testability goes to Qt")
        << QStringList{"-testability", "--fast"} << noEnv << -1 << "" << "" << platform
        << "f Q=-testability --fast";
    QTest::newRow("a script names its device")
        << QStringList{"--read-io"} << noEnv << 2 << ""
        << "MeterDebug: meter operations need a device: give --com1 DEVICE or set "
           "METERDEBUG_COM1"
        << platform << "";
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
    QTest::newRow("--list-ports would leave the scan undone")
        << QStringList{"--list-ports", "--scan"} << 2
        << "MeterDebug: --list-ports does not go with --scan\n\nUsage:";
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

// "1" for the one meter; "5,1,3" for several, in the order they are run.
static QString Addresses(const ScriptPlan& plan) {
    if (plan.addresses.size() <= 1)
        return QString::number(plan.address);
    QStringList list;
    for (const int address : plan.addresses)
        list << QString::number(address);
    return list.join(',');
}

// The plan in brief: "op(value) ...; port rate+parity @address xcount intervalms [json] [keep]".
static QString Described(const ScriptPlan& plan) {
    QStringList steps;
    for (const ScriptStep& step : plan.steps) {
        QString text = ScriptOpName(step.op);
        if (step.op == ScriptOp::WriteParams) {
            QStringList given;
            for (const auto& [letter, value] :
                 {std::pair{'u', step.params.upper}, {'l', step.params.lower},
                  {'r', step.params.rate}, {'p', step.params.point}})
                if (value)
                    given << QLatin1Char(letter) + QString::number(*value);
            text += '(' + given.join(' ') + ')';
        } else if (step.value) {
            text += QStringLiteral("(%1)").arg(step.value);
        }
        steps << text;
    }
    QString line = QStringLiteral("; port %1 %2%3 @%4 x%5 %6ms")
                       .arg(plan.port)
                       .arg(plan.rate)
                       .arg(QLatin1Char(plan.parity))
                       .arg(Addresses(plan))
                       .arg(plan.count)
                       .arg(plan.intervalMs);
    if (plan.json)
        line += QStringLiteral(" json");
    if (plan.keepGoing)
        line += QStringLiteral(" keep");
    return steps.join(' ') + line;
}

void tst_commandline::ScriptPlanOrAOneLineReason_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result"); // the plan in brief, or the one line on standard error

    const QString defaults = QStringLiteral("; port 1 9600N @1 x1 2000ms");
    QTest::newRow("no operation: the window") << QStringList{"--fast"} << -1 << defaults;
    QTest::newRow("every operation, in the order given")
        << QStringList{"--read-clock", "--write-params", "upper=1,lower=2,rate=9600,point=3",
                       "--read-params", "--set-address", "247", "--change-rate", "1200",
                       "--read-currents", "--read-io", "--set-pt", "64000", "--set-ct", "1",
                       "--set-wiring", "5"}
        << -1
        << "read-clock write-params(u1 l2 r9600 p3) read-params set-address(247) "
           "change-rate(1200) read-currents read-io set-pt(64000) set-ct(1) set-wiring(5)" +
               defaults;
    QTest::newRow("names not given are left out")
        << QStringList{"--write-params", " point = 0 ,upper=65535"} << -1
        << "write-params(u65535 p0)" + defaults;
    QTest::newRow("a rate as its code, as the field takes it")
        << QStringList{"--write-params=rate=3"} << -1 << "write-params(r3)" + defaults;
    QTest::newRow("where the meter is, and the report")
        << QStringList{"--read-io", "--port", "2", "--rate", "2400", "--parity", "odd",
                       "--address", "247", "--json", "--keep-going"}
        << -1 << "read-io; port 2 2400O @247 x1 2000ms json keep";
    QTest::newRow("a serial device server takes a rate change")
        << QStringList{"--com1", "rfc2217://10.0.0.5:7000", "--change-rate", "2400"} << -1
        << "change-rate(2400)" + defaults;
    QTest::newRow("parity as a letter") << QStringList{"--read-io", "--parity", "E"} << -1
                                        << "read-io; port 1 9600E @1 x1 2000ms";
    QTest::newRow("a series of polls")
        << QStringList{"--read-currents", "--count", "100", "--interval", "0"} << -1
        << "read-currents; port 1 9600N @1 x100 0ms";
    QTest::newRow("wiring by its name, in any case")
        << QStringList{"--set-wiring", "3P4W-Balanced"} << -1 << "set-wiring(5)" + defaults;
    QTest::newRow("wiring 1p3w") << QStringList{"--set-wiring", "1p3w"} << -1
                                 << "set-wiring(4)" + defaults;
    QTest::newRow("help wins over operations")
        << QStringList{"--read-io", "--help"} << 0 << "";
    QTest::newRow("several meters, in the order given, each once")
        << QStringList{"--read-io", "--address", "7,1,3-5,1"} << -1
        << "read-io; port 1 9600N @7,1,3,4,5 x1 2000ms";

    const struct {
        const char* name;
        QStringList args;
        const char* error;
    } bad[] = {
        {"threshold its register cannot carry", {"--write-params", "upper=65536"},
         "--write-params: upper is 0 to 65535, not '65536'"},
        {"negative threshold", {"--write-params", "upper=1,lower=-1"},
         "--write-params: lower is 0 to 65535, not '-1'"},
        {"a fraction", {"--write-params", "point=1.5"}, "--write-params: point is 0 to 3, not '1.5'"},
        {"a rate the meter has no code for", {"--write-params", "rate=960"},
         "--write-params: rate is 1200, 2400, 4800, 9600 or 19200 (or its code 0 to 4), not '960'"},
        {"a decimal point the meter cannot scale by", {"--write-params", "upper=5,point=22"},
         "--write-params: point is 0 to 3, not '22'"},
        {"unknown name", {"--write-params", "volts=3"},
         "--write-params: 'volts' is not upper, lower, rate or point"},
        {"name without value", {"--write-params", "upper"},
         "--write-params: upper needs a value, e.g. upper=500"},
        {"name twice", {"--write-params", "upper=1,upper=2"}, "--write-params: upper is given twice"},
        {"broadcast address", {"--set-address", "0"}, "--set-address: the address is 1 to 247, not '0'"},
        {"reserved address", {"--set-address", "248"},
         "--set-address: the address is 1 to 247, not '248'"},
        {"rate without a code", {"--change-rate", "300"},
         "--change-rate: '300' is not one of 1200, 2400, 4800, 9600, 19200"},
        {"PT 0", {"--set-pt", "0"}, "--set-pt: the ratio is 1 to 64000, not '0'"},
        {"a line break in a value stays in the one line", {"--set-pt", "1\n2"},
         "--set-pt: the ratio is 1 to 64000, not '1\\n2'"},
        {"CT above 64000", {"--set-ct", "64001"}, "--set-ct: the ratio is 1 to 64000, not '64001'"},
        {"wiring code 6", {"--set-wiring", "6"},
         "--set-wiring: '6' is not 0 to 5 or one of 3p4w-unbalanced, 1p2w, 3p3w-unbalanced, "
         "3p3w-balanced, 1p3w, 3p4w-balanced"},
        {"line rate", {"--read-io", "--rate", "300"},
         "--rate: '300' is not one of 1200, 2400, 4800, 9600, 19200"},
        {"line parity", {"--read-io", "--parity", "mark"}, "--parity: 'mark' is not none, odd or even"},
        {"line address", {"--read-io", "--address", "256"},
         "--address: the address is 1 to 247, not '256' (0 is the broadcast address, which no "
         "meter answers; 248 to 255 are reserved)"},
        {"broadcast line address", {"--read-io", "--address", "0"},
         "--address: the address is 1 to 247, not '0' (0 is the broadcast address, which no "
         "meter answers; 248 to 255 are reserved)"},
        {"reserved line address", {"--set-pt", "5", "--address", "250"},
         "--address: the address is 1 to 247, not '250' (0 is the broadcast address, which no "
         "meter answers; 248 to 255 are reserved)"},
        {"parity through a converter", {"--com1", "tcp://10.0.0.5:4001", "--read-io", "--parity", "E"},
         "--parity does not apply to tcp://10.0.0.5:4001: the converter sets the rate and parity"},
        {"port 3", {"--read-io", "--port", "3"}, "--port: the port is 1 to 2, not '3'"},
        {"addresses backwards", {"--read-io", "--address", "5-3"},
         "--address: the range '5-3' runs backwards"},
        {"a reserved address in a list", {"--read-io", "--address", "1,248"},
         "--address: '248' is not in 1 to 247 (0 is the broadcast address, which no meter "
         "answers; 248 to 255 are reserved)"},
        {"one new address for several meters",
         {"--read-io", "--set-address", "9", "--address", "1,3"},
         "--set-address takes one meter at a time, not the 2 of --address 1,3"},
        {"one new rate for several meters", {"--change-rate", "2400", "--address", "1-3"},
         "--change-rate takes one meter at a time, not the 3 of --address 1-3"},
        {"no polls", {"--read-currents", "--count", "0"},
         "--count: the count is 1 to 1000000, not '0'"},
        {"negative interval", {"--read-currents", "--interval=-1"},
         "--interval: the interval in ms is 0 to 86400000, not '-1'"},
        {"an operation twice", {"--read-io", "--read-clock", "--read-io"},
         "--read-io: given twice; each operation runs once"},
        {"count without polls", {"--read-io", "--count", "5"}, "--count goes with --read-currents"},
        {"line without an operation", {"--rate", "9600"}, "--rate goes with a meter operation"},
        {"json without an operation", {"--json"}, "--json goes with a meter operation"},
        {"scan and operations", {"--scan", "--read-io"}, "--scan does not go with meter operations"},
    };
    for (const auto& row : bad)
        QTest::newRow(row.name) << row.args << 2 << QStringLiteral("MeterDebug: %1\n").arg(row.error);
    // A meter moved to another rate behind a converter that stays would be out of reach.
    QTest::newRow("a rate change through Modbus TCP")
        << QStringList{"--com1", "modbus-tcp://10.0.0.5", "--change-rate", "19200"} << 2
        << QStringLiteral("MeterDebug: --change-rate: %1\n")
               .arg(ui::CMeterDebugDlg::RateChangeRefusal());
}

void tst_commandline::ScriptPlanOrAOneLineReason() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, result);

    // A script names its device; these rows are about everything else.
    QProcessEnvironment devices;
    devices.insert(QStringLiteral("METERDEBUG_COM1"), QStringLiteral("/dev/ttyUSB0"));
    devices.insert(QStringLiteral("METERDEBUG_COM2"), QStringLiteral("/dev/ttyUSB1"));
    const CommandLine cl = ParseCommandLine(QStringList{"MeterDebug"} + args, devices);
    QCOMPARE(cl.exitCode.value_or(-1), exitCode);
    if (exitCode == 2) {
        QCOMPARE(cl.err, result); // one line, and nothing for standard output
        QCOMPARE(cl.out, QString());
        QVERIFY(cl.options.script.steps.empty());
    } else if (exitCode < 0) {
        QCOMPARE(Described(cl.options.script), result);
    }
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
