#include "fakes/TextWalk.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QWidget>

namespace md {

namespace {

QList<QWidget*> VisibleWidgets(QWidget* window) {
    QList<QWidget*> shown;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisibleTo(window) && !w->isWindow())
            shown << w;
    return shown;
}

QStringList MenuTexts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* action : actions) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        texts << action->text();
        if (action->menu())
            texts << MenuTexts(action->menu()->actions());
    }
    return texts;
}

QStringList ShownTexts(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return {b->text()};
    if (auto* l = qobject_cast<QLabel*>(w))
        return {l->text()};
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return {g->title()};
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return {e->text()};
    if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        return p->toPlainText().split(u'\n');
    if (auto* m = qobject_cast<QMenuBar*>(w))
        return MenuTexts(m->actions());
    return {};
}

// The width a text may take in its control, or -1 for controls that do not clip.
int Room(QWidget* w) {
    if (qobject_cast<QRadioButton*>(w))
        return w->width() - (w->sizeHint().width() - w->fontMetrics().horizontalAdvance(
                                                         static_cast<QRadioButton*>(w)->text()));
    if (qobject_cast<QAbstractButton*>(w))
        return w->width() - 4;
    if (qobject_cast<QLabel*>(w))
        return w->width();
    if (qobject_cast<QGroupBox*>(w))
        return w->width() - 8;
    if (qobject_cast<QLineEdit*>(w))
        return w->contentsRect().width() - 4;
    if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        return p->viewport()->width() - 2 * int(p->document()->documentMargin());
    return -1;
}

} // namespace

QStringList CjkTexts(QWidget* window, const QStringList& allowed) {
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    QStringList texts{window->windowTitle()};
    for (QWidget* w : VisibleWidgets(window))
        texts << ShownTexts(w);
    QStringList found;
    for (const QString& text : texts)
        if (text.contains(cjk) && !allowed.contains(text))
            found << text;
    return found;
}

QStringList ClippedTexts(QWidget* window) {
    QStringList clipped;
    for (QWidget* w : VisibleWidgets(window)) {
        if (w->parentWidget() == window && w->geometry().right() >= window->width())
            clipped
                << QStringLiteral("%1 beyond the window's edge").arg(w->metaObject()->className());
        const int room = Room(w);
        if (room < 0)
            continue;
        for (const QString& text : ShownTexts(w))
            if (const int need = w->fontMetrics().horizontalAdvance(text); need > room)
                clipped << QStringLiteral("%1 \"%2\": %3 px in %4")
                               .arg(QLatin1String(w->metaObject()->className()), text)
                               .arg(need)
                               .arg(room);
    }
    return clipped;
}

} // namespace md
