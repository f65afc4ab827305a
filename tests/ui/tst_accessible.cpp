// Every window as a screen reader finds it: each control it can reach has a name, and the
// fields are named by the texts that stand beside them.

#include "fakes/AccessibleWalk.h"
#include "fakes/MainWindowRig.h"
#include "ui/AboutDlg.h"
#include "ui/CommSetDlg.h"
#include "ui/MeterSetDlg.h"
#include "ui/SaveIntervalDlg.h"

#include <QTest>

#include <functional>
#include <memory>

using namespace md::ui;

namespace {

// The main window after its initialisation, on a fake port.
struct MainWindow : QObject {
    MainWindow() { rig.Init(); }
    md::MainWindowRig rig;
};

// A window shown as the operator would see it; owner keeps what the window needs alive.
struct Shown {
    std::unique_ptr<QObject> owner;
    CDialog* dlg;
};

template <typename T> Shown Make() {
    auto* dlg = new T;
    return {std::unique_ptr<QObject>(dlg), dlg};
}

// One row per window; a new window is one more line.
const std::vector<std::pair<const char*, std::function<Shown()>>> kWindows{
    {"main window",
     [] {
         auto* w = new MainWindow;
         return Shown{std::unique_ptr<QObject>(w), &w->rig.dlg};
     }},
    {"main window, all commands",
     [] {
         auto* w = new MainWindow;
         w->rig.dlg.EnableAllCommands();
         return Shown{std::unique_ptr<QObject>(w), &w->rig.dlg};
     }},
    {"connection settings", Make<CCommSetDlg>},
    {"meter setup", Make<CMeterSetDlg>},
    {"storage interval", Make<CSaveIntervalDlg>},
    {"about box", Make<CAboutDlg>},
};

Shown Open(const QString& window) {
    for (const auto& [name, make] : kWindows)
        if (window == QLatin1String(name)) {
            Shown shown = make();
            shown.dlg->show();
            return shown;
        }
    qFatal("no window %s", qPrintable(window));
}

} // namespace

class TestAccessible : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyReachableControlHasAName_data() {
        QTest::addColumn<QString>("window");
        for (const auto& [name, make] : kWindows)
            QTest::newRow(name) << QString::fromUtf8(name);
    }
    void everyReachableControlHasAName() {
        QFETCH(QString, window);
        const Shown shown = Open(window);
        QCOMPARE(md::UnnamedControls(shown.dlg), QStringList{});
    }

    // Where the label before a field is not its own, or a group caption stands in for one.
    void fieldsAreNamedByTheirOwnTexts_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("labelled"); // a label names it, not only a caption
        QTest::newRow("failures") << "main window" << 1070 << "失败次数" << true;
        QTest::newRow("relay") << "main window" << 1073 << "继电器输出" << true;
        QTest::newRow("summary") << "main window" << 1057 << "通信参数信息" << false;
        QTest::newRow("prompt") << "main window" << 1068 << "提示信息" << false;
        QTest::newRow("address after its edit")
            << "connection settings" << 1000 << "仪表地址" << true;
        QTest::newRow("hours") << "storage interval" << 1000 << "时" << true;
        QTest::newRow("minutes") << "storage interval" << 1001 << "分" << true;
        QTest::newRow("seconds") << "storage interval" << 1002 << "秒" << true;
    }
    void fieldsAreNamedByTheirOwnTexts() {
        QFETCH(QString, window);
        QFETCH(int, id);
        QFETCH(QString, name);
        QFETCH(bool, labelled);
        const Shown shown = Open(window);
        QWidget* field = shown.dlg->Item(id);
        QCOMPARE(md::AccessibleName(field), name);
        QCOMPARE(md::LabelledBy(field), labelled ? QStringList{name} : QStringList{});
    }
};

QTEST_MAIN(TestAccessible)
#include "tst_accessible.moc"
