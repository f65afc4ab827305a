#pragma once
// The interface language. The Chinese texts are the source texts, so Chinese needs no
// translator; English loads the translation compiled into the program. Switching sends every
// open window a language change, on which the dialogs show their texts afresh.

#include <QString>

#include <functional>
#include <optional>

class QMenu;

namespace md::ui {

enum class Language { Chinese, English };

// "zh" and "en", as the command line and the settings write them.
QString LanguageCode(Language language);
std::optional<Language> LanguageFromCode(const QString& code);

// Installs the translation for language (none for Chinese) in the application.
void SetLanguage(Language language);
Language CurrentLanguage();

// Called whenever the operator picks a language from the menu (start-up remembers it).
void OnLanguageChosen(std::function<void(Language)> remember);

// Adds the submenu "语言 / Language" with 中文 and English, the current one checked, to
// menu. Each entry names its language in that language, so the menu reads the same in both.
QMenu* AddLanguageMenu(QMenu* menu);

// Texts that stay as they are in every language: the language menu's own.
QStringList LanguageMenuTexts();

} // namespace md::ui
