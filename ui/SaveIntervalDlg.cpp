#include "ui/SaveIntervalDlg.h"

#include <array>

namespace md::ui {

namespace {

constexpr std::array kControls{
    ControlDef{IDOK, Ctl::DefPushButton, QT_TRANSLATE_NOOP("md::ui::CSaveIntervalDlg", "确定"), 44,
               55, 32, 14},
    ControlDef{kNoId, Ctl::Label,
               QT_TRANSLATE_NOOP("md::ui::CSaveIntervalDlg", "请输入存储时间间隔："), 26, 7, 80, 9},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CSaveIntervalDlg", "时"), 52, 32, 10,
               10},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CSaveIntervalDlg", "秒"), 142, 32, 10,
               10},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CSaveIntervalDlg", "分"), 97, 32, 10,
               10},
    ControlDef{CSaveIntervalDlg::kHoursEdit, Ctl::Edit, "", 19, 29, 30, 12},
    ControlDef{CSaveIntervalDlg::kMinutesEdit, Ctl::Edit, "", 65, 29, 30, 12},
    ControlDef{CSaveIntervalDlg::kSecondsEdit, Ctl::Edit, "", 111, 29, 30, 12},
    ControlDef{IDCANCEL, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CSaveIntervalDlg", "取消"), 92,
               55, 32, 14},
};

constexpr DialogTemplate kSaveIntervalTemplate{
    146, "", 171, 82, "System", 10, kSystemMenu, kControls, "md::ui::CSaveIntervalDlg"};

} // namespace

// The unit labels stand together before the three edits, each to the right of its own edit.
CSaveIntervalDlg::CSaveIntervalDlg(QWidget* parent) : CDialog(kSaveIntervalTemplate, parent) {
    LabelBy(kHoursEdit, "时");
    LabelBy(kMinutesEdit, "分");
    LabelBy(kSecondsEdit, "秒");
}

// Any whole numbers are taken, signs included; the main window decides whether they make a
// usable period.
void CSaveIntervalDlg::DoDataExchange(CDataExchange& dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, kHoursEdit, m_nHours);
    DDX_Text(dx, kMinutesEdit, m_nMinutes);
    DDX_Text(dx, kSecondsEdit, m_nSeconds);
}

} // namespace md::ui
