// Start-up as an operator's menu start runs it: no option and no environment, the device
// remembered from an earlier run's connection dialog, a real line to metersim.

#include "app/MeterDebugApp.h"
#include "fakes/MeterSim.h"
#include "fakes/ModalHelper.h"
#include "fakes/PrivateSettings.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>
#include <QTest>

using namespace md;
using md::ui::CMeterDebugDlg;

const PrivateSettings kSettings;

class TestStartupE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void RememberedDeviceReachesTheMeter();
};

void TestStartupE2e::RememberedDeviceReachesTheMeter() {
    MeterSim sim({"--set", "upper=800", "--set", "lower=50", "--set", "decimal=3"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    PrivateSettings::Open().setValue(QStringLiteral("ports/com1"), sim.LinkPath());
    theApp.m_options = {};

    ModalHelper modal;
    modal.Answer([](QWidget* w) { ModalHelper::PressEnter(w); });
    QStringList fields;
    modal.Answer([&](QWidget* w) {
        auto* dlg = static_cast<CMeterDebugDlg*>(w);
        dlg->Button(1023)->click();
        for (const int id : {1059, 1060, 1052})
            fields << dlg->GetDlgItemText(id);
        ModalHelper::PressEscape(w);
    });
    QVERIFY(!theApp.InitInstance());
    QCOMPARE(modal.Boxes(), QStringList{});
    QCOMPARE(fields, (QStringList{"800", "50", "3"}));
}

QTEST_MAIN(TestStartupE2e)
#include "tst_startup_e2e.moc"
