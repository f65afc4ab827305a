// The connection settings dialog: what it shows for the values it is given, one choice per
// radio set, and the 0..255 address.

#include "fakes/ModalHelper.h"
#include "ui/CommSetDlg.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <functional>

using md::ModalHelper;
using namespace md::ui;

namespace {

QList<int> Checked(const CCommSetDlg& dlg) {
    QList<int> ids;
    for (int id = 1009; id <= 1018; ++id)
        if (dlg.IsDlgButtonChecked(id))
            ids << id;
    return ids;
}

void Preset(CCommSetDlg& dlg, int port, int baud, int parity, int address) {
    dlg.m_nCommPort = port;
    dlg.m_nBaudRate = baud;
    dlg.m_nParity = parity;
    dlg.m_byMeterAddress = static_cast<std::uint8_t>(address);
}

} // namespace

class TestCommSetDlg : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsTheValuesItIsGiven_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("address");
        QTest::addColumn<QList<int>>("checked");
        QTest::newRow("start-up defaults") << 1 << 9600 << 0 << 1 << QList<int>{1009, 1014, 1016};
        QTest::newRow("COM2 19200 odd 255")
            << 2 << 19200 << 1 << 255 << QList<int>{1010, 1015, 1017};
        QTest::newRow("COM1 1200 even 0") << 1 << 1200 << 2 << 0 << QList<int>{1009, 1011, 1018};
        QTest::newRow("2400") << 2 << 2400 << 0 << 7 << QList<int>{1010, 1012, 1016};
        QTest::newRow("4800") << 1 << 4800 << 1 << 8 << QList<int>{1009, 1013, 1017};
    }
    void showsTheValuesItIsGiven() {
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, address);
        QFETCH(QList<int>, checked);
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, port, baud, parity, address);
        QList<int> shown;
        QString text;
        modal.Answer([&](QWidget* w) {
            shown = Checked(dlg);
            text = dlg.GetDlgItemText(CCommSetDlg::kAddressEdit);
            ModalHelper::PressEscape(w);
        });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QCOMPARE(shown, checked);
        QCOMPARE(text, QString::number(address));
    }

    void eachClickKeepsOneChoicePerSet_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        // Starting from COM1, 9600, no parity.
        QTest::newRow("1200bps") << 1011 << QList<int>{1009, 1011, 1016} << 1 << 1200 << 0;
        QTest::newRow("2400bps") << 1012 << QList<int>{1009, 1012, 1016} << 1 << 2400 << 0;
        QTest::newRow("4800bps") << 1013 << QList<int>{1009, 1013, 1016} << 1 << 4800 << 0;
        QTest::newRow("9600bps") << 1014 << QList<int>{1009, 1014, 1016} << 1 << 9600 << 0;
        QTest::newRow("19200bps") << 1015 << QList<int>{1009, 1015, 1016} << 1 << 19200 << 0;
        QTest::newRow("COM2") << 1010 << QList<int>{1010, 1014, 1016} << 2 << 9600 << 0;
        QTest::newRow("COM1") << 1009 << QList<int>{1009, 1014, 1016} << 1 << 9600 << 0;
        QTest::newRow("odd") << 1017 << QList<int>{1009, 1014, 1017} << 1 << 9600 << 1;
        QTest::newRow("even") << 1018 << QList<int>{1009, 1014, 1018} << 1 << 9600 << 2;
        QTest::newRow("none") << 1016 << QList<int>{1009, 1014, 1016} << 1 << 9600 << 0;
    }
    void eachClickKeepsOneChoicePerSet() {
        QFETCH(int, id);
        QFETCH(QList<int>, checked);
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(int, parity);
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, 1, 9600, 0, 1);
        QList<int> shown;
        modal.Answer([&](QWidget*) {
            QTest::mouseClick(dlg.Button(id), Qt::LeftButton);
            shown = Checked(dlg);
            dlg.Button(IDOK)->click();
        });
        QCOMPARE(dlg.DoModal(), IDOK);
        QCOMPARE(shown, checked);
        QCOMPARE(dlg.m_nCommPort, port);
        QCOMPARE(dlg.m_nBaudRate, baud);
        QCOMPARE(dlg.m_nParity, parity);
    }

    void clicksInARowLeaveTheLastChoice() {
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, 1, 9600, 0, 1);
        QList<int> shown;
        modal.Answer([&](QWidget* w) {
            for (const int id : {1010, 1009, 1015, 1011, 1013, 1018, 1017})
                QTest::mouseClick(dlg.Button(id), Qt::LeftButton);
            shown = Checked(dlg);
            ModalHelper::PressEscape(w);
        });
        // Cancel ends the dialog, but the members keep what was clicked.
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QCOMPARE(shown, (QList<int>{1009, 1013, 1017}));
        QCOMPARE(dlg.m_nCommPort, 1);
        QCOMPARE(dlg.m_nBaudRate, 4800);
        QCOMPARE(dlg.m_nParity, 1);
    }

    void addressOutsideTheByteKeepsTheDialogOpen_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("256") << "256";
        QTest::newRow("empty") << "";
        QTest::newRow("large") << "99999999999999999999";
    }
    void addressOutsideTheByteKeepsTheDialogOpen() {
        QFETCH(QString, typed);
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, 1, 9600, 0, 1);
        bool stayed = false;
        QWidget* focused = nullptr;
        modal.Answer([&](QWidget* w) {
            ModalHelper::Type(dlg.Item(CCommSetDlg::kAddressEdit), typed);
            ModalHelper::PressEnter(w);
            stayed = dlg.isVisible();
            focused = dlg.focusWidget();
        });
        modal.Answer([&](QWidget*) {
            ModalHelper::Type(dlg.Item(CCommSetDlg::kAddressEdit), QStringLiteral("255"));
            dlg.Button(IDOK)->click();
        });
        QCOMPARE(dlg.DoModal(), IDOK);
        QVERIFY(stayed);
        QCOMPARE(focused, dlg.Item(CCommSetDlg::kAddressEdit));
        QCOMPARE(modal.Boxes(), QStringList{RangePrompt(0, 255)});
        QCOMPARE(dlg.m_byMeterAddress, std::uint8_t(255));
    }

    void addressFieldTakesDigitsOnly() {
        CCommSetDlg dlg;
        QLineEdit* edit = dlg.Edit(CCommSetDlg::kAddressEdit);
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("a1-b2 3"));
        QCOMPARE(edit->text(), QStringLiteral("123"));
    }

    // The OK button holds the focus at first, so Enter confirms what is shown.
    void enterAtOnceConfirms() {
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, 2, 4800, 2, 37);
        modal.Answer([](QWidget* w) { ModalHelper::PressEnter(w); });
        QCOMPARE(dlg.DoModal(), IDOK);
        QCOMPARE(dlg.m_byMeterAddress, std::uint8_t(37));
        QVERIFY(modal.Boxes().isEmpty());
    }
};

QTEST_MAIN(TestCommSetDlg)
#include "tst_commsetdlg.moc"
