#include "ui/AboutDlg.h"

#include <array>

namespace md::ui {

namespace {

// The maker and its contacts are placeholders of this demonstration build: the example.com
// domain and the all-zero numbers reach nobody.
constexpr std::array kControls{
    ControlDef{IDOK, Ctl::DefPushButton, QT_TRANSLATE_NOOP("md::ui::CAboutDlg", "确认"), 69, 95, 36,
               14},
    ControlDef{kNoId, Ctl::Label,
               QT_TRANSLATE_NOOP("md::ui::CAboutDlg", "VX5200智能电力监测仪演示软件       V2.0  "),
               16, 4, 149, 12},
    ControlDef{kNoId, Ctl::Label, "www.example.com", 17, 35, 81, 11},
    ControlDef{kNoId, Ctl::Label,
               QT_TRANSLATE_NOOP("md::ui::CAboutDlg", "技术支持热线：000-0000-0000/0001"), 17, 50,
               147, 11},
    ControlDef{kNoId, Ctl::Label,
               QT_TRANSLATE_NOOP("md::ui::CAboutDlg", "版权所有 (C) 示例仪表有限公司"), 17, 20, 148,
               11, kNoWordWrap},
    ControlDef{kNoId, Ctl::Label, "E-mail: support@example.com", 18, 77, 124, 11},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CAboutDlg", "传真：000-0000-0002"), 49,
               65, 75, 11},
};

constexpr DialogTemplate kAboutTemplate{
    134, "", 184, 120, "System", 10, kSystemMenu, kControls, "md::ui::CAboutDlg"};

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(kAboutTemplate, parent) {}

} // namespace md::ui
