#pragma once
// What the benchmarks over metersim share: starting metersim, opening the main window on its
// line, and the processor, memory and wall-time figures they report.

#include "fakes/ProcessFigures.h"
#include "ui/MeterDebugDlg.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace md::bench {

using WallClock = std::chrono::steady_clock;

using md::CpuSeconds;
using md::ResidentMiB;

// "PROGRAM: text" on standard error, then exit status 1. A metersim started by StartMeterSim
// ends with the program.
[[noreturn]] void Fail(const QString& text);

// Runs offscreen unless QT_QPA_PLATFORM says otherwise; call before the application is made.
void PreferOffscreen();
// The one optional argument, a positive count (fallback when absent); prints
// "usage: PROGRAM argUsage" and exits with status 2 when it is not positive.
int CountArgument(int argc, char** argv, int fallback, const char* argUsage);
// $METERSIM; exits with status 2 when it is not set.
QString MeterSimProgram();

// Starts $METERSIM on a link at link (options follow --link) and waits for its ready line;
// fails the program when metersim does not get ready.
void StartMeterSim(QProcess& sim, const QString& link, const QStringList& options);

// Shows dlg as the main window on port 1 at rate (address 1, no parity) until it is closed;
// started runs once the window is up with the port open.
void RunWindow(ui::CMeterDebugDlg& dlg, int rate, const std::function<void()>& started);

// Mean wall time of rounds runs of body, in ms.
template <typename F> double MeanMs(int rounds, F body) {
    double total = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = WallClock::now();
        body();
        total += std::chrono::duration<double, std::milli>(WallClock::now() - t0).count();
    }
    return total / rounds;
}

} // namespace md::bench
