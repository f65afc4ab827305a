#include "ui/MeterSetDlg.h"

#include <array>

namespace md::ui {

namespace {

constexpr std::array kControls{
    ControlDef{IDOK, Ctl::DefPushButton, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "设置"), 140, 30,
               30, 14},
    ControlDef{IDCANCEL, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "退出"), 140,
               65, 30, 14},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "ＰＴ"), 10, 8, 20, 10},
    ControlDef{CMeterSetDlg::kPtEdit, Ctl::Edit, "", 45, 5, 80, 12},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "ＣＴ"), 10, 22, 20,
               10},
    ControlDef{CMeterSetDlg::kCtEdit, Ctl::Edit, "", 45, 20, 80, 12},
    ControlDef{1009, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "3相4线(非平衡)"), 5, 44,
               65, 10},
    ControlDef{1010, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "单相2线"), 5, 62, 65,
               10},
    ControlDef{1011, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "3相3线(非平衡)"), 5, 80,
               65, 10},
    ControlDef{1012, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "3相3线(平衡)"), 76, 45,
               55, 10},
    ControlDef{1013, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "单相3线"), 76, 63, 55,
               10},
    ControlDef{1014, Ctl::Radio, QT_TRANSLATE_NOOP("md::ui::CMeterSetDlg", "3相4线(平衡)"), 76, 81,
               55, 10},
};

constexpr DialogTemplate kMeterSetTemplate{
    131, "Dialog", 184, 98, "System", 10, kSystemMenu, kControls, "md::ui::CMeterSetDlg"};

// PT and CT live in int members but are typed and checked as unsigned numbers, so a sign
// is refused by the exchange itself rather than by the range check.
void ExchangeRatio(CDataExchange& dx, int id, int& member) {
    unsigned value = static_cast<unsigned>(member);
    DDX_Text(dx, id, value);
    DDV_MinMaxUInt(dx, id, value, CMeterSetDlg::kMinRatio, CMeterSetDlg::kMaxRatio);
    member = static_cast<int>(value);
}

} // namespace

CMeterSetDlg::CMeterSetDlg(QWidget* parent) : CDialog(kMeterSetTemplate, parent) {
    for (int id = kFirstWiringRadio; id <= kLastWiringRadio; ++id)
        OnCommand(id, [this, id] { OnWiringMode(id); });
}

void CMeterSetDlg::DoDataExchange(CDataExchange& dx) {
    CDialog::DoDataExchange(dx);
    ExchangeRatio(dx, kPtEdit, m_nPT);
    ExchangeRatio(dx, kCtEdit, m_nCT);
}

bool CMeterSetDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CheckRadioButton(kFirstWiringRadio, kLastWiringRadio, kFirstWiringRadio + m_nWiringMode);
    return true;
}

void CMeterSetDlg::OnWiringMode(int id) {
    CheckRadioButton(kFirstWiringRadio, kLastWiringRadio, id);
    m_nWiringMode = static_cast<std::uint8_t>(id - kFirstWiringRadio);
}

} // namespace md::ui
