#include "app/InterfaceLanguage.h"

#include <QSettings>

namespace md {

namespace {

const QString kLanguageKey = QStringLiteral("interface/language");

} // namespace

ui::Language StartLanguage(const Options& options, const QSettings& settings) {
    if (const auto chosen = ui::LanguageFromCode(options.language))
        return *chosen;
    return ui::LanguageFromCode(settings.value(kLanguageKey).toString())
        .value_or(ui::Language::Chinese);
}

void UseInterfaceLanguage(const Options& options, QSettings& settings) {
    ui::SetLanguage(StartLanguage(options, settings));
    ui::OnLanguageChosen([&settings](ui::Language language) {
        settings.setValue(kLanguageKey, ui::LanguageCode(language));
    });
}

} // namespace md
