#include "ui/Language.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <QTranslator>

#include <memory>

namespace md::ui {

namespace {

constexpr const char* kMenuTitle = "语言 / Language";
constexpr const char* kChineseItem = "中文";
constexpr const char* kEnglishItem = "English";

Language g_language = Language::Chinese;
std::unique_ptr<QTranslator> g_translator;
std::function<void(Language)> g_remember;

} // namespace

QString LanguageCode(Language language) {
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
}

std::optional<Language> LanguageFromCode(const QString& code) {
    if (code == QLatin1String("en"))
        return Language::English;
    if (code == QLatin1String("zh"))
        return Language::Chinese;
    return std::nullopt;
}

void SetLanguage(Language language) {
    if (g_translator) {
        QCoreApplication::removeTranslator(g_translator.get());
        g_translator.reset();
    }
    g_language = language;
    if (language == Language::Chinese)
        return;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/i18n/meterdebug_en.qm")))
        qFatal("the English translation is not compiled in");
    QCoreApplication::installTranslator(translator.get());
    g_translator = std::move(translator);
}

Language CurrentLanguage() {
    return g_language;
}

void OnLanguageChosen(std::function<void(Language)> remember) {
    g_remember = std::move(remember);
}

QMenu* AddLanguageMenu(QMenu* menu) {
    QMenu* sub = menu->addMenu(QString::fromUtf8(kMenuTitle));
    auto* group = new QActionGroup(sub);
    for (const auto& [text, language] :
         {std::pair{kChineseItem, Language::Chinese}, std::pair{kEnglishItem, Language::English}}) {
        QAction* item = sub->addAction(QString::fromUtf8(text));
        item->setCheckable(true);
        item->setActionGroup(group);
        item->setData(LanguageCode(language));
        QObject::connect(item, &QAction::triggered, sub, [lang = language] {
            if (lang == CurrentLanguage())
                return;
            SetLanguage(lang);
            if (g_remember)
                g_remember(lang);
        });
    }
    // The check follows the language however it was chosen.
    QObject::connect(sub, &QMenu::aboutToShow, sub, [sub] {
        for (QAction* item : sub->actions())
            item->setChecked(item->data().toString() == LanguageCode(CurrentLanguage()));
    });
    return sub;
}

QStringList LanguageMenuTexts() {
    return {QString::fromUtf8(kMenuTitle), QString::fromUtf8(kChineseItem),
            QString::fromUtf8(kEnglishItem)};
}

} // namespace md::ui
