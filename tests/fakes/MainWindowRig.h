#pragma once
// The main window as the UI tests drive it, on COM1 at 9600 bit/s without parity: on a scripted
// port with an in-process meter and a virtual clock, or (given a MeterSim) on the real port
// and clock to metersim's line. Header-only, so that only tests that use it need the ui library.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/MeterSim.h"
#include "fakes/ModalHelper.h"
#include "fakes/VirtualClock.h"
#include "port/MSComm.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>

#include <functional>

namespace md {

struct MainWindowRig {
    struct Dlg : ui::CMeterDebugDlg {
        using CMeterDebugDlg::CMeterDebugDlg;
        using CMeterDebugDlg::OnInitDialog;
    };

    explicit MainWindowRig(std::uint8_t address = 1)
        : meter(port, address), dlg(nullptr, &port, &clock) {
        Preset(address);
    }
    explicit MainWindowRig(const MeterSim& sim, std::uint8_t address = 1)
        : meter(port, address), dlg(nullptr, &comm) {
        sim.PointComAt(comm, 1);
        Preset(address);
    }

    // Initialised as DoModal would, without its loop: the test sends commands and ticks itself.
    void Init() {
        dlg.OnInitDialog();
        port.ClearRecord();
    }

    // Runs steps inside the open window; the window closes afterwards even when a check fails.
    void Run(const std::function<void()>& steps) {
        modal.Answer([&](QWidget*) {
            struct Close {
                ui::CMeterDebugDlg& dlg;
                ~Close() { dlg.EndDialog(ui::IDCANCEL); }
            } close{dlg};
            port.ClearRecord();
            clock.ClearRecord();
            steps();
        });
        dlg.DoModal();
    }

    QString Text(int id) const { return dlg.GetDlgItemText(id); }
    void Type(int id, const QString& text) { ModalHelper::Type(dlg.Item(id), text); }
    void Click(int id) { dlg.Button(id)->click(); }
    bool Enabled(int id) const { return dlg.Button(id)->isEnabled(); }
    std::size_t Sent() const { return port.Outputs().size(); }

    VirtualClock clock;
    FakePort port{clock};
    FakeMeter meter;
    ModalHelper modal;
    CMSComm comm; // the real port, for a window on metersim's line
    Dlg dlg;

private:
    void Preset(std::uint8_t address) {
        dlg.m_byMeterAddress = address;
        dlg.m_nBaudRate = 9600;
        dlg.m_nParity = 0;
        dlg.m_nCommPort = 1;
    }
};

} // namespace md
