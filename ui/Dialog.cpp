#include "ui/Dialog.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTimerEvent>

#include <algorithm>
#include <climits>
#include <exception>
#include <optional>

namespace md::ui {

namespace {

// Thrown by CDataExchange::Fail after the prompt; caught by UpdateData only.
struct ExchangeFailed {};

// Windows raises a zero or tiny timer period to this floor; a zero period would otherwise
// spin the event loop.
constexpr std::uint32_t kMinTimerMs = 10;

// An automatic radio button that is its own group: a click always sets it and never clears
// a neighbour, and clicking a set button leaves it set. Alone in its group, an arrow key has
// nowhere to go: it neither moves the focus nor selects anything.
class RadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override { setChecked(true); }

    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
            event->accept();
            return;
        default:
            QRadioButton::keyPressEvent(event);
        }
    }
};

// What assistive technology sees of a RadioButton. Qt's own interface takes a checkable button
// that is not auto-exclusive for a check box, and its toggle action flips the button without a
// click, so the dialog's handler never hears of it: a second button of the set shows checked
// and the member keeps the old choice. Here the radio is a radio, and its actions are clicks.
class RadioAccessible final : public QAccessibleWidget {
public:
    explicit RadioAccessible(QAbstractButton* button)
        : QAccessibleWidget(button, QAccessible::RadioButton) {}

    QString text(QAccessible::Text t) const override {
        const QString own = QAccessibleWidget::text(t);
        return t == QAccessible::Name && own.isEmpty() ? Button()->text() : own;
    }

    QAccessible::State state() const override {
        QAccessible::State st = QAccessibleWidget::state();
        st.checkable = true;
        st.checked = Button()->isChecked();
        return st;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled())
            names << toggleAction() << pressAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name != toggleAction() && name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        if (widget()->isEnabled())
            Button()->click();
    }

private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* RadioAccessibleFactory(const QString&, QObject* object) {
    if (auto* radio = dynamic_cast<RadioButton*>(object))
        return new RadioAccessible(radio);
    return nullptr;
}

// Gives a newly made radio its RadioAccessible. Factories installed later are asked first, so
// ours takes precedence over Qt's widget factory, which the application object installs. But
// Qt already made an interface for the button while constructing it, when it was not yet a
// RadioButton, and keeps it; dropping that one lets the next query reach our factory.
void UseRadioAccessible(RadioButton* radio) {
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(RadioAccessibleFactory);
        return true;
    }();
    QAccessible::deleteAccessibleInterface(
        QAccessible::uniqueId(QAccessible::queryAccessibleInterface(radio)));
}

// The class library's whole-number scan: blanks and tabs around the number are allowed, one
// sign, then decimal digits and nothing else. Numbers too large for 64 bits are refused
// rather than clamped.
std::optional<long long> ScanWhole(const QString& text, bool allowMinus) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    bool negative = false;
    if (begin < end && (text[begin] == u'+' || text[begin] == u'-')) {
        negative = text[begin] == u'-';
        if (negative && !allowMinus)
            return std::nullopt;
        ++begin;
    }
    if (begin == end)
        return std::nullopt;
    long long value = 0;
    constexpr long long kLimit = LLONG_MAX / 10 - 9;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9' || value > kLimit)
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return negative ? -value : value;
}

QString FromCaption(const char* caption) {
    return QString::fromUtf8(caption ? caption : "");
}

// The caption of a button, label or group box.
QString CaptionOf(const QWidget& w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(&w))
        return b->text();
    if (auto* l = qobject_cast<const QLabel*>(&w))
        return l->text();
    if (auto* g = qobject_cast<const QGroupBox*>(&w))
        return g->title();
    return {};
}

void SetCaptionOf(QWidget& w, const QString& text) {
    if (auto* b = qobject_cast<QAbstractButton*>(&w))
        b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(&w))
        l->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(&w))
        g->setTitle(text);
}

// The width a captioned control needs to show its whole caption.
int NeededWidth(const QWidget& w) {
    const int text = w.fontMetrics().horizontalAdvance(CaptionOf(w));
    if (qobject_cast<const QPushButton*>(&w))
        return text + 2 * w.style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &w);
    if (qobject_cast<const QGroupBox*>(&w))
        return text + 2 * w.fontMetrics().averageCharWidth() + 4;
    return w.sizeHint().width();
}

// Controls that show no caption of their own: edits and any other field a label names.
bool IsField(Ctl kind) {
    switch (kind) {
    case Ctl::PushButton:
    case Ctl::DefPushButton:
    case Ctl::Radio:
    case Ctl::Label:
    case Ctl::GroupBox:
        return false;
    default:
        return true;
    }
}

} // namespace

// ---- prompts ---------------------------------------------------------------------------------

QString IntegerPrompt() {
    return CDialog::tr("请输入一个整数。");
}

QString UnsignedPrompt() {
    return CDialog::tr("请输入一个不带负号的整数。");
}

QString RangePrompt(long long min, long long max) {
    return CDialog::tr("请输入一个介于 %1 和 %2 之间的整数。").arg(min).arg(max);
}

// ---- data exchange ---------------------------------------------------------------------------

void CDataExchange::Fail(int id, const QString& prompt) {
    m_dlg.PromptAt(id, prompt);
    throw ExchangeFailed{};
}

void DDX_Control(CDataExchange& dx, int id, QAbstractButton*& member) {
    member = dx.m_dlg.Button(id);
    if (!member)
        qFatal("dialog %d has no button %d", dx.m_dlg.Template().resourceId, id);
}

void DDX_Text(CDataExchange& dx, int id, int& value) {
    if (!dx.m_bSaveAndValidate) {
        dx.m_dlg.SetDlgItemText(id, QString::number(value));
        return;
    }
    const auto scanned = ScanWhole(dx.m_dlg.GetDlgItemText(id), true);
    if (!scanned || *scanned < INT_MIN || *scanned > INT_MAX)
        dx.Fail(id, IntegerPrompt());
    value = static_cast<int>(*scanned);
}

void DDX_Text(CDataExchange& dx, int id, std::uint8_t& value) {
    if (!dx.m_bSaveAndValidate) {
        dx.m_dlg.SetDlgItemText(id, QString::number(value));
        return;
    }
    const auto scanned = ScanWhole(dx.m_dlg.GetDlgItemText(id), false);
    if (!scanned || *scanned > 255)
        dx.Fail(id, RangePrompt(0, 255));
    value = static_cast<std::uint8_t>(*scanned);
}

void DDX_Text(CDataExchange& dx, int id, unsigned& value) {
    if (!dx.m_bSaveAndValidate) {
        dx.m_dlg.SetDlgItemText(id, QString::number(value));
        return;
    }
    const auto scanned = ScanWhole(dx.m_dlg.GetDlgItemText(id), false);
    if (!scanned || *scanned > UINT_MAX)
        dx.Fail(id, UnsignedPrompt());
    value = static_cast<unsigned>(*scanned);
}

void DDX_Text(CDataExchange& dx, int id, QString& value) {
    if (dx.m_bSaveAndValidate)
        value = dx.m_dlg.GetDlgItemText(id);
    else
        dx.m_dlg.SetDlgItemText(id, value);
}

void DDV_MinMaxUInt(CDataExchange& dx, int id, unsigned value, unsigned min, unsigned max) {
    if (dx.m_bSaveAndValidate && (value < min || value > max))
        dx.Fail(id, RangePrompt(min, max));
}

// ---- the dialog ------------------------------------------------------------------------------

CDialog::CDialog(const DialogTemplate& tmpl, QWidget* parent) : QDialog(parent), m_template(tmpl) {
    Build();
}

CDialog::~CDialog() = default;

void CDialog::Build() {
    QFont font;
    font.setFamilies(FontFamilies(m_template.fontFamily));
    font.setPointSize(m_template.pointSize);
    setFont(font);

    // Dialog base units as Windows derives them: the average width of the 52 Latin letters,
    // rounded, and the character height.
    const QFontMetrics fm(font);
    const int alphabet = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (alphabet / 26 + 1) / 2;
    m_baseY = fm.height();

    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags |= (m_template.frame & kTaskbarButton) ? Qt::Window : Qt::Dialog;
    if (m_template.frame & kSystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.frame & kMinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);

    QLabel* lastLabel = nullptr;
    for (const ControlDef& c : m_template.controls) {
        const QString caption; // ApplyTexts gives every caption
        const bool tabStop = !(c.style & kNoTabStop);
        QWidget* w = nullptr;
        switch (c.kind) {
        case Ctl::PushButton:
        case Ctl::DefPushButton: {
            auto* b = new QPushButton(caption, this);
            // Enter is the dialog's business (see keyPressEvent), not the button's.
            b->setAutoDefault(false);
            b->setDefault(c.kind == Ctl::DefPushButton);
            if (c.id != kNoId)
                connect(b, &QPushButton::clicked, this, [this, id = c.id] { SendCommand(id); });
            w = b;
            break;
        }
        case Ctl::Radio: {
            auto* r = new RadioButton(caption, this);
            r->setAutoExclusive(false);
            UseRadioAccessible(r);
            if (c.id != kNoId)
                connect(r, &QRadioButton::clicked, this, [this, id = c.id] { SendCommand(id); });
            w = r;
            break;
        }
        case Ctl::Edit:
            if (c.style & kMultiLine) {
                auto* e = new QPlainTextEdit(this);
                e->setReadOnly(c.style & kReadOnly);
                e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                if (c.style & kNoWordWrap)
                    e->setLineWrapMode(QPlainTextEdit::NoWrap);
                if (c.style & kNoBorder)
                    e->setFrameShape(QFrame::NoFrame);
                e->setTabChangesFocus(true);
                w = e;
            } else {
                auto* e = new QLineEdit(this);
                e->setReadOnly(c.style & kReadOnly);
                e->setFrame(!(c.style & kNoBorder));
                if (c.style & kCentre)
                    e->setAlignment(Qt::AlignCenter);
                if (c.style & kDigitsOnly)
                    e->setValidator(new QRegularExpressionValidator(
                        QRegularExpression(QStringLiteral("[0-9]*")), e));
                w = e;
            }
            // Read-only and disabled edits take the dialog's background, as on Windows.
            if (c.style & (kReadOnly | kDisabled)) {
                QPalette pal = w->palette();
                pal.setColor(QPalette::Base, pal.color(QPalette::Window));
                w->setPalette(pal);
            }
            break;
        case Ctl::Label: {
            auto* l = new QLabel(caption, this);
            l->setTextFormat(Qt::PlainText);
            if (c.style & kCentre)
                l->setAlignment(Qt::AlignCenter);
            w = l;
            lastLabel = l;
            break;
        }
        case Ctl::ComboBox: {
            auto* b = new QComboBox(this);
            b->setEditable(true);
            // The text typed is the value: Enter adds no row, and no row's text is completed
            // into the field.
            b->setInsertPolicy(QComboBox::NoInsert);
            b->setCompleter(nullptr);
            if (lastLabel)
                lastLabel->setBuddy(b);
            w = b;
            break;
        }
        case Ctl::GroupBox:
            w = new QGroupBox(caption, this);
            break;
        }

        if (c.kind == Ctl::Label || c.kind == Ctl::GroupBox)
            w->setFocusPolicy(Qt::NoFocus);
        else
            w->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);

        if (c.kind == Ctl::GroupBox)
            w->lower(); // a frame drawn around controls must not take their clicks
        if (c.style & kDisabled)
            w->setEnabled(false);
        if (c.style & kHidden) {
            w->setFocusPolicy(Qt::NoFocus);
            w->hide();
        }
        if (c.id != kNoId)
            m_items[c.id] = w;

        // The text that stands just before a field in the template names it for assistive
        // technology, as on the platform the templates come from: a label becomes its buddy
        // (name and "labelled by"), a group box lends its caption.
        if (IsField(c.kind) && !m_rows.empty()) {
            QWidget* before = m_rows.back();
            if (auto* label = qobject_cast<QLabel*>(before))
                label->setBuddy(w);
            else if (qobject_cast<QGroupBox*>(before))
                m_groupNamed.emplace_back(w, m_rows.size() - 1);
        }
        m_rows.push_back(w);
    }
    m_shown.resize(m_rows.size());
    ApplyTexts();
}

QString CDialog::Translate(const char* caption) const {
    if (!caption || !*caption)
        return {};
    return m_template.context ? QCoreApplication::translate(m_template.context, caption)
                              : FromCaption(caption);
}

QRect CDialog::RowRect(std::size_t row) const {
    const ControlDef& c = m_template.controls[row];
    return {DuToPxX(c.x), DuToPxY(c.y) + m_menuHeight, DuToPxX(c.w), DuToPxY(c.h)};
}

void CDialog::ApplyTexts() {
    setWindowTitle(Translate(m_template.caption));
    int right = DuToPxX(m_template.width);
    const int margin = DuToPxX(4);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const ControlDef& c = m_template.controls[i];
        QWidget* w = m_rows[i];
        const QString caption = Translate(c.caption);
        const bool translated = caption != FromCaption(c.caption);
        QRect r = RowRect(i);
        if (c.kind != Ctl::Edit) {
            if (CaptionOf(*w) == m_shown[i])
                SetCaptionOf(*w, caption);
            m_shown[i] = caption;
            // A label never cuts its text: where this font runs wider than the template's, it
            // grows to the right instead. A translation that runs longer widens its control;
            // the source texts keep the template's sizes.
            if (c.kind == Ctl::Label || translated)
                r.setWidth(std::max(r.width(), NeededWidth(*w)));
            if (translated && !w->isHidden())
                right = std::max(right, r.right() + 1 + margin);
        }
        w->setGeometry(r);
    }
    for (const auto& [field, group] : m_groupNamed)
        field->setAccessibleName(CaptionOf(*m_rows[group]));
    for (auto& [action, source, shown] : m_menuTexts) {
        if (action->text() == shown)
            action->setText(Translate(source));
        shown = Translate(source);
    }
    if (m_menuBar)
        m_menuBar->setGeometry(0, 0, right, m_menuHeight);
    setFixedSize(right, DuToPxY(m_template.height) + m_menuHeight);
}

void CDialog::TrackMenuText(QAction* action, const char* source) {
    action->setText(Translate(source));
    m_menuTexts.push_back({action, source, action->text()});
}

int CDialog::DuToPxX(int du) const {
    return (du * m_baseX + 2) / 4;
}

int CDialog::DuToPxY(int du) const {
    return (du * m_baseY + 4) / 8;
}

void CDialog::SetMenu(std::span<const MenuEntry> menu) {
    m_menuBar = new QMenuBar(this);
    QMenu* popup = nullptr;
    for (const MenuEntry& row : menu) {
        QAction* action = nullptr;
        if (row.inPopup && popup) {
            action = popup->addAction(QString());
        } else if (row.id == kNoId) {
            popup = m_menuBar->addMenu(QString());
            TrackMenuText(popup->menuAction(), row.caption);
        } else {
            popup = nullptr;
            action = m_menuBar->addAction(QString());
        }
        if (action) {
            TrackMenuText(action, row.caption);
            action->setData(row.id);
            connect(action, &QAction::triggered, this, [this, id = row.id] { SendCommand(id); });
            m_menuItems[row.id] = action;
        }
    }
    // The menu sits above the client area, so the template keeps its coordinates.
    m_menuHeight = m_menuBar->sizeHint().height();
    ApplyTexts();
}

QAction* CDialog::MenuItem(int id) const {
    const auto it = m_menuItems.find(id);
    return it == m_menuItems.end() ? nullptr : it->second;
}

void CDialog::LabelBy(int id, const char* labelCaption) {
    QWidget& field = Require(id);
    QLabel* named = nullptr;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        auto* label = qobject_cast<QLabel*>(m_rows[i]);
        if (!label)
            continue;
        if (label->buddy() == &field)
            label->setBuddy(nullptr);
        if (m_template.controls[i].kind == Ctl::Label &&
            qstrcmp(m_template.controls[i].caption, labelCaption) == 0)
            named = label;
    }
    if (!named)
        qFatal("dialog %d has no label %s", m_template.resourceId, labelCaption);
    field.setAccessibleName({});
    named->setBuddy(&field);
}

QWidget* CDialog::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QAbstractButton* CDialog::Button(int id) const {
    return qobject_cast<QAbstractButton*>(Item(id));
}

QLineEdit* CDialog::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Item(id));
}

QWidget& CDialog::Require(int id) const {
    QWidget* w = Item(id);
    if (!w)
        qFatal("dialog %d has no control %d", m_template.resourceId, id);
    return *w;
}

void CDialog::SetDlgItemText(int id, const QString& text) {
    QWidget& w = Require(id);
    if (auto* e = qobject_cast<QLineEdit*>(&w))
        e->setText(text);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(&w))
        p->setPlainText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    else if (auto* b = qobject_cast<QAbstractButton*>(&w))
        b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(&w))
        l->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(&w))
        g->setTitle(text);
    else if (auto* c = qobject_cast<QComboBox*>(&w))
        c->setEditText(text);
}

QString CDialog::GetDlgItemText(int id) const {
    QWidget& w = Require(id);
    if (auto* e = qobject_cast<QLineEdit*>(&w))
        return e->text();
    if (auto* p = qobject_cast<QPlainTextEdit*>(&w))
        return p->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    if (auto* b = qobject_cast<QAbstractButton*>(&w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(&w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(&w))
        return g->title();
    if (auto* c = qobject_cast<QComboBox*>(&w))
        return c->currentText();
    return {};
}

void CDialog::CheckRadioButton(int first, int last, int check) {
    for (auto it = m_items.lower_bound(first); it != m_items.end() && it->first <= last; ++it)
        if (auto* b = qobject_cast<QAbstractButton*>(it->second); b && b->isCheckable())
            b->setChecked(it->first == check);
}

bool CDialog::IsDlgButtonChecked(int id) const {
    const QAbstractButton* b = Button(id);
    return b && b->isChecked();
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    try {
        DoDataExchange(dx);
    } catch (const ExchangeFailed&) {
        return false;
    }
    return true;
}

void CDialog::PromptAt(int id, const QString& prompt) {
    AfxMessageBox(prompt);
    if (QWidget* w = Item(id)) {
        w->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->selectAll();
    }
}

bool CDialog::CheckRange(int id, long long value, long long min, long long max) {
    if (value >= min && value <= max)
        return true;
    PromptAt(id, RangePrompt(min, max));
    return false;
}

void CDialog::DoDataExchange(CDataExchange&) {}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnTimer(unsigned) {}

void CDialog::OnLanguageChange() {}

void CDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        ApplyTexts();
        OnLanguageChange();
    }
    QDialog::changeEvent(event);
}

int CDialog::DoModal() {
    m_result = IDCANCEL;
    m_ended = false;
    bool focusFirst = true;
    Guard([&] { focusFirst = OnInitDialog(); });
    if (focusFirst)
        FocusFirstTabStop();
    // A dialog that ended itself during its initialisation never shows.
    if (!m_ended)
        exec();
    // Timers put during an initialisation that had already ended the dialog end here.
    KillAllTimers();
    return m_result;
}

void CDialog::EndDialog(int result) {
    done(result);
}

// A dialog's timers end with it, as on the platform the dialogs come from: an object that
// lives on after its dialog ended (hidden, to be run again) would otherwise go on ticking for
// nothing until it is destroyed.
void CDialog::done(int result) {
    m_result = result;
    m_ended = true;
    KillAllTimers();
    QDialog::done(result);
}

void CDialog::FocusFirstTabStop() {
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void CDialog::OnCommand(int id, std::function<void()> handler) {
    m_commands[id] = std::move(handler);
}

void CDialog::SendCommand(int id) {
    if (const auto it = m_commands.find(id); it != m_commands.end()) {
        const std::function<void()> handler = it->second;
        Guard(handler);
    } else if (id == IDOK) {
        Guard([this] { OnOK(); });
    } else if (id == IDCANCEL) {
        Guard([this] { OnCancel(); });
    }
}

void CDialog::Guard(const std::function<void()>& fn) {
    // CommError is the one error a handler expects; anything else is shown the same way,
    // because an exception must never unwind through Qt's event loop.
    try {
        fn();
    } catch (const std::exception& e) {
        AfxMessageBox(QString::fromUtf8(e.what()));
    }
}

void CDialog::SetTimer(unsigned id, std::uint32_t ms) {
    KillTimer(id);
    const auto period = std::clamp<std::uint32_t>(ms, kMinTimerMs, INT_MAX);
    const int qtId = startTimer(static_cast<int>(period), Qt::PreciseTimer);
    if (qtId != 0)
        m_timers[id] = {qtId, period};
}

void CDialog::KillTimer(unsigned id) {
    if (const auto it = m_timers.find(id); it != m_timers.end()) {
        killTimer(it->second.first);
        m_timers.erase(it);
    }
}

void CDialog::KillAllTimers() {
    for (const auto& [id, timer] : m_timers)
        killTimer(timer.first);
    m_timers.clear();
}

bool CDialog::IsTimerRunning(unsigned id) const {
    return m_timers.count(id) != 0;
}

std::uint32_t CDialog::TimerPeriod(unsigned id) const {
    const auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : it->second.second;
}

void CDialog::timerEvent(QTimerEvent* event) {
    for (const auto& [id, timer] : m_timers) {
        if (timer.first == event->timerId()) {
            const unsigned which = id;
            Guard([this, which] { OnTimer(which); });
            return;
        }
    }
    QDialog::timerEvent(event);
}

// Enter sends the command of a focused push button, otherwise that of the default push
// button, otherwise OK; Esc sends Cancel.
void CDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused) {
            if (focused->isEnabled() && focused->isVisible())
                focused->click();
            return;
        }
        for (const ControlDef& c : m_template.controls) {
            if (c.kind == Ctl::DefPushButton) {
                if (QAbstractButton* b = Button(c.id); b && b->isEnabled())
                    b->click();
                return;
            }
        }
        SendCommand(IDOK);
        return;
    }
    case Qt::Key_Escape:
        SendCommand(IDCANCEL);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CDialog::reject() {
    SendCommand(IDCANCEL);
}

void CDialog::accept() {
    SendCommand(IDOK);
}

// ---- application-wide helpers ----------------------------------------------------------------

QString AppCaption() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void AfxMessageBox(const QString& text) {
    QPointer<QMessageBox> shown;
    AfxMessageBox(text, shown);
}

void AfxMessageBox(const QString& text, QPointer<QMessageBox>& shown) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    // The class library gives an OK-only box the exclamation icon.
    QMessageBox box(QMessageBox::Warning, AppCaption(), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    shown = &box;
    box.exec();
}

QStringList FontFamilies(const char* family) {
    QStringList families;
    const QString own = FromCaption(family);
    if (!own.isEmpty())
        families << own;
    for (const char* fallback : {"SimSun", "NSimSun", "Noto Serif CJK SC", "Noto Sans CJK SC",
                                 "WenQuanYi Zen Hei", "AR PL UMing CN"})
        if (const QString f = QString::fromLatin1(fallback); !families.contains(f))
            families << f;
    return families;
}

void ApplyApplicationLook() {
    QPalette pal = QApplication::palette();
    pal.setColor(QPalette::Window, QColor(215, 225, 200));
    pal.setColor(QPalette::WindowText, QColor(0, 5, 10));
    QApplication::setPalette(pal);

    QFont font;
    font.setFamilies(FontFamilies("宋体"));
    font.setPointSize(10);
    QApplication::setFont(font);
}

} // namespace md::ui
