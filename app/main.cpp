// MeterDebug: a Modbus RTU master for testing the three-phase power meter over a serial line.

#include "app/CommandLine.h"
#include "app/MeterDebugApp.h"
#include "port/PortList.h"
#include "app/ScanCommand.h"
#include "app/ScriptCommand.h"
#include "trace/TraceWriter.h"
#include "ui/Language.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef SIGXFSZ
    // A file that reaches the process's size limit fails its write with "File too large",
    // which the CSV file and the trace report, instead of killing the process mid-row.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Read before the application object exists: --help, --version, --list-ports and errors
    // need no display and open no window.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // English needs its translator in place before the first message, and a translator needs
    // an application object: a bare one, without Qt's options, serves while the command line
    // is read.
    static int bareArgc = 1;
    std::unique_ptr<QCoreApplication> bare;
    const auto useLanguage = [&](const QString& code) {
        if (code != QLatin1String("en"))
            return;
        bare = std::make_unique<QCoreApplication>(bareArgc, argv);
        md::ui::SetLanguage(md::ui::Language::English);
    };
    const md::CommandLine cl =
        md::ParseCommandLine(arguments, QProcessEnvironment::systemEnvironment(), useLanguage);
    Print(stdout, cl.out);
    Print(stderr, cl.err);
    bare.reset();
    if (cl.exitCode)
        return *cl.exitCode;
    if (cl.options.listPorts) {
        Print(stdout, md::PortListText(md::SystemPortList().Ports()));
        return 0;
    }
    // Qt's options as Qt reads them; the application object keeps argc and argv.
    std::vector<QByteArray> qtBytes;
    for (const QString& arg : md::QtArguments(arguments))
        qtBytes.push_back(arg.toLocal8Bit());
    std::vector<char*> qtArgv;
    for (QByteArray& arg : qtBytes)
        qtArgv.push_back(arg.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtBytes.size());

    if (cl.options.scan) {
        QCoreApplication app(qtArgc, qtArgv.data());
        return md::RunScanCommand(cl.options);
    }

    std::unique_ptr<md::TraceWriter> trace;
    if (!cl.options.trace.isEmpty()) {
        std::string error;
        trace = md::TraceWriter::Open(cl.options.trace.toLocal8Bit().toStdString(), error);
        if (!trace) {
            Print(stderr, QStringLiteral("MeterDebug: cannot open the trace file '%1': %2\n")
                              .arg(cl.options.trace, QString::fromLocal8Bit(error.c_str())));
            return 2;
        }
    }

    if (!cl.options.script.steps.empty()) {
        QCoreApplication app(qtArgc, qtArgv.data());
        return md::RunScriptCommand(cl.options, trace.get());
    }

    QApplication app(qtArgc, qtArgv.data());
    md::theApp.m_options = cl.options;
    md::theApp.m_trace = trace.get();
    md::theApp.InitInstance();
    return 0;
}
