#pragma once
// The application object: start-up asks for the connection settings, then runs the main
// window until it closes.

#include "app/CommandLine.h"

class QWidget;

namespace md {

class PortList;
class TraceSink;

class CMeterDebugApp {
public:
    // Runs the connection settings dialog and, on OK, the main window. Always false: no
    // message loop of the application's own follows the two dialogs.
    bool InitInstance();

    // The main window while it runs; null before and after.
    QWidget* m_pMainWnd = nullptr;

    // What the command line asked for; the defaults change nothing.
    Options m_options;
    // Where the exchange's traffic goes (--trace); none when null.
    TraceSink* m_trace = nullptr;
    // The serial ports the connection dialog offers; the system's when null.
    const PortList* m_ports = nullptr;
};

// The one application object.
extern CMeterDebugApp theApp;

} // namespace md
