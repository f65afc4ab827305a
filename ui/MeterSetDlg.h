#pragma once
// The meter setup dialog (dialog 131): PT ratio, CT ratio and the wiring mode of the metered
// circuit. It only collects the three values; the main window writes them to the meter.

#include "meter/SetupOps.h"
#include "ui/Dialog.h"

#include <cstdint>

namespace md::ui {

class CMeterSetDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kPtEdit = 1000;
    static constexpr int kCtEdit = 1001;
    static constexpr int kFirstWiringRadio = 1009; // code 0
    static constexpr int kLastWiringRadio = kFirstWiringRadio + meter::kWiringModeCount - 1;
    static constexpr unsigned kMinRatio = meter::kRatioMin;
    static constexpr unsigned kMaxRatio = meter::kRatioMax;

    explicit CMeterSetDlg(QWidget* parent = nullptr);

    int m_nPT = 0;
    int m_nCT = 0;
    std::uint8_t m_nWiringMode = 0; // set by the caller before DoModal

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void OnWiringMode(int id);
};

} // namespace md::ui
