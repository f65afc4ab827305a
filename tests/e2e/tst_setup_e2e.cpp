// Link reconfiguration and meter setup over a real line to metersim.

#include "fakes/MainWindowRig.h"
#include "ui/MeterSetDlg.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <functional>

using namespace md;
using md::ui::CDialog;
using md::ui::CMeterDebugDlg;

namespace {

using Window = MainWindowRig;

// One measurement poll; true when it was answered.
bool Poll(CMeterDebugDlg& dlg) {
    const int before = dlg.m_nSuccessCount;
    dlg.PollMeasurements();
    return dlg.m_nSuccessCount == before + 1;
}

// In the connection dialog: 19200 bit/s and the given address, then OK.
ModalHelper::Action To19200At(int address) {
    return [address](QWidget* w) {
        auto* dlg = qobject_cast<CDialog*>(w);
        dlg->Button(1015)->click();
        ModalHelper::Type(dlg->Edit(1000), QString::number(address));
        dlg->Button(ui::IDOK)->click();
    };
}

} // namespace

class TestSetupE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void AcknowledgedBaudChangeMovesBothEnds();
    void UnacknowledgedBaudChangeKeepsTheOldRate_data();
    void UnacknowledgedBaudChangeKeepsTheOldRate();
    void SetupWritesReachTheMeter();
};

void TestSetupE2e::AcknowledgedBaudChangeMovesBothEnds() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim, 1);
    bool polled = false;
    w.Run([&] {
        w.modal.Answer(To19200At(1));
        w.dlg.SendCommand(1004);
        polled = Poll(w.dlg);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{});
    QCOMPARE(sim.Get("link-baud"), std::optional<int>(4));
    QCOMPARE(w.dlg.m_nBaudRate, 19200);
    QVERIFY(polled);
}

void TestSetupE2e::UnacknowledgedBaudChangeKeepsTheOldRate_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("toolAddress");
    // The request goes to an address nobody has: the meter stays silent and does nothing.
    // The address the operator corrects in the same dialog is applied all the same.
    QTest::newRow("meter silent") << "off" << 2;
    QTest::newRow("meter refuses") << "exception once" << 1;
}

void TestSetupE2e::UnacknowledgedBaudChangeKeepsTheOldRate() {
    QFETCH(QString, fault);
    QFETCH(int, toolAddress);
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    QVERIFY(sim.Fault(fault));
    Window w(sim, static_cast<std::uint8_t>(toolAddress));
    bool polled = false;
    w.Run([&] {
        w.modal.Answer(To19200At(1));
        w.dlg.SendCommand(1004);
        polled = Poll(w.dlg);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{QStringLiteral("改变波特率不成功")});
    QCOMPARE(sim.Get("link-baud"), std::optional<int>(3));
    QCOMPARE(w.dlg.m_nBaudRate, 9600);
    QCOMPARE(int(w.dlg.m_byMeterAddress), 1);
    QVERIFY(polled);
}

void TestSetupE2e::SetupWritesReachTheMeter() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim, 1);
    w.Run([&] {
        w.modal.Answer([](QWidget* m) {
            auto* dlg = qobject_cast<CDialog*>(m);
            ModalHelper::Type(dlg->Edit(ui::CMeterSetDlg::kPtEdit), QStringLiteral("64000"));
            ModalHelper::Type(dlg->Edit(ui::CMeterSetDlg::kCtEdit), QStringLiteral("25"));
            dlg->Button(1012)->click(); // 3相3线(平衡)
            dlg->Button(ui::IDOK)->click();
        });
        w.dlg.SendCommand(1006);
        QCOMPARE(w.dlg.TimerPeriod(CMeterDebugDlg::kPollTimer), 1000u);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{QStringLiteral("设置仪表参数成功")});
    QCOMPARE(sim.Get("pt"), std::optional<int>(64000));
    QCOMPARE(sim.Get("ct"), std::optional<int>(25));
    QCOMPARE(sim.Get("wiring"), std::optional<int>(3));
}

QTEST_MAIN(TestSetupE2e)
#include "tst_setup_e2e.moc"
