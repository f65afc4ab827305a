// The tool's link over a real serial port on metersim's pseudo-terminal, with the real clock:
// every kind of exchange once, each answer fault, and the meter's rate and address switches.
// Each case runs its own metersim; the waits are the tool's real 300 and 600 ms, so the cases
// use the 300 ms exchanges wherever they can.

#include "fakes/MeterSim.h"
#include "link/Clock.h"
#include "link/Exchange.h"
#include "modbus/Frame.h"
#include "port/MSComm.h"
#include "meter/Registers.h"

#include <QtTest>

#include <vector>

using namespace md;

namespace {

const QStringList kFixedClock = {QStringLiteral("--clock"), QStringLiteral("2006-11-15 10:30:45")};

enum class Kind { Read, WriteSingle, WriteDouble };

// The tool's side: the port control on port 1, the steady clock and the exchange.
struct Tool {
    explicit Tool(const MeterSim& sim) {
        sim.PointComAt(comm, 1);
        Reopen("9600N,8,2");
    }

    void Reopen(const char* settings) {
        comm.SetPortOpen(false);
        comm.SetCommPort(1);
        comm.SetSettings(settings);
        comm.SetPortOpen(true);
    }
    int Read(std::uint8_t address, std::uint16_t reg, std::uint16_t count, std::uint32_t ms) {
        const int len = BuildReadRequest(x.m_bySendBuf, address, reg, count);
        return x.Transact(len, WaitKind::Sleep, ms, kFnReadHolding, address, 5 + 2 * count);
    }
    // The clock read: three registers after 300 ms, the quickest read the tool makes.
    int ReadClock(std::uint8_t address = 1) { return Read(address, reg::kClock, 3, 300); }
    int Write(Kind kind, std::uint8_t address, std::uint16_t reg, int value) {
        const bool single = kind == Kind::WriteSingle;
        const int len = single ? BuildWriteSingleRequest(x.m_bySendBuf, address, reg, value)
                               : BuildWriteDoubleRequest(x.m_bySendBuf, address, reg, value);
        return x.Transact(len, WaitKind::Busy, 300, single ? kFnWriteSingle : kFnWriteMultiple,
                          address, 8);
    }
    QByteArray Received(int p, int len) const {
        return QByteArray(reinterpret_cast<const char*>(x.m_byRecvBuf.data()) + p, len);
    }
    QByteArray Sent(int len) const {
        return QByteArray(reinterpret_cast<const char*>(x.m_bySendBuf.data()), len);
    }

    CMSComm comm;
    SteadyClock clock;
    CExchange x{comm, clock};
};

} // namespace

class LinkE2E : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void EachExchangeKindIsAnsweredAndDecoded_data();
    void EachExchangeKindIsAnsweredAndDecoded();
    void SpoiledAnswersAreNotFound_data();
    void SpoiledAnswersAreNotFound();
    void RateSwitchIsAcknowledgedAtTheOldRate();
    void AddressSwitchIsAnsweredFromTheOldAddress();
    void UnpluggedLineAnswersAgainOnceReopened();
};

void LinkE2E::EachExchangeKindIsAnsweredAndDecoded_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("countOrValue");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<QString>("quantity");

    QTest::newRow("read 1: upper threshold")
        << Kind::Read << 0x0302 << 1 << 600 << QList<int>{500} << QString();
    QTest::newRow("read 3: phase currents")
        << Kind::Read << 0x0000 << 3 << 600 << QList<int>{1234, 100, 65535} << QString();
    // 2006-11-15 10:30:45: minute|second, day|hour, (year-2000)|month.
    QTest::newRow("read 3: clock")
        << Kind::Read << 0x0110 << 3 << 300 << QList<int>{0x1E2D, 0x0F0A, 0x060B} << QString();
    QTest::newRow("0x06 echo: wiring mode")
        << Kind::WriteSingle << 0x0002 << 5 << 300 << QList<int>{} << QStringLiteral("wiring");
    QTest::newRow("0x10 answer: PT ratio")
        << Kind::WriteDouble << 0x0000 << 64000 << 300 << QList<int>{} << QStringLiteral("pt");
}

void LinkE2E::EachExchangeKindIsAnsweredAndDecoded() {
    QFETCH(Kind, kind);
    QFETCH(int, reg);
    QFETCH(int, countOrValue);
    QFETCH(int, waitMs);
    QFETCH(QList<int>, registers);
    QFETCH(QString, quantity);

    MeterSim sim(kFixedClock);
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Tool t(sim);

    if (kind == Kind::Read) {
        const int p =
            t.Read(1, static_cast<std::uint16_t>(reg), static_cast<std::uint16_t>(countOrValue),
                   static_cast<std::uint32_t>(waitMs));
        QCOMPARE(p, 0);
        for (int k = 0; k < registers.size(); ++k)
            QCOMPARE(int(t.x.Register(p, k)), registers[k]);
    } else {
        const int p = t.Write(kind, 1, static_cast<std::uint16_t>(reg), countOrValue);
        QCOMPARE(p, 0);
        // 0x06 echoes the whole request; 0x10 repeats its first six bytes.
        const int same = kind == Kind::WriteSingle ? 8 : 6;
        QCOMPARE(t.Received(p, same).toHex(), t.Sent(same).toHex());
        QCOMPARE(sim.Get(quantity), countOrValue);
    }
    QVERIFY2(sim.Stop(), qPrintable(sim.Error()));
}

void LinkE2E::SpoiledAnswersAreNotFound_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("offset"); // where the answer is found; -1: not found
    QTest::addColumn<bool>("acted"); // whether the meter carried out the write

    QTest::newRow("silent") << "silent" << -1 << true;
    QTest::newRow("bad check bytes") << "bad-crc" << -1 << true;
    QTest::newRow("wrong address") << "wrong-address" << -1 << true;
    QTest::newRow("exception answer") << "exception" << -1 << false;
    QTest::newRow("late, after the wait") << "late:700" << -1 << true;
    QTest::newRow("truncated") << "truncated" << -1 << true;
    QTest::newRow("flood beyond the receive copy") << "flood" << -1 << true;
    // Not spoiled for the tool: the locator skips noise and the wait covers a short delay.
    QTest::newRow("stray bytes before") << "stray" << 5 << true;
    QTest::newRow("late, within the wait") << "late:100" << 0 << true;
}

void LinkE2E::SpoiledAnswersAreNotFound() {
    QFETCH(QString, fault);
    QFETCH(int, offset);
    QFETCH(bool, acted);

    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Tool t(sim);
    QVERIFY(sim.Fault(fault + QStringLiteral(" once")));

    QCOMPARE(t.Write(Kind::WriteSingle, 1, reg::kWiringMode, 5), offset);
    QCOMPARE(sim.Get(QStringLiteral("wiring")), acted ? 5 : 0);
    // The fault struck once; the next exchange is answered (a late echo may come before it).
    QVERIFY(t.ReadClock() >= 0);
}

void LinkE2E::RateSwitchIsAcknowledgedAtTheOldRate() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Tool t(sim);

    QCOMPARE(t.Write(Kind::WriteSingle, 1, reg::kLinkBaudCode, reg::BaudCodeOf(19200)), 0);
    QCOMPARE(sim.Get(QStringLiteral("link-baud")), 4);
    QCOMPARE(t.ReadClock(), -1);
    t.Reopen("19200N,8,2");
    QCOMPARE(t.ReadClock(), 0);
    QVERIFY2(sim.Stop(), qPrintable(sim.Error()));
}

void LinkE2E::AddressSwitchIsAnsweredFromTheOldAddress() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Tool t(sim);

    QCOMPARE(t.Write(Kind::WriteSingle, 1, reg::kOwnAddress, 7), 0);
    QCOMPARE(t.ReadClock(1), -1);
    QCOMPARE(t.ReadClock(7), 0);
    QCOMPARE(sim.Get(QStringLiteral("address")), 7);
}

void LinkE2E::UnpluggedLineAnswersAgainOnceReopened() {
    MeterSim sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Error()));
    Tool t(sim);

    QCOMPARE(sim.Command(QStringLiteral("unplug")), QStringLiteral("ok unplugged"));
    // A port whose device has gone may refuse to send; either way no answer is found.
    int p = 0;
    try {
        p = t.ReadClock();
    } catch (const CommError&) {
        p = -1;
    }
    QCOMPARE(p, -1);
    QCOMPARE(sim.Command(QStringLiteral("replug")), QStringLiteral("ok replugged"));
    t.Reopen("9600N,8,2");
    QCOMPARE(t.ReadClock(), 0);
}

QTEST_GUILESS_MAIN(LinkE2E)
#include "tst_link_e2e.moc"
