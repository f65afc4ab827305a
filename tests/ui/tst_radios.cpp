// The radio sets as assistive technology reaches them: reported as radio buttons, and their
// accessibility action runs the dialog's handler, so exactly one button per set is checked and
// the member says the same. Arrow keys do not leave a radio.

#include "fakes/ModalHelper.h"
#include "ui/CommSetDlg.h"
#include "ui/MeterSetDlg.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>

using md::ModalHelper;
using namespace md::ui;

namespace {

// The radios checked in first..last, then the members the radios set.
QList<int> State(const CDialog& dlg, int first, int last, const QList<int>& members) {
    QList<int> state;
    for (int id = first; id <= last; ++id)
        if (dlg.IsDlgButtonChecked(id))
            state << id;
    return state << members;
}

} // namespace

class TestRadios : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accessibilityActionRunsTheHandler_data() {
        QTest::addColumn<int>("radio"); // 1009.. of the connection dialog; 0 the wiring set
        QTest::addColumn<QString>("action");
        QTest::addColumn<QList<int>>("state");
        const QString toggle = QAccessibleActionInterface::toggleAction();
        QTest::newRow("COM2") << 1010 << toggle << QList<int>{1010, 1014, 1016, 2, 9600, 0};
        QTest::newRow("19200bps") << 1015 << toggle << QList<int>{1009, 1015, 1016, 1, 19200, 0};
        QTest::newRow("odd parity, press") << 1017 << QAccessibleActionInterface::pressAction()
                                           << QList<int>{1009, 1014, 1017, 1, 9600, 1};
        QTest::newRow("the checked one stays checked")
            << 1014 << toggle << QList<int>{1009, 1014, 1016, 1, 9600, 0};
        QTest::newRow("wiring code 4") << 0 << toggle << QList<int>{1013, 4};
    }
    void accessibilityActionRunsTheHandler() {
        QFETCH(int, radio);
        QFETCH(QString, action);
        QFETCH(QList<int>, state);
        ModalHelper modal;
        CCommSetDlg comm;
        comm.m_nCommPort = 1;
        comm.m_nBaudRate = 9600;
        CMeterSetDlg setup;
        setup.m_nPT = setup.m_nCT = 1;
        CDialog& dlg = radio ? static_cast<CDialog&>(comm) : setup;
        QAccessibleInterface* a =
            QAccessible::queryAccessibleInterface(dlg.Button(radio ? radio : 1013));
        bool checkedAsSeen = false;
        QList<int> shown;
        modal.Answer([&](QWidget* w) {
            a->actionInterface()->doAction(action);
            checkedAsSeen = a->state().checked;
            shown = radio ? State(comm, 1009, 1018,
                                  {comm.m_nCommPort, comm.m_nBaudRate, comm.m_nParity})
                          : State(setup, 1009, 1014, {setup.m_nWiringMode});
            ModalHelper::PressEscape(w);
        });
        dlg.DoModal();
        QCOMPARE(a->role(), QAccessible::RadioButton);
        QVERIFY(checkedAsSeen);
        QCOMPARE(shown, state);
    }

    void arrowKeysStayOnTheRadio() {
        ModalHelper modal;
        CCommSetDlg dlg;
        dlg.m_nCommPort = 1;
        dlg.m_nBaudRate = 9600;
        QList<QWidget*> focus;
        modal.Answer([&](QWidget* w) {
            QTest::mouseClick(dlg.Button(1012), Qt::LeftButton);
            for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left}) {
                QTest::keyClick(w->focusWidget(), key);
                focus << w->focusWidget();
            }
            ModalHelper::PressEscape(w);
        });
        dlg.DoModal();
        QCOMPARE(focus, QList<QWidget*>(4, dlg.Item(1012)));
        QCOMPARE(State(dlg, 1009, 1018, {dlg.m_nBaudRate}), (QList<int>{1009, 1012, 1016, 2400}));
    }
};

QTEST_MAIN(TestRadios)
#include "tst_radios.moc"
