#pragma once
// The connection settings dialog (dialog 130): serial port, baud rate, parity and the meter
// address. It only collects the four values; start-up and the link reconfiguration use them.

#include "ui/Dialog.h"
#include "ui/FindMeterDlg.h"

#include <cstdint>

namespace md::ui {

class CCommSetDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kAddressEdit = 1000;
    static constexpr int kCom1 = 1009, kCom2 = 1010;
    static constexpr int kBaud1200 = 1011, kBaud19200 = 1015;
    static constexpr int kParityNone = 1016, kParityOdd = 1017, kParityEven = 1018;
    static constexpr int kFindMeter = 1019;

    explicit CCommSetDlg(QWidget* parent = nullptr);

    // The caller sets all four before DoModal; the radio handlers store a click at once.
    int m_nParity = 0;
    int m_nCommPort = 0;
    int m_nBaudRate = 0;
    std::uint8_t m_byMeterAddress = 0;
    // Where "查找仪表..." scans; without a port the button is disabled.
    FindMeterLine m_findLine;

    void OnBaud1200();
    void OnBaud2400();
    void OnBaud4800();
    void OnBaud9600();
    void OnBaud19200();
    void OnCom1();
    void OnCom2();
    void OnParityNone();
    void OnParityOdd();
    void OnParityEven();
    // Opens "查找仪表" at the settings shown; the meter it hands back fills rate, parity and
    // address.
    void OnFindMeter();

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void SelectBaud(int rate);
};

} // namespace md::ui
