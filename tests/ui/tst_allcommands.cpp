// Every command on request: each menu item does what its button's command does, follows the
// button's state, and without the option the menu does nothing at all.

#include "fakes/MainWindowRig.h"
#include "fakes/Support.h"

#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace md;

namespace {

struct Window : MainWindowRig {
    explicit Window(bool allCommands) {
        if (allCommands)
            dlg.EnableAllCommands();
        Init();
    }

    // The item caption under the pop-up (empty: a top-level item), or nullptr.
    QAction* Item(const QString& popup, const QString& caption) const {
        for (QAction* top : dlg.MenuBar()->actions()) {
            if (popup.isEmpty() && top->text() == caption)
                return top;
            if (top->menu() && top->text() == popup)
                for (QAction* item : top->menu()->actions())
                    if (item->text() == caption)
                        return item;
        }
        return nullptr;
    }
    QMenu* Popup(const QString& caption) const {
        for (QAction* top : dlg.MenuBar()->actions())
            if (top->menu() && top->text() == caption)
                return top->menu();
        return nullptr;
    }

    // Everything a command can change that a test can see.
    QStringList Effects() const {
        return {"dialogs " + modal.Dialogs().join(','),
                "boxes " + modal.Boxes().join(','),
                "sent " + QString::number(port.Outputs().size()),
                "prompt " + Text(1068),
                "upper " + Text(1059),
                "timers " + QString::number(dlg.IsTimerRunning(1)) +
                    QString::number(dlg.IsTimerRunning(2)),
                "enabled " + QString::number(Enabled(1065)) + QString::number(Enabled(1024)),
                "analysis " + QString::number(QFile::exists("analysis-ran"))};
    }
};

// Dialogs the commands open are closed with Esc.
void EscapeNextDialog(Window& w) {
    w.modal.Answer([](QWidget* d) { ModalHelper::PressEscape(d); });
}

} // namespace

class TestAllCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void EachItemRunsItsButtonsCommand_data();
    void EachItemRunsItsButtonsCommand();
    void ItemsFollowTheirButtons();

private:
    std::optional<TempCurrentDir> m_cwd;
};

void TestAllCommands::init() {
    m_cwd.emplace();
    QVERIFY(m_cwd->IsValid());
    QFile script("phasecur.exe");
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch analysis-ran\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestAllCommands::cleanup() {
    m_cwd.reset();
}

void TestAllCommands::EachItemRunsItsButtonsCommand_data() {
    QTest::addColumn<QString>("popup");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("inBaseMenu"); // the item exists without the option
    const QString system = QStringLiteral("&系统功能");
    const QString meter = QStringLiteral("仪表功能");
    QTest::newRow("读基本数据") << system << "读基本数据" << 1023 << true;
    QTest::newRow("读测量数据") << system << "读测量数据" << 1065 << true;
    QTest::newRow("停止运行") << system << "停止运行" << 1064 << true;
    QTest::newRow("写数据") << system << "写数据" << 1024 << true;
    QTest::newRow("修改地址") << system << "修改地址" << 1066 << true;
    QTest::newRow("仪表设置") << meter << "仪表设置" << 1006 << false;
    QTest::newRow("读仪表时间") << meter << "读仪表时间" << 1009 << false;
    QTest::newRow("开始保存数据") << meter << "开始保存数据" << 1021 << false;
    QTest::newRow("相电流分析") << meter << "相电流分析" << 1022 << false;
    QTest::newRow("&帮助") << QString() << "&帮助" << 1007 << true;
}

void TestAllCommands::EachItemRunsItsButtonsCommand() {
    QFETCH(QString, popup);
    QFETCH(QString, item);
    QFETCH(int, button);
    QFETCH(bool, inBaseMenu);

    Window untouched(false);
    const QStringList nothing = untouched.Effects();

    Window viaButton(false);
    EscapeNextDialog(viaButton);
    viaButton.Type(1059, QStringLiteral("77"));
    viaButton.dlg.SendCommand(button);
    const QStringList byButton = viaButton.Effects();
    QVERIFY(QFile::remove("analysis-ran") || button != 1022);
    QVERIFY2(byButton != nothing, "the command should leave a trace");

    Window viaMenu(true);
    EscapeNextDialog(viaMenu);
    viaMenu.Type(1059, QStringLiteral("77"));
    QAction* action = viaMenu.Item(popup, item);
    QVERIFY(action);
    action->trigger();
    QCOMPARE(viaMenu.Effects(), byButton);
    QFile::remove("analysis-ran");

    Window plain(false);
    plain.Type(1059, QStringLiteral("77"));
    QAction* inert = plain.Item(popup, item);
    QCOMPARE(inert != nullptr, inBaseMenu);
    if (inert)
        inert->trigger();
    QStringList still = nothing;
    still[4] = QStringLiteral("upper 77");
    QCOMPARE(plain.Effects(), still);
}

void TestAllCommands::ItemsFollowTheirButtons() {
    Window w(true);
    QAction* read = w.Item(QStringLiteral("&系统功能"), QStringLiteral("读测量数据"));
    QAction* write = w.Item(QStringLiteral("&系统功能"), QStringLiteral("写数据"));
    QAction* stop = w.Item(QStringLiteral("&系统功能"), QStringLiteral("停止运行"));
    QVERIFY(read && write && stop);
    read->trigger();
    QCOMPARE((QList<bool>{read->isEnabled(), write->isEnabled(), stop->isEnabled()}),
             (QList<bool>{false, false, true}));
    stop->trigger();
    QCOMPARE((QList<bool>{read->isEnabled(), write->isEnabled()}), (QList<bool>{true, true}));

    // The logging item names what the logging button names at the moment the pop-up opens.
    QMenu* meter = w.Popup(QStringLiteral("仪表功能"));
    QVERIFY(meter);
    QCOMPARE(meter->actions().size(), 4);
    QAction* save = meter->actions().at(2);
    w.modal.Answer([](QWidget* d) { ModalHelper::PressEnter(d); });
    save->trigger();
    QVERIFY(w.dlg.IsTimerRunning(2));
    Q_EMIT meter->aboutToShow();
    QCOMPARE(save->text(), QStringLiteral("停止保存数据"));
    save->trigger();
    Q_EMIT meter->aboutToShow();
    QCOMPARE(save->text(), QStringLiteral("开始保存数据"));
    // The pop-up sits between the two menus of the template, before the view menu.
    const QList<QAction*> top = w.dlg.MenuBar()->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top[1]->menu(), meter);
}

QTEST_MAIN(TestAllCommands)
#include "tst_allcommands.moc"
