#pragma once
// The command line, read once at start-up into one plain struct that is handed down. Nothing
// else in the program reads the arguments or the environment for these settings.

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace md {

struct Options {
    // The device behind port 1 and port 2: --comN, else METERDEBUG_COMn; empty for the
    // platform's own (COMn, /dev/ttyS(n-1)).
    std::array<QString, 2> devices;
    bool listPorts = false;
    QString trace; // empty for none, "-" for standard error
    bool localEcho = false;
    bool fast = false; // exchanges end when their answer is complete
    bool allCommands = false;
    QString language; // "en" or "zh"; empty: as last chosen, else Chinese
};

// What the command line asks for: run with options, or leave at once with a text and a code.
struct CommandLine {
    Options options;
    std::optional<int> exitCode; // set when the program ends without a window
    QString out;                 // for standard output
    QString err;                 // for standard error
};

// arguments as the process got them, the program's name first.
CommandLine ParseCommandLine(const QStringList& arguments, const QProcessEnvironment& env);

// The usage text that --help prints (the man page follows it).
QString UsageText();

// One serial port as --list-ports shows it; empty fields are unknown.
struct PortRow {
    QString device, description, manufacturer, serialNumber;
    std::optional<quint16> vendorId, productId;
};
// One port a line, columns aligned; "no serial ports found" when there are none.
QString PortListText(const QList<PortRow>& ports);
// The serial ports the system knows.
QList<PortRow> SystemPorts();

} // namespace md
