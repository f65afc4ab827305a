// The current chart full: 43,200 samples of each phase (24 h at the 2 s poll period). For each
// range, the time to draw all in range afresh, and to add one sample and repaint; the chart's
// resident memory above the idle window.
//
//   bench_chart [ROUNDS]    samples added and repainted per range (default 20)

#include "bench/BenchRig.h"
#include "ui/CurrentChart.h"

#include <QApplication>
#include <QChartView>
#include <QTimeZone>

#include <cmath>
#include <cstdio>

namespace {

md::log::CurrentSample Sample(qint64 ms, int i) {
    md::log::CurrentSample s;
    s.time = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    s.ok = true;
    // A slow swing with some ripple, so that no two neighbours draw the same point.
    for (std::size_t p = 0; p < 3; ++p)
        s.amps[p] = 50 + 20 * std::sin(i / 500.0 + p * 2.1) + (i % 7) * 0.1;
    s.decimalPoint = 2;
    s.outcome = "ok";
    return s;
}

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int rounds = md::bench::CountArgument(argc, argv, 20, "[ROUNDS]");

    md::ui::CurrentSamples samples;
    md::ui::ChartWindow window(samples, nullptr);
    window.show();
    QChartView* view = window.findChild<QChartView*>();
    view->repaint();
    QApplication::processEvents();
    const double idle = md::bench::ResidentMiB();

    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 2000LL * md::ui::CurrentSamples::kLimit;
    window.SetRange(md::ui::ChartWindow::Range::Minute);
    int n = 0;
    for (; n < md::ui::CurrentSamples::kLimit; ++n)
        samples.Add(Sample(t0 + 2000LL * n, n));

    for (const auto& [range, name] : {std::pair{md::ui::ChartWindow::Range::Minute, "1 min"},
                                      {md::ui::ChartWindow::Range::TenMinutes, "10 min"},
                                      {md::ui::ChartWindow::Range::Hour, "1 h"},
                                      {md::ui::ChartWindow::Range::All, "all"}}) {
        const double drawMs = md::bench::MeanMs(1, [&] {
            window.SetRange(range);
            view->repaint();
        });
        const double addMs = md::bench::MeanMs(rounds, [&] {
            samples.Add(Sample(t0 + 2000LL * n, n));
            ++n;
            view->repaint();
        });
        std::printf("range %-6s  draw afresh %8.1f ms   add one sample and repaint %7.2f ms\n",
                    name, drawMs, addMs);
        std::fflush(stdout);
    }
    std::printf("resident memory: idle window %.1f MiB, full chart (all in view) %.1f MiB, "
                "difference %.1f MiB\n",
                idle, md::bench::ResidentMiB(), md::bench::ResidentMiB() - idle);
    return 0;
}
