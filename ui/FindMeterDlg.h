#pragma once
// The "查找仪表" dialog: runs the meter scan on the connection dialog's port from the event
// loop, so the window stays responsive, shows its progress and the meters found, and hands
// the chosen one back.

#include "link/Clock.h"
#include "port/SerialControl.h"
#include "meter/MeterScan.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace md {
class CMSComm;
}

namespace md::ui {

// Where a scan runs: the serial port control and clock, and the device behind a port number
// as the dialog names it (none: the port's name alone).
struct FindMeterLine {
    SerialControl* port = nullptr;
    Clock* clock = nullptr;
    // The device the scan runs on, as the connection dialog shows it (empty: the platform's own).
    QString device;
    // Puts a device behind a port number and gives back the one named there before (empty for
    // the platform's own): each scan puts the device shown behind the port while it runs, so a
    // device typed into the dialog is scanned before the dialog ends.
    std::function<QString(int commPort, const QString& device)> aim;
};

// The aim for the tool's own serial port control.
std::function<QString(int, const QString&)> AimAt(CMSComm& comm);

class CFindMeterDlg : public QDialog {
    Q_OBJECT
public:
    // current: the connection dialog's settings, tried first.
    CFindMeterDlg(const FindMeterLine& line, int commPort, const meter::ScanPoint& current,
                  QWidget* parent = nullptr);
    ~CFindMeterDlg() override;

    // The meter "使用" took; nothing before.
    std::optional<meter::ScanHit> Chosen() const { return m_chosen; }
    // The addresses of every meter found, once "全部使用" took them; empty before. Chosen()
    // then holds the first meter when all share one rate and parity, and nothing otherwise.
    const std::vector<std::uint8_t>& ChosenAll() const { return m_chosenAll; }
    bool Running() const { return m_scan && !m_scan->Finished(); }

    void Start();
    // Ends a running scan at once; the port is back in its settings when this returns.
    void Stop();
    void Use();
    void UseAll();

    QPushButton* StartButton() const { return m_start; }
    QPushButton* StopButton() const { return m_stop; }
    QPushButton* UseButton() const { return m_use; }
    QPushButton* UseAllButton() const { return m_useAll; }
    QCheckBox* AllBox() const { return m_all; }
    QProgressBar* ProgressBar() const { return m_progress; }
    QLabel* StatusLabel() const { return m_status; }
    QTreeWidget* MeterList() const { return m_list; }

protected:
    void reject() override;

private:
    void OnStep();
    void AddHit(const meter::ScanHit& hit);
    void ShowProgress();
    void ShowEnd();
    void UpdateButtons();

    FindMeterLine m_line;
    int m_commPort;
    meter::ScanPoint m_current;
    std::unique_ptr<meter::MeterScan> m_scan;
    QTimer m_steps;
    std::vector<meter::ScanHit> m_hits;
    std::optional<meter::ScanHit> m_chosen;
    std::vector<std::uint8_t> m_chosenAll;

    QLineEdit* m_device = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QTreeWidget* m_list = nullptr;
    QCheckBox* m_all = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_use = nullptr;
    QPushButton* m_useAll = nullptr;
};

} // namespace md::ui
