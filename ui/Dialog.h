#pragma once
// A small dialog framework in the manner of the Windows class library the tool was designed
// around: templates in dialog units, controls found by id, data exchange with prompts,
// message boxes, window timers by id, and one guard around every handler.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <span>

class QAbstractButton;
class QLineEdit;

namespace md::ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int kNoId = -1; // labels and group boxes

enum class Ctl { PushButton, DefPushButton, Edit, Label, GroupBox, Radio };

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
    kAutoHScroll = 1u << 8,
    kNoWordWrap = 1u << 9,
};

// Dialog frame bits.
enum : unsigned {
    kSystemMenu = 1u << 0,
    kMinimizeBox = 1u << 1,
    kTaskbarButton = 1u << 2,
};

struct ControlSpec {
    int id;
    Ctl kind;
    const char* caption; // UTF-8
    int x, y, w, h;      // dialog units
    unsigned style = 0;
};

struct DialogSpec {
    int resourceId;
    const char* caption; // UTF-8
    int width, height;   // client area, dialog units
    const char* fontFamily;
    int pointSize;
    unsigned frame;
    std::span<const ControlSpec> controls; // template order = tab order
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

// Whole-number text <-> int. A take of anything else shows the integer prompt.
void DDX_Text(CDataExchange& dx, int id, int& value);
// Unsigned byte: a take outside 0..255 shows the prompt naming that range.
void DDX_Text(CDataExchange& dx, int id, std::uint8_t& value);
// Unsigned whole number (no sign allowed).
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
    explicit CDialog(const DialogSpec& spec, QWidget* parent = nullptr);
    ~CDialog() override;

    // Builds the controls (once), runs OnInitDialog and the modal loop; returns IDOK/IDCANCEL
    // or whatever EndDialog was given.
    int DoModal();
    void EndDialog(int result);

    // Controls by id; nullptr for an unknown id.
    QWidget* Item(int id) const;
    QAbstractButton* Button(int id) const;
    QLineEdit* Edit(int id) const;

    bool UpdateData(bool saveAndValidate = true);

    void CheckRadioButton(int first, int last, int check);
    bool IsDlgButtonChecked(int id) const;
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;

    // Window timers by id: starting a running id replaces its period.
    void SetTimer(unsigned id, std::uint32_t ms);
    void KillTimer(unsigned id);
    bool IsTimerRunning(unsigned id) const;
    std::uint32_t TimerPeriod(unsigned id) const; // 0 when not running

    // Runs fn inside the handler guard: a CommError aborts it and is shown in a message box.
    void Guard(const std::function<void()>& fn);

    // Pixels for dialog units in this dialog's font.
    int DuToPxX(int du) const;
    int DuToPxY(int du) const;

    const DialogSpec& Spec() const { return m_spec; }

protected:
    virtual void DoDataExchange(CDataExchange& dx);
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnTimer(unsigned id);

    // Command table: a click of control id runs handler inside the guard.
    void OnCommand(int id, std::function<void()> handler);

    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void accept() override;

private:
    void Build();

    const DialogSpec& m_spec;
    std::map<int, QWidget*> m_items;
    std::map<unsigned, std::pair<int, std::uint32_t>> m_timers; // id -> (Qt timer id, period)
    bool m_built = false;
    int m_result = IDCANCEL;
};

// Message box with an OK button only, captioned with the executable's file name stem, over
// the active dialog. Its nested loop keeps timers running.
void AfxMessageBox(const QString& text);
QString AppCaption();

// Application-wide palette (dialog colours) and the 宋体 font with CJK fallbacks.
void ApplyApplicationLook();

} // namespace md::ui
