// The "查找仪表" dialog over the fake port and virtual clock: the scan runs from the event
// loop with its progress shown, "停止" ends it with the port as it was, and "使用" fills the
// connection dialog it was opened from.

#include "fakes/FakeMeter.h"
#include "fakes/FakePort.h"
#include "fakes/ModalHelper.h"
#include "fakes/VirtualClock.h"
#include "ui/CommSetDlg.h"
#include "ui/FindMeterDlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace md;
using namespace md::ui;

namespace {

// Lets the event loop run until done() holds, a millisecond passing on clock between two turns
// as on a real one; false when it still does not hold after many turns.
template <typename F> bool RunUntil(VirtualClock& clock, F done) {
    for (int i = 0; i < 200'000 && !done(); ++i) {
        QCoreApplication::processEvents();
        clock.Advance(1);
    }
    return done();
}

} // namespace

class TestFindMeter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ProgressMovesAndStopRestoresThePort();
    void UseFillsTheConnectionDialog();
};

void TestFindMeter::ProgressMovesAndStopRestoresThePort() {
    VirtualClock clock;
    FakePort port(clock);
    port.SetSettings("19200O,8,2");
    // The device shown goes behind the port for the scan's time only.
    QStringList aimed;
    const auto aim = [&](int commPort, const QString& device) {
        aimed << QStringLiteral("COM%1 %2").arg(commPort).arg(device);
        return QStringLiteral("/dev/ttyUSB0");
    };
    const FindMeterLine line{&port, &clock, QStringLiteral("/dev/ttyUSB2"), aim};
    CFindMeterDlg dlg(line, 2, {5, 9600, 'N'});
    dlg.show();
    QCOMPARE(dlg.findChild<QLineEdit*>()->text(), QStringLiteral("COM2（/dev/ttyUSB2）"));
    QVERIFY(!dlg.StopButton()->isEnabled());

    dlg.StartButton()->click();
    QVERIFY(dlg.Running());
    QVERIFY(!dlg.StartButton()->isEnabled() && dlg.StopButton()->isEnabled());
    QVERIFY(!dlg.AllBox()->isEnabled()); // the scan in hand was told first or all
    QVERIFY(RunUntil(clock, [&] { return dlg.ProgressBar()->value() >= 20; }));
    QCOMPARE(dlg.ProgressBar()->maximum(), 3705);
    QVERIFY2(dlg.StatusLabel()->text().startsWith(QStringLiteral("正在查找：")),
             qPrintable(dlg.StatusLabel()->text()));
    QVERIFY(port.GetPortOpen());

    dlg.StopButton()->click();
    QVERIFY(!dlg.Running());
    const int stoppedAt = dlg.ProgressBar()->value();
    QCoreApplication::processEvents();
    QCOMPARE(dlg.ProgressBar()->value(), stoppedAt);
    QCOMPARE(dlg.StatusLabel()->text(), QStringLiteral("已停止，找到 0 台仪表"));
    QVERIFY(dlg.StartButton()->isEnabled() && !dlg.UseButton()->isEnabled());
    QCOMPARE(port.GetSettings(), std::string("19200O,8,2"));
    QCOMPARE(port.GetCommPort(), std::int16_t{1});
    QVERIFY(!port.GetPortOpen());
    QVERIFY(dlg.AllBox()->isEnabled());
    QCOMPARE(aimed, (QStringList{"COM2 /dev/ttyUSB2", "COM2 /dev/ttyUSB0"}));
}

void TestFindMeter::UseFillsTheConnectionDialog() {
    VirtualClock clock;
    FakePort port(clock);
    FakeMeter meter(port, 37);
    meter.SetLine(1, 4800, 'E');

    CCommSetDlg dlg;
    dlg.m_nCommPort = 1;
    dlg.m_nBaudRate = 9600;
    dlg.m_nParity = 0;
    dlg.m_byMeterAddress = 5;
    dlg.m_findLine = {&port, &clock, {}, {}};

    ModalHelper modal;
    QStringList shown;
    modal.Answer([&](QWidget*) { dlg.SendCommand(CCommSetDlg::kFindMeter); });
    modal.Answer([&](QWidget* w) {
        auto* find = qobject_cast<CFindMeterDlg*>(w);
        QVERIFY(find);
        find->StartButton()->click();
        QVERIFY(RunUntil(clock, [&] { return !find->Running(); }));
        QCOMPARE(find->MeterList()->topLevelItemCount(), 1);
        const QTreeWidgetItem* row = find->MeterList()->topLevelItem(0);
        for (int c = 0; c < 3; ++c)
            shown << row->text(c);
        find->UseButton()->click();
    });
    modal.Answer([](QWidget* w) { ModalHelper::PressEnter(w); });
    QCOMPARE(dlg.DoModal(), IDOK);

    QCOMPARE(shown, (QStringList{"37", "4800bps", "偶校验"}));
    QVERIFY(dlg.IsDlgButtonChecked(CCommSetDlg::kBaud1200 + 2));
    QVERIFY(dlg.IsDlgButtonChecked(CCommSetDlg::kParityEven));
    QCOMPARE(dlg.m_nBaudRate, 4800);
    QCOMPARE(dlg.m_nParity, 2);
    QCOMPARE(dlg.m_byMeterAddress, std::uint8_t{37});
    QVERIFY(!port.GetPortOpen());
    QVERIFY(modal.Unanswered().isEmpty());
}

QTEST_MAIN(TestFindMeter)
#include "tst_findmeter.moc"
