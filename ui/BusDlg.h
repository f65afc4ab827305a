#pragma once
// "Meters on the bus": several meters on the main window's line, polled in turn, one row per
// meter. A window of its own beside the main one, like the monitor and the chart; it polls
// through the main window's exchange, so fast waits, local echo, the trace and the monitor
// apply, and the main window's port recovery runs around every step.

#include "link/Exchange.h"
#include "log/CsvRecord.h"
#include "meter/BusPoller.h"
#include "trace/TraceFanOut.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace md::ui {

class CurrentSamples;

// What the window polls through, as the main window lends it.
struct BusLine {
    CExchange* link = nullptr;
    TraceFanOut* trace = nullptr; // the fan-out the exchange reports to
    // Runs one step of the polling with the main window's port recovery and handler guard.
    std::function<void(const std::function<void()>&)> onLine;
    // Polling is about to start: whatever else polls the line stops first.
    std::function<void()> starting;
};

class BusWindow final : public QWidget {
    Q_OBJECT
public:
    enum Column {
        kAddress,
        kPhaseA,
        kPhaseB,
        kPhaseC,
        kDecimalPoint,
        kSuccess,
        kFailure,
        kErrorRate,
        kResponse,
        kState,
        kColumns
    };
    // Why the polling stopped, as the window says it.
    enum class StopReason { Operator, MainWindowPolls, Settings };

    BusWindow(BusLine line, QWidget* parent);
    ~BusWindow() override;

    // Puts the addresses into the list (the meters a scan found), stopping a polling in hand.
    void SetAddresses(const std::vector<std::uint8_t>& addresses);
    // Takes the list and the interval and starts polling; false (and the status says why) when
    // the list is refused.
    bool Start();
    void Stop(StopReason why = StopReason::Operator);
    bool Running() const { return m_poller != nullptr; }
    // The step the timer runs, and the ms until the next one.
    std::uint32_t Step();

    // Every poll from now on appends its row to path (empty: none).
    void SetCsvFile(const QString& path);
    // The samples of the meter at address, kept as long as the window lives; null before its
    // first poll.
    CurrentSamples* SamplesOf(std::uint8_t address) const;
    const meter::BusPoller* Poller() const { return m_poller.get(); }

    // A row was selected: the meter at address, and its samples.
    std::function<void(std::uint8_t address, CurrentSamples& samples)> onSelected;

    QLineEdit* AddressEdit() const { return m_addresses; }
    QSpinBox* IntervalBox() const { return m_interval; }
    QPushButton* StartButton() const { return m_start; }
    QPushButton* StopButton() const { return m_stop; }
    QTableWidget* Table() const { return m_table; }
    QLabel* StatusLabel() const { return m_status; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void Retranslate();
    void OnTimer();
    void OnPolled(const meter::BusPoll& poll);
    void OnSelection();
    void ShowRows();
    void ShowRow(int row);
    void ShowStatus(std::function<QString()> text);
    void UpdateButtons();
    QString StateText(const meter::BusMeter& m) const;
    void AppendCsv(const QByteArray& rows);

    BusLine m_line;
    std::unique_ptr<meter::BusPoller> m_poller;
    QTimer m_timer;
    std::map<std::uint8_t, std::unique_ptr<CurrentSamples>> m_samples;
    QString m_csvPath;
    bool m_csvFailing = false;
    // The status line, made afresh in the language of the moment.
    std::function<QString()> m_statusText;

    QLabel* m_addressLabel;
    QLineEdit* m_addresses;
    QLabel* m_intervalLabel;
    QSpinBox* m_interval;
    QPushButton* m_start;
    QPushButton* m_stop;
    QTableWidget* m_table;
    QLabel* m_status;
};

} // namespace md::ui
