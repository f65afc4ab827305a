// The bus window over a real line to metersim playing three meters, one of which misses about
// every other request: each meter's row, and its rows in the bus CSV file, agree with what
// metersim's trace says each meter answered.

#include "fakes/MainWindowRig.h"
#include "log/CsvRecord.h"
#include "ui/BusDlg.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace md;
using md::ui::BusWindow;

class TestBusE2e : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void RowsAndCsvMatchMetersimPerMeter();
};

namespace {

constexpr int kCycles = 5;

// Per address, the phase-current answers that reached the tool, from metersim's trace.
QMap<int, int> CurrentsAnswered(const QStringList& trace) {
    QMap<int, int> answered;
    static const QRegularExpression meter(QStringLiteral("\\[meter (\\d+)"));
    for (const QString& line : trace) {
        if (!line.contains(QStringLiteral(" <- ")) ||
            !line.contains(QStringLiteral("read 3 @0x0000")) ||
            line.contains(QStringLiteral("lost")))
            continue;
        if (const auto m = meter.match(line); m.hasMatch())
            ++answered[m.captured(1).toInt()];
    }
    return answered;
}

// Per address, the bus CSV file's rows: those with currents, and the others.
struct CsvCounts {
    int ok = 0, failed = 0;
};
QMap<int, CsvCounts> CsvRows(const QString& path) {
    QMap<int, CsvCounts> rows;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) { // after the header
        const QList<QByteArray> cells = lines[i].trimmed().split(',');
        if (cells.size() < 7)
            continue;
        CsvCounts& c = rows[cells[1].toInt()];
        cells[6] == "ok" ? ++c.ok : ++c.failed;
    }
    return rows;
}

} // namespace

void TestBusE2e::RowsAndCsvMatchMetersimPerMeter() {
    MeterSim sim({"--address", "1,2,3", "--fault", "silent:50%@3", "--seed", "1", "--trace"});
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("polls.csv"));
    MainWindowRig w(sim);
    BusWindow* bus = nullptr;
    w.Run([&] {
        // A silent request still costs its whole wait; the answers are located as they come.
        w.dlg.Link().SetFastWaits(true);
        w.dlg.SetCsvFile(csv);
        bus = w.dlg.ShowBus();
        bus->AddressEdit()->setText(QStringLiteral("1-3"));
        bus->IntervalBox()->setValue(1);
        bus->StartButton()->click();
        QVERIFY(bus->Running());
        QTRY_VERIFY_WITH_TIMEOUT(bus->Poller()->Cycles() >= kCycles && !bus->Poller()->InCycle(),
                                 30000);
        bus->StopButton()->click();
    });
    QVERIFY(bus);
    QVERIFY(!sim.Command(QStringLiteral("status")).isEmpty());

    const auto requests = sim.CountsByAddress();
    const auto currents = CurrentsAnswered(sim.Trace());
    const auto rows = CsvRows(log::BusCsvPath(csv));
    QTableWidget* table = bus->Table();
    QCOMPARE(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const int address = row + 1;
        const auto cell = [&](int column) { return table->item(row, column)->text(); };
        QCOMPARE(cell(BusWindow::kAddress), QString::number(address));
        const int success = cell(BusWindow::kSuccess).toInt();
        const int failure = cell(BusWindow::kFailure).toInt();
        // A failed poll is one request unheard: a silent decimal point read skips the currents.
        QCOMPARE(failure, requests.value(address).unanswered);
        QCOMPARE(success, currents.value(address));
        QCOMPARE(rows.value(address).ok, success);
        QCOMPARE(rows.value(address).failed, failure);
        if (address != 3) {
            QCOMPARE(success, kCycles);
            QCOMPARE(requests.value(address).answered, 2 * kCycles);
        }
    }
    // The seed gives the silent meter both answered and missed polls.
    QVERIFY2(currents.value(3) > 0 && requests.value(3).unanswered > 0,
             qPrintable(sim.Trace().join(u'\n')));
}

QTEST_MAIN(TestBusE2e)
#include "tst_bus_e2e.moc"
