#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QSerialPortInfo>
#include <QtGlobal>

#include <algorithm>

namespace md {

namespace {

const char* const kUsage = R"(Usage: MeterDebug [options]
Tests the VX5200 three-phase power meter over a serial line, as Modbus RTU master.
With no options it starts with the connection settings dialog.

Options:
  --com1 DEVICE    the device behind port 1 (COM1), ahead of METERDEBUG_COM1
  --com2 DEVICE    the device behind port 2 (COM2), ahead of METERDEBUG_COM2
  --list-ports     list the serial ports the system knows, then exit
  --trace FILE     append one line per frame sent and per collection of received
                   bytes to FILE ("-" for standard error)
  --local-echo     the line adapter echoes what the tool sends: expect the request at
                   the start of what comes back and set it aside
  --fast           end each exchange as soon as its answer is complete (the fixed
                   waits become upper bounds) and pause only the Modbus inter-frame
                   gap between requests; timers keep their periods
  --all-commands   make every command reachable from the menu
  --language LANG  the interface language: zh (Chinese, the default) or en
                   (English), ahead of the language last chosen in the menu
  -h, --help       show this text, then exit
  -v, --version    show the version, then exit

Environment:
  METERDEBUG_COM1, METERDEBUG_COM2
                   the device behind port 1 or 2 when --com1 or --com2 is not given
)";

CommandLine Leave(int code, const QString& out, const QString& err) {
    CommandLine cl;
    cl.exitCode = code;
    cl.out = out;
    cl.err = err;
    return cl;
}

CommandLine UsageError(const QString& text) {
    return Leave(2, {}, QStringLiteral("MeterDebug: %1\n\n").arg(text) + UsageText());
}

} // namespace

QString UsageText() {
    return QString::fromUtf8(kUsage);
}

CommandLine ParseCommandLine(const QStringList& arguments, const QProcessEnvironment& env) {
    const std::array<QCommandLineOption, 2> com{
        QCommandLineOption(QStringLiteral("com1"), {}, QStringLiteral("DEVICE")),
        QCommandLineOption(QStringLiteral("com2"), {}, QStringLiteral("DEVICE")),
    };
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption trace(QStringLiteral("trace"), {}, QStringLiteral("FILE"));
    const QCommandLineOption localEcho(QStringLiteral("local-echo"));
    const QCommandLineOption fast(QStringLiteral("fast"));
    const QCommandLineOption allCommands(QStringLiteral("all-commands"));
    const QCommandLineOption language(QStringLiteral("language"), {}, QStringLiteral("LANG"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});

    QCommandLineParser parser;
    parser.addOptions(
        {com[0], com[1], listPorts, trace, localEcho, fast, allCommands, language, help, version});
    if (!parser.parse(arguments))
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
    o.listPorts = parser.isSet(listPorts);
    o.trace = parser.value(trace);
    if (parser.isSet(trace) && o.trace.isEmpty())
        return UsageError(QStringLiteral("--trace needs a file, or - for standard error"));
    o.localEcho = parser.isSet(localEcho);
    o.fast = parser.isSet(fast);
    o.allCommands = parser.isSet(allCommands);
    o.language = parser.value(language);
    if (parser.isSet(language) && o.language != QLatin1String("en") &&
        o.language != QLatin1String("zh"))
        return UsageError(QStringLiteral("--language takes en or zh, not '%1'").arg(o.language));
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
        rows.append(
            {p.device, shown(p.description), shown(p.manufacturer), shown(p.serialNumber), usb(p)});
    std::array<qsizetype, 5> width{};
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

QList<PortRow> SystemPorts() {
    QList<PortRow> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortRow row{info.systemLocation(), info.description(), info.manufacturer(),
                    info.serialNumber(),   std::nullopt,       std::nullopt};
        if (info.hasVendorIdentifier())
            row.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            row.productId = info.productIdentifier();
        ports.append(row);
    }
    return ports;
}

} // namespace md
