// The connection settings dialog: what it shows for the values it is given, one choice per
// radio set, and the 0..255 address.

#include "fakes/ModalHelper.h"
#include "ui/CommSetDlg.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

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
    // What the dialog shows for the values it is given, and what clicks leave: one choice per
    // radio set, in the radios and in the members (Cancel keeps what was clicked too).
    void radiosShowAndKeepOneChoicePerSet_data() {
        QTest::addColumn<QList<int>>("preset"); // port, baud, parity, address
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<bool>("viaOk");
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<QList<int>>("members"); // port, baud, parity afterwards
        const QList<int> defaults{1, 9600, 0, 1};
        QTest::newRow("start-up defaults")
            << defaults << QList<int>{} << false << QList<int>{1009, 1014, 1016}
            << QList<int>{1, 9600, 0};
        QTest::newRow("COM2 19200 odd 255")
            << QList<int>{2, 19200, 1, 255} << QList<int>{} << false << QList<int>{1010, 1015, 1017}
            << QList<int>{2, 19200, 1};
        QTest::newRow("COM1 1200 even 0") << QList<int>{1, 1200, 2, 0} << QList<int>{} << false
                                          << QList<int>{1009, 1011, 1018} << QList<int>{1, 1200, 2};
        QTest::newRow("2400") << QList<int>{2, 2400, 0, 7} << QList<int>{} << false
                              << QList<int>{1010, 1012, 1016} << QList<int>{2, 2400, 0};
        QTest::newRow("4800") << QList<int>{1, 4800, 1, 8} << QList<int>{} << false
                              << QList<int>{1009, 1013, 1017} << QList<int>{1, 4800, 1};
        const struct {
            const char* name;
            int id, port, baud, parity, portId, baudId, parityId;
        } clicks[] = {
            {"1200bps", 1011, 1, 1200, 0, 1009, 1011, 1016},
            {"2400bps", 1012, 1, 2400, 0, 1009, 1012, 1016},
            {"4800bps", 1013, 1, 4800, 0, 1009, 1013, 1016},
            {"9600bps", 1014, 1, 9600, 0, 1009, 1014, 1016},
            {"19200bps", 1015, 1, 19200, 0, 1009, 1015, 1016},
            {"COM2", 1010, 2, 9600, 0, 1010, 1014, 1016},
            {"COM1", 1009, 1, 9600, 0, 1009, 1014, 1016},
            {"odd", 1017, 1, 9600, 1, 1009, 1014, 1017},
            {"even", 1018, 1, 9600, 2, 1009, 1014, 1018},
            {"none", 1016, 1, 9600, 0, 1009, 1014, 1016},
        };
        for (const auto& c : clicks)
            QTest::newRow(c.name) << defaults << QList<int>{c.id} << true
                                  << QList<int>{c.portId, c.baudId, c.parityId}
                                  << QList<int>{c.port, c.baud, c.parity};
        QTest::newRow("clicks in a row, then Cancel")
            << defaults << QList<int>{1010, 1009, 1015, 1011, 1013, 1018, 1017} << false
            << QList<int>{1009, 1013, 1017} << QList<int>{1, 4800, 1};
    }
    void radiosShowAndKeepOneChoicePerSet() {
        QFETCH(QList<int>, preset);
        QFETCH(QList<int>, clicks);
        QFETCH(bool, viaOk);
        QFETCH(QList<int>, checked);
        QFETCH(QList<int>, members);
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, preset[0], preset[1], preset[2], preset[3]);
        QList<int> shown;
        QString address;
        modal.Answer([&](QWidget* w) {
            for (const int id : clicks)
                QTest::mouseClick(dlg.Button(id), Qt::LeftButton);
            shown = Checked(dlg);
            address = dlg.GetDlgItemText(CCommSetDlg::kAddressEdit);
            viaOk ? dlg.Button(IDOK)->click() : ModalHelper::PressEscape(w);
        });
        QCOMPARE(dlg.DoModal(), viaOk ? IDOK : IDCANCEL);
        QCOMPARE(shown, checked);
        QCOMPARE(address, QString::number(preset[3]));
        QCOMPARE((QList<int>{dlg.m_nCommPort, dlg.m_nBaudRate, dlg.m_nParity}), members);
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
