#pragma once
// SIGINT, SIGTERM and SIGHUP end metersim's loop. They are let in only while the loop waits
// (ppoll with WaitMask), so none slips between a check and the wait.

#include <csignal>

namespace md::sim {

class StopSignals {
public:
    // Blocks the stop signals and ignores SIGPIPE (a peer gone is seen by its socket).
    StopSignals();
    // Restores the signal mask found.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Stopped() const;
    // The mask to wait with: the stop signals let in.
    const sigset_t* WaitMask() const { return &m_old; }

private:
    sigset_t m_old;
};

} // namespace md::sim
