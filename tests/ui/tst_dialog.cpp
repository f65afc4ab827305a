// The dialog framework: data exchange and its prompts, Enter and Esc, radio buttons, hidden
// controls, window timers, the handler guard, message boxes and the application look.

#include "fakes/ModalHelper.h"
#include "port/SerialControl.h"
#include "ui/Dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

#include <array>
#include <climits>
#include <stdexcept>

using namespace md::ui;
using md::ModalHelper;

namespace {

enum : int {
    kInt = 10,
    kByte = 11,
    kRatio = 12, // unsigned, 1..64000
    kLast = 13,
    kAct = 20,
    kHiddenBtn = 21,
    kRadioA = 30,
    kRadioB = 31,
    kMulti = 40,
};

constexpr std::array kControls{
    ControlDef{kInt, Ctl::Edit, "", 5, 5, 40, 12},
    ControlDef{kByte, Ctl::Edit, "", 5, 20, 40, 12},
    ControlDef{kRatio, Ctl::Edit, "", 5, 35, 40, 12},
    ControlDef{kLast, Ctl::Edit, "", 5, 50, 40, 12},
    ControlDef{IDOK, Ctl::DefPushButton, "OK", 100, 5, 40, 14},
    ControlDef{IDCANCEL, Ctl::PushButton, "Cancel", 100, 22, 40, 14},
    ControlDef{kAct, Ctl::PushButton, "Act", 100, 40, 40, 14},
    ControlDef{kHiddenBtn, Ctl::PushButton, "Hidden", 100, 40, 40, 14, kHidden},
    ControlDef{kRadioA, Ctl::Radio, "A", 5, 70, 30, 10, kNoTabStop},
    ControlDef{kRadioB, Ctl::Radio, "B", 40, 70, 30, 10, kNoTabStop},
    ControlDef{kMulti, Ctl::Edit, "", 5, 85, 80, 30, kMultiLine | kReadOnly | kNoTabStop},
};

constexpr DialogTemplate kTemplate{900, "测试", 150, 120, "宋体", 10, kSystemMenu, kControls};

class TestDlg : public CDialog {
public:
    TestDlg() : CDialog(kTemplate) {
        OnCommand(kAct, [this] {
            ++m_acts;
            if (m_throw)
                m_throw();
            ++m_actsFinished;
        });
        OnCommand(kHiddenBtn, [this] { ++m_hiddenCommands; });
        OnCommand(kRadioA, [this] { CheckRadioButton(kRadioA, kRadioA, kRadioA); });
        OnCommand(kRadioB, [this] { CheckRadioButton(kRadioB, kRadioB, kRadioB); });
    }

    int m_nInt = 0;
    std::uint8_t m_byByte = 0;
    unsigned m_nRatio = 1;
    int m_nLast = 0;

    int m_acts = 0, m_actsFinished = 0, m_hiddenCommands = 0;
    std::function<void()> m_throw;
    std::function<bool()> m_init;
    std::function<void(unsigned)> m_timer;

    using CDialog::OnCommand;

protected:
    void DoDataExchange(CDataExchange& dx) override {
        DDX_Text(dx, kInt, m_nInt);
        DDX_Text(dx, kByte, m_byByte);
        DDX_Text(dx, kRatio, m_nRatio);
        DDV_MinMaxUInt(dx, kRatio, m_nRatio, 1, 64000);
        DDX_Text(dx, kLast, m_nLast);
    }
    bool OnInitDialog() override { return m_init ? m_init() : CDialog::OnInitDialog(); }
    void OnTimer(unsigned id) override {
        if (m_timer)
            m_timer(id);
    }
};

void Fill(TestDlg& dlg, const QString& i, const QString& b, const QString& r, const QString& l) {
    dlg.SetDlgItemText(kInt, i);
    dlg.SetDlgItemText(kByte, b);
    dlg.SetDlgItemText(kRatio, r);
    dlg.SetDlgItemText(kLast, l);
}

} // namespace

class TestDialog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void takesWholeNumbersOrPrompts_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("prompt"); // empty: taken
        // The member after the take: a range check runs on a value already taken.
        QTest::addColumn<qlonglong>("value");
        const QString integer = IntegerPrompt();
        const QString byte = RangePrompt(0, 255);
        const QString ratio = RangePrompt(1, 64000);
        const QString unsignedPrompt = UnsignedPrompt();
        QTest::newRow("int plain") << int(kInt) << "12" << QString() << 12LL;
        QTest::newRow("int blanks and sign") << int(kInt) << " -7\t" << QString() << -7LL;
        QTest::newRow("int plus") << int(kInt) << "+5" << QString() << 5LL;
        QTest::newRow("int minimum")
            << int(kInt) << "-2147483648" << QString() << qlonglong(INT_MIN);
        QTest::newRow("int too large") << int(kInt) << "2147483648" << integer << 0LL;
        QTest::newRow("int empty") << int(kInt) << "" << integer << 0LL;
        QTest::newRow("int letters") << int(kInt) << "abc" << integer << 0LL;
        QTest::newRow("int trailing letter") << int(kInt) << "12a" << integer << 0LL;
        QTest::newRow("int inner blank") << int(kInt) << "1 2" << integer << 0LL;
        QTest::newRow("int hex") << int(kInt) << "0x10" << integer << 0LL;
        QTest::newRow("int full-width digits") << int(kInt) << "１２" << integer << 0LL;
        QTest::newRow("int sign only") << int(kInt) << "-" << integer << 0LL;
        QTest::newRow("byte zero") << int(kByte) << "0" << QString() << 0LL;
        QTest::newRow("byte 255") << int(kByte) << "255" << QString() << 255LL;
        QTest::newRow("byte blanks") << int(kByte) << " 17 " << QString() << 17LL;
        QTest::newRow("byte 256") << int(kByte) << "256" << byte << 0LL;
        QTest::newRow("byte negative") << int(kByte) << "-1" << byte << 0LL;
        QTest::newRow("byte empty") << int(kByte) << "" << byte << 0LL;
        QTest::newRow("byte letters") << int(kByte) << "x" << byte << 0LL;
        QTest::newRow("unsigned in range") << int(kRatio) << "64000" << QString() << 64000LL;
        QTest::newRow("unsigned below range") << int(kRatio) << "0" << ratio << 0LL;
        QTest::newRow("unsigned above range") << int(kRatio) << "64001" << ratio << 64001LL;
        QTest::newRow("unsigned negative") << int(kRatio) << "-1" << unsignedPrompt << 1LL;
        QTest::newRow("unsigned beyond 32 bits")
            << int(kRatio) << "4294967296" << unsignedPrompt << 1LL;
    }
    void takesWholeNumbersOrPrompts() {
        QFETCH(int, id);
        QFETCH(QString, text);
        QFETCH(QString, prompt);
        QFETCH(qlonglong, value);
        ModalHelper modal;
        TestDlg dlg;
        Fill(dlg, QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1"),
             QStringLiteral("0"));
        dlg.SetDlgItemText(id, text);
        QCOMPARE(dlg.UpdateData(true), prompt.isEmpty());
        QCOMPARE(modal.Boxes(), prompt.isEmpty() ? QStringList() : QStringList{prompt});
        const qlonglong taken = id == kInt    ? dlg.m_nInt
                                : id == kByte ? dlg.m_byByte
                                              : qlonglong(dlg.m_nRatio);
        QCOMPARE(taken, value);
    }

    void failedTakeFocusesTheFieldAndStopsThere() {
        ModalHelper modal;
        TestDlg dlg;
        dlg.m_nLast = 4;
        bool checked = false;
        modal.Answer([&](QWidget*) {
            Fill(dlg, QStringLiteral("5"), QStringLiteral("300"), QStringLiteral("7"),
                 QStringLiteral("9"));
            dlg.Edit(kLast)->setFocus();
            ModalHelper::PressEnter(&dlg);
            QVERIFY(dlg.isVisible());
            QCOMPARE(dlg.focusWidget(), dlg.Item(kByte));
            QCOMPARE(dlg.Edit(kByte)->selectedText(), QStringLiteral("300"));
            checked = true;
        });
        modal.Answer([](QWidget* w) { ModalHelper::PressEscape(w); });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QVERIFY(checked);
        QCOMPARE(modal.Boxes(), QStringList{RangePrompt(0, 255)});
        // Members before the bad field were taken, it and those after kept their values.
        QCOMPARE(dlg.m_nInt, 5);
        QCOMPARE(dlg.m_byByte, std::uint8_t(0));
        QCOMPARE(dlg.m_nRatio, 1u);
        QCOMPARE(dlg.m_nLast, 4);
    }

    void enterAndEscape_data() {
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result"); // 0: still open
        QTest::addColumn<int>("acts");
        QTest::newRow("Enter in an edit is OK") << int(kLast) << int(Qt::Key_Return) << IDOK << 0;
        QTest::newRow("keypad Enter too") << int(kInt) << int(Qt::Key_Enter) << IDOK << 0;
        QTest::newRow("Enter on Cancel clicks it")
            << IDCANCEL << int(Qt::Key_Return) << IDCANCEL << 0;
        QTest::newRow("Enter on a button clicks it") << int(kAct) << int(Qt::Key_Return) << 0 << 1;
        QTest::newRow("Enter on a radio is OK") << int(kRadioA) << int(Qt::Key_Return) << IDOK << 0;
        QTest::newRow("Esc cancels") << int(kLast) << int(Qt::Key_Escape) << IDCANCEL << 0;
    }
    void enterAndEscape() {
        QFETCH(int, focus);
        QFETCH(int, key);
        QFETCH(int, result);
        QFETCH(int, acts);
        ModalHelper modal;
        TestDlg dlg;
        Fill(dlg, QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
             QStringLiteral("4"));
        modal.Answer([&](QWidget*) {
            dlg.Item(focus)->setFocus();
            QTest::keyClick(dlg.Item(focus), Qt::Key(key));
        });
        // A dialog still open after the key is closed by its cancel button.
        modal.Answer([&](QWidget*) { dlg.Button(IDCANCEL)->click(); });
        QCOMPARE(dlg.DoModal(), result ? result : IDCANCEL);
        QCOMPARE(modal.Pending(), result ? 1 : 0);
        QCOMPARE(dlg.m_acts, acts);
        QVERIFY(modal.Boxes().isEmpty());
    }

    void radioButtonsAreEachTheirOwnGroup() {
        TestDlg dlg;
        QAbstractButton* a = dlg.Button(kRadioA);
        QAbstractButton* b = dlg.Button(kRadioB);
        a->click();
        b->click();
        QVERIFY(a->isChecked() && b->isChecked());
        // Clicking a set button leaves it set.
        a->click();
        QVERIFY(a->isChecked());
        dlg.CheckRadioButton(kRadioA, kRadioB, kRadioB);
        QVERIFY(!dlg.IsDlgButtonChecked(kRadioA));
        QVERIFY(dlg.IsDlgButtonChecked(kRadioB));
        QVERIFY(!(a->focusPolicy() & Qt::TabFocus));
    }

    void timersByIdReplaceTheirPeriod() {
        TestDlg dlg;
        dlg.SetTimer(1, 2000);
        QCOMPARE(dlg.TimerPeriod(1), 2000u);
        dlg.SetTimer(1, 1000);
        QCOMPARE(dlg.TimerPeriod(1), 1000u);
        dlg.SetTimer(2, 0);
        QCOMPARE(dlg.TimerPeriod(2), 10u);
        dlg.KillTimer(1);
        QVERIFY(!dlg.IsTimerRunning(1));
        QCOMPARE(dlg.TimerPeriod(1), 0u);
        QVERIFY(dlg.IsTimerRunning(2));
        dlg.KillTimer(1);
        QVERIFY(dlg.IsTimerRunning(2));
    }

    // However a dialog ends, its timers end with it: an object that lives on after its dialog
    // (the start-up dialog does) must not go on ticking.
    void timersEndWithTheDialog_data() {
        QTest::addColumn<QString>("how");
        for (const char* how : {"Esc", "ended during initialisation"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void timersEndWithTheDialog() {
        QFETCH(QString, how);
        ModalHelper modal;
        TestDlg dlg;
        int ticks = 0;
        dlg.m_timer = [&](unsigned) { ++ticks; };
        dlg.m_init = [&] {
            if (how == QLatin1String("ended during initialisation"))
                dlg.EndDialog(IDCANCEL);
            dlg.SetTimer(1, 10);
            return true;
        };
        modal.Answer([&](QWidget* w) {
            QTRY_VERIFY(ticks > 0);
            ModalHelper::PressEscape(w);
        });
        dlg.DoModal();
        QVERIFY(!dlg.IsTimerRunning(1));
        const int ended = ticks;
        QTest::qWait(50);
        QCOMPARE(ticks, ended);
    }

    // A poll that shows a box must not run again inside it, while other timers go on.
    void aTimerHandlerIsNotReenteredButOthersTick() {
        ModalHelper modal;
        TestDlg dlg;
        int inside = 0, maxInside = 0, firstTicks = 0, secondTicks = 0;
        dlg.m_timer = [&](unsigned id) {
            if (id == 2) {
                ++secondTicks;
                return;
            }
            ++firstTicks;
            ++inside;
            maxInside = std::max(maxInside, inside);
            if (firstTicks == 1)
                AfxMessageBox(QStringLiteral("poll"));
            --inside;
        };
        modal.AnswerBox([&](QWidget*) { QTRY_VERIFY(secondTicks >= 5); });
        modal.Answer([&](QWidget*) {
            dlg.SetTimer(1, 10);
            dlg.SetTimer(2, 10);
            QTRY_VERIFY_WITH_TIMEOUT(firstTicks >= 3, 5000);
            dlg.Button(IDCANCEL)->click();
        });
        dlg.DoModal();
        QCOMPARE(maxInside, 1);
        QCOMPARE(modal.Boxes(), QStringList{QStringLiteral("poll")});
    }

    void guardShowsTheErrorAndAbortsTheHandler_data() {
        QTest::addColumn<bool>("commError");
        QTest::newRow("serial port error") << true;
        QTest::newRow("any other error") << false;
    }
    void guardShowsTheErrorAndAbortsTheHandler() {
        QFETCH(bool, commError);
        ModalHelper modal;
        TestDlg dlg;
        const char* text = "无法打开串口 COM1（/dev/ttyS0）：设备不存在";
        dlg.m_throw = [&] {
            if (commError)
                throw md::CommError(text);
            throw std::runtime_error(text);
        };
        QWidget* boxParent = nullptr;
        modal.AnswerBox([&](QWidget* box) { boxParent = box->parentWidget(); });
        modal.Answer([&](QWidget*) {
            dlg.Button(kAct)->click();
            QVERIFY(dlg.isVisible());
            dlg.Button(IDCANCEL)->click();
        });
        dlg.DoModal();
        QCOMPARE(dlg.m_acts, 1);
        QCOMPARE(dlg.m_actsFinished, 0);
        QCOMPARE(modal.Boxes(), QStringList{QString::fromUtf8(text)});
        QCOMPARE(boxParent, &dlg);
    }

    void failedInitialisationStillOpensTheDialog() {
        ModalHelper modal;
        TestDlg dlg;
        dlg.m_init = [&]() -> bool {
            dlg.SetDlgItemText(kLast, QStringLiteral("before"));
            throw md::CommError("refused");
        };
        QWidget* focused = nullptr;
        modal.Answer([&](QWidget* w) {
            focused = dlg.focusWidget();
            ModalHelper::PressEscape(w);
        });
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QCOMPARE(modal.Boxes(), QStringList{QStringLiteral("refused")});
        QCOMPARE(modal.Dialogs().size(), 1);
        QCOMPARE(focused, dlg.Item(kInt));
    }

    void endingDuringInitialisationNeverShows() {
        ModalHelper modal;
        TestDlg dlg;
        dlg.m_init = [&] {
            dlg.EndDialog(7);
            return true;
        };
        QCOMPARE(dlg.DoModal(), 7);
        QVERIFY(modal.Dialogs().isEmpty());
    }

    void messageBoxIsOkOnlyAndCaptionedWithTheExecutable() {
        ModalHelper modal;
        QList<QMessageBox::StandardButton> buttons;
        modal.AnswerBox([&](QWidget* w) {
            const auto* box = qobject_cast<QMessageBox*>(w);
            for (QAbstractButton* b : box->buttons())
                buttons << box->standardButton(b);
        });
        AfxMessageBox(QStringLiteral("<b>不是富文本</b>"));
        QCOMPARE(modal.BoxCaptions(), QStringList{QStringLiteral("tst_dialog")});
        QCOMPARE(modal.Boxes(), QStringList{QStringLiteral("<b>不是富文本</b>")});
        QCOMPARE(buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    }

    void applicationLookHasTheColoursAndAChineseFont() {
        ApplyApplicationLook();
        const QPalette pal = QApplication::palette();
        QCOMPARE(pal.color(QPalette::Window), QColor(215, 225, 200));
        QCOMPARE(pal.color(QPalette::WindowText), QColor(0, 5, 10));
        const QFont font = QApplication::font();
        QCOMPARE(font.pointSize(), 10);
        QCOMPARE(font.families().value(0), QStringLiteral("宋体"));
        // Whatever face stands in, it must draw the dialogs' Chinese text.
        QVERIFY(QFontMetrics(font).inFontUcs4(U'宋'));
        QVERIFY(QFontMetrics(font).inFontUcs4(U'校'));
        QVERIFY2(font.families().contains(QFontInfo(font).family()),
                 qPrintable(QFontInfo(font).family()));
    }
};

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
