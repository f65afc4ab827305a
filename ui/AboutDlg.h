#pragma once
// The about box (dialog 134): product and version, the maker and its support contacts.
// Closed by its button, Enter, Esc or the close box; it changes nothing.

#include "ui/Dialog.h"

namespace md::ui {

class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace md::ui
