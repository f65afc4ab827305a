#pragma once
// Every dialog and window of the program, each made as the operator first sees it, for the
// tests that walk them all (names for assistive technology, texts in each language). A new
// window is one more row. Header-only, so that only tests that use it need the ui library.

#include "fakes/FakePort.h"
#include "fakes/MainWindowRig.h"
#include "fakes/VirtualClock.h"
#include "ui/AboutDlg.h"
#include "ui/CommSetDlg.h"
#include "ui/CurrentChart.h"
#include "ui/FindMeterDlg.h"
#include "ui/TrafficMonitor.h"
#include "ui/MeterSetDlg.h"
#include "ui/SaveIntervalDlg.h"

#include <QTest>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace md {

// A window on screen; owner keeps it and whatever it needs alive.
struct ShownWindow {
    std::unique_ptr<QObject> owner;
    QWidget* window;
};

namespace windows {

// The main window after its initialisation, on a fake port.
struct MainWindow : QObject {
    MainWindow() { rig.Init(); }
    MainWindowRig rig;
};

inline ShownWindow Main(bool allCommands) {
    auto* w = new MainWindow;
    if (allCommands)
        w->rig.dlg.EnableAllCommands();
    return {std::unique_ptr<QObject>(w), &w->rig.dlg};
}

// The monitor or the chart, opened from the main window's 查看 menu.
template <typename Open> ShownWindow FromMain(Open open) {
    auto* w = new MainWindow;
    return {std::unique_ptr<QObject>(w), open(w->rig.dlg)};
}

// 查找仪表 as the connection dialog opens it, on a fake port.
struct FindMeter : QObject {
    VirtualClock clock;
    FakePort port{clock};
    ui::CFindMeterDlg dlg{{&port, &clock, QStringLiteral("/dev/ttyUSB0"), {}}, 1, {1, 9600, 'N'}};
};

template <typename T> ShownWindow Make() {
    auto* dlg = new T;
    return {std::unique_ptr<QObject>(dlg), dlg};
}

} // namespace windows

inline const std::vector<std::pair<const char*, std::function<ShownWindow()>>> kWindows{
    {"main window", [] { return windows::Main(false); }},
    {"main window, all commands", [] { return windows::Main(true); }},
    {"connection settings", windows::Make<ui::CCommSetDlg>},
    {"meter setup", windows::Make<ui::CMeterSetDlg>},
    {"storage interval", windows::Make<ui::CSaveIntervalDlg>},
    {"about box", windows::Make<ui::CAboutDlg>},
    {"find meter",
     [] {
         auto* w = new windows::FindMeter;
         return ShownWindow{std::unique_ptr<QObject>(w), &w->dlg};
     }},
    {"traffic monitor",
     [] { return windows::FromMain([](ui::CMeterDebugDlg& d) -> QWidget* { return d.ShowMonitor(); }); }},
    {"current chart",
     [] { return windows::FromMain([](ui::CMeterDebugDlg& d) -> QWidget* { return d.ShowChart(); }); }},
};

// One data row per window, in a column "window".
inline void WindowRows() {
    QTest::addColumn<QString>("window");
    for (const auto& [name, make] : kWindows)
        QTest::newRow(name) << QString::fromUtf8(name);
}

// The window of that row, shown.
inline ShownWindow ShowWindow(const QString& name) {
    for (const auto& [row, make] : kWindows)
        if (name == QLatin1String(row)) {
            ShownWindow shown = make();
            shown.window->show();
            return shown;
        }
    qFatal("no window %s", qPrintable(name));
}

} // namespace md
