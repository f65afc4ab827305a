#pragma once
// Runs metersim (the executable named by $METERSIM) for an end-to-end test: on a pseudo-terminal
// link in a private temporary folder, with its console for setting up faults and reading back
// what the meter holds.
//
//   MeterSim sim({"--clock", "2006-11-15 10:30:45"});
//   QVERIFY2(sim.Start(), qPrintable(sim.Error()));
//   sim.PointComAt(comm, 1);           // port 1 of CMSComm comm now opens the link
//   QVERIFY(sim.Fault("bad-crc once"));
//   ... exchanges through CMSComm and CExchange ...
//   QCOMPARE(sim.Get("pt"), 64000);
//
// Several meters on one line: MeterSim sim({"--address", "1,3,5", "--trace"}), then
// sim.Get("ct", 3) or sim.Fault("silent 50%", 3), and sim.CountsByAddress() for what each
// meter answered.
//
// Every wait is bounded; the destructor stops metersim, and metersim also ends if the test
// process dies.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace md {

class CMSComm;

class MeterSim {
public:
    // Options passed to metersim after --link (e.g. {"--address", "5", "--trace"}); with
    // "--modbus-tcp", metersim serves Modbus TCP instead of a link (Port() tells where).
    explicit MeterSim(QStringList options = {});
    ~MeterSim();
    MeterSim(const MeterSim&) = delete;
    MeterSim& operator=(const MeterSim&) = delete;

    // Starts metersim and waits up to 10 s for its ready line; false with Error() otherwise.
    bool Start();
    // Ends it with SIGTERM; true when it exited cleanly and removed its link.
    bool Stop();

    // The pseudo-terminal the tool opens.
    QString LinkPath() const;
    // With --modbus-tcp: the port the ready line named; 0 otherwise.
    int Port() const { return m_port; }
    // Points port n of the tool's serial port control at the link.
    void PointComAt(CMSComm& comm, int port) const;

    // One console command; its reply line ("ok ...", "NAME = VALUE", "error: ..."), or empty
    // when none came within 5 s. Trace lines are collected on the way.
    QString Command(const QString& line);
    // What the meter holds: "pt", "upper", "0x0302", "address", ...; nothing on an error.
    // address: the meter at that address, 0: the first one listed.
    std::optional<int> Get(const QString& what, int address = 0);
    // "bad-crc once", "late:900", "silent 25%", "off"; true when metersim took it. address:
    // only the meter at that address, 0: every one.
    bool Fault(const QString& text, int address = 0);

    // Per address, from the trace lines seen so far: requests whose answer went back to the
    // tool, and requests that got none (not heard, for no meter on the line, a bad check, or
    // the answer lost on the way).
    struct Counts {
        int answered = 0, unanswered = 0;
        bool operator==(const Counts&) const = default;
    };
    QMap<int, Counts> CountsByAddress() const;

    // Trace lines seen so far (start metersim with --trace); a command collects the ones
    // printed before its reply.
    QStringList Trace() const { return m_trace; }
    // What went wrong, with whatever metersim wrote to its error output.
    QString Error();

private:
    std::optional<QString> NextLine(int timeoutMs);

    QStringList m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_trace;
    QString m_error;
    int m_port = 0;
};

} // namespace md
