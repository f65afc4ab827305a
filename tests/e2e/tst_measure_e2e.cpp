// The parameter block, the address change and polling over a real line to metersim.

#include "fakes/MainWindowRig.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTest>

#include <functional>

using namespace md;
using md::ui::CMeterDebugDlg;

namespace {

using Window = MainWindowRig;

// Trace lines of answers to the phase-current read, in order: true for one the line lost.
QList<bool> CurrentAnswersLost(const QStringList& trace) {
    QList<bool> lost;
    for (const QString& line : trace)
        if (line.contains(QStringLiteral(" <- ")) &&
            line.contains(QStringLiteral("read 3 @0x0000")))
            lost << line.contains(QStringLiteral("answer lost"));
    return lost;
}

} // namespace

class TestMeasureE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ParameterBlockReadAndWritten();
    void FastParameterReadGivesTheSameValuesInAFractionOfTheTime();
    void AddressChangeLeavesTheToolOnTheOldAddress_data();
    void AddressChangeLeavesTheToolOnTheOldAddress();
    void PollingCountsOneAnswerInThreeLost();
};

void TestMeasureE2e::ParameterBlockReadAndWritten() {
    MeterSim sim(
        {"--set", "upper=800", "--set", "lower=50", "--set", "decimal=3", "--set", "param-baud=1"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    w.Run([&] {
        w.Click(1023);
        QCOMPARE((QStringList{w.Text(1059), w.Text(1060), w.Text(1052), w.Text(1061)}),
                 (QStringList{"800", "50", "3", "2400"}));
        QCOMPARE(w.Text(1068), QStringLiteral("已读参数数据..."));

        w.Type(1059, QStringLiteral("900"));
        w.Type(1060, QStringLiteral("60"));
        w.Type(1052, QStringLiteral("1"));
        w.Type(1061, QStringLiteral("19200"));
        w.Click(1024);
        QCOMPARE(w.Text(1061), QStringLiteral("4"));
    });
    QCOMPARE(w.modal.Boxes(), QStringList{QStringLiteral("写数据成功！")});
    QCOMPARE(sim.Get("upper"), std::optional<int>(900));
    QCOMPARE(sim.Get("lower"), std::optional<int>(60));
    QCOMPARE(sim.Get("decimal"), std::optional<int>(1));
    QCOMPARE(sim.Get("param-baud"), std::optional<int>(4));
}

void TestMeasureE2e::FastParameterReadGivesTheSameValuesInAFractionOfTheTime() {
    // A line that takes its real time: each read is about 30 ms on the wire at 9600 bit/s.
    MeterSim sim({"--line-timing", "--set", "upper=800", "--set", "lower=50", "--set", "decimal=3",
                  "--set", "param-baud=1"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    const auto fields = [&] {
        return QStringList{w.Text(1059), w.Text(1060), w.Text(1052), w.Text(1061)};
    };
    const auto readTimed = [&] {
        for (const int id : {1059, 1060, 1052, 1061})
            w.Type(id, QStringLiteral("0"));
        QElapsedTimer timer;
        timer.start();
        w.Click(1023);
        return timer.elapsed();
    };
    w.Run([&] {
        const qint64 fixedMs = readTimed();
        const QStringList fixedValues = fields();
        w.dlg.Link().SetFastWaits(true);
        const qint64 fastMs = readTimed();
        QCOMPARE(fixedValues, (QStringList{"800", "50", "3", "2400"}));
        QCOMPARE(fields(), fixedValues);
        QVERIFY2(fixedMs >= 2400, qPrintable(QString::number(fixedMs)));
        // Four answers located as they complete, against four 600 ms waits.
        QVERIFY2(fastMs < 600, qPrintable(QString::number(fastMs)));
    });
}

void TestMeasureE2e::AddressChangeLeavesTheToolOnTheOldAddress_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("echo"); // the answer as the trace shows it; empty: none
    QTest::newRow("acknowledged") << QStringList{} << QStringLiteral("写本机地址成功！")
                                  << QStringLiteral("<- 01 06 03 00 00 07");
    QTest::newRow("acknowledged from the new address")
        << QStringList{"--answer-from-new-address"} << QStringLiteral("写本机地址成功！")
        << QStringLiteral("<- 07 06 03 00 00 07");
    QTest::newRow("not acknowledged") << QStringList{"--silent-write", "0x0300"}
                                      << QStringLiteral("写本机地址不成功") << QString();
}

void TestMeasureE2e::AddressChangeLeavesTheToolOnTheOldAddress() {
    QFETCH(QStringList, options);
    QFETCH(QString, box);
    QFETCH(QString, echo);
    MeterSim sim(QStringList{"--trace"} + options);
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    w.Run([&] {
        w.Type(1058, QStringLiteral("7"));
        w.Click(1066);
        w.Click(1075);
    });
    QCOMPARE(w.modal.Boxes(), QStringList{box});
    QCOMPARE(sim.Get("address"), std::optional<int>(7));
    QCOMPARE(w.dlg.m_byMeterAddress, std::uint8_t(1));
    const QStringList ignored =
        sim.Trace().filter(QStringLiteral("read 1 @0x0016")).filter(QStringLiteral("ignored"));
    QCOMPARE(ignored.size(), 1);
    QVERIFY2(ignored[0].contains(QStringLiteral("-> 01 03 00 16 00 01")), qPrintable(ignored[0]));
    if (!echo.isEmpty())
        QVERIFY2(!sim.Trace().filter(echo).isEmpty(), qPrintable(sim.Trace().join(u'\n')));
}

void TestMeasureE2e::PollingCountsOneAnswerInThreeLost() {
    constexpr int kPolls = 6;
    MeterSim sim({"--trace", "--fault", "silent:33%", "--seed", "11"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Window w(sim);
    w.Run([&] {
        w.Click(1065);
        for (int i = 0; i < kPolls; ++i)
            w.dlg.OnTimer(1);
        w.Click(1064);
    });
    QVERIFY(!sim.Command(QStringLiteral("status")).isEmpty());

    // The simulator's own account of each phase-current answer is the reference.
    const QList<bool> lost = CurrentAnswersLost(sim.Trace());
    QCOMPARE(lost.size(), kPolls);
    int success = 0, failure = 0;
    QString rate;
    for (const bool l : lost) {
        l ? ++failure : ++success;
        rate = QString::asprintf("%.4f%%", failure * 100.0 / (success + failure));
    }
    QVERIFY2(success > 0 && failure > 0, "the seed should lose some answers and keep others");
    QCOMPARE(w.Text(1069), QString::number(success));
    QCOMPARE(w.Text(1070), QString::number(failure));
    QCOMPARE(w.Text(1071), rate);
}

QTEST_MAIN(TestMeasureE2e)
#include "tst_measure_e2e.moc"
