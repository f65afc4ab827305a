// Logging from the main window: the storage interval dialog, timer 2 and its period, the
// records in Table.txt (in a temporary current directory), and the failure messages.

#include "fakes/MainWindowRig.h"
#include "fakes/Support.h"
#include "log/LogRecord.h"
#include "ui/MeterDebugDlg.h"
#include "ui/SaveIntervalDlg.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>

using md::ModalHelper;
using md::ui::CMeterDebugDlg;
using md::ui::CSaveIntervalDlg;

Q_DECLARE_METATYPE(ModalHelper::Action)

namespace {

constexpr int kSaveButton = 1021;
constexpr unsigned kLogTimer = 2;
const QString kStart = QStringLiteral("开始保存数据");
const QString kStop = QStringLiteral("停止保存数据");
const QString kRefused = QStringLiteral("存储时间间隔应在1秒到596时31分23秒之间");
const QString kOpenFailed = QStringLiteral("文件打开不成功");
const QString kWriteFailed = QStringLiteral("写文件不成功");
const QString kLogFile = QStringLiteral("Table.txt");
const QString kNoEncoder = QStringLiteral("缺少GBK编码器，无法保存数据：记录中的中文无法写入文件");

// The main window after its initialisation, on a fake port, without its modal loop.
struct Window : md::MainWindowRig {
    Window() { Init(); }
    QString Caption() const { return dlg.m_btnSave->text(); }
};

// Answers the storage interval dialog: notes what it offered, types the interval, confirms.
ModalHelper::Action Confirm(QString h, QString m, QString s, QStringList* offered = nullptr) {
    return [=](QWidget* w) {
        auto* dlg = static_cast<CSaveIntervalDlg*>(w);
        if (offered)
            *offered = {dlg->Edit(1000)->text(), dlg->Edit(1001)->text(), dlg->Edit(1002)->text()};
        ModalHelper::Type(dlg->Edit(1000), h);
        ModalHelper::Type(dlg->Edit(1001), m);
        ModalHelper::Type(dlg->Edit(1002), s);
        ModalHelper::PressEnter(dlg);
    };
}

QByteArray ReadLog() {
    QFile file(kLogFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const qsizetype kRecordSize = md::log::FormatRecord({}, QDateTime::currentDateTimeUtc()).size();

} // namespace

class TestLogging : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void switchOn_data();
    void switchOn();
    void offersOneSecondEveryTime();
    void cancelLeavesLoggingOff_data();
    void cancelLeavesLoggingOff();
    void firstRecordOnePeriodLater();
    void ticksAppendTimestampedRecords();
    void failureIsReportedAndLoggingStaysOn_data();
    void failureIsReportedAndLoggingStaysOn();
    void failureBoxesDoNotPileUp();
    void withoutAGbkEncoderNothingStarts();

private:
    void SwitchOnForAnHour(Window& wnd, ModalHelper& modal);

    std::optional<md::TempCurrentDir> m_cwd;
};

void TestLogging::init() {
    m_cwd.emplace();
    QVERIFY(m_cwd->IsValid());
}

void TestLogging::cleanup() {
    m_cwd.reset();
}

void TestLogging::SwitchOnForAnHour(Window& wnd, ModalHelper& modal) {
    modal.Answer(Confirm("1", "0", "0"));
    wnd.dlg.SendCommand(kSaveButton);
    QVERIFY(wnd.dlg.IsTimerRunning(kLogTimer));
}

void TestLogging::switchOn_data() {
    QTest::addColumn<QString>("typed"); // hours/minutes/seconds
    QTest::addColumn<uint>("period");   // 0: refused
    QTest::newRow("0/0/1") << "0/0/1" << 1000u;
    QTest::newRow("1/0/0") << "1/0/0" << 3600000u;
    QTest::newRow("0/2/30") << "0/2/30" << 150000u;
    QTest::newRow("negative hours made up by minutes") << "-1/61/0" << 60000u;
    QTest::newRow("0/0/0") << "0/0/0" << 0u;
    QTest::newRow("negative") << "0/0/-1" << 0u;
    QTest::newRow("wraps to 704 ms in 32 bits") << "0/0/4294968" << 0u;
    QTest::newRow("beyond the timer's range") << "596/31/24" << 0u;
}

void TestLogging::switchOn() {
    QFETCH(QString, typed);
    QFETCH(uint, period);
    const QStringList hms = typed.split(u'/');
    const bool accepted = period != 0;

    Window wnd;
    ModalHelper& modal = wnd.modal;
    modal.Answer(Confirm(hms[0], hms[1], hms[2]));
    wnd.dlg.SendCommand(kSaveButton);

    QCOMPARE(modal.Dialogs(), QStringList{"md::ui::CSaveIntervalDlg"});
    QCOMPARE(modal.Boxes(), accepted ? QStringList() : QStringList{kRefused});
    QCOMPARE(wnd.dlg.IsTimerRunning(kLogTimer), accepted);
    QCOMPARE(wnd.dlg.TimerPeriod(kLogTimer), period);
    QCOMPARE(wnd.dlg.m_bSaving, accepted ? 1 : 0);
    QCOMPARE(wnd.Caption(), accepted ? kStop : kStart);
    QVERIFY(!QFile::exists(kLogFile));
    if (!accepted)
        return;

    // Switching off needs no dialog and stops the timer there and then.
    wnd.dlg.SendCommand(kSaveButton);
    QCOMPARE(modal.Dialogs().size(), 1);
    QVERIFY(!wnd.dlg.IsTimerRunning(kLogTimer));
    QCOMPARE(wnd.dlg.m_bSaving, 0);
    QCOMPARE(wnd.Caption(), kStart);
}

void TestLogging::offersOneSecondEveryTime() {
    Window wnd;
    ModalHelper& modal = wnd.modal;
    QStringList first;
    QStringList second;
    modal.Answer(Confirm("0", "5", "0", &first));
    wnd.dlg.SendCommand(kSaveButton);
    QCOMPARE(wnd.dlg.TimerPeriod(kLogTimer), 300000u);
    wnd.dlg.SendCommand(kSaveButton);

    modal.Answer(Confirm("0", "0", "7", &second));
    wnd.dlg.SendCommand(kSaveButton);
    QCOMPARE(first, QStringList({"0", "0", "1"}));
    QCOMPARE(second, QStringList({"0", "0", "1"}));
    QCOMPARE(wnd.dlg.TimerPeriod(kLogTimer), 7000u);
}

void TestLogging::cancelLeavesLoggingOff_data() {
    QTest::addColumn<ModalHelper::Action>("dismiss");
    QTest::newRow("cancel button") << ModalHelper::Action(
        [](QWidget* w) { static_cast<CSaveIntervalDlg*>(w)->Button(md::ui::IDCANCEL)->click(); });
    QTest::newRow("Esc") << ModalHelper::Action([](QWidget* w) { ModalHelper::PressEscape(w); });
    QTest::newRow("close box") << ModalHelper::Action([](QWidget* w) { w->close(); });
}

void TestLogging::cancelLeavesLoggingOff() {
    QFETCH(ModalHelper::Action, dismiss);
    Window wnd;
    ModalHelper& modal = wnd.modal;
    // Typed values are dropped with the dialog.
    modal.Answer([&](QWidget* w) {
        ModalHelper::Type(static_cast<CSaveIntervalDlg*>(w)->Edit(1002), "5");
        dismiss(w);
    });
    wnd.dlg.SendCommand(kSaveButton);
    QVERIFY(!wnd.dlg.IsTimerRunning(kLogTimer));
    QCOMPARE(wnd.dlg.m_bSaving, 0);
    QCOMPARE(wnd.Caption(), kStart);

    modal.Answer(dismiss);
    wnd.dlg.SendCommand(kSaveButton);
    QCOMPARE(modal.Dialogs().size(), 2);
    QVERIFY(modal.Unanswered().isEmpty());
    QVERIFY(!wnd.dlg.IsTimerRunning(kLogTimer));
}

// The one test on the real timer: a record one full period after switching on, and none
// after switching off.
void TestLogging::firstRecordOnePeriodLater() {
    Window wnd;
    ModalHelper& modal = wnd.modal;
    modal.Answer(Confirm("0", "0", "1"));
    QElapsedTimer elapsed;
    elapsed.start();
    wnd.dlg.SendCommand(kSaveButton);
    QVERIFY(!QFile::exists(kLogFile));

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kLogFile), 3000);
    QVERIFY2(elapsed.elapsed() >= 950, qPrintable(QString::number(elapsed.elapsed())));
    QTRY_COMPARE(ReadLog().size(), kRecordSize);

    wnd.dlg.SendCommand(kSaveButton);
    QTest::qWait(1300);
    QCOMPARE(ReadLog().size(), kRecordSize);
}

void TestLogging::ticksAppendTimestampedRecords() {
    {
        QFile file(kLogFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier\r\n");
    }
    Window wnd;
    ModalHelper& modal = wnd.modal;
    SwitchOnForAnHour(wnd, modal);

    const QDateTime before = QDateTime::currentDateTimeUtc();
    wnd.dlg.OnTimer(kLogTimer);
    wnd.dlg.OnTimer(kLogTimer);
    const QDateTime after = QDateTime::currentDateTimeUtc();

    const QByteArray log = ReadLog();
    QVERIFY(log.startsWith("earlier\r\n"));
    QCOMPARE(log.size(), 9 + 2 * kRecordSize);
    for (const QByteArray& record : {log.mid(9, kRecordSize), log.mid(9 + kRecordSize)}) {
        const QByteArray stamp = record.split('\r').value(1).mid(1);
        QVERIFY2(stamp == md::log::FormatTimestamp(before) ||
                     stamp == md::log::FormatTimestamp(after),
                 stamp.constData());
        QCOMPARE(record, md::log::FormatRecord(wnd.dlg.m_snapshot, before)
                             .replace(md::log::FormatTimestamp(before), stamp));
    }
    QVERIFY(modal.Boxes().isEmpty());
}

void TestLogging::failureIsReportedAndLoggingStaysOn_data() {
    QTest::addColumn<bool>("fullDevice");
    QTest::addColumn<QString>("message");
    QTest::newRow("cannot open") << false << kOpenFailed;
    QTest::newRow("writes fail") << true << kWriteFailed;
}

void TestLogging::failureIsReportedAndLoggingStaysOn() {
    QFETCH(bool, fullDevice);
    QFETCH(QString, message);
    if (fullDevice && !QFile::exists("/dev/full"))
        QSKIP("no /dev/full on this system");
    QVERIFY(fullDevice ? QFile::link("/dev/full", kLogFile) : QDir().mkdir(kLogFile));

    Window wnd;
    ModalHelper& modal = wnd.modal;
    SwitchOnForAnHour(wnd, modal);
    wnd.dlg.OnTimer(kLogTimer);
    QTRY_COMPARE(modal.Boxes(), QStringList{message});
    QVERIFY(wnd.dlg.IsTimerRunning(kLogTimer));
    QCOMPARE(wnd.dlg.m_bSaving, 1);
    QCOMPARE(wnd.Caption(), kStop);
}

// On real one-second ticks: the failure box must not hold up the ticks that fall due while
// it is open. Failing ones stay quiet; once the file can be made again, the next one writes.
void TestLogging::failureBoxesDoNotPileUp() {
    QVERIFY(QDir().mkdir(kLogFile));
    Window wnd;
    ModalHelper& modal = wnd.modal;
    modal.Answer(Confirm("0", "0", "1"));
    wnd.dlg.SendCommand(kSaveButton);

    bool recordedWhileOpen = false;
    modal.AnswerBox([&](QWidget*) {
        QTest::qWait(1200);
        QDir().rmdir(kLogFile);
        recordedWhileOpen = QTest::qWaitFor([] { return ReadLog().size() == kRecordSize; }, 2500);
    });
    QTRY_VERIFY_WITH_TIMEOUT(recordedWhileOpen, 5000);
    QCOMPARE(modal.Boxes(), QStringList{kOpenFailed});

    // After the box is closed, a new failure is reported again.
    wnd.dlg.SendCommand(kSaveButton);
    QVERIFY(QFile::remove(kLogFile));
    QVERIFY(QDir().mkdir(kLogFile));
    wnd.dlg.OnTimer(kLogTimer);
    wnd.dlg.OnTimer(kLogTimer);
    QTRY_COMPARE(modal.Boxes(), QStringList({kOpenFailed, kOpenFailed}));
    QTest::qWait(50);
    QCOMPARE(modal.Boxes().size(), 2);
}

// This Qt has the encoder; the window's flag stands in for a build without one.
void TestLogging::withoutAGbkEncoderNothingStarts() {
    QVERIFY(md::log::HasGbkEncoder());
    Window wnd;
    QVERIFY(wnd.dlg.m_bGbkEncoder);
    wnd.dlg.m_bGbkEncoder = false;
    wnd.dlg.SendCommand(kSaveButton);
    QCOMPARE(wnd.modal.Dialogs(), QStringList());
    QCOMPARE(wnd.modal.Boxes(), QStringList{kNoEncoder});
    QVERIFY(!wnd.dlg.IsTimerRunning(kLogTimer));
    QCOMPARE(wnd.dlg.m_bSaving, 0);
    QCOMPARE(wnd.Caption(), kStart);
    QVERIFY(!QFile::exists(kLogFile));
}

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
