#include "ui/CommSetDlg.h"

#include "meter/Registers.h"

#include <array>

namespace md::ui {

namespace {

constexpr std::array kControls{
    ControlDef{IDOK, Ctl::DefPushButton, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "确    定"), 130,
               40, 50, 14},
    ControlDef{IDCANCEL, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "退    出"), 130,
               70, 50, 14},
    ControlDef{CCommSetDlg::kAddressEdit, Ctl::Edit, "", 56, 5, 69, 12, kDigitsOnly | kNoBorder},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "仪表地址"), 15, 6, 31,
               10},
    ControlDef{1009, Ctl::Radio, "COM1", 78, 25, 42, 15, kNoTabStop},
    ControlDef{1010, Ctl::Radio, "COM2", 78, 39, 42, 15, kNoTabStop},
    ControlDef{1011, Ctl::Radio, "1200bps", 15, 25, 48, 15, kNoTabStop},
    ControlDef{1012, Ctl::Radio, "2400bps", 15, 39, 48, 15, kNoTabStop},
    ControlDef{1013, Ctl::Radio, "4800bps", 15, 53, 48, 15, kNoTabStop},
    ControlDef{1014, Ctl::Radio, "9600bps", 15, 67, 48, 15, kNoTabStop},
    ControlDef{1015, Ctl::Radio, "19200bps", 15, 81, 48, 15, kNoTabStop},
    ControlDef{1016, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "无校验"), 78, 53, 42, 15,
               kNoTabStop},
    ControlDef{1017, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "奇校验"), 78, 67, 42, 15,
               kNoTabStop},
    ControlDef{1018, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "偶校验"), 78, 81, 42, 15,
               kNoTabStop},
};

// A caption and no system menu: there is no close box, Esc and "退    出" cancel.
constexpr DialogTemplate kCommSetTemplate{130,
                                          QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "通讯设置"),
                                          195,
                                          101,
                                          "宋体",
                                          10,
                                          0,
                                          kControls,
                                          "md::ui::CCommSetDlg"};

} // namespace

CCommSetDlg::CCommSetDlg(QWidget* parent) : CDialog(kCommSetTemplate, parent) {
    // The address label stands after its edit in the template.
    LabelBy(kAddressEdit, "仪表地址");
    OnCommand(1011, [this] { OnBaud1200(); });
    OnCommand(1012, [this] { OnBaud2400(); });
    OnCommand(1013, [this] { OnBaud4800(); });
    OnCommand(1014, [this] { OnBaud9600(); });
    OnCommand(1015, [this] { OnBaud19200(); });
    OnCommand(1009, [this] { OnCom1(); });
    OnCommand(1010, [this] { OnCom2(); });
    OnCommand(1016, [this] { OnParityNone(); });
    OnCommand(1017, [this] { OnParityOdd(); });
    OnCommand(1018, [this] { OnParityEven(); });
}

// The radio buttons are each their own group, so the three sets are kept to one choice here.
void CCommSetDlg::SelectBaud(int rate) {
    const int code = reg::BaudCodeOf(rate);
    CheckRadioButton(kBaud1200, kBaud19200, code < 0 ? 0 : kBaud1200 + code);
    m_nBaudRate = rate;
}

void CCommSetDlg::OnBaud1200() {
    SelectBaud(1200);
}
void CCommSetDlg::OnBaud2400() {
    SelectBaud(2400);
}
void CCommSetDlg::OnBaud4800() {
    SelectBaud(4800);
}
void CCommSetDlg::OnBaud9600() {
    SelectBaud(9600);
}
void CCommSetDlg::OnBaud19200() {
    SelectBaud(19200);
}

void CCommSetDlg::OnCom1() {
    CheckRadioButton(kCom1, kCom2, kCom1);
    m_nCommPort = 1;
}

void CCommSetDlg::OnCom2() {
    CheckRadioButton(kCom1, kCom2, kCom2);
    m_nCommPort = 2;
}

void CCommSetDlg::OnParityNone() {
    CheckRadioButton(kParityNone, kParityEven, kParityNone);
    m_nParity = 0;
}

void CCommSetDlg::OnParityOdd() {
    CheckRadioButton(kParityNone, kParityEven, kParityOdd);
    m_nParity = 1;
}

void CCommSetDlg::OnParityEven() {
    CheckRadioButton(kParityNone, kParityEven, kParityEven);
    m_nParity = 2;
}

// The byte exchange itself refuses anything but a whole number from 0 to 255.
void CCommSetDlg::DoDataExchange(CDataExchange& dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, kAddressEdit, m_byMeterAddress);
}

bool CCommSetDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SelectBaud(m_nBaudRate);
    CheckRadioButton(kCom1, kCom2, kCom1 - 1 + m_nCommPort);
    CheckRadioButton(kParityNone, kParityEven, kParityNone + m_nParity);
    return true;
}

} // namespace md::ui
