#pragma once
// What assistive technology finds in a window: a walk over its accessibility tree.
//
//   QCOMPARE(md::UnnamedControls(&dlg), QStringList{});

#include <QStringList>

class QAccessibleInterface;
class QWidget;

namespace md {

// Every control of window a screen reader can reach that it could only call by its kind: a
// visible control that takes the focus, or a visible text field (read-only or disabled ones
// included), whose accessible name is empty. One line each: role, class and place.
QStringList UnnamedControls(QWidget* window);

// The accessible name of a widget, as a screen reader would say it.
QString AccessibleName(QWidget* widget);

// The names of the labels that a widget is "labelled by".
QStringList LabelledBy(QWidget* widget);

} // namespace md
