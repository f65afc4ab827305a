#pragma once
// Answers the modal windows that the code under test opens, from inside their own loops.
//
//   ModalHelper modal;
//   modal.Answer([](QWidget* w) { ... type, click, ModalHelper::PressEnter(w) ... });
//   dlg.DoModal();                       // the action runs once the dialog is up
//   QCOMPARE(modal.Boxes(), QStringList{"改变波特率不成功"});
//
// Message boxes: every box is recorded (text and caption). A box gets the next AnswerBox
// action if one is queued, otherwise OK is pressed (the program's boxes have only OK).
// Other modal dialogs get the next Answer action, in the order the dialogs come up. A dialog
// that is still open after its action gets the next queued action too, so "type 256, press
// Enter" and "press Esc" can be two steps with the prompt in between. A dialog left without
// an action for kUnansweredMs is recorded in Unanswered() and rejected, so a test fails
// instead of hanging.

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <deque>
#include <functional>

class QWidget;

namespace md {

class ModalHelper : public QObject {
public:
    using Action = std::function<void(QWidget* modal)>;
    static constexpr int kUnansweredMs = 10000;

    explicit ModalHelper(QObject* parent = nullptr);

    // The action for the next modal dialog that is not a message box.
    void Answer(Action action);
    // The action for the next message box; OK is pressed afterwards if the box is still open.
    void AnswerBox(Action action);

    // Texts and captions of every message box seen, in order.
    QStringList Boxes() const { return m_boxes; }
    QStringList BoxCaptions() const { return m_boxCaptions; }
    // Class names (e.g. "md::ui::CCommSetDlg") of every other modal dialog seen, in order.
    QStringList Dialogs() const { return m_dialogs; }
    // Class names of dialogs that no action was queued for.
    QStringList Unanswered() const { return m_unanswered; }
    // Queued actions not used yet.
    int Pending() const { return static_cast<int>(m_actions.size() + m_boxActions.size()); }
    void Clear();

    // Key presses on the widget that has the focus in window w (or on w itself).
    static void PressEnter(QWidget* w);
    static void PressEscape(QWidget* w);
    // Puts text into a line edit as typing would, replacing what it held.
    static void Type(QWidget* edit, const QString& text);

private:
    void Poll();
    void Schedule();

    std::deque<Action> m_actions;
    std::deque<Action> m_boxActions;
    QStringList m_boxes;
    QStringList m_boxCaptions;
    QStringList m_dialogs;
    QStringList m_unanswered;
    // Windows whose action is running: nested polls leave them alone.
    QSet<QObject*> m_busy;
    QSet<QObject*> m_seen;
    QPointer<QWidget> m_waiting;
    qint64 m_waitingSince = 0;
};

} // namespace md
