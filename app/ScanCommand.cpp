#include "app/ScanCommand.h"

#include "app/InterfaceLanguage.h"
#include "app/PortSettings.h"
#include "app/StopSignals.h"
#include "port/DeviceName.h"
#include "port/MSComm.h"
#include "trace/TraceWriter.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace md {

namespace {

const char* ParityName(char parity) {
    return parity == 'E' ? "even" : parity == 'O' ? "odd" : "none";
}

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

QString ProgressLine(const meter::ScanProgress& p) {
    const std::uint64_t s = (p.leftMs + 999) / 1000;
    return QStringLiteral("\r%1 %2 bit/s  parity %3  address %4  %5/%6  about %7:%8 left %9")
        .arg(QLatin1String(p.confirming ? "confirming" : "scanning"))
        .arg(p.current.baudRate)
        .arg(QLatin1String(ParityName(p.current.parity)))
        .arg(p.current.address)
        .arg(p.done)
        .arg(p.total)
        .arg(s / 60)
        .arg(s % 60, 2, 10, QLatin1Char('0'))
        // The line never falls quiet at these settings: requests go out over the noise.
        .arg(QLatin1String(p.noisy ? " noisy line " : ""));
}

// "  3 of 5 reads answered" for a meter that missed some; nothing for one that answered all.
QString ReadsAnswered(const meter::ScanHit& hit) {
    if (hit.answered >= hit.reads)
        return {};
    return QStringLiteral("  %1 of %2 reads answered").arg(hit.answered).arg(hit.reads);
}

} // namespace

QString ScanHitLine(const meter::ScanHit& hit, bool lineToo) {
    if (!lineToo)
        return QStringLiteral("address %1  rate and parity of the converter  answers in %2 ms%3")
            .arg(hit.at.address)
            .arg(hit.responseMs)
            .arg(ReadsAnswered(hit));
    return QStringLiteral("address %1  %2 bit/s  parity %3  answers in %4 ms%5")
        .arg(hit.at.address)
        .arg(hit.at.baudRate)
        .arg(QLatin1String(ParityName(hit.at.parity)))
        .arg(hit.responseMs)
        .arg(ReadsAnswered(hit));
}

int RunScanCommand(const Options& options) {
    // The same device the window would start with: named, else remembered, else the platform's.
    const QSettings remembered(QStringLiteral("MeterDebug"), QStringLiteral("MeterDebug"));
    // The port's complaints come in the interface language, as the window would show them.
    ui::SetLanguage(StartLanguage(options, remembered));
    CMSComm comm;
    PutStartDevices(comm, options.devices, remembered);
    SteadyClock clock;

    // A converter keeps its own rate and parity: one line, every address.
    const QString device = comm.NamedDevice(options.scanPort);
    const bool linesToo = SetsLine(TransportOf(device));
    if (!linesToo)
        Print(stderr, QStringLiteral("MeterDebug: %1: the converter sets the rate and parity; "
                                     "scanning addresses only\n")
                          .arg(device));
    meter::ScanOptions scanOptions;
    scanOptions.order = meter::ScanOrder(
        {}, options.scanAddresses,
        linesToo ? options.scanRates : std::vector<int>{options.scanRates.front()},
        linesToo ? options.scanParities : std::vector<char>{options.scanParities.front()});
    scanOptions.windowMs = options.scanWindowMs;
    scanOptions.all = options.scanAll;
    scanOptions.commPort = static_cast<std::int16_t>(options.scanPort);
    meter::MeterScan scan(comm, clock, scanOptions);
    // The probes are exchanges like any other: traced, and read past the adapter's echo. Their
    // reads end as soon as the answer is complete, with --fast or without.
    std::unique_ptr<TraceWriter> trace;
    if (!options.trace.isEmpty()) {
        std::string error;
        trace = TraceWriter::Open(options.trace.toLocal8Bit().toStdString(), error);
        if (!trace) {
            Print(stderr, QStringLiteral("MeterDebug: cannot open the trace file '%1': %2\n")
                              .arg(options.trace, QString::fromLocal8Bit(error.c_str())));
            return 2;
        }
        scan.Link().SetTrace(*trace);
    }
    scan.Link().SetLocalEcho(options.localEcho);
    scan.Link().SetFastWaits(options.fast);

    const bool terminal = isatty(fileno(stderr)) != 0;
    qsizetype shown = 0; // width of the progress line on the terminal
    const auto clearProgress = [&] {
        if (shown > 0)
            Print(stderr, QLatin1Char('\r') + QString(shown, QLatin1Char(' ')) + QLatin1Char('\r'));
        shown = 0;
    };
    scan.onFound = [&](const meter::ScanHit& hit) {
        clearProgress();
        Print(stdout, ScanHitLine(hit, linesToo) + QLatin1Char('\n'));
    };

    const StopSignals stopSignals;
    std::uint32_t lastShown = clock.GetTickCount();
    QTimer steps;
    steps.setInterval(0);
    QObject::connect(&steps, &QTimer::timeout, [&] {
        if (StopSignals::Caught() != 0)
            scan.Cancel();
        if (!scan.Step()) {
            steps.stop();
            QCoreApplication::exit();
            return;
        }
        // A few updates a second are plenty for the eye and cost nothing.
        if (terminal && clock.GetTickCount() - lastShown >= 200) {
            lastShown = clock.GetTickCount();
            const QString line = ProgressLine(scan.Progress());
            Print(stderr, line);
            shown = std::max(shown, line.size());
        }
    });
    steps.start();
    QCoreApplication::exec();
    clearProgress();

    // Not one probe went out: the port could not be used, which is not "no meter".
    const bool refusedAll = scan.Probes() == 0 && !scan.Refusals().empty();
    for (const std::string& refusal : scan.Refusals())
        Print(stderr, QStringLiteral("MeterDebug: %1%2\n")
                          .arg(QLatin1String(refusedAll ? "" : "skipped: "),
                               QString::fromStdString(refusal)));
    if (!scan.Error().empty()) {
        Print(stderr, QStringLiteral("MeterDebug: %1\n").arg(QString::fromStdString(scan.Error())));
        return 2;
    }
    if (refusedAll)
        return 2;
    return scan.Hits().empty() ? 1 : 0;
}

} // namespace md
