// The radio sets of the connection and meter setup dialogs as assistive technology and the
// keyboard reach them: reported as radio buttons, and every way of selecting one runs the
// dialog's handler, so exactly one button per set is checked and the member says the same.

#include "fakes/ModalHelper.h"
#include "ui/CommSetDlg.h"
#include "ui/MeterSetDlg.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>

#include <memory>

using md::ModalHelper;
using namespace md::ui;

namespace {

enum class Way { Toggle, Press, Space, Mouse };

// One of the two dialogs with its radio range and the members its radios set.
struct Subject {
    std::unique_ptr<CDialog> dlg;
    int first, last;
    std::function<QList<int>()> members;
};

Subject Make(bool meterSetup) {
    if (meterSetup) {
        auto dlg = std::make_unique<CMeterSetDlg>();
        dlg->m_nPT = 1;
        dlg->m_nCT = 1;
        dlg->m_nWiringMode = 0;
        auto* d = dlg.get();
        return {std::move(dlg), 1009, 1014, [d] { return QList<int>{d->m_nWiringMode}; }};
    }
    auto dlg = std::make_unique<CCommSetDlg>();
    dlg->m_nCommPort = 1;
    dlg->m_nBaudRate = 9600;
    dlg->m_nParity = 0;
    dlg->m_byMeterAddress = 1;
    auto* d = dlg.get();
    return {std::move(dlg), 1009, 1018, [d] {
                return QList<int>{d->m_nCommPort, d->m_nBaudRate, d->m_nParity};
            }};
}

QList<int> Checked(const Subject& s) {
    QList<int> ids;
    for (int id = s.first; id <= s.last; ++id)
        if (s.dlg->IsDlgButtonChecked(id))
            ids << id;
    return ids;
}

void Select(QAbstractButton* radio, Way way) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(radio);
    switch (way) {
    case Way::Toggle:
        a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        break;
    case Way::Press:
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        break;
    case Way::Space:
        radio->setFocus();
        QTest::keyClick(radio, Qt::Key_Space);
        break;
    case Way::Mouse:
        QTest::mouseClick(radio, Qt::LeftButton);
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Way)

class TestRadios : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyWayOfSelectingRunsTheHandler_data() {
        QTest::addColumn<bool>("meterSetup");
        QTest::addColumn<int>("radio");
        QTest::addColumn<Way>("way");
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<QList<int>>("members");
        QTest::newRow("COM2, accessibility toggle")
            << false << 1010 << Way::Toggle << QList<int>{1010, 1014, 1016}
            << QList<int>{2, 9600, 0};
        QTest::newRow("19200bps, accessibility toggle")
            << false << 1015 << Way::Toggle << QList<int>{1009, 1015, 1016}
            << QList<int>{1, 19200, 0};
        QTest::newRow("odd parity, accessibility toggle")
            << false << 1017 << Way::Toggle << QList<int>{1009, 1014, 1017}
            << QList<int>{1, 9600, 1};
        QTest::newRow("even parity, accessibility press")
            << false << 1018 << Way::Press << QList<int>{1009, 1014, 1018}
            << QList<int>{1, 9600, 2};
        QTest::newRow("the checked one, toggled, stays checked")
            << false << 1014 << Way::Toggle << QList<int>{1009, 1014, 1016}
            << QList<int>{1, 9600, 0};
        QTest::newRow("2400bps, Space") << false << 1012 << Way::Space
                                        << QList<int>{1009, 1012, 1016} << QList<int>{1, 2400, 0};
        QTest::newRow("COM2, mouse") << false << 1010 << Way::Mouse << QList<int>{1010, 1014, 1016}
                                     << QList<int>{2, 9600, 0};
        QTest::newRow("wiring code 4, accessibility toggle")
            << true << 1013 << Way::Toggle << QList<int>{1013} << QList<int>{4};
        QTest::newRow("wiring code 5, Space")
            << true << 1014 << Way::Space << QList<int>{1014} << QList<int>{5};
    }
    void everyWayOfSelectingRunsTheHandler() {
        QFETCH(bool, meterSetup);
        QFETCH(int, radio);
        QFETCH(Way, way);
        QFETCH(QList<int>, checked);
        QFETCH(QList<int>, members);
        ModalHelper modal;
        Subject s = Make(meterSetup);
        QAccessible::Role role{};
        bool checkedAsSeen = false;
        QList<int> shown;
        modal.Answer([&](QWidget* w) {
            QAbstractButton* button = s.dlg->Button(radio);
            role = QAccessible::queryAccessibleInterface(button)->role();
            Select(button, way);
            checkedAsSeen = QAccessible::queryAccessibleInterface(button)->state().checked;
            shown = Checked(s);
            ModalHelper::PressEscape(w);
        });
        s.dlg->DoModal();
        QCOMPARE(role, QAccessible::RadioButton);
        QVERIFY(checkedAsSeen);
        QCOMPARE(shown, checked);
        QCOMPARE(s.members(), members);
    }

    // Each radio is its own group: an arrow key neither leaves it for OK or Cancel nor
    // selects a neighbour.
    void arrowKeysStayOnTheRadio() {
        ModalHelper modal;
        Subject s = Make(false);
        QList<QWidget*> focus;
        QList<int> shown;
        modal.Answer([&](QWidget* w) {
            QAbstractButton* radio = s.dlg->Button(1012);
            QTest::mouseClick(radio, Qt::LeftButton);
            for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left}) {
                QTest::keyClick(w->focusWidget(), key);
                focus << w->focusWidget();
            }
            shown = Checked(s);
            ModalHelper::PressEscape(w);
        });
        s.dlg->DoModal();
        const QList<QWidget*> stayed(4, s.dlg->Item(1012));
        QCOMPARE(focus, stayed);
        QCOMPARE(shown, (QList<int>{1009, 1012, 1016}));
        QCOMPARE(s.members(), (QList<int>{1, 2400, 0}));
    }
};

QTEST_MAIN(TestRadios)
#include "tst_radios.moc"
