#include "fakes/AccessibleWalk.h"

#include <QAccessible>
#include <QRect>
#include <QWidget>

namespace md {

namespace {

bool IsTextField(QAccessible::Role role) {
    return role == QAccessible::EditableText || role == QAccessible::ComboBox ||
           role == QAccessible::SpinBox;
}

void Walk(QAccessibleInterface* node, QStringList& unnamed) {
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (!child || child->state().invisible)
            continue;
        const bool reachable = child->state().focusable || IsTextField(child->role());
        if (reachable && child->text(QAccessible::Name).trimmed().isEmpty()) {
            const QRect r = child->rect();
            unnamed << QStringLiteral("%1 %2 at %3,%4")
                           .arg(QLatin1String(qAccessibleRoleString(child->role())),
                                QLatin1String(child->object()->metaObject()->className()))
                           .arg(r.x())
                           .arg(r.y());
        }
        Walk(child, unnamed);
    }
}

} // namespace

QStringList UnnamedControls(QWidget* window) {
    QStringList unnamed;
    Walk(QAccessible::queryAccessibleInterface(window), unnamed);
    return unnamed;
}

QString AccessibleName(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

QStringList LabelledBy(QWidget* widget) {
    QStringList names;
    const auto relations =
        QAccessible::queryAccessibleInterface(widget)->relations(QAccessible::Label);
    for (const auto& [label, relation] : relations)
        names << label->text(QAccessible::Name);
    return names;
}

} // namespace md
