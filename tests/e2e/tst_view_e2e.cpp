// The traffic monitor over a real line to metersim with faults: its rows lay beside metersim's
// own trace frame for frame, each failure with its status word, and the tool's trace file line for
// line.

#include "fakes/MainWindowRig.h"
#include "trace/TraceWriter.h"
#include "ui/TrafficMonitor.h"

#include <QRegularExpression>
#include <QTest>

#include <cstdio>

using namespace md;

class TestViewE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void MonitorRowsMatchMetersimFrameForFrame();
};

namespace {

// The frames of trace lines as "-> HEX" and "<- HEX", in order.
QStringList Frames(const QStringList& lines) {
    static const QRegularExpression frame(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (->|<-) ((?:[0-9A-F]{2}(?: |$))*)"));
    QStringList frames;
    for (const QString& line : lines)
        if (const auto m = frame.match(line); m.hasMatch())
            frames << m.captured(1) + ' ' + m.captured(2).trimmed();
    return frames;
}

} // namespace

void TestViewE2e::MonitorRowsMatchMetersimFrameForFrame() {
    MeterSim sim({"--trace"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    MainWindowRig w(sim);
    std::FILE* file = std::tmpfile();
    QVERIFY(file);
    TraceWriter trace(file, true);
    w.dlg.Trace().Add(trace);
    w.Run([&] {
        w.dlg.OnTimer(1);
        for (const char* fault : {"bad-crc once", "wrong-address once", "exception once"}) {
            QVERIFY(sim.Fault(QString::fromLatin1(fault)));
            w.dlg.OnTimer(1);
        }
    });
    QVERIFY(!sim.Command(QStringLiteral("status")).isEmpty());

    const ui::MonitorModel& monitor = w.dlg.Monitor();
    QStringList rows, words;
    for (int r = 0; r < monitor.rowCount(); ++r) {
        rows << QString::fromStdString(monitor.Row(r).line);
        words << monitor.index(r, ui::MonitorModel::kStatus).data().toString();
    }
    QCOMPARE(Frames(rows).size(), 16); // four polls of two reads, each sent and collected
    QCOMPARE(Frames(rows), Frames(sim.Trace()));
    // The trace file's lines are the monitor's, time stamps included.
    std::rewind(file);
    QByteArray traced;
    for (char buf[256]; std::fgets(buf, sizeof buf, file);)
        traced += buf;
    QCOMPARE(traced, monitor.TraceText());
    w.dlg.Trace().Remove(trace);
    const QStringList ok{"ok", "ok", "ok", "ok"};
    // Each fault spoils the first answer after it: the decimal point's.
    QCOMPARE(words, (ok + QStringList{"ok", "check error", "ok", "ok"} +
                     QStringList{"ok", "wrong address", "ok", "ok"} +
                     QStringList{"ok", "exception", "ok", "ok"}));
}

QTEST_MAIN(TestViewE2e)
#include "tst_view_e2e.moc"
