#pragma once
// Every dialog and window of the program, each made as the operator first sees it, for the
// tests that walk them all (names for assistive technology, texts in each language). A new
// window is one more row. Header-only, so that only tests that use it need the ui library.

#include "fakes/FakePort.h"
#include "fakes/MainWindowRig.h"
#include "fakes/VirtualClock.h"
#include "ui/AboutDlg.h"
#include "ui/BusDlg.h"
#include "ui/CommSetDlg.h"
#include "ui/CurrentChart.h"
#include "ui/FindMeterDlg.h"
#include "ui/MeterSetDlg.h"
#include "ui/SaveIntervalDlg.h"
#include "ui/TrafficMonitor.h"

#include <QTest>

#include <functional>
#include <map>
#include <memory>

namespace md {

// A window on screen; owner keeps it and whatever it needs alive.
struct ShownWindow {
    std::shared_ptr<void> owner;
    QWidget* window;
};

namespace windows {

// The main window after its initialisation on a fake port, or a window opened from it.
inline ShownWindow Main(bool allCommands, QWidget* (*open)(ui::CMeterDebugDlg&) = nullptr) {
    auto rig = std::make_shared<MainWindowRig>();
    rig->Init();
    if (allCommands)
        rig->dlg.EnableAllCommands();
    return {rig, open ? open(rig->dlg) : &rig->dlg};
}

// 查找仪表 as the connection dialog opens it, on a fake port.
struct FindMeter {
    VirtualClock clock;
    FakePort port{clock};
    ui::CFindMeterDlg dlg{{&port, &clock, QStringLiteral("/dev/ttyUSB0"), {}}, 1, {1, 9600, 'N'}};
};

template <typename T> ShownWindow Make() {
    auto dlg = std::make_shared<T>();
    return {dlg, dlg.get()};
}

} // namespace windows

inline const std::map<QString, std::function<ShownWindow()>> kWindows{
    {"main window", [] { return windows::Main(false); }},
    {"main window, all commands", [] { return windows::Main(true); }},
    {"connection settings", windows::Make<ui::CCommSetDlg>},
    {"meter setup", windows::Make<ui::CMeterSetDlg>},
    {"storage interval", windows::Make<ui::CSaveIntervalDlg>},
    {"about box", windows::Make<ui::CAboutDlg>},
    {"find meter",
     [] {
         auto w = std::make_shared<windows::FindMeter>();
         return ShownWindow{w, &w->dlg};
     }},
    {"traffic monitor",
     [] { return windows::Main(false, [](auto& d) -> QWidget* { return d.ShowMonitor(); }); }},
    {"current chart",
     [] { return windows::Main(false, [](auto& d) -> QWidget* { return d.ShowChart(); }); }},
    {"meters on the bus",
     [] { return windows::Main(false, [](auto& d) -> QWidget* { return d.ShowBus(); }); }},
};

// One data row per window, in a column "window".
inline void WindowRows() {
    QTest::addColumn<QString>("window");
    for (const auto& [name, make] : kWindows)
        QTest::newRow(qPrintable(name)) << name;
}

// The window of that row, shown.
inline ShownWindow ShowWindow(const QString& name) {
    ShownWindow shown = kWindows.at(name)();
    shown.window->show();
    return shown;
}

} // namespace md
