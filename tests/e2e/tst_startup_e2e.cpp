// Start-up as an operator's menu start runs it: no option and no environment, the device
// remembered from an earlier run's connection dialog, a real line to metersim. And the built
// program's refusals of a command line, before any application object of Qt's could abort.

#include "app/MeterDebugApp.h"
#include "fakes/MeterSim.h"
#include "fakes/ModalHelper.h"
#include "fakes/PrivateSettings.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>
#include <QProcess>
#include <QTest>

using namespace md;
using md::ui::CMeterDebugDlg;

const PrivateSettings kSettings;

class TestStartupE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void RememberedDeviceReachesTheMeter();
    void CommandLineRefusedInItsLanguage_data();
    void CommandLineRefusedInItsLanguage();
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

void TestStartupE2e::CommandLineRefusedInItsLanguage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err"); // the start of standard error
    QTest::newRow("an empty platform")
        << QStringList{"-platform", ""} << "MeterDebug: -platform needs a value\n";
    QTest::newRow("a device name in English")
        << QStringList{"--language", "en", "--com1", "ftp://x", "--read-io"}
        << "MeterDebug: COM1: device \"ftp://x\" is invalid";
}

void TestStartupE2e::CommandLineRefusedInItsLanguage() {
    QFETCH(QStringList, args);
    QFETCH(QString, err);
    QProcess tool;
    tool.start(qEnvironmentVariable("METERDEBUG"), args);
    QVERIFY(tool.waitForFinished(30'000));
    const QString got = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY2(got.startsWith(err), qPrintable(got));
}

QTEST_MAIN(TestStartupE2e)
#include "tst_startup_e2e.moc"
