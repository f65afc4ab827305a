// Meter operations from a script, against the in-process meter on the virtual clock: what each
// one reports (name=value lines, or JSON read back by parsing), what went out to the meter, and
// the exit status when the meter or the device fails.

#include "app/ScriptCommand.h"
#include "fakes/FakeMeter.h"
#include "meter/Registers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace md;

namespace {

// A port whose device goes away as its lostAt-th frame is sent, that refuses settings that
// start with refused, and that the operator interrupts (SIGINT) as its stopAt-th frame is sent.
class LosingPort final : public FakePort {
public:
    using FakePort::FakePort;
    int lostAt = 0;
    int stopAt = 0;
    std::string refused;
    int stopSignal = 0;
    void SetOutput(std::span<const std::uint8_t> bytes) override {
        if (++m_sent == lostAt)
            Lose("串口 COM1 已断开");
        if (m_sent == stopAt)
            stopSignal = SIGINT;
        FakePort::SetOutput(bytes);
    }
    void SetSettings(const std::string& settings) override {
        if (!refused.empty() && settings.starts_with(refused))
            throw CommError("设备不支持该波特率");
        FakePort::SetSettings(settings);
    }

private:
    int m_sent = 0;
};

// The script's own device: the port is faked, but a script names one.
const QStringList kScript{"MeterDebug", "--com1", "/dev/ttyUSB0"};

// Output as "name=value" lines; a JSON object becomes its operation's line, then its members
// (units as units.NAME), so both forms are checked by the same rows.
QStringList Lines(const QByteArray& out, bool json) {
    QStringList lines;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        if (!json) {
            lines << QString::fromUtf8(line);
            continue;
        }
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
        if (error.error != QJsonParseError::NoError)
            return {QStringLiteral("not JSON: ") + QString::fromUtf8(line)};
        lines << QStringLiteral("operation=") + o.value(QStringLiteral("operation")).toString();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (it.key() == QLatin1String("units")) {
                const QJsonObject units = it.value().toObject();
                for (auto u = units.begin(); u != units.end(); ++u)
                    lines << QStringLiteral("units.%1=%2").arg(u.key(), u.value().toString());
            } else if (it.key() != QLatin1String("operation")) {
                lines << it.key() + '=' + it.value().toVariant().toString();
            }
        }
    }
    return lines;
}

// Every write the meter acknowledged: "06@0302=900", "10@0000=100,0".
QString WritesOf(const FakeMeter& meter) {
    QStringList writes;
    for (const FakeMeter::Write& w : meter.Writes()) {
        QStringList values;
        for (const std::uint16_t v : w.values)
            values << QString::number(v);
        writes << QStringLiteral("%1@%2=%3")
                      .arg(w.function, 2, 16, QLatin1Char('0'))
                      .arg(w.reg, 4, 16, QLatin1Char('0'))
                      .arg(values.join(','));
    }
    return writes.join(' ');
}

} // namespace

class TestScript : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void OperationsReportAndExit_data();
    void OperationsReportAndExit();
    void PollsKeepTheirInterval_data();
    void PollsKeepTheirInterval();
    void BusCsvHasARowPerMeterPerPoll();
};

void TestScript::OperationsReportAndExit_data() {
    QTest::addColumn<QStringList>("args");
    // "" | silent | mute:REG | erase:REG | set:REG=VALUE | lose:N (at the N-th frame) | failopen
    // | failopen:TEXT ("|" a line break) | refuse:SETTINGS (the port refuses them) | outfail:N
    // (the N-th write to standard output fails) | stop:N (SIGINT at the N-th frame) | net (the
    // port is a Modbus TCP connection) | meters:3,5 (more meters on the line, beside the one at
    // 1); a meter's fault followed by @ADDR strikes the meter at ADDR
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("exitCode");
    // Lines that appear in this order, others between; "err:" lines on standard error; "!"
    // lines that appear nowhere.
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("writes");       // what the meter at 1 acknowledged
    QTest::addColumn<int>("frames");           // requests sent

    const QStringList read{"operation=read-params", "upper=500", "lower=100", "rate=9600",
                           "point=2"};
    QTest::newRow("read the parameters")
        << QStringList{"--read-params"} << "" << 0 << read + QStringList{"ok=true"} << "" << 4;
    QTest::newRow("one parameter unread fails them")
        << QStringList{"--read-params"} << "mute:0x0304" << 1
        << QStringList{"upper=500", "rate=9600", "ok=false", "error=no_answer",
                       "message=读参数数据不成功..."}
        << "" << 4;
    QTest::newRow("write one parameter: the rest as the meter has them")
        << QStringList{"--write-params", "upper=900"} << "" << 0
        << QStringList{"operation=write-params",
                       "upper=900",
                       "lower=100",
                       "rate=9600",
                       "point=2",
                       "ok=true"}
        << "06@0006=2 06@0302=900 06@0304=100 06@0308=3" << 7;
    QTest::newRow("write all four: nothing read, the rate as its code")
        << QStringList{"--write-params", "rate=19200,point=1,upper=7,lower=0"} << "" << 0
        << QStringList{"upper=7", "lower=0", "rate=19200", "point=1"}
        << "06@0006=1 06@0302=7 06@0304=0 06@0308=4" << 4;
    QTest::newRow("a value the meter would not give up: nothing written")
        << QStringList{"--write-params", "upper=900"} << "mute:0x0304" << 1
        << QStringList{"ok=false", "error=no_answer", "message=写数据不成功"} << "" << 3;
    QTest::newRow("writes without their echoes")
        << QStringList{"--write-params", "upper=900,lower=1,rate=9600,point=2"} << "mute:0x0302"
        << 1 << QStringList{"ok=false", "error=no_answer", "message=写数据不成功"}
        << "06@0006=2 06@0302=900 06@0304=1 06@0308=3" << 4;
    QTest::newRow("a new address, and the next operation goes there")
        << QStringList{"--set-address", "7", "--read-io"} << "" << 0
        << QStringList{"operation=set-address",
                       "address=7",
                       "ok=true",
                       "operation=read-io",
                       "relay=on",
                       "switch=open",
                       "ok=true"}
        << "06@0300=7" << 2;
    QTest::newRow("the address unconfirmed ends the run")
        << QStringList{"--set-address", "7", "--read-io"} << "silent" << 1
        << QStringList{"operation=set-address", "ok=false", "error=no_answer",
                       "message=写本机地址不成功"}
        << "06@0300=7" << 1;
    QTest::newRow("a new rate, and the port follows")
        << QStringList{"--change-rate", "19200", "--read-io"} << "" << 0
        << QStringList{"operation=change-rate", "rate=19200", "ok=true", "operation=read-io",
                       "ok=true"}
        << "06@0008=4" << 2;
    QTest::newRow("currents scaled by the decimal point")
        << QStringList{"--read-currents"} << "" << 0
        << QStringList{"operation=read-currents", "poll=1",  "phase_a=12.3400", "phase_b=23.4500",
                       "phase_c=34.5600",         "point=2", "ok=true"}
        << "" << 2;
    QTest::newRow("three decimals")
        << QStringList{"--read-currents", "--json"} << "set:0x0006=3" << 0
        << QStringList{"operation=read-currents", "phase_a=1.234", "phase_b=2.345",
                       "phase_c=3.456",           "point=3",       "poll=1",
                       "units.phase_a=A"}
        << "" << 2;
    QTest::newRow("a poll without its decimal point fails")
        << QStringList{"--read-currents"} << "mute:0x0006" << 1
        << QStringList{"ok=false", "error=no_answer", "message=读数据不成功"} << "" << 2;
    QTest::newRow("a failed poll ends the series")
        << QStringList{"--read-currents", "--count", "3", "--interval", "0"} << "mute:0x0000" << 1
        << QStringList{"poll=1", "ok=false"} << "" << 2;
    QTest::newRow("keep going: every poll, status of the first failure")
        << QStringList{"--read-currents", "--count", "3", "--interval", "0", "--keep-going"}
        << "mute:0x0000" << 1 << QStringList{"poll=1", "ok=false", "poll=3", "ok=false"} << "" << 6;
    QTest::newRow("relay and switch") << QStringList{"--read-io"} << "set:0x0016=0x0001" << 0
                                      << QStringList{"relay=off", "switch=closed"} << "" << 1;
    QTest::newRow("the clock, bytes as they come")
        << QStringList{"--read-clock", "--json"} << "" << 0
        << QStringList{"operation=read-clock", "clock=2006-11-05T14:48:21", "ok=true"} << "" << 1;
    QTest::newRow("a refusal") << QStringList{"--read-clock", "--json"} << "erase:0x0110" << 1
                               << QStringList{"error=refused", "message=读时间不成功", "ok=false"}
                               << "" << 1;
    QTest::newRow("meter setup") << QStringList{"--set-pt", "100",          "--set-ct",
                                                "5",        "--set-wiring", "3p4w-balanced"}
                                 << "" << 0
                                 << QStringList{"pt=100",  "ok=true",  "ct=5",
                                                "ok=true", "wiring=5", "wiring_name=3p4w-balanced",
                                                "ok=true"}
                                 << "10@0000=100,0 10@0004=5,0 06@0002=5" << 3;
    QTest::newRow("setup refused") << QStringList{"--set-ct", "5"} << "silent" << 1
                                   << QStringList{"message=设置CT不成功"} << "10@0004=5,0" << 1;
    QTest::newRow("stop at the first failure")
        << QStringList{"--read-clock", "--read-io"} << "mute:0x0110" << 1
        << QStringList{"operation=read-clock", "ok=false"} << "" << 1;
    QTest::newRow("keep going after it")
        << QStringList{"--read-clock", "--read-io", "--keep-going", "--json"} << "mute:0x0110" << 1
        << QStringList{"operation=read-clock", "error=no_answer", "ok=false",
                       "operation=read-io",    "ok=true",         "relay=on"}
        << "" << 2;
    QTest::newRow("a device that cannot be opened")
        << QStringList{"--read-io", "--json"} << "failopen" << 3
        << QStringList{"operation=open", "error=port_error", "message=无法打开", "ok=false"} << ""
        << 0;
    QTest::newRow("a device lost on the way")
        << QStringList{"--read-io", "--read-clock", "--read-params"} << "lose:2" << 3
        << QStringList{"operation=read-io", "ok=true",    "operation=read-clock",
                       "ok=false",          "error=lost", "message=串口 COM1 已断开"}
        << "" << 1;
    QTest::newRow("lost after a meter failure: the first failure's status")
        << QStringList{"--read-io", "--read-clock", "--keep-going"} << "mute:0x0016 lose:2" << 1
        << QStringList{"operation=read-io", "ok=false", "operation=read-clock", "error=lost"} << ""
        << 1;
    // The fake meter answers 20 ms after the request is handed over; the request itself is on
    // the wire for 9 ms of them at 9600 bit/s.
    // A lost acknowledgement leaves the meter moved and the port not: one read at the new rate.
    QTest::newRow("rate change unacknowledged, the meter answers at the new rate")
        << QStringList{"--change-rate", "19200", "--read-io"} << "mute:0x0008" << 0
        << QStringList{"operation=change-rate", "rate=19200", "acknowledgement=lost", "ok=true",
                       "operation=read-io",     "ok=true"}
        << "06@0008=4" << 3;
    QTest::newRow("rate change unanswered at either rate")
        << QStringList{"--change-rate", "19200"} << "silent" << 1
        << QStringList{"rates_tried=9600,19200", "ok=false", "error=no_answer",
                       "message=改变波特率不成功 (no answer at 9600 or 19200 bit/s)"}
        << "06@0008=4" << 2;
    QTest::newRow("rate change behind a Modbus TCP gateway: nothing sent")
        << QStringList{"--change-rate", "19200"} << "net" << 2
        << QStringList{"err:MeterDebug: --change-rate: 改变波特率未发送"} << "" << 0;
    QTest::newRow("rate change the port refuses")
        << QStringList{"--change-rate", "19200", "--read-io"} << "refuse:19200" << 3
        << QStringList{"operation=change-rate", "ok=false", "error=port_error"} << "06@0008=4" << 1;
    QTest::newRow("rate register with no code: shown as the code")
        << QStringList{"--read-params"} << "set:0x0308=1200" << 0
        << QStringList{"rate=1200", "rate_code_unknown=true", "ok=true"} << "" << 4;
    QTest::newRow("rate register with no code: not rewritten")
        << QStringList{"--write-params", "upper=900"} << "set:0x0308=1200" << 1
        << QStringList{"rate=1200", "rate_code_unknown=true", "ok=false", "error=rate_code_unknown"}
        << "" << 3;
    QTest::newRow("a clock that is no time")
        << QStringList{"--read-clock", "--json"}
        << "set:0x0110=0x3d63 set:0x0111=0x2d19 set:0x0112=0x060d" << 1
        << QStringList{"clock=2006-13-45T25:61:99",
                       "day=45",
                       "error=bad_value",
                       "hour=25",
                       "ok=false",
                       "second=99"}
        << "" << 1;
    QTest::newRow("a line break in a text value")
        << QStringList{"--read-io"} << "failopen:无法打开|/dev/ttyUSB0" << 3
        << QStringList{"ok=false", "error=port_error", "message=无法打开\\n/dev/ttyUSB0"} << ""
        << 0;
    QTest::newRow("CSV file that cannot be written: nothing sent")
        << QStringList{"--read-currents", "--csv", "/nonexistent/polls.csv"} << "" << 2
        << QStringList{"err:MeterDebug: cannot open the CSV file '/nonexistent/polls.csv': "} << ""
        << 0;
    QTest::newRow("results that cannot be written: nothing more sent")
        << QStringList{"--set-pt", "100", "--set-ct", "5"} << "outfail:1" << 4
        << QStringList{"err:MeterDebug: cannot write the results to standard output: No space"}
        << "10@0000=100,0" << 1;
    QTest::newRow("interrupted: the block in flight is written whole, the rest is not run")
        << QStringList{"--write-params", "upper=900,lower=1,rate=9600,point=2", "--read-clock"}
        << "stop:2" << 128 + SIGINT
        << QStringList{"operation=write-params", "ok=true", "operation=read-clock", "ok=false",
                       "error=interrupted"}
        << "06@0006=2 06@0302=900 06@0304=1 06@0308=3" << 4;
    QTest::newRow("interrupted: a series stops after the poll in flight")
        << QStringList{"--read-currents", "--count", "5", "--interval", "0"} << "stop:1"
        << 128 + SIGINT
        << QStringList{"poll=1", "ok=true", "poll=2", "ok=false", "error=interrupted"} << "" << 2;
    // Several meters: each operation on every one in turn, each result naming its meter.
    QTest::newRow("three meters, one refusing: the run stops there")
        << QStringList{"--read-clock", "--read-io", "--address", "1,3,5"}
        << "meters:3,5 erase:0x0110@3" << 1
        << QStringList{"operation=read-clock",
                       "address=1",
                       "ok=true",
                       "operation=read-clock",
                       "address=3",
                       "ok=false",
                       "error=refused",
                       "err:MeterDebug: read-clock at address 3: 读时间不成功",
                       "!address=5"}
        << "" << 2;
    QTest::newRow("three meters, one refusing, keep going: the others answer")
        << QStringList{"--read-clock", "--read-io", "--address", "1,3,5", "--keep-going", "--json"}
        << "meters:3,5 erase:0x0110@3" << 1
        << QStringList{"operation=read-clock",
                       "address=1",
                       "ok=true",
                       "operation=read-clock",
                       "address=3",
                       "error=refused",
                       "operation=read-clock",
                       "address=5",
                       "ok=true",
                       "operation=read-io",
                       "address=1",
                       "operation=read-io",
                       "address=3",
                       "ok=true",
                       "operation=read-io",
                       "address=5"}
        << "" << 6;
    QTest::newRow("polls: one cycle over the meters per count")
        << QStringList{"--read-currents", "--count", "2",           "--interval", "0",
                       "--address",       "5,1",     "--keep-going"}
        << "meters:5 silent@5" << 1
        << QStringList{"address=5", "poll=1", "ok=false", "address=1", "poll=1", "ok=true",
                       "address=5", "poll=2", "ok=false", "address=1", "poll=2", "ok=true"}
        << "" << 8;
    QTest::newRow("several meters: the worst status, not the first")
        << QStringList{"--read-clock", "--address", "1,3", "--keep-going"}
        << "meters:3 erase:0x0110 lose:2" << 3
        << QStringList{"address=1", "error=refused", "address=3", "error=lost"} << "" << 1;
    QTest::newRow("interrupted among meters: the rest of them not run")
        << QStringList{"--read-clock", "--read-io", "--address", "1,3"} << "meters:3 stop:1"
        << 128 + SIGINT
        << QStringList{"address=1",        "ok=true",           "operation=read-clock",
                       "address=3",        "error=interrupted", "operation=read-io",
                       "error=interrupted"}
        << "" << 1;
    QTest::newRow("response time of the answer")
        << QStringList{"--read-io", "--fast", "--json"} << "" << 0
        << QStringList{"response_ms=10", "units.response_ms=ms"} << "" << 1;
}

void TestScript::OperationsReportAndExit() {
    QFETCH(QStringList, args);
    QFETCH(QString, fault);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    QFETCH(QString, writes);
    QFETCH(int, frames);

    VirtualClock clock;
    LosingPort port(clock);
    FakeMeter meter(port);
    // The other meters of the line, taken off it in the reverse order of their making.
    struct Others {
        std::vector<std::unique_ptr<FakeMeter>> meters;
        ~Others() {
            while (!meters.empty())
                meters.pop_back();
        }
    } others;
    if (fault.contains("meters:"))
        for (const QString& a : fault.section("meters:", 1).section(' ', 0, 0).split(','))
            others.meters.push_back(
                std::make_unique<FakeMeter>(port, static_cast<std::uint8_t>(a.toUInt())));
    for (QString f : fault.split(' ', Qt::SkipEmptyParts)) {
        FakeMeter* target = &meter;
        if (f.contains('@') && !f.startsWith("meters:")) {
            const int address = f.section('@', 1).toInt();
            for (const auto& m : others.meters)
                if (m->Address() == address)
                    target = m.get();
            f = f.section('@', 0, 0);
        }
        FakeMeter& meter = *target;
        const QString kind = f.section(':', 0, 0);
        const QString what = f.section(':', 1);
        const auto reg = static_cast<std::uint16_t>(what.section('=', 0, 0).toUInt(nullptr, 0));
        if (kind == QLatin1String("silent"))
            meter.SetSilent(true);
        else if (kind == QLatin1String("mute"))
            meter.SetNoAnswerAt(reg);
        else if (kind == QLatin1String("erase"))
            meter.EraseRegister(reg);
        else if (kind == QLatin1String("set"))
            meter.SetRegister(reg,
                              static_cast<std::uint16_t>(what.section('=', 1).toUInt(nullptr, 0)));
        else if (kind == QLatin1String("lose"))
            port.lostAt = what.toInt();
        else if (kind == QLatin1String("failopen") && what.isEmpty())
            port.FailOpen("无法打开串口 COM1（/dev/ttyS0）：设备不存在");
        else if (kind == QLatin1String("failopen"))
            port.FailOpen(QString(what).replace('|', '\n').toStdString());
        else if (kind == QLatin1String("refuse"))
            port.refused = what.toStdString();
        else if (kind == QLatin1String("stop"))
            port.stopAt = what.toInt();
        else if (kind == QLatin1String("net"))
            port.transport = Transport::ModbusTcp;
    }
    int outWrites = 0;
    const int outFailsAt = fault.contains("outfail:") ? fault.section("outfail:", 1).toInt() : 0;

    const CommandLine cl = ParseCommandLine(kScript + args, {});
    QVERIFY2(!cl.exitCode, qPrintable(cl.err));
    QByteArray out, err;
    std::optional<QString> outFailure;
    const ScriptStreams io{[&](const QByteArray& b) {
                               if (++outWrites == outFailsAt)
                                   outFailure = QStringLiteral("No space left on device");
                               if (!outFailure)
                                   out += b;
                           },
                           [&](const QByteArray& b) { err += b; }};
    const ScriptChecks checks{[&] { return outFailure; }, [&] { return port.stopSignal; }};
    QCOMPARE(RunScript(cl.options, port, clock, nullptr, io, checks), exitCode);

    const QStringList lines = Lines(out, cl.options.script.json);
    const QStringList errLines = QString::fromUtf8(err).split('\n', Qt::SkipEmptyParts);
    qsizetype at = 0;
    qsizetype errAt = 0;
    for (const QString& want : expected) {
        if (want.startsWith('!')) {
            QVERIFY2(!lines.contains(want.mid(1)),
                     qPrintable(want.mid(1) + " in:\n" + lines.join('\n')));
            continue;
        }
        if (want.startsWith(QLatin1String("err:"))) {
            while (errAt < errLines.size() && !errLines[errAt].startsWith(want.mid(4)))
                ++errAt;
            QVERIFY2(errAt < errLines.size(), qPrintable(want + " missing from:\n" + err));
            ++errAt;
            continue;
        }
        while (at < lines.size() && !lines[at].startsWith(want))
            ++at;
        QVERIFY2(at < lines.size(),
                 qPrintable(want + " missing in order from:\n" + lines.join('\n')));
        ++at;
    }
    QCOMPARE(WritesOf(meter), writes);
    QCOMPARE(int(port.Outputs().size()), frames);
    // Every failure also names itself on the error stream, one line each, beside the lines of
    // the run as a whole that the row expects.
    QCOMPARE(err.count('\n'),
             lines.count(QStringLiteral("ok=false")) +
                 expected.filter(QRegularExpression("^err:MeterDebug: cannot")).size() +
                 expected.filter(QRegularExpression("^err:MeterDebug: --")).size());
    QVERIFY(!port.GetPortOpen());
}

void TestScript::PollsKeepTheirInterval_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("starts"); // ms at which each poll's first request went out

    // A poll with the fixed waits takes 600 + 300 + 600 ms.
    QTest::newRow("the window's period") << QStringList{"--count", "3"} << "0 2000 4000";
    QTest::newRow("no pause") << QStringList{"--count", "3", "--interval", "0"} << "0 1500 3000";
    QTest::newRow("a period shorter than a poll")
        << QStringList{"--count", "2", "--interval", "1000"} << "0 1500";
}

void TestScript::PollsKeepTheirInterval() {
    QFETCH(QStringList, args);
    QFETCH(QString, starts);

    VirtualClock clock;
    FakePort port(clock);
    FakeMeter meter(port);
    const CommandLine cl = ParseCommandLine(kScript + QStringList{"--read-currents"} + args, {});
    const ScriptStreams io{[](const QByteArray&) {}, [](const QByteArray&) {}};
    QCOMPARE(RunScript(cl.options, port, clock, nullptr, io), 0);
    QStringList got;
    for (const FakePort::Sent& s : port.Outputs())
        if (s.bytes[3] == reg::kDecimalPoint)
            got << QString::number(s.at);
    QCOMPARE(got.join(' '), starts);
}

// Several meters' polls go to a file of their own, the address in the second column; the file
// named keeps the one meter's columns and gets none of these rows.
void TestScript::BusCsvHasARowPerMeterPerPoll() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VirtualClock clock;
    FakePort port(clock);
    FakeMeter one(port);
    FakeMeter three(port, 3);
    three.SetSilent(true);
    const CommandLine cl = ParseCommandLine(
        kScript + QStringList{"--read-currents", "--count", "2", "--interval", "0", "--address",
                              "3,1", "--keep-going", "--csv", dir.filePath("polls.csv")},
        {});
    const ScriptStreams io{[](const QByteArray&) {}, [](const QByteArray&) {}};
    QCOMPARE(RunScript(cl.options, port, clock, nullptr, io), 1);
    QVERIFY(!QFile::exists(dir.filePath("polls.csv")));
    QFile bus(dir.filePath("polls-bus.csv"));
    QVERIFY(bus.open(QIODevice::ReadOnly));
    QStringList rows = QString::fromUtf8(bus.readAll()).split("\r\n", Qt::SkipEmptyParts);
    for (QString& row : rows)
        row = row.section(',', 1); // the time
    QCOMPARE(rows, (QStringList{"address,phase_a,phase_b,phase_c,decimal_point,outcome",
                                "3,,,,0,no answer", "1,12.34,23.45,34.56,2,ok", "3,,,,0,no answer",
                                "1,12.34,23.45,34.56,2,ok"}));
}

QTEST_GUILESS_MAIN(TestScript)
#include "tst_script.moc"
