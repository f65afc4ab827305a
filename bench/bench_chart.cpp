// The current chart full: 43,200 samples of each phase (24 h at the 2 s poll period), with none,
// 1 %, 10 % and every other poll failed. For each range, the time to draw all in range afresh,
// to add one sample and repaint, and to add one sample while the window is closed; the chart's
// resident memory above the idle window. Each share of failed polls runs in a process of its own,
// so that its memory is its own.
//
//   bench_chart [ROUNDS]    samples added and repainted per range (default 20)

#include "bench/BenchRig.h"
#include "ui/CurrentChart.h"

#include <QApplication>
#include <QChartView>
#include <QTimeZone>

#include <cmath>
#include <cstdio>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

md::log::CurrentSample Sample(qint64 ms, int i, bool ok) {
    md::log::CurrentSample s;
    s.time = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    s.ok = ok;
    // A slow swing with some ripple, so that no two neighbours draw the same point.
    for (std::size_t p = 0; p < 3; ++p)
        s.amps[p] = ok ? 50 + 20 * std::sin(i / 500.0 + p * 2.1) + (i % 7) * 0.1 : 0;
    s.decimalPoint = 2;
    s.outcome = ok ? "ok" : "no answer";
    return s;
}

void Run(int argc, char** argv, int rounds, int failedPercent) {
    QApplication app(argc, argv);
    md::ui::CurrentSamples samples;
    md::ui::ChartWindow window(samples, nullptr);
    window.show();
    QChartView* view = window.findChild<QChartView*>();
    view->repaint();
    QApplication::processEvents();
    const double idle = md::bench::ResidentMiB();

    // The same polls fail in every run; every other one when half fail.
    std::minstd_rand random(27);
    std::uniform_int_distribution<int> percent(0, 99);
    const auto ok = [&](int i) {
        return failedPercent == 50 ? i % 2 == 0 : percent(random) >= failedPercent;
    };
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 2000LL * md::ui::CurrentSamples::kLimit;
    window.SetRange(md::ui::ChartWindow::Range::Minute);
    int n = 0;
    for (; n < md::ui::CurrentSamples::kLimit; ++n)
        samples.Add(Sample(t0 + 2000LL * n, n, ok(n)));

    for (const auto& [range, name] : {std::pair{md::ui::ChartWindow::Range::Minute, "1 min"},
                                      {md::ui::ChartWindow::Range::TenMinutes, "10 min"},
                                      {md::ui::ChartWindow::Range::Hour, "1 h"},
                                      {md::ui::ChartWindow::Range::All, "all"}}) {
        window.show();
        const double drawMs = md::bench::MeanMs(1, [&] {
            window.SetRange(range);
            view->repaint();
        });
        const double addMs = md::bench::MeanMs(rounds, [&] {
            samples.Add(Sample(t0 + 2000LL * n, n, ok(n)));
            ++n;
            view->repaint();
        });
        const double hiddenMs = [&] {
            window.hide();
            return md::bench::MeanMs(rounds, [&] {
                samples.Add(Sample(t0 + 2000LL * n, n, ok(n)));
                ++n;
            });
        }();
        std::printf("%3d %%   %-6s  %8.1f ms   %8.2f ms   %8.2f ms\n", failedPercent, name, drawMs,
                    addMs, hiddenMs);
        std::fflush(stdout);
    }
    window.show();
    view->repaint();
    std::printf("%3d %%   resident memory: idle window %.1f MiB, full chart (all in view) %.1f "
                "MiB, difference %.1f MiB\n",
                failedPercent, idle, md::bench::ResidentMiB(), md::bench::ResidentMiB() - idle);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    const int rounds = md::bench::CountArgument(argc, argv, 20, "[ROUNDS]");
    std::printf("failed  range    draw afresh   add and repaint   add, window closed\n");
    std::fflush(stdout);
    for (const int failed : {0, 1, 10, 50}) {
        const pid_t child = fork();
        if (child == 0) {
            Run(argc, argv, rounds, failed);
            std::_Exit(0);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || status != 0)
            md::bench::Fail(
                QStringLiteral("the run with %1 % failed polls ended badly").arg(failed));
    }
    return 0;
}
