// What the program costs while it waits, over the real line to metersim ($METERSIM): the
// processor share of the start-up dialog left open, of the main window after it (not polling),
// of polling on the 2 s timer, and of a lost line with its box left open. The start-up runs as
// the program runs it, on the system's own port list.
//
//   bench_idle [SECONDS]    SECONDS of each state (default 10)

#include "app/MeterDebugApp.h"
#include "bench/BenchRig.h"
#include "fakes/MeterSim.h"
#include "fakes/PrivateSettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

using md::bench::CpuSeconds;
using md::bench::WallClock;

// The remembered devices are the program's own: the run must neither read nor change them.
const md::PrivateSettings settings;

// Measures the processor share of state over seconds, then runs next.
void Measure(const char* state, int seconds, std::function<void()> next) {
    const double cpu0 = CpuSeconds();
    const WallClock::time_point wall0 = WallClock::now();
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, [=] {
        const double cpu = CpuSeconds() - cpu0;
        const double wall = std::chrono::duration<double>(WallClock::now() - wall0).count();
        std::printf("%-34s CPU %.3f s in %.1f s = %.3f %% of one core\n", state, cpu, wall,
                    100.0 * cpu / wall);
        std::fflush(stdout);
        next();
    });
}

md::ui::CDialog* Modal() {
    return qobject_cast<md::ui::CDialog*>(QApplication::activeModalWidget());
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int seconds = md::bench::CountArgument(argc, argv, 10, "[SECONDS]");

    md::MeterSim sim;
    if (!sim.Start())
        md::bench::Fail(sim.Error());
    md::theApp.m_options.devices[0] = sim.LinkPath();

    bool lostBoxSeen = false;
    const auto endWindow = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        lostBoxSeen = box != nullptr;
        if (box)
            box->button(QMessageBox::Ok)->click();
        QTimer::singleShot(0, [] {
            md::ui::CDialog* window = Modal();
            window->SendCommand(1064);
            window->EndDialog(md::ui::IDCANCEL);
        });
    };
    const auto lose = [&] {
        if (!sim.Command(QStringLiteral("unplug")).startsWith(QStringLiteral("ok")))
            md::bench::Fail(sim.Error());
        Measure("lost line, its box open", seconds, endWindow);
    };
    const auto poll = [&] {
        Modal()->SendCommand(1065);
        Measure("polling", seconds, lose);
    };
    // Settled a second after each step, so that a state's start does not count.
    const auto settle = [](std::function<void()> then) { QTimer::singleShot(1000, then); };
    QTimer::singleShot(0, [&] {
        Measure("start-up dialog open", seconds, [&] {
            Modal()->SendCommand(md::ui::IDOK);
            settle([&] { Measure("main window, not polling", seconds, [&] { settle(poll); }); });
        });
    });
    md::theApp.InitInstance();
    if (!lostBoxSeen)
        md::bench::Fail(QStringLiteral("the lost line showed no box"));
    return 0;
}
