#pragma once
// MeterDebug's meter operations from a script: the plan of the command line carried out by the
// window's own operations in meter/, without a display. One block of name=value lines, or one
// JSON object, per operation (per poll for --read-currents) and per meter on standard output.

#include "app/CommandLine.h"
#include "link/Clock.h"
#include "port/SerialControl.h"
#include "trace/Trace.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace md {

// Exit status of a script: every operation succeeded, the meter failed one (no answer, a wrong
// answer, a refusal), the command line was bad (or the CSV file cannot be written), the device
// could not be opened or was lost, the results could not be written to standard output.
enum ScriptStatus {
    kScriptOk = 0,
    kScriptMeterFailed = 1,
    kScriptUsage = 2,
    kScriptDevice = 3,
    kScriptOutput = 4,
};

struct ScriptStreams {
    std::function<void(const QByteArray&)> out; // UTF-8 results
    std::function<void(const QByteArray&)> err; // UTF-8 diagnostics, one line each
};

// What a run asks of the world around it as it goes; a check not given never fires.
struct ScriptChecks {
    // The system's reason when the results given to out so far did not all reach it; nothing
    // while they did.
    std::function<std::optional<QString>()> outFailure;
    // The signal that asked the run to stop (SIGINT, SIGTERM); 0 while none did.
    std::function<int()> stopSignal;
};

// Opens port (already pointed at its devices) at the plan's line, runs options.script's steps in
// order on clock, reports to trace (may be null) and io, and returns the exit status. The port
// is closed again at the end. Results that do not reach the output stop the run (status 4).
// Once checks.stopSignal names a signal, the operation in flight (the poll in flight of a
// series) ends, what was not run is reported interrupted, and the status is 128 + the signal,
// as a shell shows a process it ended.
int RunScript(const Options& options, SerialControl& port, Clock& clock, TraceSink* trace,
              const ScriptStreams& io, const ScriptChecks& checks = {});

// RunScript on the serial port control and the steady clock, with the devices the command line
// or the environment named, to standard output and standard error, with SIGPIPE ignored (a
// reader that went away fails the write instead) and SIGINT and SIGTERM ending the run after
// the operation in flight, then the process by the same signal. A QCoreApplication must exist.
int RunScriptCommand(const Options& options, TraceSink* trace);

} // namespace md
