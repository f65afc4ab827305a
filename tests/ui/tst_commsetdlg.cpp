// The connection settings dialog: what it shows for the values it is given, one choice per
// radio set, the 0..255 address, and the device behind each port.

#include "fakes/ModalHelper.h"
#include "ui/CommSetDlg.h"
#include "ui/Language.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QScopeGuard>
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

// The ports a test lets the system know.
struct FakePortList final : md::PortList {
    QList<md::PortRow> rows;
    QList<md::PortRow> Ports() const override { return rows; }
};

const QString kStable =
    QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3X-if00-port0");
const md::PortRow kAdapter{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K3X", 0x0403, 0x6001,
                           kStable};
const md::PortRow kPlain{"/dev/ttyS0", "", "", "", std::nullopt, std::nullopt, {}};

QComboBox* DeviceBox(const CCommSetDlg& dlg) {
    return qobject_cast<QComboBox*>(dlg.Item(CCommSetDlg::kDeviceCombo));
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

    // Each step: "com1", "com2", "row N" (chosen from the list), "type TEXT", or "plug" (an
    // adapter appears beside /dev/ttyS0 and the refresh timer fires).
    void devicesFollowThePortAndTheChoice_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("devices");
        const QString s0 = QStringLiteral("/dev/ttyS0"), s1 = QStringLiteral("/dev/ttyS1");
        QTest::newRow("COM1's device at first") << QStringList{} << s0 << QStringList{s0, s1};
        QTest::newRow("COM2 shows its own") << QStringList{"com2"} << s1 << QStringList{s0, s1};
        QTest::newRow("an adapter's row puts its stable name")
            << QStringList{"plug", "row 1"} << kStable << QStringList{kStable, s1};
        QTest::newRow("a row without one puts the kernel name")
            << QStringList{"com2", "row 0"} << s0 << QStringList{s0, s0};
        QTest::newRow("a listed device's first letters are not completed into its row")
            << QStringList{"plug", "type /dev/ttyUS"} << "/dev/ttyUS"
            << QStringList{"/dev/ttyUS", s1};
        QTest::newRow("a refresh leaves what was typed")
            << QStringList{"type /dev/ttyU", "plug"} << "/dev/ttyU" << QStringList{"/dev/ttyU", s1};
        QTest::newRow("each port keeps what was typed for it")
            << QStringList{"type /tmp/a", "com2", "type /tmp/b", "com1"} << "/tmp/a"
            << QStringList{"/tmp/a", "/tmp/b"};
    }
    void devicesFollowThePortAndTheChoice() {
        QFETCH(QStringList, steps);
        QFETCH(QString, shown);
        QFETCH(QStringList, devices);
        FakePortList list;
        list.rows = {kPlain};
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, 1, 9600, 0, 1);
        dlg.m_strDevices = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1")};
        dlg.m_pPortList = &list;
        QString text;
        QStringList described, listed;
        std::uint32_t period = 0;
        modal.Answer([&](QWidget* w) {
            QComboBox* box = DeviceBox(dlg);
            period = dlg.TimerPeriod(CCommSetDlg::kRefreshTimer);
            for (const QString& step : steps) {
                if (step.startsWith(QLatin1String("com"))) {
                    dlg.Button(step == QLatin1String("com1") ? 1009 : 1010)->click();
                } else if (step.startsWith(QLatin1String("row "))) {
                    // As a click in the open list does it.
                    const int row = step.mid(4).toInt();
                    box->setCurrentIndex(row);
                    Q_EMIT box->activated(row);
                } else if (step == QLatin1String("plug")) {
                    list.rows.append(kAdapter);
                    dlg.OnTimer(CCommSetDlg::kRefreshTimer);
                } else {
                    ModalHelper::Type(box->lineEdit(), step.mid(5));
                }
            }
            text = dlg.GetDlgItemText(CCommSetDlg::kDeviceCombo);
            for (const int id : {1009, 1010})
                described << dlg.Button(id)->accessibleDescription();
            for (int i = 0; i < box->count(); ++i)
                listed << box->itemText(i);
            // Enter confirms from the device box too.
            ModalHelper::PressEnter(w);
        });
        QCOMPARE(dlg.DoModal(), IDOK);
        QCOMPARE(period, CCommSetDlg::kRefreshMs);
        QCOMPARE(text, shown);
        QCOMPARE((QStringList{dlg.m_strDevices[0], dlg.m_strDevices[1]}), devices);
        QCOMPARE(described, (QStringList{"串口设备 " + devices[0], "串口设备 " + devices[1]}));
        // Each port with its stable name beside the kernel name.
        const QStringList labels{"/dev/ttyS0",
                                 "/dev/ttyUSB0  (" + kStable + ")  FT232R USB UART  FTDI  A10K3X"};
        QCOMPARE(listed, labels.mid(0, list.rows.size()));
    }

    // After OK only what changed is handed on, by its stable name where it has one; an empty
    // box stands for the platform's own device.
    void takeHandsOnChangedDevices_data() {
        QTest::addColumn<QStringList>("typed");   // for COM1, COM2
        QTest::addColumn<QStringList>("told");    // "port=device" in order
        QTest::addColumn<QStringList>("devices"); // afterwards
        const QString s0 = QStringLiteral("/dev/ttyS0"), usb = QStringLiteral("/dev/ttyUSB1");
        QTest::newRow("nothing changed")
            << QStringList{s0, usb} << QStringList{} << QStringList{s0, usb};
        QTest::newRow("an adapter's kernel name")
            << QStringList{"/dev/ttyUSB0", usb} << QStringList{"1=" + kStable}
            << QStringList{kStable, usb};
        QTest::newRow("blanks around")
            << QStringList{" /tmp/meter ", usb} << QStringList{"1=/tmp/meter"}
            << QStringList{"/tmp/meter", usb};
        QTest::newRow("emptied: the platform's own")
            << QStringList{s0, ""} << QStringList{"2="} << QStringList{s0, "/dev/ttyS1"};
        QTest::newRow("emptied where it was the platform's own")
            << QStringList{"", usb} << QStringList{} << QStringList{s0, usb};
    }
    void takeHandsOnChangedDevices() {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, told);
        QFETCH(QStringList, devices);
        FakePortList list;
        list.rows = {kAdapter, kPlain};
        md::ui::PortDevices given;
        given.device = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyUSB1")};
        given.list = &list;
        QStringList calls;
        given.chosen = [&](int port, const QString& device) {
            calls << QStringLiteral("%1=%2").arg(port).arg(device);
        };
        CCommSetDlg dlg;
        given.Offer(dlg);
        QCOMPARE(dlg.m_pPortList, &list);
        dlg.m_strDevices = {typed[0], typed[1]};
        given.Take(dlg);
        QCOMPARE(calls, told);
        QCOMPARE((QStringList{given.device[0], given.device[1]}), devices);
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

    // A network name longer than the field keeps its scheme (the transport) and its port in
    // view, cut in the middle; the whole name is the tooltip and the accessible description.
    // The field runs to the dialog's right margin in either language, and follows a change
    // of language while the dialog is open.
    void deviceFieldShowsBothEndsOfALongName_data() {
        QTest::addColumn<QString>("before"); // the language the dialog opens in
        QTest::addColumn<QString>("after");  // the language switched to while it is open
        QTest::newRow("Chinese") << "zh" << "zh";
        QTest::newRow("English") << "en" << "en";
        QTest::newRow("to English while open") << "zh" << "en";
    }
    void deviceFieldShowsBothEndsOfALongName() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        const auto language = [](const QString& code) {
            SetLanguage(code == QLatin1String("en") ? Language::English : Language::Chinese);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        };
        const auto restore = qScopeGuard([&] { language(QStringLiteral("zh")); });
        language(before);
        const QString name =
            QStringLiteral("modbus-tcp://gateway-in-the-second-cabinet.plant.example:1502");
        ModalHelper modal;
        CCommSetDlg dlg;
        Preset(dlg, 1, 9600, 0, 1);
        dlg.m_strDevices = {name, QString()};
        QString shown, tip, described;
        int gap = -1;
        modal.Answer([&](QWidget* w) {
            language(after);
            QComboBox* box = DeviceBox(dlg);
            shown = dlg.ShownDevice();
            tip = box->lineEdit()->toolTip();
            described = box->lineEdit()->accessibleDescription();
            gap = dlg.width() - 1 - box->geometry().right();
            ModalHelper::PressEnter(w);
        });
        QCOMPARE(dlg.DoModal(), IDOK);
        QVERIFY2(shown.startsWith(QLatin1String("modbus-tcp://")) &&
                     shown.endsWith(QLatin1String(":1502")) && shown.contains(QChar(0x2026)),
                 qPrintable(shown));
        QCOMPARE(tip, name);
        QCOMPARE(described, name);
        QVERIFY2(gap >= 0 && gap <= dlg.DuToPxX(4) + 1, qPrintable(QString::number(gap)));
        QCOMPARE(dlg.m_strDevices[0], name);
    }
};

QTEST_MAIN(TestCommSetDlg)
#include "tst_commsetdlg.moc"
