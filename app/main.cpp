// MeterDebug: a Modbus RTU master for testing the three-phase power meter over a serial line.

#include "app/MeterDebugApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    md::theApp.InitInstance();
    return 0;
}
