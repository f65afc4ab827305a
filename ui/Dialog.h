#pragma once
// A small dialog framework in the manner of the Windows class library the tool was designed
// around: templates in dialog units, controls found by id, data exchange with prompts,
// message boxes, window timers by id, and one guard around every handler.

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

class QAbstractButton;
class QAction;
class QLineEdit;
class QMenuBar;
class QMessageBox;

namespace md::ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int kNoId = -1; // labels and group boxes

// A ComboBox is an editable drop-down list (the typed text is its value), whose preceding
// label in the template is its buddy.
enum class Ctl { PushButton, DefPushButton, Edit, Label, GroupBox, Radio, ComboBox };

// Control style bits.
enum : unsigned {
    kHidden = 1u << 0,
    kReadOnly = 1u << 1,
    kNoBorder = 1u << 2,
    kMultiLine = 1u << 3,
    kNoTabStop = 1u << 4,
    kCentre = 1u << 5,
    kDisabled = 1u << 6,
    kDigitsOnly = 1u << 7,
    kNoWordWrap = 1u << 9,
};

// Dialog frame bits. Without kSystemMenu the frame has no close box (Esc still cancels).
enum : unsigned {
    kSystemMenu = 1u << 0,
    kMinimizeBox = 1u << 1,
    kTaskbarButton = 1u << 2,
};

// One row of a dialog template. Push buttons, edits and radio buttons are tab stops unless
// kNoTabStop is given; labels and group boxes never are. Hidden controls are created hidden
// and can be reached neither by the mouse nor by the keyboard.
struct ControlDef {
    int id;
    Ctl kind;
    const char* caption; // UTF-8
    int x, y, w, h;      // dialog units
    unsigned style = 0;
};

struct DialogTemplate {
    int resourceId;
    const char* caption; // UTF-8
    int width, height;   // client area, dialog units
    const char* fontFamily;
    int pointSize;
    unsigned frame;
    std::span<const ControlDef> controls; // template order = tab order
    // The translation context of the captions (the dialog's class name); the tables mark
    // their captions with QT_TRANSLATE_NOOP in this context. None: shown as written.
    const char* context = nullptr;
};

// One menu entry. A pop-up lists its items in the rows after it that have inPopup set; a
// top-level row without items is a command of its own.
struct MenuEntry {
    int id; // kNoId for a pop-up
    const char* caption;
    bool inPopup;
};

class CDialog;

// One pass of data exchange. A failed take throws internally; UpdateData catches it.
class CDataExchange {
public:
    CDataExchange(CDialog& dlg, bool saveAndValidate)
        : m_dlg(dlg), m_bSaveAndValidate(saveAndValidate) {}
    CDialog& m_dlg;
    const bool m_bSaveAndValidate;
    // Shows the prompt, focuses control id and ends the exchange with failure.
    [[noreturn]] void Fail(int id, const QString& prompt);
};

// Binds member to button id (both directions leave the control alone).
void DDX_Control(CDataExchange& dx, int id, QAbstractButton*& member);
// Whole-number text <-> int. A take of anything else (empty, letters, beyond the int range)
// shows the integer prompt.
void DDX_Text(CDataExchange& dx, int id, int& value);
// Unsigned byte: a take of anything but a whole number 0..255 shows the prompt naming that
// range.
void DDX_Text(CDataExchange& dx, int id, std::uint8_t& value);
// Unsigned whole number (no minus sign allowed); anything else shows the unsigned prompt.
void DDX_Text(CDataExchange& dx, int id, unsigned& value);
void DDX_Text(CDataExchange& dx, int id, QString& value);
// Range check after a take; shows the range prompt and fails outside [min, max].
void DDV_MinMaxUInt(CDataExchange& dx, int id, unsigned value, unsigned min, unsigned max);

// The framework's prompts (wording ours).
QString IntegerPrompt();
QString UnsignedPrompt();
QString RangePrompt(long long min, long long max);

class CDialog : public QDialog {
    Q_OBJECT
public:
    // The controls exist from construction on, so Item() works before DoModal. tmpl must
    // outlive the dialog (templates are static tables).
    explicit CDialog(const DialogTemplate& tmpl, QWidget* parent = nullptr);
    ~CDialog() override;

    // Runs OnInitDialog (inside the guard) and the modal loop; returns IDOK/IDCANCEL or
    // whatever EndDialog was given. OnInitDialog returning true, or failing, puts the focus on
    // the first tab stop.
    int DoModal();
    void EndDialog(int result);
    // Every way a dialog ends comes through here; it records the result for DoModal.
    void done(int result) override;

    // Controls by id; nullptr for an unknown id. Multi-line edits are QPlainTextEdit, so
    // Edit() gives nullptr for them: read and write them with Get/SetDlgItemText.
    QWidget* Item(int id) const;
    QAbstractButton* Button(int id) const;
    QLineEdit* Edit(int id) const;

    bool UpdateData(bool saveAndValidate = true);
    // The framework's reaction to a field it refuses: prompt shown, focus on control id with
    // its text selected.
    void PromptAt(int id, const QString& prompt);
    // A range check outside the data exchange: a value outside [min, max] gets the range
    // prompt at control id, and false.
    bool CheckRange(int id, long long value, long long min, long long max);

    void CheckRadioButton(int first, int last, int check);
    bool IsDlgButtonChecked(int id) const;
    // Multi-line edits keep "\r\n" line ends in both directions; a combo box's text is what
    // its edit field holds.
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;

    // The command of control id as a click would send it (hidden buttons included).
    void SendCommand(int id);

    // Attaches the menu above the client area; its commands go to SendCommand.
    void SetMenu(std::span<const MenuEntry> menu);
    QMenuBar* MenuBar() const { return m_menuBar; }
    QAction* MenuItem(int id) const;

    // Window timers by id: starting a running id replaces its period. Periods below 10 ms
    // run at 10 ms, as on Windows. A tick that falls due while its own handler still runs
    // (inside a message box, say) is dropped: Qt never re-enters a timer's own handler. Every
    // timer ends when the dialog ends; a dialog run again starts its own anew.
    void SetTimer(unsigned id, std::uint32_t ms);
    void KillTimer(unsigned id);
    bool IsTimerRunning(unsigned id) const;
    std::uint32_t TimerPeriod(unsigned id) const; // the period in use; 0 when not running

    // Runs fn inside the handler guard: a CommError (or any other std::exception) aborts it
    // and is shown in a message box, so no exception crosses the event loop.
    void Guard(const std::function<void()>& fn);

    // Pixels for dialog units in this dialog's font.
    int DuToPxX(int du) const;
    int DuToPxY(int du) const;

    const DialogTemplate& Template() const { return m_template; }

    // A caption of the template (or any text marked in its context) in the current language.
    QString Translate(const char* caption) const;

protected:
    // Assistive technology names a field by the label that stands just before it in the
    // template (its buddy), else by the group box caption just before it. Where the template
    // order says otherwise, this makes the template's label captioned labelCaption the one
    // that names control id.
    void LabelBy(int id, const char* labelCaption);

    virtual void DoDataExchange(CDataExchange& dx);
    // Shows the members in the controls; returns true.
    virtual bool OnInitDialog();
    // Takes the data and ends the dialog with IDOK when that succeeds.
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnTimer(unsigned id);
    // The language changed and the template's captions are shown afresh: texts the dialog
    // wrote itself are its own to renew here.
    virtual void OnLanguageChange();

    // Command table: a click of control id runs handler inside the guard. Ids 1 and 2 default
    // to OnOK and OnCancel.
    void OnCommand(int id, std::function<void()> handler);

    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void accept() override;

private:
    void Build();
    void KillAllTimers();
    // Captions in the current language, and where a translation runs longer than its control,
    // the control (and if need be the dialog) wider. Captions the dialog has changed since are
    // left alone.
    void ApplyTexts();
    QRect RowRect(std::size_t row) const;

protected:
    // Gives a menu entry the caption source in the current language, renewed on a change of
    // language unless its text has been changed meanwhile.
    void TrackMenuText(QAction* action, const char* source);

private:
    QWidget& Require(int id) const;
    void FocusFirstTabStop();

    const DialogTemplate& m_template;
    std::vector<QWidget*> m_rows; // one widget per template row, in template order
    std::vector<QString> m_shown; // the caption each row was last given
    // Fields named by the caption of the group box before them: field, group row.
    std::vector<std::pair<QWidget*, std::size_t>> m_groupNamed;
    struct MenuText {
        QAction* action;
        const char* source;
        QString shown;
    };
    std::vector<MenuText> m_menuTexts;
    int m_menuHeight = 0; // the menu bar above the client area
    std::map<int, QWidget*> m_items;
    std::map<int, std::function<void()>> m_commands;
    std::map<unsigned, std::pair<int, std::uint32_t>> m_timers; // id -> (Qt timer id, period)
    QMenuBar* m_menuBar = nullptr;
    std::map<int, QAction*> m_menuItems;
    int m_baseX = 0, m_baseY = 0; // dialog base units in pixels
    int m_result = IDCANCEL;
    bool m_ended = false;
};

// Message box with an OK button only, captioned with the executable's file name stem, over
// the active dialog. Its nested loop keeps timers running.
void AfxMessageBox(const QString& text);
// The same box; while it stands, shown points at it (its text can be brought up to date), and
// it is null again once the box has closed.
void AfxMessageBox(const QString& text, QPointer<QMessageBox>& shown);
QString AppCaption();

// Font families tried in order for a template's font: the family itself, then CJK faces that
// stand in for 宋体 where it is not installed.
QStringList FontFamilies(const char* family);

// Application-wide palette (dialog colours) and the 宋体 font with CJK fallbacks.
void ApplyApplicationLook();

} // namespace md::ui
