#pragma once
// MeterDebug --scan: looks for the meter on one port with the core application's event loop
// (no display needed), one line per meter on standard output.

#include "app/CommandLine.h"
#include "meter/MeterScan.h"

#include <QString>

namespace md {

// "address 37  9600 bit/s  parity even  answers in 23 ms"; without lineToo (a converter that
// sets its own line) "address 37  rate and parity of the converter  answers in 23 ms". A meter
// that missed some reads gets "  3 of 5 reads answered" at the end.
QString ScanHitLine(const meter::ScanHit& hit, bool lineToo = true);

// Runs the scan the options describe; a QCoreApplication must exist. Progress goes to standard
// error when it is a terminal. The lines of its own are English, like --help; the port's
// complaints it passes on come in the interface language. Returns the exit status: 0 found,
// 1 none, 2 the port (or every line setting) refused. SIGINT and SIGTERM end the scan with the
// port given back, then the process by the same signal.
int RunScanCommand(const Options& options);

} // namespace md
