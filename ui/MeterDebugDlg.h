#pragma once
// The main window (dialog 102): connection state, displayed values, link statistics, the
// exchange with its buffers, the meter setup copies, the logging state and the snapshot.

#include "link/Clock.h"
#include "link/Exchange.h"
#include "link/SerialControl.h"
#include "log/LogRecord.h"
#include "ui/Dialog.h"

#include <QColor>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <memory>

class QAbstractButton;

namespace md::ui {

class CMeterDebugDlg : public CDialog {
    Q_OBJECT
public:
    // port and clock default to the real serial port control and the steady clock.
    explicit CMeterDebugDlg(QWidget* parent = nullptr, SerialControl* port = nullptr,
                            Clock* clock = nullptr);
    ~CMeterDebugDlg() override;

    // Connection settings, set by start-up before DoModal.
    std::uint8_t m_byMeterAddress = 0;
    int m_nParity = 0;
    int m_nBaudRate = 0;
    int m_nCommPort = 0;
    // Storage interval offered by the logging dialog; logging flag.
    int m_nSaveHours = 0;
    int m_nSaveMinutes = 0;
    int m_nSaveSeconds = 0;
    int m_bSaving = 0;
    QAbstractButton* m_btnSave = nullptr; // control 1021
    // Bound fields.
    int m_nParamBaudRate = 0;
    int m_nUpperLimit = 0;
    int m_nDecimalPoint = 0;
    int m_nLowerLimit = 0;
    int m_nLocalAddress = 0;
    QString m_strPrompt;
    QString m_strCurrentA;
    QString m_strCurrentB;
    QString m_strCurrentC;
    QString m_strErrorRate;
    int m_nSuccessCount = 0;
    int m_nFailureCount = 0;
    // Meter setup copies.
    std::uint8_t m_nWiringMode = 0;
    int m_nCT = 0;
    int m_nPT = 0;
    // Measurement snapshot printed by the log record.
    log::MeasurementSnapshot m_snapshot;
    QIcon m_hIcon;

    SerialControl& m_comm;
    CExchange& Link() { return m_link; }

    // Command handlers (buttons and timer).
    void OnCommSettings();
    void OnMeterSetup();
    void OnTechSupport();
    void OnReadMeterTime();
    void OnStartSave();
    void OnPhaseCurrentAnalysis();
    void OnReadParams();
    void OnWriteParams();
    void OnStop();
    void OnReadMeasurements();
    void OnModifyAddress();
    void OnReadSwitchState();
    void OnTimer(unsigned id) override;

    void PollMeasurements();
    void ReadSwitchState();
    void PaintStateText(int id, const QString& text, QColor colour);
    void AppendLogRecord();

    // "9600N,8,2" for the current baud rate and parity.
    QString SettingsText() const;
    // Connection summary; reconfigured = true gives the one-blank no-parity line.
    QString Summary(bool reconfigured) const;

    bool DestroyWindow();

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void paintEvent(QPaintEvent* event) override;
    void done(int result) override;

private:
    std::unique_ptr<SerialControl> m_ownPort;
    std::unique_ptr<Clock> m_ownClock;
    CExchange m_link;
};

} // namespace md::ui
