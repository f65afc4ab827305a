#include "bench/BenchRig.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>

namespace md::bench {

void Fail(const QString& text) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(text));
    std::exit(1);
}

void PreferOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

int CountArgument(int argc, char** argv, int fallback, const char* argUsage) {
    const int count = argc > 1 ? std::atoi(argv[1]) : fallback;
    if (count <= 0) {
        std::fprintf(stderr, "usage: %s %s\n", qPrintable(QCoreApplication::applicationName()),
                     argUsage);
        std::exit(2);
    }
    return count;
}

QString MeterSimProgram() {
    const QString program = qEnvironmentVariable("METERSIM");
    if (program.isEmpty()) {
        std::fprintf(stderr, "%s: METERSIM is not set\n",
                     qPrintable(QCoreApplication::applicationName()));
        std::exit(2);
    }
    return program;
}

void StartMeterSim(QProcess& sim, const QString& link, const QStringList& options) {
    // A benchmark that fails or is killed must not leave a meter behind.
    sim.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    sim.start(MeterSimProgram(), QStringList{QStringLiteral("--link"), link} + options);
    if (!sim.waitForStarted(10000))
        Fail(QStringLiteral("metersim did not start"));
    while (!sim.canReadLine())
        if (!sim.waitForReadyRead(10000))
            Fail(QStringLiteral("metersim did not get ready"));
    if (!sim.readLine().startsWith("ready"))
        Fail(QStringLiteral("metersim did not get ready"));
}

void RunWindow(ui::CMeterDebugDlg& dlg, int rate, const std::function<void()>& started) {
    dlg.m_byMeterAddress = 1;
    dlg.m_nBaudRate = rate;
    dlg.m_nParity = 0;
    dlg.m_nCommPort = 1;
    QTimer::singleShot(0, &dlg, [&] {
        if (!dlg.m_comm.GetPortOpen())
            Fail(QStringLiteral("the tool could not open the simulator's line"));
        started();
    });
    dlg.DoModal();
}

} // namespace md::bench
