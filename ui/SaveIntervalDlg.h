#pragma once
// The storage interval dialog (dialog 146): hours, minutes and seconds between two log
// records. It only collects the three whole numbers; the main window judges the period.

#include "ui/Dialog.h"

namespace md::ui {

class CSaveIntervalDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kHoursEdit = 1000;
    static constexpr int kMinutesEdit = 1001;
    static constexpr int kSecondsEdit = 1002;

    explicit CSaveIntervalDlg(QWidget* parent = nullptr);

    int m_nHours = 0;
    int m_nMinutes = 0;
    int m_nSeconds = 1;

protected:
    void DoDataExchange(CDataExchange& dx) override;
};

} // namespace md::ui
