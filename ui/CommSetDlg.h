#pragma once
// The connection settings dialog (dialog 130): serial port, baud rate, parity and the meter
// address, and the device behind each port. It only collects the values; start-up and the
// link reconfiguration use them.

#include "port/PortList.h"
#include "ui/Dialog.h"
#include "ui/FindMeterDlg.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace md::ui {

class CCommSetDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kAddressEdit = 1000;
    static constexpr int kCom1 = 1009, kCom2 = 1010;
    static constexpr int kBaud1200 = 1011, kBaud19200 = 1015;
    static constexpr int kParityNone = 1016, kParityOdd = 1017, kParityEven = 1018;
    static constexpr int kDeviceCombo = 1019;
    // The port list is looked at again this often while the dialog is open, so adapters
    // plugged in or pulled meanwhile show up.
    static constexpr unsigned kRefreshTimer = 1;
    static constexpr std::uint32_t kRefreshMs = 1000;
    static constexpr int kFindMeter = 1020;

    explicit CCommSetDlg(QWidget* parent = nullptr);

    // The caller sets all four before DoModal; the radio handlers store a click at once.
    int m_nParity = 0;
    int m_nCommPort = 0;
    int m_nBaudRate = 0;
    std::uint8_t m_byMeterAddress = 0;
    // The device behind COM1 and COM2, as given by the caller and as chosen or typed since.
    std::array<QString, 2> m_strDevices;
    // The ports the device box offers; none when null.
    const PortList* m_pPortList = nullptr;
    // Where "查找仪表..." scans; without a port the button is disabled.
    FindMeterLine m_findLine;
    // The rate of the meter "使用" took from a scan (0: none): the meter already runs at it.
    int m_nFoundBaudRate = 0;
    // The meters a scan found, when "全部使用" took them all: they go to the bus window.
    std::vector<std::uint8_t> m_busAddresses;

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
    void OnTimer(unsigned id) override;
    void OnLanguageChange() override;
    void NameDeviceField();
    // The device field as wide as the dialog allows: from its place to the right margin.
    void FitDeviceField();
    // The device as the field shows it now: whole, or cut in the middle when it does not fit
    // and the field is not being edited.
    QString ShownDevice() const;
    // Opens "查找仪表" at the settings shown; the meter it hands back fills rate, parity and
    // address.
    void OnFindMeter();

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void SelectBaud(int rate);
    QString& SelectedDevice();
    void OnDeviceChosen(int row);
    void OnDeviceEdited(const QString& text);
    // Shows the selected port's device in the box and names each port's device to assistive
    // technology.
    void ShowDevice();
    void DescribePorts();
    void DescribeDeviceField();
    void RefreshPorts();

    QList<PortRow> m_ports; // the rows the box lists
};

// The devices behind the two ports as a run uses them, and what becomes of a choice.
struct PortDevices {
    std::array<QString, 2> device; // behind COM1 and COM2
    const PortList* list = nullptr;
    // Told of each port whose device a dialog that ended with OK changed, with the device to
    // remember (an empty one stands for the platform's own).
    std::function<void(int port, const QString& device)> chosen;
    // Points the serial port control at a device for a scan from the dialog (FindMeterLine).
    std::function<QString(int port, const QString& device)> aim;

    // Puts the devices, the list and the aim into a dialog before it runs.
    void Offer(CCommSetDlg& dlg) const;
    // After OK: takes each changed device, by its stable name where it has one, and tells
    // chosen. A box left empty means the platform's own device.
    void Take(const CCommSetDlg& dlg);
};

} // namespace md::ui
