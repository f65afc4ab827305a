#include "ui/CommSetDlg.h"

#include "port/MSComm.h"
#include "meter/Registers.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

#include <array>

namespace md::ui {

namespace {

constexpr const char* kFindMeterCaption = QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "查找仪表...");

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
    // The device row below the radios, under the address's label and field; the field runs
    // on to the dialog's right margin (FitDeviceField).
    ControlDef{kNoId, Ctl::Label, QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "串口设备"), 15, 103, 31,
               10},
    ControlDef{CCommSetDlg::kDeviceCombo, Ctl::ComboBox, "", 56, 101, 69, 12},
    ControlDef{CCommSetDlg::kFindMeter, Ctl::PushButton, kFindMeterCaption, 130, 20, 58, 14},
};

// A caption and no system menu: there is no close box, Esc and "退    出" cancel.
constexpr DialogTemplate kCommSetTemplate{130,
                                          QT_TRANSLATE_NOOP("md::ui::CCommSetDlg", "通讯设置"),
                                          195,
                                          118,
                                          "宋体",
                                          10,
                                          0,
                                          kControls,
                                          "md::ui::CCommSetDlg"};

// The device field: while it is not being edited, a name too long for it is cut in the
// middle, so that a network name keeps its scheme (the transport) and its port in view. What
// is typed and kept is the whole text; only the painting differs.
class MiddleElidedEdit final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    // What the field shows now: the text, or the text cut in the middle with an ellipsis.
    QString Shown() const {
        const int room = TextArea().width();
        if (hasFocus() || fontMetrics().horizontalAdvance(text()) <= room)
            return text();
        return fontMetrics().elidedText(text(), Qt::ElideMiddle, room);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        const QString shown = Shown();
        if (shown == text()) {
            QLineEdit::paintEvent(event);
            return;
        }
        QPainter painter(this);
        QStyleOptionFrame option;
        initStyleOption(&option);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
        painter.setPen(
            palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
        painter.drawText(TextArea(), Qt::AlignLeft | Qt::AlignVCenter, shown);
    }

private:
    // Where QLineEdit puts its text: the contents less the text margins and its own two
    // pixels a side.
    QRect TextArea() const {
        QStyleOptionFrame option;
        initStyleOption(&option);
        return style()
            ->subElementRect(QStyle::SE_LineEditContents, &option, this)
            .marginsRemoved(textMargins())
            .adjusted(2, 0, -2, 0);
    }
};

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

    auto* box = static_cast<QComboBox*>(Item(kDeviceCombo));
    box->setLineEdit(new MiddleElidedEdit(box));
    box->setCompleter(nullptr); // a new line edit comes with a completer of its own
    NameDeviceField();
    FitDeviceField();
    connect(box, &QComboBox::activated, this, [this](int row) { OnDeviceChosen(row); });
    connect(box, &QComboBox::editTextChanged, this,
            [this](const QString& text) { OnDeviceEdited(text); });
    OnCommand(kFindMeter, [this] { OnFindMeter(); });
    Button(kFindMeter)->setText(tr(kFindMeterCaption));
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
    ShowDevice();
}

void CCommSetDlg::OnCom2() {
    CheckRadioButton(kCom1, kCom2, kCom2);
    m_nCommPort = 2;
    ShowDevice();
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

void CCommSetDlg::OnFindMeter() {
    bool ok = false;
    const int typed = GetDlgItemText(kAddressEdit).toInt(&ok);
    const int address = ok && typed >= 1 && typed <= 247 ? typed : 1;
    const char parity = m_nParity == 1 ? 'O' : m_nParity == 2 ? 'E' : 'N';
    FindMeterLine line = m_findLine;
    line.device = SelectedDevice().trimmed();
    CFindMeterDlg dlg(line, m_nCommPort,
                      {static_cast<std::uint8_t>(address), m_nBaudRate, parity}, this);
    const bool accepted = dlg.exec() == QDialog::Accepted;
    if (accepted && !dlg.ChosenAll().empty())
        m_busAddresses = dlg.ChosenAll();
    if (!accepted || !dlg.Chosen())
        return;
    const meter::ScanPoint found = dlg.Chosen()->at;
    m_nFoundBaudRate = found.baudRate;
    SelectBaud(found.baudRate);
    if (found.parity == 'O')
        OnParityOdd();
    else if (found.parity == 'E')
        OnParityEven();
    else
        OnParityNone();
    m_byMeterAddress = found.address;
    SetDlgItemText(kAddressEdit, QString::number(found.address));
}

bool CCommSetDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    Button(kFindMeter)->setEnabled(m_findLine.port && m_findLine.clock);
    SelectBaud(m_nBaudRate);
    CheckRadioButton(kCom1, kCom2, kCom1 - 1 + m_nCommPort);
    CheckRadioButton(kParityNone, kParityEven, kParityNone + m_nParity);
    RefreshPorts();
    ShowDevice();
    SetTimer(kRefreshTimer, kRefreshMs);
    return true;
}

void CCommSetDlg::OnTimer(unsigned id) {
    if (id == kRefreshTimer)
        RefreshPorts();
}

// The box's own text field is what a screen reader lands on; it carries the row's caption too.
void CCommSetDlg::NameDeviceField() {
    static_cast<QComboBox*>(Item(kDeviceCombo))->lineEdit()->setAccessibleName(tr("串口设备"));
}

void CCommSetDlg::OnLanguageChange() {
    NameDeviceField();
    FitDeviceField();
}

// The texts were just laid out again, the field at its template width: it runs on to the
// dialog's right margin, whose width the language's longest captions decide.
void CCommSetDlg::FitDeviceField() {
    QWidget* box = Item(kDeviceCombo);
    const QRect at = box->geometry();
    box->setGeometry(at.x(), at.y(), std::max(at.width(), width() - at.x() - DuToPxX(4)),
                     at.height());
}

QString CCommSetDlg::ShownDevice() const {
    const auto* box = static_cast<const QComboBox*>(Item(kDeviceCombo));
    return static_cast<const MiddleElidedEdit*>(box->lineEdit())->Shown();
}

// The whole name, however the field cuts it, for the pointer and for assistive technology.
void CCommSetDlg::DescribeDeviceField() {
    auto* box = static_cast<QComboBox*>(Item(kDeviceCombo));
    const QString& device = SelectedDevice();
    box->setToolTip(device);
    box->lineEdit()->setToolTip(device);
    box->lineEdit()->setAccessibleDescription(device);
    box->lineEdit()->update();
}

QString& CCommSetDlg::SelectedDevice() {
    return m_strDevices[m_nCommPort == 2 ? 1 : 0];
}

// A row puts its device behind the selected port: its stable name where it has one, so that
// the adapter is found again after a replug. The field shows that device, not the row's
// description.
void CCommSetDlg::OnDeviceChosen(int row) {
    if (row < 0 || row >= m_ports.size())
        return;
    const PortRow& port = m_ports[row];
    SelectedDevice() = port.stableName.isEmpty() ? port.device : port.stableName;
    ShowDevice();
}

void CCommSetDlg::OnDeviceEdited(const QString& text) {
    SelectedDevice() = text;
    DescribePorts();
    DescribeDeviceField();
}

void CCommSetDlg::ShowDevice() {
    auto* box = static_cast<QComboBox*>(Item(kDeviceCombo));
    const QSignalBlocker quiet(box);
    box->setEditText(SelectedDevice());
    DescribePorts();
    DescribeDeviceField();
}

void CCommSetDlg::DescribePorts() {
    for (int port = 1; port <= 2; ++port) {
        const QString& device = m_strDevices[std::size_t(port - 1)];
        Button(kCom1 + port - 1)
            ->setAccessibleDescription(
                tr("串口设备 %1").arg(device.isEmpty() ? DeviceForPort(port) : device));
    }
}

// Rebuilt only when the ports changed, so an open list is not disturbed every second; what
// the field holds stays as it is.
void CCommSetDlg::RefreshPorts() {
    const QList<PortRow> ports = m_pPortList ? m_pPortList->Ports() : QList<PortRow>{};
    if (ports == m_ports)
        return;
    m_ports = ports;
    auto* box = static_cast<QComboBox*>(Item(kDeviceCombo));
    const QSignalBlocker quiet(box);
    const QString text = box->currentText();
    box->clear();
    int widest = 0;
    for (const PortRow& port : m_ports) {
        box->addItem(PortLabel(port));
        widest = std::max(widest, box->fontMetrics().horizontalAdvance(PortLabel(port)));
    }
    // The rows are wider than the field: the list opens as wide as its widest row.
    box->view()->setMinimumWidth(widest + 2 * box->view()->frameWidth() +
                                 box->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    box->setEditText(text);
}

void PortDevices::Offer(CCommSetDlg& dlg) const {
    dlg.m_strDevices = device;
    dlg.m_pPortList = list;
    dlg.m_findLine.aim = aim;
}

void PortDevices::Take(const CCommSetDlg& dlg) {
    const QList<PortRow> rows = list ? list->Ports() : QList<PortRow>{};
    for (std::size_t i = 0; i < device.size(); ++i) {
        const int port = static_cast<int>(i) + 1;
        const QString typed = dlg.m_strDevices[i].trimmed();
        const QString taken = typed.isEmpty() ? QString() : PreferStableName(typed, rows);
        const QString shown = taken.isEmpty() ? DeviceForPort(port) : taken;
        if (shown == device[i])
            continue;
        device[i] = shown;
        if (chosen)
            chosen(port, taken);
    }
}

} // namespace md::ui
