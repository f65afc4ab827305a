// The main window's core: template, menu, members and their exchange, opening the port,
// the connection summary, minimised painting and shutdown. The operations live in
// MeterDebugDlgSetup.cpp, MeterDebugDlgMeasure.cpp and MeterDebugDlgLog.cpp.

#include "ui/MeterDebugDlg.h"

#include "port/MSComm.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <array>
#include <initializer_list>

// A static library's resources are registered by hand, and only at global scope.
static void InitIconResources() {
    Q_INIT_RESOURCE(meterdebug);
}

namespace md::ui {

namespace {

constexpr std::array kVisibleControls{
    // The exit button comes first in the template: it starts the tab order and has the focus
    // when the window opens, so Enter right away ends the program.
    ControlDef{IDCANCEL, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "退  出"), 13,
               233, 60, 19},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "通信参数信息"), 7,
               7, 74, 87},
    ControlDef{CMeterDebugDlg::kSummaryEdit, Ctl::Edit, "", 14, 17, 62, 67,
               kMultiLine | kReadOnly | kNoBorder | kNoTabStop},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "系统功能"), 7, 96,
               74, 160},
    ControlDef{1023, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读参数数据"), 13,
               107, 60, 19},
    ControlDef{1065, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读测量数据"), 13,
               128, 60, 19},
    ControlDef{1064, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "停止运行"), 13,
               149, 60, 19},
    ControlDef{1024, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "写参数数据"), 13,
               170, 60, 19},
    ControlDef{1004, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "通讯设置"), 13,
               191, 60, 19},
    ControlDef{1075, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读开关量状态"),
               13, 212, 60, 19},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "测量数据"), 91, 7,
               87, 92},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "A相电流"), 102, 25,
               27, 8},
    ControlDef{1051, Ctl::Edit, "", 134, 22, 40, 14, kReadOnly},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "B相电流"), 102, 53,
               27, 8},
    ControlDef{1062, Ctl::Edit, "", 134, 50, 40, 14, kReadOnly},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "C相电流"), 102, 80,
               27, 8},
    ControlDef{1063, Ctl::Edit, "", 134, 77, 40, 14, kReadOnly},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "通讯统计"), 178,
               7, 62, 92},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "成功次数"), 186, 17,
               31, 8},
    ControlDef{1069, Ctl::Edit, "", 183, 27, 53, 14, kReadOnly},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "失败次数"), 187, 46,
               31, 8},
    ControlDef{1070, Ctl::Edit, "", 183, 57, 53, 14, kReadOnly},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "误码率"), 186, 74,
               23, 8},
    ControlDef{1071, Ctl::Edit, "", 183, 83, 53, 12, kReadOnly},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "参数数据区"), 91,
               101, 159, 78},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "上限阀值"), 96, 118,
               31, 8},
    ControlDef{1059, Ctl::Edit, "", 132, 117, 40, 14},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "下限阀值"), 96, 140,
               31, 8},
    ControlDef{1060, Ctl::Edit, "", 132, 135, 40, 14},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "波特率"), 177, 120,
               23, 8},
    ControlDef{1061, Ctl::Edit, "", 205, 116, 40, 14},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "小数点"), 175, 136,
               23, 8},
    ControlDef{1052, Ctl::Edit, "", 205, 136, 40, 14},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "继电器输出"), 100,
               154, 38, 8},
    ControlDef{1073, Ctl::Edit, "", 114, 163, 26, 12, kReadOnly | kNoBorder},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "开关量输入"), 190,
               153, 38, 8},
    ControlDef{1074, Ctl::Edit, "", 202, 163, 26, 12, kReadOnly | kNoBorder},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "地址信息"), 90,
               182, 160, 40},
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "本机地址"), 94, 198,
               31, 8},
    ControlDef{CMeterDebugDlg::kLocalAddressEdit, Ctl::Edit, "", 130, 195, 40, 14},
    ControlDef{1066, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "修改地址"), 175,
               190, 43, 20},
    ControlDef{kNoId, Ctl::GroupBox, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "提示信息"), 91,
               224, 159, 32},
    ControlDef{CMeterDebugDlg::kPromptEdit, Ctl::Edit, "", 95, 235, 116, 13,
               kDisabled | kCentre | kNoBorder},
    // Created hidden and never shown: their commands still work when they arrive.
    ControlDef{1006, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "仪表设置"), 165,
               235, 50, 14, kHidden},
    ControlDef{1007, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "技术支持"), 165,
               235, 50, 14, kHidden},
    ControlDef{1009, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读仪表时间"),
               165, 235, 50, 14, kHidden},
    ControlDef{1021, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "开始保存数据"),
               165, 235, 50, 14, kHidden},
    ControlDef{1022, Ctl::PushButton, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "相电流分析"),
               165, 237, 50, 12, kHidden},
};

// Hidden edits that nothing reads or writes; they exist so that every id of the template
// names a control.
constexpr std::array kUnusedEditIds{1000, 1001, 1002, 1003, 1025, 1026, 1027, 1028, 1029,
                                    1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038,
                                    1039, 1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047,
                                    1048, 1049, 1050, 1053, 1054, 1055, 1056};

constexpr auto kControls = [] {
    std::array<ControlDef, kVisibleControls.size() + kUnusedEditIds.size()> all{};
    std::size_t n = 0;
    for (const ControlDef& c : kVisibleControls)
        all[n++] = c;
    for (const int id : kUnusedEditIds)
        all[n++] = ControlDef{id, Ctl::Edit, "", 166, 237, 53, 12, kReadOnly | kNoBorder | kHidden};
    return all;
}();

constexpr DialogTemplate kMainTemplate{
    102,
    QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "VX5200调试-Korvanta"),
    254,
    263,
    "宋体",
    10,
    kSystemMenu | kMinimizeBox | kTaskbarButton,
    kControls,
    "md::ui::CMeterDebugDlg"};

constexpr std::array kMenu{
    MenuEntry{kNoId, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "&系统功能"), false},
    MenuEntry{32771, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读基本数据"), true},
    MenuEntry{32772, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读测量数据"), true},
    MenuEntry{32773, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "停止运行"), true},
    MenuEntry{32774, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "写数据"), true},
    MenuEntry{32775, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "修改地址"), true},
    MenuEntry{65535, QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "&帮助"), false},
};

struct CommandRow {
    int id;
    void (CMeterDebugDlg::*handler)();
};

// The window's command table: a click on control id runs handler. The hidden buttons have rows
// too, so their commands work although nothing shows them.
const std::initializer_list<CommandRow> kCommandTable = {
    {1004, &CMeterDebugDlg::OnCommSettings},  {1006, &CMeterDebugDlg::OnMeterSetup},
    {1007, &CMeterDebugDlg::OnTechSupport},   {1009, &CMeterDebugDlg::OnReadMeterTime},
    {1021, &CMeterDebugDlg::OnStartSave},     {1022, &CMeterDebugDlg::OnPhaseCurrentAnalysis},
    {1023, &CMeterDebugDlg::OnReadParams},    {1024, &CMeterDebugDlg::OnWriteParams},
    {1064, &CMeterDebugDlg::OnStop},          {1065, &CMeterDebugDlg::OnReadMeasurements},
    {1066, &CMeterDebugDlg::OnModifyAddress}, {1075, &CMeterDebugDlg::OnReadSwitchState},
};

// With every command on request: a menu item runs the command of its button.
struct MenuCommand {
    int menuId; // kNoId: an item of the added pop-up
    int buttonId;
};

constexpr std::array kMenuCommands{
    MenuCommand{32771, 1023}, MenuCommand{32772, 1065}, MenuCommand{32773, 1064},
    MenuCommand{32774, 1024}, MenuCommand{32775, 1066}, MenuCommand{65535, 1007},
    MenuCommand{kNoId, 1006}, MenuCommand{kNoId, 1009}, MenuCommand{kNoId, 1021},
    MenuCommand{kNoId, 1022},
};

// Windows' standard icon size, used for the minimised window.
constexpr int kIconSize = 32;

} // namespace

CMeterDebugDlg::CMeterDebugDlg(QWidget* parent, SerialControl* port, Clock* clock)
    : CDialog(kMainTemplate, parent), m_ownPort(port ? nullptr : std::make_unique<CMSComm>()),
      m_ownClock(clock ? nullptr : std::make_unique<SteadyClock>()),
      m_comm(port ? *port : *m_ownPort), m_link(m_comm, clock ? *clock : *m_ownClock) {
    SetMenu(kMenu);
    InitView();
    for (const CommandRow& row : kCommandTable)
        OnCommand(row.id, [this, handler = row.handler] {
            WithPortRecovery([this, handler] { (this->*handler)(); });
        });

    LearnPromptTexts();
    InitIconResources();
    for (const int size : {16, 32, 48, 256})
        m_hIcon.addFile(QStringLiteral(":/icons/meterdebug-%1.png").arg(size), QSize(size, size));
}

CMeterDebugDlg::~CMeterDebugDlg() = default;

void CMeterDebugDlg::DoDataExchange(CDataExchange& dx) {
    CDialog::DoDataExchange(dx);
    // The serial port control (1008) is bound at construction; it has no widget.
    DDX_Control(dx, 1021, m_btnSave);
    DDX_Text(dx, 1061, m_nParamBaudRate);
    DDX_Text(dx, 1059, m_nUpperLimit);
    DDX_Text(dx, 1052, m_nDecimalPoint);
    DDX_Text(dx, 1060, m_nLowerLimit);
    DDX_Text(dx, kLocalAddressEdit, m_nLocalAddress);
    DDX_Text(dx, kPromptEdit, m_strPrompt);
    DDX_Text(dx, 1051, m_strCurrentA);
    DDX_Text(dx, 1062, m_strCurrentB);
    DDX_Text(dx, 1063, m_strCurrentC);
    DDX_Text(dx, 1071, m_strErrorRate);
    DDX_Text(dx, 1069, m_nSuccessCount);
    DDX_Text(dx, 1070, m_nFailureCount);
}

// A refusal by the port control aborts this at step 4: the guard shows its text, and the
// window opens without the address in 1058 and without the summary.
bool CMeterDebugDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    setWindowIcon(m_hIcon);

    m_nPT = 1;
    m_nCT = 1;
    m_nWiringMode = 0;
    m_bSaving = 0;
    m_nSaveHours = 0;
    m_nSaveMinutes = 0;
    m_nSaveSeconds = 1;
    m_nFailureCount = 0;
    m_nSuccessCount = 0;
    m_strErrorRate = QStringLiteral("0");

    m_comm.SetCommPort(static_cast<std::int16_t>(m_nCommPort));
    m_comm.SetSettings(SettingsText().toStdString());
    m_link.SetLine(m_nBaudRate, m_nParity != 0);
    m_comm.SetPortOpen(true);
    m_comm.SetInputLen(0);
    m_comm.SetInBufferCount(0);

    m_nLocalAddress = m_byMeterAddress;
    UpdateData(false);
    SetDlgItemText(kSummaryEdit, Summary(false));
    return true;
}

QString CMeterDebugDlg::SettingsText() const {
    const char* parity = m_nParity == 1 ? "O" : m_nParity == 2 ? "E" : "N";
    return QString::number(m_nBaudRate) + QLatin1String(parity) + QStringLiteral(",8,2");
}

QString CMeterDebugDlg::Summary(bool reconfigured) const {
    QString s = QStringLiteral("\r\n") +
                tr("仪表地址: %1 ").arg(static_cast<unsigned>(m_byMeterAddress)) +
                QStringLiteral("\r\n\r\n");
    s += tr("串口:     %1 ").arg(m_nCommPort) + QStringLiteral("\r\n\r\n");
    s += tr("波特率:  %1 ").arg(m_nBaudRate) + QStringLiteral("\r\n\r\n");
    switch (m_nParity) {
    case 0:
        // Rebuilt after a reconfiguration, the no-parity line has one blank, not two.
        s += reconfigured ? tr("校验位: 无校验") : tr("校验位:  无校验");
        break;
    case 1:
        s += tr("校验位:  奇校验");
        break;
    case 2:
        s += tr("校验位:  偶校验");
        break;
    default:
        break;
    }
    return s;
}

// Timer 1 polls the measurements and timer 2 appends a log record.
void CMeterDebugDlg::OnTimer(unsigned id) {
    switch (id) {
    case kPollTimer:
        // Whatever restarted this window's polling (the meter clock's read does), the bus
        // window stops driving the line.
        StopBusForOwnPolling();
        WithPortRecovery([this] { PollMeasurements(); });
        break;
    case kLogTimer:
        AppendLogRecord();
        break;
    default:
        break;
    }
}

QString CMeterDebugDlg::LostPrompt() {
    return tr("串口已断开，正在重新连接...");
}

void CMeterDebugDlg::OnLanguageChange() {
    // The prompt line and the saved prompt go over into the new language by way of their
    // source texts, which the table from the language before still knows.
    const auto renew = [this](QString& text) {
        if (const auto it = m_promptSources.find(text); it != m_promptSources.end())
            text = tr(it->second);
    };
    renew(m_strPrompt);
    renew(m_strPromptBeforeLoss);
    LearnPromptTexts();
    SetDlgItemText(kPromptEdit, m_strPrompt);
    if (!GetDlgItemText(kSummaryEdit).isEmpty())
        SetDlgItemText(kSummaryEdit, Summary(m_bReconfigured));
    if (m_bSaving)
        Button(kSaveButton)->setText(tr("停止保存数据"));
    if (m_viewMenu)
        TranslateView();
    // The pop-up's items name what their buttons name now.
    for (const auto& [button, item] : m_mirrors)
        if (item->parent() == m_meterMenu)
            item->setText(button->text());
}

void CMeterDebugDlg::LearnPromptTexts() {
    static constexpr const char* kPromptTexts[] = {
        QT_TR_NOOP("已读参数数据..."),
        QT_TR_NOOP("读参数数据不成功..."),
        QT_TR_NOOP("写参数数据..."),
        QT_TR_NOOP("修改地址信息..."),
        QT_TR_NOOP("正在读测量数据..."),
        QT_TR_NOOP("已停止读测量数据..."),
        QT_TR_NOOP("串口已断开，正在重新连接..."),
        QT_TR_NOOP("多表巡检开始，已停止读测量数据..."),
    };
    m_promptSources.clear();
    for (const char* source : kPromptTexts)
        m_promptSources.emplace(tr(source), source);
}

void CMeterDebugDlg::WithPortRecovery(const std::function<void()>& fn) {
    RecoverPort();
    const std::uint64_t collections = Collections();
    try {
        fn();
    } catch (...) {
        ReportPortLoss();
        throw;
    }
    NoteGatewayFailure(collections);
    ReportPortLoss();
}

// A device that never comes back costs one open attempt per command or tick, nothing more.
void CMeterDebugDlg::RecoverPort() {
    if (!m_comm.LostReason().empty() && m_comm.Reopen())
        EndOutage();
}

void CMeterDebugDlg::ReportPortLoss() {
    const std::string lost = m_comm.LostReason();
    if (lost.empty()) {
        // Back, or closed and opened by hand (a reconfiguration).
        EndOutage();
        return;
    }
    // Only the prompt control is written: a full refresh would overwrite what the operator
    // has typed into the other fields.
    if (m_strPrompt != LostPrompt()) {
        m_strPromptBeforeLoss = m_strPrompt;
        m_strPrompt = LostPrompt();
        SetDlgItemText(kPromptEdit, m_strPrompt);
    }
    // Once per outage, and again when the reason changes within it (a reconfiguration to a
    // port that cannot be opened either).
    const QString reason = QString::fromStdString(lost);
    if (m_bPortLost && reason == m_strLossShown)
        return;
    // Set before the box opens: ticks that its loop delivers find the outage reported. The box
    // opens after the handler rather than inside it: Qt does not re-enter a timer's handler, so
    // a box inside a tick would hold every later tick until someone closed it, and an outage
    // at an unattended meter would stop the polling, the counts and the reopen attempts for
    // good. Shown afterwards, the ticks go on under the open box.
    m_bPortLost = true;
    m_strLossShown = reason;
    // A flapping line under a box nobody answers must not pile up boxes, each a nested loop:
    // the box that stands tells of the latest outage instead.
    if (m_lossBox) {
        m_lossBox->setText(reason);
        return;
    }
    QTimer::singleShot(0, this, [this] {
        if (m_lossBox)
            m_lossBox->setText(m_strLossShown);
        else
            AfxMessageBox(m_strLossShown, m_lossBox);
    });
}

void CMeterDebugDlg::EndOutage() {
    if (!m_bPortLost)
        return;
    m_bPortLost = false;
    if (m_strPrompt == LostPrompt()) {
        m_strPrompt = m_strPromptBeforeLoss;
        SetDlgItemText(kPromptEdit, m_strPrompt);
    }
}

void CMeterDebugDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        CDialog::paintEvent(event);
        return;
    }
    // The client area lies below the menu bar.
    QRect client = rect();
    if (MenuBar())
        client.setTop(MenuBar()->geometry().bottom() + 1);
    QPainter painter(this);
    painter.fillRect(client, palette().window());
    const int x = client.left() + (client.width() - kIconSize + 1) / 2;
    const int y = client.top() + (client.height() - kIconSize + 1) / 2;
    m_hIcon.paint(&painter, QRect(x, y, kIconSize, kIconSize));
}

void CMeterDebugDlg::EnableAllCommands() {
    auto* popup = m_meterMenu = new QMenu(MenuBar());
    TrackMenuText(popup->menuAction(), kMeterMenuCaption);
    MenuBar()->insertMenu(MenuItem(65535), popup);
    for (const MenuCommand& c : kMenuCommands) {
        const auto row = std::find_if(kCommandTable.begin(), kCommandTable.end(),
                                      [&](const CommandRow& r) { return r.id == c.buttonId; });
        // Exactly what a click on the button runs, port recovery included.
        const auto handler = [this, h = row->handler] {
            WithPortRecovery([this, h] { (this->*h)(); });
        };
        QAction* item = MenuItem(c.menuId);
        if (c.menuId == kNoId) {
            QAbstractButton* button = Button(c.buttonId);
            item = popup->addAction(button->text());
            connect(item, &QAction::triggered, this, [this, handler] { Guard(handler); });
            // The logging button's caption follows the logging state; the item shows the
            // caption of the moment.
            connect(popup, &QMenu::aboutToShow, item,
                    [item, button] { item->setText(button->text()); });
        } else {
            OnCommand(c.menuId, handler);
        }
        MirrorButton(item, c.buttonId);
    }
}

void CMeterDebugDlg::MirrorButton(QAction* item, int buttonId) {
    QAbstractButton* button = Button(buttonId);
    item->setEnabled(button->isEnabled());
    button->installEventFilter(this);
    m_mirrors.emplace_back(button, item);
}

bool CMeterDebugDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        for (const auto& [button, item] : m_mirrors)
            if (button == watched)
                item->setEnabled(button->isEnabled());
    return CDialog::eventFilter(watched, event);
}

bool CMeterDebugDlg::DestroyWindow() {
    KillTimer(kPollTimer);
    // The bus window's polling ends with the line it polls.
    StopBus();
    m_comm.SetPortOpen(false);
    return true;
}

void CMeterDebugDlg::done(int result) {
    Guard([this] { DestroyWindow(); });
    CDialog::done(result);
}

} // namespace md::ui
