#pragma once
// The meter operations a script asks for on the command line, read into a plan: which
// operations, in the order given, where the meter is, and how to report. Reading is a pure
// function of the parsed arguments; the plan is carried out by RunScript (ScriptCommand.h).

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

class QCommandLineParser;

namespace md {

enum class ScriptOp {
    ReadParams,
    WriteParams,
    SetAddress,
    ChangeRate,
    ReadCurrents,
    ReadIo,
    ReadClock,
    SetPt,
    SetCt,
    SetWiring,
};

// The option's name without its dashes: "read-params", "set-wiring", ...
QString ScriptOpName(ScriptOp op);

// "3p4w-unbalanced", "1p2w", "3p3w-unbalanced", "3p3w-balanced", "1p3w", "3p4w-balanced" for
// the codes 0 to 5 the setup dialog offers.
QString WiringModeName(int code);

// The parameter block values a --write-params names; the others keep the meter's values.
struct ParamChanges {
    std::optional<int> upper;
    std::optional<int> lower;
    std::optional<int> rate; // as the window's field takes it: a rate, or a code as it goes out
    std::optional<int> point;
};

struct ScriptStep {
    ScriptOp op = ScriptOp::ReadParams;
    ParamChanges params; // --write-params
    int value = 0;       // the address, rate, ratio or wiring mode code of the others
};

struct ScriptPlan {
    std::vector<ScriptStep> steps; // empty: no script, the window runs
    // Where the meter is; the connection dialog's defaults.
    int port = 1;
    int rate = 9600;
    char parity = 'N';
    int address = 1;
    // Every meter the operations run on, in the order given; address is the first. More than
    // one makes a bus run: each operation on every meter in turn, each result naming its meter.
    std::vector<int> addresses{1};
    // --read-currents: polls and the time from the start of one to the start of the next.
    int count = 1;
    std::uint32_t intervalMs = 2000;
    bool json = false;
    bool keepGoing = false;
};

// The part of --help that lists the operations and their options.
QString ScriptUsageText();

// The options of a script, added to the parser beside the others. --port is the scan's and
// is read here too.
QList<QCommandLineOption> ScriptOptions();

// The plan the parsed arguments ask for, or the one-line reason they cannot be used ("--set-pt:
// the ratio is 1 to 64000, not '0'"). An empty plan when no operation is given; options of the
// line or the report without an operation are refused. scan: --scan was given.
std::variant<ScriptPlan, QString> ReadScriptPlan(const QCommandLineParser& parser, bool scan);

} // namespace md
