#include "app/StopSignals.h"

namespace md {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    // The operator asked twice: whatever is in flight is not worth waiting for.
    if (g_stopSignal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_stopSignal = signal;
}

} // namespace

StopSignals::StopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_int);
    sigaction(SIGTERM, &action, &m_term);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &m_int, nullptr);
    sigaction(SIGTERM, &m_term, nullptr);
    if (g_stopSignal != 0)
        std::raise(g_stopSignal);
}

int StopSignals::Caught() {
    return g_stopSignal;
}

} // namespace md
