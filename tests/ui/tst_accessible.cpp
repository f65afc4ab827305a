// Every window as a screen reader finds it: each control it can reach has a name, and the
// fields are named by the texts that stand beside them.

#include "fakes/WindowTable.h"
#include "ui/Dialog.h"

#include <QAccessible>
#include <QTest>

namespace {

// Every control below node a screen reader can reach that it could only call by its kind: a
// visible control that takes the focus, or a visible text field (read-only or disabled ones
// included), whose accessible name is empty. One line each: role, class and place.
void CollectUnnamed(QAccessibleInterface* node, QStringList& unnamed) {
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (!child || child->state().invisible)
            continue;
        const QAccessible::Role role = child->role();
        const bool field = role == QAccessible::EditableText || role == QAccessible::ComboBox ||
                           role == QAccessible::SpinBox;
        if ((child->state().focusable || field) &&
            child->text(QAccessible::Name).trimmed().isEmpty()) {
            const QRect r = child->rect();
            unnamed << QStringLiteral("%1 %2 at %3,%4")
                           .arg(QLatin1String(qAccessibleRoleString(role)),
                                QLatin1String(child->object()->metaObject()->className()))
                           .arg(r.x())
                           .arg(r.y());
        }
        CollectUnnamed(child, unnamed);
    }
}

} // namespace

class TestAccessible : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyReachableControlHasAName_data() { md::WindowRows(); }
    void everyReachableControlHasAName() {
        QFETCH(QString, window);
        const md::ShownWindow shown = md::ShowWindow(window);
        QStringList unnamed;
        CollectUnnamed(QAccessible::queryAccessibleInterface(shown.window), unnamed);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u"; ")));
    }

    // A screen reader announces a window that opens by its role: a dialog or a window, never a
    // plain area of something else.
    void everyWindowIsAWindow_data() { md::WindowRows(); }
    void everyWindowIsAWindow() {
        QFETCH(QString, window);
        const md::ShownWindow shown = md::ShowWindow(window);
        const QAccessible::Role role = QAccessible::queryAccessibleInterface(shown.window)->role();
        QVERIFY2(role == QAccessible::Dialog || role == QAccessible::Window,
                 qAccessibleRoleString(role));
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
        const md::ShownWindow shown = md::ShowWindow(window);
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(
            static_cast<md::ui::CDialog*>(shown.window)->Item(id));
        QCOMPARE(field->text(QAccessible::Name), name);
        QStringList labels;
        for (const auto& [label, relation] : field->relations(QAccessible::Label))
            labels << label->text(QAccessible::Name);
        QCOMPARE(labels, labelled ? QStringList{name} : QStringList{});
    }
};

QTEST_MAIN(TestAccessible)
#include "tst_accessible.moc"
