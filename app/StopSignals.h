#pragma once
// SIGINT and SIGTERM for the runs without a window (the scan, a script): the first one asks the
// run to end at its next step, so that the port is given back as it was found (a terminal
// device keeps the last settings put to it); a second one ends the process at once.

#include <csignal>

namespace md {

// While it lives, the two signals are caught; on destruction the previous actions come back,
// and a signal that was caught is raised again with them, so that the process ends by it as
// its caller expects.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked the run to end; 0 while none did.
    static int Caught();

private:
    struct sigaction m_int {};
    struct sigaction m_term {};
};

} // namespace md
