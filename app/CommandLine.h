#pragma once
// The command line, read once at start-up into one plain struct that is handed down. Nothing
// else in the program reads the arguments or the environment for these settings.

#include "app/ScriptPlan.h"
#include "port/PortList.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace md {

struct Options {
    // The device behind port 1 and port 2: --comN, else METERDEBUG_COMn; empty when neither
    // names one (start-up then takes the remembered device, else the platform's own).
    std::array<QString, 2> devices;
    bool listPorts = false;
    QString trace; // empty for none, "-" for standard error
    QString csv;   // a row per poll appended to this file; empty for none
    bool localEcho = false;
    bool fast = false; // exchanges end when their answer is complete
    bool allCommands = false;
    QString language; // "en" or "zh"; empty: as last chosen, else Chinese

    // --scan: look for a meter on one port, print what answers, and exit.
    bool scan = false;
    int scanPort = 1;
    std::uint32_t scanWindowMs = 100;
    bool scanAll = false;
    std::vector<int> scanAddresses; // 1..247 unless narrowed
    std::vector<int> scanRates;     // every rate the meter knows unless narrowed
    std::vector<char> scanParities; // 'N', 'E', 'O' unless narrowed

    // Meter operations run without a window, then exit (none: the window runs).
    ScriptPlan script;
};

// What the command line asks for: run with options, or leave at once with a text and a code.
struct CommandLine {
    Options options;
    std::optional<int> exitCode; // set when the program ends without a window
    QString out;                 // for standard output
    QString err;                 // for standard error
};

// arguments as the process got them, the program's name first. useLanguage gets the code of
// a valid --language as soon as it is read, ahead of every message that could be translated
// (a device name's problem, a refused rate change).
CommandLine ParseCommandLine(const QStringList& arguments, const QProcessEnvironment& env,
                             const std::function<void(const QString&)>& useLanguage = {});

// arguments as Qt's application object is to get them: Qt reads its options only as two words
// ("-platform offscreen") and passes over "-platform=offscreen", so that form is split.
QStringList QtArguments(const QStringList& arguments);

// The usage text that --help prints (the man page follows it).
QString UsageText();

// One port a line, columns aligned (device, stable name, description, maker, serial number,
// USB vendor:product); "no serial ports found" when there are none.
QString PortListText(const QList<PortRow>& ports);

} // namespace md
