#include "fakes/ModalHelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace md {

namespace {

// Fast enough that a test does not notice, slow enough not to starve the code under test.
constexpr int kPollMs = 5;

QWidget* FocusOf(QWidget* w) {
    QWidget* f = w->focusWidget();
    return f ? f : w;
}

} // namespace

ModalHelper::ModalHelper(QObject* parent) : QObject(parent) {
    Schedule();
}

void ModalHelper::Answer(Action action) {
    m_actions.push_back(std::move(action));
}

void ModalHelper::AnswerBox(Action action) {
    m_boxActions.push_back(std::move(action));
}

void ModalHelper::Clear() {
    m_actions.clear();
    m_boxActions.clear();
    m_boxes.clear();
    m_boxCaptions.clear();
    m_dialogs.clear();
    m_unanswered.clear();
}

// Every poll is a timer of its own, so the next one can fire inside a modal loop that the
// current action opened.
void ModalHelper::Schedule() {
    QTimer::singleShot(kPollMs, this, &ModalHelper::Poll);
}

void ModalHelper::Poll() {
    Schedule();
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || m_busy.contains(modal))
        return;

    if (!m_seen.contains(modal)) {
        m_seen.insert(modal);
        connect(modal, &QObject::destroyed, this, [this, modal] { m_seen.remove(modal); });
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_boxes << box->text();
            m_boxCaptions << box->windowTitle();
        } else {
            m_dialogs << QString::fromLatin1(modal->metaObject()->className());
        }
    }

    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        const QPointer<QWidget> guard(modal);
        m_busy.insert(modal);
        if (!m_boxActions.empty()) {
            const Action action = std::move(m_boxActions.front());
            m_boxActions.pop_front();
            action(modal);
        }
        m_busy.remove(modal);
        if (guard) {
            if (box->isVisible()) {
                if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
            }
        }
        return;
    }

    if (m_actions.empty()) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (m_waiting != modal) {
            m_waiting = modal;
            m_waitingSince = now;
        } else if (now - m_waitingSince >= kUnansweredMs) {
            m_unanswered << QString::fromLatin1(modal->metaObject()->className());
            if (auto* dlg = qobject_cast<QDialog*>(modal))
                dlg->reject();
            else
                modal->close();
        }
        return;
    }
    m_waiting = nullptr;
    const Action action = std::move(m_actions.front());
    m_actions.pop_front();
    m_busy.insert(modal);
    action(modal);
    m_busy.remove(modal);
}

void ModalHelper::PressEnter(QWidget* w) {
    QTest::keyClick(FocusOf(w), Qt::Key_Return);
}

void ModalHelper::PressEscape(QWidget* w) {
    QTest::keyClick(FocusOf(w), Qt::Key_Escape);
}

void ModalHelper::Type(QWidget* edit, const QString& text) {
    auto* e = qobject_cast<QLineEdit*>(edit);
    if (!e)
        qFatal("ModalHelper::Type needs a line edit");
    e->setFocus();
    e->selectAll();
    e->del();
    QTest::keyClicks(e, text);
}

} // namespace md
