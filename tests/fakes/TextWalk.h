#pragma once
// The texts a window shows, as a walk over its visible widgets and its menus: which of them
// are written in Chinese characters, and which do not fit their control.
//
//   QCOMPARE(md::CjkTexts(&dlg, ui::LanguageMenuTexts()), QStringList{});
//   QCOMPARE(md::ClippedTexts(&dlg), QStringList{});

#include <QStringList>

class QWidget;

namespace md {

// Every visible text of window (its title, captions, field contents, menu entries) with a
// CJK character in it, except the texts in allowed.
QStringList CjkTexts(QWidget* window, const QStringList& allowed = {});

// Every visible text wider than the room its control gives it, and every visible control
// that reaches beyond the window's edge. One line each: class, text, widths.
QStringList ClippedTexts(QWidget* window);

} // namespace md
