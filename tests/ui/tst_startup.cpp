// Start-up as the program runs it: the connection settings dialog, then the main window on a
// real device (a pseudo-terminal named as --comN would), the devices that cannot be opened,
// and the device remembered from the dialog.

#include "app/MeterDebugApp.h"
#include "fakes/ModalHelper.h"
#include "fakes/PrivateSettings.h"
#include "fakes/PseudoTerminal.h"
#include "port/MSComm.h"
#include "ui/CommSetDlg.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using md::ModalHelper;
using md::PseudoTerminal;
using namespace md::ui;

namespace {

const QString kSettingsDlg = QStringLiteral("md::ui::CCommSetDlg");
const QString kMainDlg = QStringLiteral("md::ui::CMeterDebugDlg");

const md::PrivateSettings kSettings;

void NameDevice(int port, const QString& device) {
    md::theApp.m_options.devices[std::size_t(port - 1)] = device;
}

struct Line {
    speed_t speed;
    bool stopBits2;
    bool cs8;
    bool parenb;
    bool parodd;
};

Line LineOf(const termios& t) {
    return {cfgetospeed(&t), bool(t.c_cflag & CSTOPB), (t.c_cflag & CSIZE) == CS8,
            bool(t.c_cflag & PARENB), bool(t.c_cflag & PARODD)};
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() {
        md::theApp.m_options = {};
        md::theApp.m_ports = nullptr;
        md::PrivateSettings::Open().clear();
    }

    void cancelOpensNoPortAndNoMainWindow() {
        PseudoTerminal pty;
        NameDevice(1, pty.SlavePath());
        const termios before = pty.Attributes();
        ModalHelper modal;
        modal.Answer([](QWidget* w) {
            auto* dlg = static_cast<CCommSetDlg*>(w);
            dlg->Button(1010)->click();
            dlg->Button(1015)->click();
            ModalHelper::PressEscape(w);
        });
        QVERIFY(!md::theApp.InitInstance());
        QCOMPARE(modal.Dialogs(), QStringList{kSettingsDlg});
        QVERIFY(modal.Boxes().isEmpty());
        // Opening would have put the line into raw mode at the chosen rate.
        const termios after = pty.Attributes();
        QCOMPARE(after.c_cflag, before.c_cflag);
        QCOMPARE(after.c_lflag, before.c_lflag);
        QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    }

    void okOpensTheChosenDevice_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("odd");
        QTest::addColumn<QString>("parityLine");
        QTest::newRow("defaults") << QList<int>{} << QString() << 1 << 9600 << false
                                  << QStringLiteral("校验位:  无校验");
        QTest::newRow("COM2 19200 odd 255") << QList<int>{1010, 1015, 1017} << "255" << 2 << 19200
                                            << true << QStringLiteral("校验位:  奇校验");
        QTest::newRow("COM1 1200 even 0") << QList<int>{1011, 1018} << "0" << 1 << 1200 << false
                                          << QStringLiteral("校验位:  偶校验");
    }
    void okOpensTheChosenDevice() {
        QFETCH(QList<int>, clicks);
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(bool, odd);
        QFETCH(QString, parityLine);
        PseudoTerminal pty;
        NameDevice(port, pty.SlavePath());

        ModalHelper modal;
        modal.Answer([&](QWidget* w) {
            auto* dlg = static_cast<CCommSetDlg*>(w);
            for (const int id : clicks)
                dlg->Button(id)->click();
            if (!address.isNull())
                ModalHelper::Type(dlg->Item(CCommSetDlg::kAddressEdit), address);
            dlg->Button(IDOK)->setFocus();
            ModalHelper::PressEnter(w);
        });
        std::unique_ptr<Line> line;
        QString summary, local;
        bool registered = false;
        modal.Answer([&](QWidget* w) {
            auto* dlg = static_cast<CMeterDebugDlg*>(w);
            line = std::make_unique<Line>(LineOf(pty.Attributes()));
            summary = dlg->GetDlgItemText(CMeterDebugDlg::kSummaryEdit);
            local = dlg->GetDlgItemText(CMeterDebugDlg::kLocalAddressEdit);
            registered = md::theApp.m_pMainWnd == w;
            ModalHelper::PressEscape(w);
        });
        QVERIFY(!md::theApp.InitInstance());

        QCOMPARE(modal.Dialogs(), (QStringList{kSettingsDlg, kMainDlg}));
        QVERIFY(modal.Boxes().isEmpty());
        QVERIFY(registered);
        QVERIFY(!md::theApp.m_pMainWnd);
        QVERIFY(line);
        QCOMPARE(line->speed, md::SpeedConstant(baud));
        QVERIFY(line->cs8);
        QVERIFY(line->stopBits2);
        // A pseudo-terminal drops PARENB whatever is asked; PARODD tells odd from the rest.
        QVERIFY(!line->parenb || odd);
        QCOMPARE(line->parodd, odd);
        const QString shownAddress = address.isNull() ? QStringLiteral("1") : address;
        QCOMPARE(local, shownAddress);
        QVERIFY(summary.startsWith(QStringLiteral("\r\n仪表地址: %1 \r\n").arg(shownAddress)));
        QVERIFY(summary.contains(QStringLiteral("串口:     %1 \r\n").arg(port)));
        QVERIFY(summary.contains(QStringLiteral("波特率:  %1 \r\n").arg(baud)));
        QVERIFY(summary.endsWith(parityLine));

        // The window closed the port on its way out: the device is free again.
        md::CMSComm again;
        again.SetDevice(port, pty.SlavePath());
        again.SetCommPort(static_cast<std::int16_t>(port));
        again.SetPortOpen(true);
        QVERIFY(again.GetPortOpen());
    }

    void aDeviceThatCannotBeOpened_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("regular file") << "file";
        QTest::newRow("held by another program") << "held";
    }
    void aDeviceThatCannotBeOpened() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        PseudoTerminal pty;
        md::CMSComm holder;
        QString device = dir.filePath(QStringLiteral("ttyUSB9"));
        if (kind == QLatin1String("file")) {
            QFile file(device);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a serial line");
        } else if (kind == QLatin1String("held")) {
            device = pty.SlavePath();
            holder.SetDevice(2, device);
            holder.SetCommPort(2);
            holder.SetPortOpen(true);
        }
        NameDevice(1, device);

        ModalHelper modal;
        modal.Answer([](QWidget* w) { ModalHelper::PressEnter(w); });
        QString summary, local;
        modal.Answer([&](QWidget* w) {
            auto* dlg = static_cast<CMeterDebugDlg*>(w);
            summary = dlg->GetDlgItemText(CMeterDebugDlg::kSummaryEdit);
            local = dlg->GetDlgItemText(CMeterDebugDlg::kLocalAddressEdit);
            ModalHelper::PressEscape(w);
        });
        QVERIFY(!md::theApp.InitInstance());

        QCOMPARE(modal.Dialogs(), (QStringList{kSettingsDlg, kMainDlg}));
        QCOMPARE(modal.Boxes().size(), 1);
        const QString text = modal.Boxes().front();
        QVERIFY2(text.contains(QStringLiteral("COM1")) && text.contains(device), qPrintable(text));
        QCOMPARE(local, QStringLiteral("0"));
        QCOMPARE(summary, QString());
        QVERIFY(modal.Unanswered().isEmpty());
    }

    // The device each port starts with: --comN, then METERDEBUG_COMn, then the remembered one,
    // then the platform's own.
    void startDeviceTakesOptionEnvironmentRememberedDefault_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("env");        // METERDEBUG_COM1, _COM2; "" unset
        QTest::addColumn<QStringList>("remembered"); // ports/com1, ports/com2; "" none
        QTest::addColumn<QStringList>("shown");      // in the device box for COM1, COM2
        const QStringList none{"", ""};
        QTest::newRow("platform's own")
            << QStringList{} << none << none << QStringList{"/dev/ttyS0", "/dev/ttyS1"};
        QTest::newRow("environment ahead of remembered")
            << QStringList{} << QStringList{"/e1", ""} << QStringList{"/r1", "/r2"}
            << QStringList{"/e1", "/r2"};
        QTest::newRow("option ahead of both")
            << QStringList{"--com2", "/o2"} << QStringList{"/e1", "/e2"}
            << QStringList{"/r1", "/r2"} << QStringList{"/e1", "/o2"};
    }
    void startDeviceTakesOptionEnvironmentRememberedDefault() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, env);
        QFETCH(QStringList, remembered);
        QFETCH(QStringList, shown);
        QProcessEnvironment environment;
        QSettings settings = md::PrivateSettings::Open();
        for (int i = 0; i < 2; ++i) {
            if (!env[i].isEmpty())
                environment.insert(QStringLiteral("METERDEBUG_COM%1").arg(i + 1), env[i]);
            if (!remembered[i].isEmpty())
                settings.setValue(QStringLiteral("ports/com%1").arg(i + 1), remembered[i]);
        }
        settings.sync();
        const md::CommandLine cl =
            md::ParseCommandLine(QStringList{QStringLiteral("MeterDebug")} + args, environment);
        QVERIFY(!cl.exitCode);
        md::theApp.m_options = cl.options;

        ModalHelper modal;
        QStringList seen;
        modal.Answer([&](QWidget* w) {
            auto* dlg = static_cast<CCommSetDlg*>(w);
            seen << dlg->GetDlgItemText(CCommSetDlg::kDeviceCombo);
            dlg->Button(1010)->click();
            seen << dlg->GetDlgItemText(CCommSetDlg::kDeviceCombo);
            ModalHelper::PressEscape(w);
        });
        QVERIFY(!md::theApp.InitInstance());
        QCOMPARE(seen, shown);
    }

    // The device typed in the dialog is remembered when it ends with OK, not with 退出 (the
    // table above shows the next start taking it).
    void deviceIsRememberedOnOkOnly_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("确定") << true;
        QTest::newRow("退出") << false;
    }
    void deviceIsRememberedOnOkOnly() {
        QFETCH(bool, ok);
        PseudoTerminal pty;
        ModalHelper modal;
        modal.Answer([&](QWidget* w) {
            auto* dlg = static_cast<CCommSetDlg*>(w);
            auto* box = qobject_cast<QComboBox*>(dlg->Item(CCommSetDlg::kDeviceCombo));
            ModalHelper::Type(box->lineEdit(), pty.SlavePath());
            ok ? dlg->Button(IDOK)->click() : ModalHelper::PressEscape(w);
        });
        if (ok)
            modal.Answer([](QWidget* w) { ModalHelper::PressEscape(w); });
        QVERIFY(!md::theApp.InitInstance());
        QVERIFY(modal.Boxes().isEmpty());
        QCOMPARE(md::PrivateSettings::Open().value(QStringLiteral("ports/com1")).toString(),
                 ok ? pty.SlavePath() : QString());
    }

    // Runs in a copy of this executable named MeterDebug, started by the next test.
    void boxCaptionUnderTheProgramsName() {
        if (AppCaption() != QLatin1String("MeterDebug"))
            QSKIP("runs only in the copy named MeterDebug");
        ModalHelper modal;
        AfxMessageBox(QStringLiteral("改变波特率不成功"));
        QCOMPARE(modal.BoxCaptions(), QStringList{QStringLiteral("MeterDebug")});
    }

    void messageBoxesAreCaptionedWithTheExecutablesStem() {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("MeterDebug"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
        QProcess child;
        child.start(copy, {QStringLiteral("boxCaptionUnderTheProgramsName")});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAllStandardOutput();
        QVERIFY2(child.exitCode() == 0, out.constData());
        QVERIFY2(out.contains("PASS   : TestStartup::boxCaptionUnderTheProgramsName()"),
                 out.constData());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
