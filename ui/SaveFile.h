#pragma once
// What the windows beside the main window share for saving: asking where, and telling that a
// file could not be written.

#include <QString>

#include <functional>

class QWidget;

namespace md::ui {

// Asks the operator for a file to save to; an empty text when cancelled.
using FileChooser =
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>;
// The chooser in use: the platform's save dialog unless replaced (tests answer it themselves).
FileChooser& SaveFileChooser();

// A box naming the file that could not be written and the reason.
void ReportUnwritable(const QString& path, const QString& reason);

} // namespace md::ui
