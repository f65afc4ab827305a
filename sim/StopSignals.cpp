#include "sim/StopSignals.h"

namespace md::sim {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

StopSignals::StopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    for (int s : kStopSignals) {
        sigaddset(&stops, s);
        sigaction(s, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &stops, &m_old);
    std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
    sigprocmask(SIG_SETMASK, &m_old, nullptr);
}

bool StopSignals::Stopped() const {
    return g_stop != 0;
}

} // namespace md::sim
