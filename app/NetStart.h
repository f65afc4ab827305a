#pragma once
// Start-up's part for devices behind the network: what the trace says first, and the local echo
// that Modbus TCP has no use for.

#include <QString>

namespace md {

class TraceSink;

// "transport modbus-tcp, peer 10.0.0.5:502" as the trace's first line, for a network device;
// nothing for a serial one.
void NoteTransport(TraceSink& trace, const QString& device);
// True when device is a Modbus TCP device, after a box that says local echo is off for it.
bool RefuseLocalEcho(const QString& device);
// The command line's refusal of --local-echo with a Modbus TCP device; empty when none.
QString LocalEchoConflict(const QString& device);

// What is wrong with a device name that looks like a URL but cannot be used; empty otherwise.
QString DeviceProblem(const QString& device);

} // namespace md
