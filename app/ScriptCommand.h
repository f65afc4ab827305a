#pragma once
// MeterDebug's meter operations from a script: the plan of the command line carried out by the
// window's own operations in meter/, without a display. One block of name=value lines, or one
// JSON object, per operation (per poll for --read-currents) on standard output.

#include "app/CommandLine.h"
#include "link/Clock.h"
#include "port/SerialControl.h"
#include "trace/Trace.h"

#include <QByteArray>

#include <functional>

namespace md {

// Exit status of a script: every operation succeeded, the meter failed one (no answer, a wrong
// answer, a refusal), the command line was bad, the device could not be opened or was lost.
enum ScriptStatus { kScriptOk = 0, kScriptMeterFailed = 1, kScriptUsage = 2, kScriptDevice = 3 };

struct ScriptStreams {
    std::function<void(const QByteArray&)> out; // UTF-8 results
    std::function<void(const QByteArray&)> err; // UTF-8 diagnostics, one line each
};

// Opens port (already pointed at its devices) at the plan's line, runs options.script's steps in
// order on clock, reports to trace (may be null) and io, and returns the exit status. The port
// is closed again at the end.
int RunScript(const Options& options, SerialControl& port, Clock& clock, TraceSink* trace,
              const ScriptStreams& io);

// RunScript on the serial port control and the steady clock, with the devices the window would
// start with, to standard output and standard error. A QCoreApplication must exist.
int RunScriptCommand(const Options& options, TraceSink* trace);

} // namespace md
