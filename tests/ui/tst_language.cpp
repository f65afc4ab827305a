// The interface in English: which language the program starts in and how it remembers the
// operator's choice, every window without Chinese and without a cut text, and an open main
// window going over to the other language at once.

#include "app/CommandLine.h"
#include "app/InterfaceLanguage.h"
#include "fakes/TextWalk.h"
#include "fakes/WindowTable.h"
#include "ui/Language.h"

#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using md::ui::Language;

class TestLanguage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Back to Chinese and to no remembering, whatever a test left behind.
    void cleanup() {
        md::ui::SetLanguage(Language::Chinese);
        md::ui::OnLanguageChosen({});
    }

    void startLanguage_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("remembered"); // empty: nothing stored
        QTest::addColumn<bool>("english");
        QTest::newRow("nothing chosen: Chinese") << QString() << QString() << false;
        QTest::newRow("remembered English") << QString() << "en" << true;
        QTest::newRow("option ahead of the setting") << QStringLiteral("zh") << "en" << false;
        QTest::newRow("option alone") << "en" << QString() << true;
        QTest::newRow("a setting of no language: Chinese") << QString() << "fr" << false;
    }
    void startLanguage() {
        QFETCH(QString, option);
        QFETCH(QString, remembered);
        QFETCH(bool, english);
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        if (!remembered.isEmpty())
            settings.setValue(QStringLiteral("interface/language"), remembered);
        md::Options options;
        options.language = option;
        QCOMPARE(md::StartLanguage(options, settings) == Language::English, english);
    }

    void menuSwitchesAndIsRemembered() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        md::UseInterfaceLanguage(md::Options{}, settings);
        QMenu view;
        QMenu* sub = md::ui::AddLanguageMenu(&view);
        QCOMPARE(sub->title(), QStringLiteral("语言 / Language"));
        const QList<QAction*> items = sub->actions();
        QCOMPARE(items.size(), 2);
        items[1]->trigger();
        QCOMPARE(md::ui::CurrentLanguage(), Language::English);
        QCOMPARE(settings.value(QStringLiteral("interface/language")).toString(), "en");
        QCOMPARE(md::ui::IntegerPrompt(), QStringLiteral("Please enter a whole number."));
        Q_EMIT sub->aboutToShow();
        QVERIFY(items[1]->isChecked() && !items[0]->isChecked());
        items[0]->trigger();
        QCOMPARE(md::ui::CurrentLanguage(), Language::Chinese);
        QCOMPARE(settings.value(QStringLiteral("interface/language")).toString(), "zh");
    }

    // In English no Chinese is left; in either language nothing is cut.
    void windowsShowNoChineseInEnglishAndNoCutText_data() { md::WindowRows(); }
    void windowsShowNoChineseInEnglishAndNoCutText() {
        QFETCH(QString, window);
        const md::ShownWindow chinese = md::ShowWindow(window);
        QCOMPARE(md::ClippedTexts(chinese.window), QStringList{});
        md::ui::SetLanguage(Language::English);
        const md::ShownWindow english = md::ShowWindow(window);
        QCOMPARE(md::CjkTexts(english.window, md::ui::LanguageMenuTexts()), QStringList{});
        QCOMPARE(md::ClippedTexts(english.window), QStringList{});
    }

    void openMainWindowGoesOverAtOnce() {
        md::MainWindowRig rig;
        rig.Init();
        rig.dlg.EnableAllCommands();
        rig.dlg.show();
        rig.Click(1065); // the prompt says measurements are being read
        const QSize chineseSize = rig.dlg.size();
        md::ui::SetLanguage(Language::English);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        QCOMPARE(rig.dlg.windowTitle(), QStringLiteral("VX5200 Test - Korvanta"));
        QCOMPARE(rig.Text(1023), QStringLiteral("Read parameters"));
        QCOMPARE(rig.Text(md::ui::CMeterDebugDlg::kPromptEdit),
                 QStringLiteral("Reading measurements..."));
        QVERIFY(rig.Text(md::ui::CMeterDebugDlg::kSummaryEdit).contains(u"Parity:  none"));
        QCOMPARE(rig.dlg.MenuBar()->actions().first()->text(), QStringLiteral("&Functions"));
        const QStringList cjk = md::CjkTexts(&rig.dlg, md::ui::LanguageMenuTexts());
        QVERIFY2(cjk.isEmpty(), qPrintable(cjk.join(u',')));
        md::ui::SetLanguage(Language::Chinese);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        QCOMPARE(rig.Text(1023), QStringLiteral("读参数数据"));
        QCOMPARE(rig.Text(md::ui::CMeterDebugDlg::kPromptEdit),
                 QStringLiteral("正在读测量数据..."));
        QCOMPARE(rig.dlg.size(), chineseSize);
        rig.dlg.KillTimer(md::ui::CMeterDebugDlg::kPollTimer);
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
