// The interface in English: which language the program starts in and how it remembers the
// operator's choice, every window without Chinese and without a cut text, an open main window
// going over to the other language at once, and the texts built from values and the command
// line's complaints in the interface language.

#include "app/CommandLine.h"
#include "app/InterfaceLanguage.h"
#include "app/ScanCommand.h"
#include "fakes/PrivateSettings.h"
#include "fakes/WindowTable.h"
#include "meter/SetupOps.h"
#include "ui/Language.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <functional>
#include <unistd.h>

using md::ui::Language;

// The scan command reads the remembered language where the program keeps it.
const md::PrivateSettings kSettings;

namespace {

// The texts a window shows, over its visible widgets and its menus.
QList<QWidget*> VisibleWidgets(QWidget* window) {
    QList<QWidget*> shown;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->isVisibleTo(window) && !w->isWindow())
            shown << w;
    return shown;
}

QStringList MenuTexts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* action : actions) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        texts << action->text();
        if (action->menu())
            texts << MenuTexts(action->menu()->actions());
    }
    return texts;
}

QStringList ShownTexts(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return {b->text()};
    if (auto* l = qobject_cast<QLabel*>(w))
        return {l->text()};
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return {g->title()};
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return {e->text()};
    if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        return p->toPlainText().split(u'\n');
    if (auto* m = qobject_cast<QMenuBar*>(w))
        return MenuTexts(m->actions());
    return {};
}

// The width a text may take in its control, or -1 for controls that do not clip.
int Room(QWidget* w) {
    if (auto* r = qobject_cast<QRadioButton*>(w))
        return w->width() - (w->sizeHint().width() - w->fontMetrics().horizontalAdvance(r->text()));
    if (qobject_cast<QAbstractButton*>(w))
        return w->width() - 4;
    if (qobject_cast<QLabel*>(w))
        return w->width();
    if (qobject_cast<QGroupBox*>(w))
        return w->width() - 8;
    if (qobject_cast<QLineEdit*>(w))
        return w->contentsRect().width() - 4;
    if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        return p->viewport()->width() - 2 * int(p->document()->documentMargin());
    return -1;
}

// Every visible text of window (its title, captions, field contents, menu entries) with a
// CJK character in it, except the texts in allowed.
QStringList CjkTexts(QWidget* window, const QStringList& allowed) {
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    QStringList texts{window->windowTitle()};
    for (QWidget* w : VisibleWidgets(window))
        texts << ShownTexts(w);
    QStringList found = texts.filter(cjk);
    found.removeIf([&](const QString& text) { return allowed.contains(text); });
    return found;
}

// Every visible text wider than the room its control gives it, and every visible control
// that reaches beyond the window's edge. One line each: class, text, widths.
QStringList ClippedTexts(QWidget* window) {
    QStringList clipped;
    for (QWidget* w : VisibleWidgets(window)) {
        if (w->parentWidget() == window && w->geometry().right() >= window->width())
            clipped
                << QStringLiteral("%1 beyond the window's edge").arg(w->metaObject()->className());
        const int room = Room(w);
        if (room < 0)
            continue;
        for (const QString& text : ShownTexts(w))
            if (const int need = w->fontMetrics().horizontalAdvance(text); need > room)
                clipped << QStringLiteral("%1 \"%2\": %3 px in %4")
                               .arg(QLatin1String(w->metaObject()->className()), text)
                               .arg(need)
                               .arg(room);
    }
    return clipped;
}

// What fn writes to standard error, where the command line prints.
QString StandardError(const std::function<void()>& fn) {
    QTemporaryFile file;
    if (!file.open())
        return QStringLiteral("no temporary file");
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    fn();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return QString::fromLocal8Bit(file.readAll());
}

} // namespace

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
        QCOMPARE(ClippedTexts(chinese.window), QStringList{});
        md::ui::SetLanguage(Language::English);
        const md::ShownWindow english = md::ShowWindow(window);
        QCOMPARE(CjkTexts(english.window, md::ui::LanguageMenuTexts()), QStringList{});
        QCOMPARE(ClippedTexts(english.window), QStringList{});
    }

    void meterClockText_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QList<int>>("fields"); // year (since 2000), month, day, hour, min, s
        QTest::addColumn<QString>("text");
        QTest::newRow("Chinese") << false << QList<int>{6, 11, 15, 10, 30, 45}
                                 << "当前时间:  2006年11月15日 10时30分45秒";
        QTest::newRow("Chinese, leading zeros")
            << false << QList<int>{0, 1, 1, 0, 0, 0} << "当前时间:  2000年01月01日 00时00分00秒";
        QTest::newRow("Chinese, a byte above 99 prints three digits")
            << false << QList<int>{6, 100, 15, 10, 30, 45}
            << "当前时间:  2006年100月15日 10时30分45秒";
        QTest::newRow("Chinese, largest bytes") << false << QList<int>{255, 255, 255, 255, 255, 255}
                                                << "当前时间:  2255年255月255日 255时255分255秒";
        QTest::newRow("English") << true << QList<int>{6, 11, 5, 14, 8, 21}
                                 << "Meter time: 2006-11-05 14:08:21";
    }
    void meterClockText() {
        QFETCH(bool, english);
        QFETCH(QList<int>, fields);
        QFETCH(QString, text);
        md::ui::SetLanguage(english ? Language::English : Language::Chinese);
        const auto byte = [&](int i) { return static_cast<std::uint8_t>(fields[i]); };
        md::meter::MeterClock clock;
        clock.year = byte(0);
        clock.month = byte(1);
        clock.day = byte(2);
        clock.hour = byte(3);
        clock.minute = byte(4);
        clock.second = byte(5);
        QCOMPARE(md::ui::MeterClockText(clock), text);
    }

    // The command line's own words stay English; what the port says follows the language.
    void scanCommandComplaintsFollowTheLanguage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("error");
        const QStringList scan{"MeterDebug", "--scan", "--com1", "/nonexistent"};
        QTest::newRow("Chinese by default")
            << scan << QString() << "MeterDebug: 无法打开串口 COM1（/nonexistent）：设备不存在\n";
        QTest::newRow("--language en") << scan + QStringList{"--language", "en"} << QString()
                                       << "MeterDebug: Cannot open serial port COM1 "
                                          "(/nonexistent): no such device\n";
        QTest::newRow("English as last chosen in the menu")
            << scan << "en"
            << "MeterDebug: Cannot open serial port COM1 (/nonexistent): no such device\n";
    }
    void scanCommandComplaintsFollowTheLanguage() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, remembered);
        QFETCH(QString, error);
        const auto forget = qScopeGuard([] { md::PrivateSettings::Open().clear(); });
        if (!remembered.isEmpty())
            md::PrivateSettings::Open().setValue(QStringLiteral("interface/language"), remembered);
        const md::CommandLine cl = md::ParseCommandLine(arguments, QProcessEnvironment());
        QVERIFY(!cl.exitCode);
        int status = -1;
        QCOMPARE(StandardError([&] { status = md::RunScanCommand(cl.options); }), error);
        QCOMPARE(status, 2);
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
        // Every menu of the bar opens with a key of its own.
        QStringList keys;
        for (const QAction* menu : rig.dlg.MenuBar()->actions())
            keys << QKeySequence::mnemonic(menu->text()).toString();
        QVERIFY2(!keys.contains(QString()) && QSet(keys.begin(), keys.end()).size() == keys.size(),
                 qPrintable(keys.join(u',')));
        const QStringList cjk = CjkTexts(&rig.dlg, md::ui::LanguageMenuTexts());
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
