#include "app/CommandLine.h"

#include "app/NetStart.h"
#include "meter/MeterScan.h"
#include "meter/Registers.h"
#include "port/DeviceName.h"
#include "ui/MeterDebugDlg.h"

#include <QCommandLineParser>
#include <QtGlobal>

#include <algorithm>
#include <span>
#include <variant>

namespace md {

namespace {

const char* const kUsage = R"(Usage: MeterDebug [options]
Tests the VX5200 three-phase power meter over a serial line, as Modbus RTU master.
With no options it starts with the connection settings dialog.

Options:
  --com1 DEVICE    the device behind port 1 (COM1), ahead of METERDEBUG_COM1 and of
                   the device remembered from the connection settings dialog;
                   a meter behind the network is tcp://HOST:PORT (RTU over TCP),
                   rfc2217://HOST:PORT (serial device server) or
                   modbus-tcp://HOST[:PORT] (Modbus TCP, port 502 by default)
  --com2 DEVICE    the device behind port 2 (COM2), likewise
  --list-ports     list the serial ports the system knows, with the stable name of
                   each USB adapter, then exit
  --trace FILE     append one line per frame sent and per collection of received
                   bytes to FILE ("-" for standard error)
  --csv FILE       append one row per measurement poll to FILE (UTF-8, comma
                   separated: local time, the three phase currents, decimal point,
                   outcome), the header first when FILE is empty
  --local-echo     the line adapter echoes what the tool sends: look for the request
                   among the first bytes that come back (up to 8 bytes of line noise
                   may precede it), and set it and what came before it aside; on an
                   adapter that does not echo, writes fail until a read is answered
                   without an echo ("no local echo received"); not with a
                   modbus-tcp:// device
  --fast           end each exchange as soon as its answer is complete (the fixed
                   waits become upper bounds) and pause only the Modbus inter-frame
                   gap between requests; timers keep their periods
  --all-commands   make every command reachable from the menu
  --scan           look for the meter on port 1 over every address, rate and
                   parity (addresses only over tcp:// and modbus-tcp://), print
                   one line per meter found, then exit (status 0 when a meter
                   was found, 1 when none, 2 on bad usage or a port
                   that cannot be used); --trace and --local-echo apply to its
                   reads, which always end as soon as the answer is complete
  --port N         the port --scan and the meter operations use: 1 (default) or 2
  --scan-window MS
                   how long each probe listens after its request, 20 to 1000
                   (default 100)
  --scan-all       go on after the first meter (several meters on one bus)
  --scan-addresses LIST
                   the addresses to try, e.g. 1-10,37 (default 1-247)
  --scan-rates LIST
                   the rates to try, e.g. 2400,9600 (default 1200 to 19200)
  --scan-parities LIST
                   the parities to try: none, even, odd or N, E, O (default all)
  --language LANG  the interface language: zh (Chinese, the default) or en
                   (English), ahead of the language last chosen in the menu
  -h, --help       show this text, then exit
  -v, --version    show the version, then exit

Qt's own start-up options (-platform NAME, -style NAME, -reverse, -display DISPLAY,
-qwindowgeometry GEOMETRY, -testability and the others Qt applications take) are
passed on to Qt.

Environment:
  METERDEBUG_COM1, METERDEBUG_COM2
                   the device behind port 1 or 2 when --com1 or --com2 is not given,
                   ahead of the remembered device
)";

CommandLine Leave(int code, const QString& out, const QString& err) {
    CommandLine cl;
    cl.exitCode = code;
    cl.out = out;
    cl.err = err;
    return cl;
}

// A reason is one line whatever the arguments it quotes: a line break or another control
// character in them is written as an escape.
QString OneLine(const QString& text) {
    QString line;
    for (const QChar c : text)
        line += c == QLatin1Char('\n') ? QStringLiteral("\\n")
                : c.category() == QChar::Other_Control
                    ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                    : QString(c);
    return line;
}

// One line with the reason, and nothing else.
CommandLine Refuse(const QString& reason) {
    return Leave(2, {}, QStringLiteral("MeterDebug: %1\n").arg(OneLine(reason)));
}

CommandLine UsageError(const QString& text) {
    return Leave(2, {}, QStringLiteral("MeterDebug: %1\n\n").arg(OneLine(text)) + UsageText());
}

// A value the scan cannot use: one line that names the option and the reason.
CommandLine BadValue(const QString& option, const QString& reason) {
    return Refuse(QStringLiteral("--%1: %2").arg(option, reason));
}

std::optional<int> Number(const QString& text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? std::optional(n) : std::nullopt;
}

// "1-10,37": single numbers and ranges from min to max; nothing when any part is not one.
std::optional<std::vector<int>> NumberList(const QString& text, int min, int max) {
    std::vector<int> list;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        const std::optional<int> from = Number(ends.first());
        const std::optional<int> to = ends.size() == 2 ? Number(ends.last()) : from;
        if (ends.size() > 2 || !from || !to || *from < min || *to > max || *from > *to)
            return std::nullopt;
        for (int n = *from; n <= *to; ++n)
            list.push_back(n);
    }
    return list;
}

std::optional<char> ParityLetter(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("n") || t == QLatin1String("none"))
        return 'N';
    if (t == QLatin1String("e") || t == QLatin1String("even"))
        return 'E';
    if (t == QLatin1String("o") || t == QLatin1String("odd"))
        return 'O';
    return std::nullopt;
}

// Qt's start-up options, which the application object takes from the same arguments wherever
// they stand: one dash or two, a value as the next argument or after "=".
const char* const kQtValueOptions[] = {
    "platform",     "platformpluginpath", "platformtheme", "plugin",   "qwindowgeometry",
    "qwindowicon",  "qwindowtitle",       "session",       "display",  "geometry",
    "style",        "stylesheet",         "name",          "title",    "visual",
};
// Without a value; qmljsdebugger takes its value only after "=".
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb",
                                "dograb",  "sync",        "testability"};
const char* const kQtEqualsOnly[] = {"qmljsdebugger"};

bool Among(const QString& name, std::span<const char* const> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const char* n) { return name == QLatin1String(n); });
}

// The arguments without Qt's own options, or the option whose value is missing.
std::variant<QStringList, QString> WithoutQtOptions(const QStringList& arguments) {
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (i == 0 || !arg.startsWith('-')) {
            ours << arg;
            continue;
        }
        const QString option = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = option.indexOf('=');
        const QString name = option.left(equals);
        if (Among(name, kQtValueOptions)) {
            // An empty value is as good as none: Qt would take "-platform ''" for a plugin
            // named "" and abort.
            if (equals < 0 ? ++i == arguments.size() || arguments[i].isEmpty()
                           : equals + 1 == option.size())
                return QStringLiteral("%1 needs a value").arg(arg.left(arg.indexOf('=')));
        } else if (!(equals < 0 ? Among(name, kQtFlags) : Among(name, kQtEqualsOnly))) {
            ours << arg;
        }
    }
    return ours;
}

// Why the script's device cannot carry it; empty when it can. A script runs only against the
// device it names: a remembered device, or the platform's first port, may be another
// machine's line. A converter behind the network keeps its own rate and parity, so the line
// options cannot reach it, and a meter moved to another rate would be stranded behind it.
QString ScriptDeviceProblem(const ScriptPlan& plan, const std::array<QString, 2>& devices,
                            const QCommandLineParser& parser) {
    if (plan.steps.empty())
        return {};
    const QString& device = devices[plan.port == 2 ? 1 : 0];
    if (device.isEmpty())
        return plan.port == 2
                   ? QStringLiteral("meter operations on port 2 need its device: give --com2 "
                                    "DEVICE or set METERDEBUG_COM2")
                   : QStringLiteral("meter operations need a device: give --com1 DEVICE or set "
                                    "METERDEBUG_COM1 (or --port 2 with --com2 or "
                                    "METERDEBUG_COM2)");
    if (SetsLine(TransportOf(device)))
        return {};
    for (const char* name : {"rate", "parity"})
        if (parser.isSet(QLatin1String(name)))
            return QStringLiteral("--%1 does not apply to %2: the converter sets the rate and "
                                  "parity")
                .arg(QLatin1String(name), device);
    for (const ScriptStep& step : plan.steps)
        if (step.op == ScriptOp::ChangeRate)
            return QStringLiteral("--change-rate: ") + ui::CMeterDebugDlg::RateChangeRefusal();
    return {};
}

} // namespace

QStringList QtArguments(const QStringList& arguments) {
    QStringList qt;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const qsizetype equals = arg.indexOf('=');
        const qsizetype dashes = arg.startsWith(QLatin1String("--")) ? 2 : 1;
        if (i > 0 && arg.startsWith('-') && equals > 0 &&
            Among(arg.mid(dashes, equals - dashes), kQtValueOptions))
            qt << arg.left(equals) << arg.mid(equals + 1);
        else
            qt << arg;
    }
    return qt;
}

QString UsageText() {
    // The meter operations are listed after the other options, ahead of Qt's.
    QString text = QString::fromUtf8(kUsage);
    const qsizetype qt = text.indexOf(QLatin1String("\nQt's own"));
    return text.insert(qt < 0 ? text.size() : qt, ScriptUsageText());
}

CommandLine ParseCommandLine(const QStringList& arguments, const QProcessEnvironment& env,
                             const std::function<void(const QString&)>& useLanguage) {
    const std::array<QCommandLineOption, 2> com{
        QCommandLineOption(QStringLiteral("com1"), {}, QStringLiteral("DEVICE")),
        QCommandLineOption(QStringLiteral("com2"), {}, QStringLiteral("DEVICE")),
    };
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption trace(QStringLiteral("trace"), {}, QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"), {}, QStringLiteral("FILE"));
    const QCommandLineOption localEcho(QStringLiteral("local-echo"));
    const QCommandLineOption fast(QStringLiteral("fast"));
    const QCommandLineOption allCommands(QStringLiteral("all-commands"));
    const QCommandLineOption scan(QStringLiteral("scan"));
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"));
    const QCommandLineOption scanWindow(QStringLiteral("scan-window"), {}, QStringLiteral("MS"));
    const QCommandLineOption scanAll(QStringLiteral("scan-all"));
    const QCommandLineOption scanAddresses(QStringLiteral("scan-addresses"), {},
                                           QStringLiteral("LIST"));
    const QCommandLineOption scanRates(QStringLiteral("scan-rates"), {}, QStringLiteral("LIST"));
    const QCommandLineOption scanParities(QStringLiteral("scan-parities"), {},
                                          QStringLiteral("LIST"));
    const QCommandLineOption language(QStringLiteral("language"), {}, QStringLiteral("LANG"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});

    const std::variant<QStringList, QString> ours = WithoutQtOptions(arguments);
    if (const QString* missing = std::get_if<QString>(&ours))
        return UsageError(*missing);

    QCommandLineParser parser;
    // "-bogus" is one unknown option, as Qt's own one-dash words are, not five letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({com[0], com[1], listPorts, trace, csv, localEcho, fast, allCommands,
                       language, scan, port, scanWindow, scanAll, scanAddresses, scanRates,
                       scanParities, help, version});
    parser.addOptions(ScriptOptions());
    if (!parser.parse(std::get<QStringList>(ours)))
        return UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return UsageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    if (parser.isSet(help))
        return Leave(0, UsageText(), {});
    if (parser.isSet(version))
        return Leave(0,
                     QStringLiteral("MeterDebug %1 (Qt %2)\n")
                         .arg(QStringLiteral(METERDEBUG_VERSION), QLatin1String(qVersion())),
                     {});

    CommandLine cl;
    Options& o = cl.options;
    // The language first, so that every message from here on comes in it.
    o.language = parser.value(language);
    if (parser.isSet(language) && o.language != QLatin1String("en") &&
        o.language != QLatin1String("zh"))
        return UsageError(QStringLiteral("--language takes en or zh, not '%1'").arg(o.language));
    if (parser.isSet(language) && useLanguage)
        useLanguage(o.language);
    for (std::size_t i = 0; i < com.size(); ++i) {
        const QString variable = QStringLiteral("METERDEBUG_COM%1").arg(i + 1);
        if (parser.isSet(com[i])) {
            o.devices[i] = parser.value(com[i]);
            if (o.devices[i].isEmpty())
                return UsageError(QStringLiteral("--com%1 needs a device").arg(i + 1));
        } else {
            o.devices[i] = env.value(variable);
        }
    }
    for (std::size_t i = 0; i < com.size(); ++i)
        if (const QString bad = DeviceProblem(o.devices[i]); !bad.isEmpty())
            return Refuse(QStringLiteral("COM%1: %2").arg(i + 1).arg(bad));
    o.listPorts = parser.isSet(listPorts);
    o.trace = parser.value(trace);
    if (parser.isSet(trace) && o.trace.isEmpty())
        return UsageError(QStringLiteral("--trace needs a file, or - for standard error"));
    o.csv = parser.value(csv);
    if (parser.isSet(csv) && o.csv.isEmpty())
        return UsageError(QStringLiteral("--csv needs a file"));
    o.localEcho = parser.isSet(localEcho);
    for (const QString& device : o.devices)
        if (const QString conflict = LocalEchoConflict(device); o.localEcho && !conflict.isEmpty())
            return UsageError(conflict);
    o.fast = parser.isSet(fast);
    o.allCommands = parser.isSet(allCommands);

    o.scan = parser.isSet(scan);
    for (const QCommandLineOption* other : {&listPorts, &csv})
        if (o.scan && parser.isSet(*other))
            return UsageError(
                QStringLiteral("--%1 does not go with --scan").arg(other->names().first()));
    const std::variant<ScriptPlan, QString> script = ReadScriptPlan(parser, o.scan);
    if (const QString* reason = std::get_if<QString>(&script))
        return Refuse(*reason);
    o.script = std::get<ScriptPlan>(script);
    if (const QString why = ScriptDeviceProblem(o.script, o.devices, parser); !why.isEmpty())
        return Refuse(why);
    for (const QCommandLineOption* only :
         {&port, &scanWindow, &scanAll, &scanAddresses, &scanRates, &scanParities})
        if (!o.scan && parser.isSet(*only) && (only != &port || o.script.steps.empty()))
            return UsageError(QStringLiteral("--%1 goes with --scan").arg(only->names().first()));
    if (parser.isSet(port)) {
        const std::optional<int> n = Number(parser.value(port));
        if (!n || (*n != 1 && *n != 2))
            return BadValue(QStringLiteral("port"), QStringLiteral("the port is 1 or 2"));
        o.scanPort = *n;
    }
    if (parser.isSet(scanWindow)) {
        const std::optional<int> ms = Number(parser.value(scanWindow));
        if (!ms || *ms < static_cast<int>(meter::kScanWindowMinMs) ||
            *ms > static_cast<int>(meter::kScanWindowMaxMs))
            return BadValue(QStringLiteral("scan-window"),
                            QStringLiteral("the window is 20 to 1000 ms"));
        o.scanWindowMs = static_cast<std::uint32_t>(*ms);
    }
    o.scanAll = parser.isSet(scanAll);
    const std::optional<std::vector<int>> addresses =
        NumberList(parser.isSet(scanAddresses) ? parser.value(scanAddresses)
                                               : QStringLiteral("1-247"),
                   1, 247);
    if (!addresses)
        return BadValue(QStringLiteral("scan-addresses"),
                        QStringLiteral("addresses and ranges from 1 to 247, e.g. 1-10,37"));
    o.scanAddresses = *addresses;
    o.scanRates = {1200, 2400, 4800, 9600, 19200};
    if (parser.isSet(scanRates)) {
        o.scanRates.clear();
        for (const QString& part : parser.value(scanRates).split(QLatin1Char(','))) {
            const std::optional<int> rate = Number(part);
            if (!rate || reg::BaudCodeOf(*rate) < 0)
                return BadValue(QStringLiteral("scan-rates"),
                                QStringLiteral("'%1' is not one of 1200, 2400, 4800, 9600, 19200")
                                    .arg(part));
            o.scanRates.push_back(*rate);
        }
    }
    o.scanParities = {'N', 'E', 'O'};
    if (parser.isSet(scanParities)) {
        o.scanParities.clear();
        for (const QString& part : parser.value(scanParities).split(QLatin1Char(','))) {
            const std::optional<char> parity = ParityLetter(part);
            if (!parity)
                return BadValue(QStringLiteral("scan-parities"),
                                QStringLiteral("'%1' is not none, even or odd").arg(part));
            o.scanParities.push_back(*parity);
        }
    }
    return cl;
}

QString PortListText(const QList<PortRow>& ports) {
    if (ports.isEmpty())
        return QStringLiteral("no serial ports found\n");
    const auto shown = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    const auto usb = [](const PortRow& p) {
        const auto hex = [](std::optional<quint16> id) {
            return id ? QStringLiteral("%1").arg(*id, 4, 16, QLatin1Char('0'))
                      : QStringLiteral("?");
        };
        return p.vendorId || p.productId ? hex(p.vendorId) + ':' + hex(p.productId)
                                         : QStringLiteral("-");
    };
    QList<QStringList> rows;
    for (const PortRow& p : ports)
        rows.append({p.device, shown(p.stableName), shown(p.description), shown(p.manufacturer),
                     shown(p.serialNumber), usb(p)});
    std::array<qsizetype, 6> width{};
    for (const QStringList& row : rows)
        for (std::size_t c = 0; c < width.size(); ++c)
            width[c] = std::max(width[c], row[qsizetype(c)].size());
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (std::size_t c = 0; c < width.size(); ++c)
            line += c + 1 < width.size() ? row[qsizetype(c)].leftJustified(width[c] + 2)
                                         : row[qsizetype(c)];
        text += line + '\n';
    }
    return text;
}

} // namespace md
