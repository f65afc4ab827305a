// The about box and the external analysis program, reached through the main window's hidden
// buttons 1007 and 1022 (run with a temporary current directory).

#include "fakes/MainWindowRig.h"
#include "fakes/Support.h"
#include "ui/AboutDlg.h"
#include "ui/MeterDebugDlg.h"
#include "ui/SaveIntervalDlg.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>

using md::ModalHelper;
using md::ui::CAboutDlg;
using md::ui::CMeterDebugDlg;

Q_DECLARE_METATYPE(ModalHelper::Action)

namespace {

constexpr int kAboutButton = 1007;
constexpr int kAnalysisButton = 1022;

// The main window after its initialisation, on a fake port, without its modal loop.
struct Window : md::MainWindowRig {
    Window() { Init(); }
    QString Caption() const { return dlg.m_btnSave->text(); }
};

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void closes_data();
    void closes();
    void missingAnalysisProgramReturnsSilently();
    void windowWaitsForAnalysisProgram();

private:
    std::optional<md::TempCurrentDir> m_cwd;
};

void TestAbout::init() {
    m_cwd.emplace();
    QVERIFY(m_cwd->IsValid());
}

void TestAbout::cleanup() {
    m_cwd.reset();
}

void TestAbout::closes_data() {
    QTest::addColumn<ModalHelper::Action>("dismiss");
    QTest::addColumn<int>("result");
    QTest::newRow("OK button") << ModalHelper::Action([](QWidget* w) {
        static_cast<CAboutDlg*>(w)->Button(md::ui::IDOK)->click();
    }) << md::ui::IDOK;
    QTest::newRow("Enter") << ModalHelper::Action([](QWidget* w) { ModalHelper::PressEnter(w); })
                           << md::ui::IDOK;
    QTest::newRow("Esc") << ModalHelper::Action([](QWidget* w) { ModalHelper::PressEscape(w); })
                         << md::ui::IDCANCEL;
    QTest::newRow("close box") << ModalHelper::Action([](QWidget* w) { w->close(); })
                               << md::ui::IDCANCEL;
}

void TestAbout::closes() {
    QFETCH(ModalHelper::Action, dismiss);
    QFETCH(int, result);
    {
        ModalHelper modal;
        modal.Answer(dismiss);
        CAboutDlg dlg;
        QCOMPARE(dlg.DoModal(), result);
    }

    // From the main window, twice in a row; nothing else happens.
    Window wnd;
    ModalHelper& modal = wnd.modal;
    modal.Answer(dismiss);
    modal.Answer(dismiss);
    wnd.dlg.SendCommand(kAboutButton);
    wnd.dlg.SendCommand(kAboutButton);
    QCOMPARE(modal.Dialogs(), QStringList({"md::ui::CAboutDlg", "md::ui::CAboutDlg"}));
    QVERIFY(modal.Unanswered().isEmpty());
    QVERIFY(modal.Boxes().isEmpty());
    QVERIFY(!QFile::exists("Table.txt"));
}

void TestAbout::missingAnalysisProgramReturnsSilently() {
    Window wnd;
    ModalHelper& modal = wnd.modal;
    wnd.dlg.SendCommand(kAnalysisButton);
    QTest::qWait(50);
    QVERIFY(modal.Boxes().isEmpty());
    QVERIFY(modal.Dialogs().isEmpty());
}

// The stand-in program outlasts one logging period and looks whether a record was written
// meanwhile: the window must have been waiting for it, ticks included.
void TestAbout::windowWaitsForAnalysisProgram() {
    {
        QFile script("phasecur.exe");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "sleep 1.3\n"
                     "if [ -e Table.txt ]; then echo record; else echo none; fi > verdict.txt\n"
                     "exit 3\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    }
    Window wnd;
    ModalHelper& modal = wnd.modal;
    modal.Answer([](QWidget* w) {
        auto* dlg = static_cast<md::ui::CSaveIntervalDlg*>(w);
        ModalHelper::Type(dlg->Edit(1002), "1");
        dlg->Button(md::ui::IDOK)->click();
    });
    wnd.dlg.SendCommand(1021);
    QCOMPARE(wnd.dlg.TimerPeriod(2), 1000u);

    QElapsedTimer elapsed;
    elapsed.start();
    wnd.dlg.SendCommand(kAnalysisButton);
    QVERIFY(elapsed.elapsed() >= 1300);

    QFile verdict("verdict.txt");
    QVERIFY(verdict.open(QIODevice::ReadOnly));
    QCOMPARE(verdict.readAll(), QByteArray("none\n"));
    QTest::qWait(50);
    QVERIFY(modal.Boxes().isEmpty());
    QVERIFY(wnd.dlg.IsTimerRunning(2));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
