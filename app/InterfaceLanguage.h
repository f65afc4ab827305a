#pragma once
// Which language the interface starts in, and where the operator's choice is remembered.

#include "app/CommandLine.h"
#include "ui/Language.h"

class QSettings;

namespace md {

// The command line's language, else the one last chosen in the menu, else Chinese (whatever
// the system's locale says).
ui::Language StartLanguage(const Options& options, const QSettings& settings);

// Starts the interface in StartLanguage and remembers each later choice from the menu in
// settings, which must outlive the windows.
void UseInterfaceLanguage(const Options& options, QSettings& settings);

} // namespace md
