// The soak run behind tools/soak: the main window polls metersim for MINUTES while the line
// spoils answers in every way metersim knows and is pulled away every few minutes. At the end
// it sets the tool's counts against metersim's own trace and prints memory, processor share and
// the boxes the tool showed.
//
//   soak_run [MINUTES]    (default 10; METERSIM names the simulator)

#include "bench/BenchRig.h"
#include "port/MSComm.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

using md::bench::ResidentMiB;
using md::bench::WallClock;

// Every kind of spoiled answer, each on about one request in thirty; a late answer comes
// after the tool's 600 ms wait.
const QStringList kFaults = {"bad-crc:3%", "stray:3%",         "late:800:3%",  "truncated:3%",
                             "flood:3%",   "wrong-address:3%", "exception:3%", "silent:3%"};
// The first outage falls within the first minute, so that the memory its box costs once is
// part of the warm-up that the first-minute figure takes in.
constexpr auto kFirstOutage = std::chrono::seconds(30);
constexpr auto kOutageEvery = std::chrono::seconds(180);
constexpr auto kOutageLength = std::chrono::seconds(15);

// What metersim's trace says about the phase-current reads.
struct TraceCounts {
    int requests = 0; // reads the meter heard
    int good = 0;     // answers that reached the tool intact (a stray prefix does not spoil)
    int spoiled = 0;  // lost, corrupted, late, refused, or gone with the line

    void Take(const QString& line) {
        if (!line.contains(QStringLiteral("read 3 @0x0000")))
            return;
        if (line.contains(QStringLiteral(" -> ")) && !line.contains(QStringLiteral(" <- "))) {
            ++requests;
            return;
        }
        const bool fault = line.contains(QStringLiteral("[fault ")) &&
                           !line.contains(QStringLiteral("[fault stray"));
        if (fault || line.contains(QStringLiteral("lost")))
            ++spoiled;
        else
            ++good;
    }
};

// Every message box the tool opens is counted, named and closed at once.
class BoxCounter : public QObject {
public:
    QStringList texts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                texts << box->text();
                QTimer::singleShot(0, box, &QMessageBox::accept);
            }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    md::bench::PreferOffscreen();
    QApplication app(argc, argv);
    const int minutes = md::bench::CountArgument(argc, argv, 10, "[MINUTES]");

    QTemporaryDir dir;
    QStringList options = {"--trace", "--vary", "5", "--seed", "2006"};
    for (const QString& f : kFaults)
        options << QStringLiteral("--fault") << f;
    QProcess sim;
    md::bench::StartMeterSim(sim, dir.filePath(QStringLiteral("meter")), options);

    TraceCounts trace;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput, [&] {
        while (sim.canReadLine())
            trace.Take(QString::fromUtf8(sim.readLine()));
    });

    BoxCounter boxes;
    app.installEventFilter(&boxes);

    md::CMSComm comm;
    comm.SetDevice(1, dir.filePath(QStringLiteral("meter")));
    md::ui::CMeterDebugDlg dlg(nullptr, &comm);

    const auto start = WallClock::now();
    const auto end = start + std::chrono::minutes(minutes);
    auto nextOutage = start + kFirstOutage;
    WallClock::time_point outageEnds{};
    int outages = 0;
    bool pulled = false;
    double rssStart = ResidentMiB(), rssAfterMinute = 0, rssPeak = rssStart;
    int lastCount = 0;
    QList<double> perMinute;

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto now = WallClock::now();
        rssPeak = std::max(rssPeak, ResidentMiB());
        if (now - start >= std::chrono::minutes(perMinute.size() + 1))
            perMinute << ResidentMiB();
        if (rssAfterMinute == 0 && !perMinute.isEmpty())
            rssAfterMinute = perMinute.front();
        if (now >= end) {
            dlg.OnStop();
            dlg.EndDialog(md::ui::IDCANCEL);
            return;
        }
        // The line is pulled and given back just after a poll ends, so no answer is on its way
        // and the trace and the tool agree on every poll.
        const int count = dlg.m_nSuccessCount + dlg.m_nFailureCount;
        const bool pollEnded = count != lastCount;
        lastCount = count;
        if (!pollEnded)
            return;
        if (!pulled && now >= nextOutage) {
            sim.write(outages % 2 ? "vanish\n" : "unplug\n");
            pulled = true;
            ++outages;
            outageEnds = now + kOutageLength;
            nextOutage += kOutageEvery;
        } else if (pulled && now >= outageEnds) {
            sim.write(outages % 2 ? "replug\n" : "return\n");
            pulled = false;
        }
    });
    watch.start(50);

    const double cpuStart = md::bench::CpuSeconds();
    md::bench::RunWindow(dlg, 9600, [&] { dlg.OnReadMeasurements(); });
    const double cpu = md::bench::CpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(WallClock::now() - start).count();
    const double rssEnd = ResidentMiB();

    sim.write("quit\n");
    sim.waitForFinished(5000);
    while (sim.canReadLine())
        trace.Take(QString::fromUtf8(sim.readLine()));

    const int polls = dlg.m_nSuccessCount + dlg.m_nFailureCount;
    const int unsent = polls - trace.requests;
    const bool countsAgree =
        dlg.m_nSuccessCount == trace.good && dlg.m_nFailureCount == trace.spoiled + unsent;
    std::printf("soak %.1f min, %d outages of %lld s\n", wall / 60, outages,
                static_cast<long long>(kOutageLength.count()));
    std::printf("tool:  %d polls, %d successes, %d failures\n", polls, dlg.m_nSuccessCount,
                dlg.m_nFailureCount);
    std::printf("trace: %d reads heard, %d answered intact, %d spoiled; %d polls with the port "
                "lost (nothing sent) -> counts %s\n",
                trace.requests, trace.good, trace.spoiled, unsent,
                countsAgree ? "agree" : "DISAGREE");
    std::printf("memory: %.1f MiB at start, %.1f MiB after the first minute, %.1f MiB peak, "
                "%.1f MiB at the end (end - first minute %+.1f MiB)\n",
                rssStart, rssAfterMinute, rssPeak, rssEnd, rssEnd - rssAfterMinute);
    std::printf("memory at each minute (MiB):");
    for (const double m : perMinute)
        std::printf(" %.1f", m);
    std::printf("\n");
    std::printf("CPU: %.2f s in %.0f s = %.2f %% of one core\n", cpu, wall, 100 * cpu / wall);
    std::printf("boxes: %lld", static_cast<long long>(boxes.texts.size()));
    for (const QString& t : boxes.texts)
        std::printf("\n  %s", qPrintable(t));
    std::printf("\n");
    return countsAgree && boxes.texts.size() == outages ? 0 : 1;
}
