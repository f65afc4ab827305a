// The main window's core on a scripted port: settings text, connection summary, opening the
// port, a port that refuses, the exchange prompts, the ways to end, hidden buttons, the menu
// and the minimised painting.

#include "fakes/MainWindowRig.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>
#include <QAction>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSet>
#include <QTest>

#include <memory>

using md::ModalHelper;
using namespace md::ui;

namespace {

using Strings = std::vector<std::string>;

struct Fixture : md::MainWindowRig {
    Fixture(int commPort = 1, int baud = 9600, int parity = 0, int address = 1)
        : MainWindowRig(static_cast<std::uint8_t>(address)) {
        dlg.m_nCommPort = commPort;
        dlg.m_nBaudRate = baud;
        dlg.m_nParity = parity;
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void settingsTextForEveryRateAndParity_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<QString>("text");
        const char letters[] = {'N', 'O', 'E'};
        for (const int baud : {1200, 2400, 4800, 9600, 19200})
            for (int parity = 0; parity < 3; ++parity)
                QTest::addRow("%d%c", baud, letters[parity])
                    << baud << parity
                    << QStringLiteral("%1%2,8,2").arg(baud).arg(QLatin1Char(letters[parity]));
    }
    void settingsTextForEveryRateAndParity() {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(QString, text);
        Fixture f(1, baud, parity);
        QCOMPARE(f.dlg.SettingsText(), text);
    }

    void summaryByteForByte_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("reconfigured");
        QTest::addColumn<QByteArray>("utf8");
        QTest::newRow("defaults at start")
            << 1 << 9600 << 0 << 1 << false
            << QByteArray("\r\n仪表地址: 1 \r\n\r\n串口:     1 \r\n\r\n波特率:  9600 \r\n\r\n"
                          "校验位:  无校验");
        QTest::newRow("defaults after reconfiguration")
            << 1 << 9600 << 0 << 1 << true
            << QByteArray("\r\n仪表地址: 1 \r\n\r\n串口:     1 \r\n\r\n波特率:  9600 \r\n\r\n"
                          "校验位: 无校验");
        QTest::newRow("COM2 19200 odd 255")
            << 2 << 19200 << 1 << 255 << false
            << QByteArray("\r\n仪表地址: 255 \r\n\r\n串口:     2 \r\n\r\n波特率:  19200 \r\n\r\n"
                          "校验位:  奇校验");
        QTest::newRow("odd keeps two blanks after reconfiguration")
            << 2 << 19200 << 1 << 255 << true
            << QByteArray("\r\n仪表地址: 255 \r\n\r\n串口:     2 \r\n\r\n波特率:  19200 \r\n\r\n"
                          "校验位:  奇校验");
        QTest::newRow("even, address 0")
            << 1 << 1200 << 2 << 0 << false
            << QByteArray("\r\n仪表地址: 0 \r\n\r\n串口:     1 \r\n\r\n波特率:  1200 \r\n\r\n"
                          "校验位:  偶校验");
    }
    void summaryByteForByte() {
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, address);
        QFETCH(bool, reconfigured);
        QFETCH(QByteArray, utf8);
        Fixture f(port, baud, parity, address);
        QCOMPARE(f.dlg.Summary(reconfigured).toUtf8(), utf8);
    }

    void openingConfiguresThePortAndShowsTheMembers_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("settings");
        QTest::newRow("defaults") << 1 << 9600 << 0 << 1 << "9600N,8,2";
        QTest::newRow("COM2 19200 odd 255") << 2 << 19200 << 1 << 255 << "19200O,8,2";
    }
    void openingConfiguresThePortAndShowsTheMembers() {
        QFETCH(int, port);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, address);
        QFETCH(QString, settings);
        Fixture f(port, baud, parity, address);
        std::map<int, QString> shown;
        QWidget* focused = nullptr;
        Strings putsWhileOpen;
        f.modal.Answer([&](QWidget* w) {
            for (const int id :
                 {1057, 1058, 1061, 1059, 1052, 1060, 1069, 1070, 1071, 1051, 1062, 1063, 1068})
                shown[id] = f.dlg.GetDlgItemText(id);
            focused = f.dlg.focusWidget();
            putsWhileOpen = f.port.Puts();
            QVERIFY(!f.dlg.Item(1068)->isEnabled());
            for (const int id : {1023, 1065, 1064, 1024, 1004, 1075, 2})
                QVERIFY(f.dlg.Item(id)->isEnabled());
            // Enter right away presses the focused exit button.
            ModalHelper::PressEnter(w);
        });
        QCOMPARE(f.dlg.DoModal(), IDCANCEL);

        QCOMPARE(putsWhileOpen,
                 (Strings{"CommPort=" + std::to_string(port), "Settings=" + settings.toStdString(),
                          "PortOpen=1", "InputLen=0", "InBufferCount=0"}));
        QCOMPARE(f.port.Puts().back(), std::string("PortOpen=0"));
        QVERIFY(f.modal.Boxes().isEmpty());
        QCOMPARE(focused, f.dlg.Item(IDCANCEL));
        QCOMPARE(shown[1057], f.dlg.Summary(false));
        QCOMPARE(shown[1058], QString::number(address));
        for (const int id : {1061, 1059, 1052, 1060, 1069, 1070, 1071})
            QCOMPARE(shown[id], QStringLiteral("0"));
        for (const int id : {1051, 1062, 1063, 1068})
            QCOMPARE(shown[id], QString());
        QCOMPARE(f.dlg.m_nPT, 1);
        QCOMPARE(f.dlg.m_nCT, 1);
        QCOMPARE(f.dlg.m_nSaveSeconds, 1);
        QCOMPARE(f.dlg.m_btnSave, f.dlg.Button(1021));
    }

    void aRefusedPortShowsOneBoxAndTheWindowStillOpens() {
        Fixture f(1, 9600, 0, 5);
        const std::string refusal = "无法打开串口 COM1（/dev/ttyS0）：串口已被占用或无权访问";
        f.port.FailOpen(refusal);
        std::map<int, QString> shown;
        f.modal.Answer([&](QWidget* w) {
            for (const int id : {1057, 1058, 1071, 1069})
                shown[id] = f.dlg.GetDlgItemText(id);
            ModalHelper::PressEscape(w);
        });
        QCOMPARE(f.dlg.DoModal(), IDCANCEL);
        QCOMPARE(f.modal.Boxes(), QStringList{QString::fromStdString(refusal)});
        QCOMPARE(f.modal.Dialogs(), QStringList{QStringLiteral("md::ui::CMeterDebugDlg")});
        // The steps after the refusal never ran: no input settings, no address, no summary.
        QCOMPARE(f.port.Puts(),
                 (Strings{"CommPort=1", "Settings=9600N,8,2", "PortOpen=1", "PortOpen=0"}));
        QCOMPARE(shown[1058], QStringLiteral("0"));
        QCOMPARE(shown[1057], QString());
        QCOMPARE(shown[1071], QString());
        QCOMPARE(shown[1069], QStringLiteral("0"));
    }

    void lettersInAnIntegerFieldKeepTheWindowOpen() {
        Fixture f;
        bool stayed = false;
        QWidget* focused = nullptr;
        int baudTaken = -1, upperTaken = -1, pointTaken = -1;
        f.modal.Answer([&](QWidget* w) {
            ModalHelper::Type(f.dlg.Item(1061), QStringLiteral("7"));
            ModalHelper::Type(f.dlg.Item(1052), QStringLiteral("3"));
            ModalHelper::Type(f.dlg.Item(1059), QStringLiteral("12ab"));
            ModalHelper::PressEnter(w);
            stayed = f.dlg.isVisible();
            focused = f.dlg.focusWidget();
            baudTaken = f.dlg.m_nParamBaudRate;
            upperTaken = f.dlg.m_nUpperLimit;
            pointTaken = f.dlg.m_nDecimalPoint;
        });
        // With every field whole, Enter in an edit takes the data and ends the window.
        f.modal.Answer([&](QWidget* w) {
            ModalHelper::Type(f.dlg.Item(1059), QStringLiteral("120"));
            ModalHelper::PressEnter(w);
        });
        QCOMPARE(f.dlg.DoModal(), IDOK);
        QCOMPARE(f.modal.Boxes(), QStringList{IntegerPrompt()});
        QVERIFY(stayed);
        QCOMPARE(focused, f.dlg.Item(1059));
        // 1061 comes before 1059 in the exchange, 1052 after it.
        QCOMPARE(baudTaken, 7);
        QCOMPARE(upperTaken, 0);
        QCOMPARE(pointTaken, 0);
        QCOMPARE(f.dlg.m_nUpperLimit, 120);
        QCOMPARE(f.dlg.m_nDecimalPoint, 3);
    }

    void everyWayOutStopsPollingAndClosesThePort_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("exit button") << "button";
        QTest::newRow("Esc") << "escape";
        QTest::newRow("close box") << "close";
    }
    void everyWayOutStopsPollingAndClosesThePort() {
        QFETCH(QString, how);
        Fixture f;
        f.modal.Answer([&](QWidget* w) {
            f.dlg.SetTimer(CMeterDebugDlg::kPollTimer, 2000);
            if (how == QLatin1String("button"))
                QTest::mouseClick(f.dlg.Button(IDCANCEL), Qt::LeftButton);
            else if (how == QLatin1String("escape"))
                ModalHelper::PressEscape(w);
            else
                w->close();
        });
        QCOMPARE(f.dlg.DoModal(), IDCANCEL);
        QVERIFY(!f.dlg.IsTimerRunning(CMeterDebugDlg::kPollTimer));
        QCOMPARE(f.port.Puts().back(), std::string("PortOpen=0"));
        QVERIFY(!f.port.GetPortOpen());
    }

    void hiddenControlsStayHiddenAndOutOfTheTabOrder() {
        Fixture f;
        QStringList reached;
        QSet<QWidget*> visited;
        f.modal.Answer([&](QWidget* w) {
            for (int i = 0; i < 40; ++i) {
                QTest::keyClick(f.dlg.focusWidget(), Qt::Key_Tab);
                visited.insert(f.dlg.focusWidget());
                for (const int id : CMeterDebugDlg::kHiddenButtons)
                    if (f.dlg.focusWidget() == f.dlg.Item(id))
                        reached << QString::number(id);
            }
            for (const int id : CMeterDebugDlg::kHiddenButtons) {
                QVERIFY(!f.dlg.Item(id)->isVisible());
                QCOMPARE(f.dlg.Item(id)->focusPolicy(), Qt::NoFocus);
            }
            for (const int id : {1000, 1025, 1049, 1050, 1056})
                QVERIFY(!f.dlg.Item(id)->isVisible());
            ModalHelper::PressEscape(w);
        });
        f.dlg.DoModal();
        QVERIFY2(reached.isEmpty(), qPrintable(reached.join(u',')));
        // The steps went round all 8 visible buttons and 13 edits; the summary is no tab stop
        // and the prompt line is disabled.
        QCOMPARE(visited.size(), 21);
        QVERIFY(!visited.contains(f.dlg.Item(CMeterDebugDlg::kSummaryEdit)));
    }

    void menuItemsAndF1ChangeNothing() {
        Fixture f;
        Strings putsBefore, putsAfter;
        bool stayed = false;
        QStringList titles;
        f.modal.Answer([&](QWidget* w) {
            for (QAction* top : f.dlg.MenuBar()->actions())
                titles << top->text();
            putsBefore = f.port.Puts();
            for (const int id : CMeterDebugDlg::kMenuItems) {
                QVERIFY(f.dlg.MenuItem(id));
                QVERIFY(f.dlg.MenuItem(id)->isEnabled());
                f.dlg.MenuItem(id)->trigger();
            }
            QTest::keyClick(f.dlg.focusWidget(), Qt::Key_F1);
            stayed = f.dlg.isVisible();
            putsAfter = f.port.Puts();
            ModalHelper::PressEscape(w);
        });
        f.dlg.DoModal();
        QVERIFY(stayed);
        QCOMPARE(putsAfter, putsBefore);
        QVERIFY(f.modal.Boxes().isEmpty());
        QCOMPARE(f.modal.Dialogs().size(), 1);
        QCOMPARE(titles, (QStringList{QStringLiteral("&系统功能"), QStringLiteral("&帮助"),
                                      QStringLiteral("查看")}));
        QCOMPARE(f.dlg.MenuItem(32771)->text(), QStringLiteral("读基本数据"));
    }

    void minimisedWindowDrawsItsIconCentred() {
        Fixture f;
        const QRect menu = f.dlg.MenuBar()->geometry();
        const QRect client(0, menu.bottom() + 1, f.dlg.width(), f.dlg.height() - menu.bottom() - 1);
        const QPoint iconAt(client.left() + (client.width() - 32 + 1) / 2,
                            client.top() + (client.height() - 32 + 1) / 2);
        const QImage icon = f.dlg.m_hIcon.pixmap(32, 32).toImage();
        const QPoint centre(16, 16);

        auto paint = [&] {
            QImage image(f.dlg.size(), QImage::Format_ARGB32);
            image.fill(Qt::magenta);
            // The window alone: when minimised its controls do not show.
            f.dlg.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            return image;
        };
        f.dlg.setWindowState(Qt::WindowMinimized);
        const QImage minimised = paint();
        QCOMPARE(minimised.pixelColor(iconAt + centre), icon.pixelColor(centre));
        QCOMPARE(minimised.pixelColor(client.topLeft() + QPoint(2, 2)),
                 f.dlg.palette().color(QPalette::Window));

        f.dlg.setWindowState(Qt::WindowNoState);
        QVERIFY(paint().pixelColor(iconAt + centre) != icon.pixelColor(centre));
    }

    void iconHasEverySize() {
        Fixture f;
        const QList<QSize> sizes = f.dlg.m_hIcon.availableSizes();
        for (const int s : {16, 32, 48, 256})
            QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
        QVERIFY(!f.dlg.m_hIcon.pixmap(48, 48).isNull());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
