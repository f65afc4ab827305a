#include "app/ScriptCommand.h"

#include "app/StopSignals.h"
#include "meter/Registers.h"
#include "link/Exchange.h"
#include "port/MSComm.h"
#include "trace/TraceFanOut.h"
#include "trace/TraceRows.h"
#include "log/CsvRecord.h"
#include "meter/MeterOps.h"
#include "meter/SetupOps.h"
#include "port/DeviceName.h"
#include "ui/Language.h"
#include "ui/MeterDebugDlg.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace md {

namespace {

// The texts the window shows when an operation fails, in its language.
QString WindowText(const char* source) {
    return QCoreApplication::translate("md::ui::CMeterDebugDlg", source);
}

// Polls and the switch state show no text of their own in the window when they fail.
QString ReadFailedText() {
    return QCoreApplication::translate("md::ScriptCommand", "读数据不成功");
}

// One value of an operation: as name=value shows it, as JSON carries it, and its unit.
struct Value {
    QString name;
    QString text;
    QJsonValue json;
    const char* unit = nullptr;
};

Value Number(const QString& name, int n, const char* unit = nullptr) {
    return {name, QString::number(n), n, unit};
}

Value Flag(const QString& name, const QString& text) {
    return {name, text, text};
}

// A text value on one line of name=value output: a line break or another control character in
// it (a device's own error text, say) would start a line of its own, so it is written as an
// escape, and the backslash too so that every escape reads back one way.
QString Escaped(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control)
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

struct Outcome {
    int status = kScriptOk;
    QString error;   // a word: no_answer, refused, lost, ...
    QString message; // the window's text, or the port's
    std::vector<Value> values;
};

class Runner {
public:
    Runner(const Options& options, SerialControl& port, Clock& clock, TraceSink* trace,
           const ScriptStreams& io, const ScriptChecks& checks)
        : m_plan(options.script), m_csv(options.csv), m_port(port), m_clock(clock),
          m_rows([this](TraceRow&& row) { Heard(row); }), m_link(port, clock), m_io(io),
          m_checks(checks), m_address(static_cast<std::uint8_t>(m_plan.address)),
          m_rate(m_plan.rate), m_bus(m_plan.addresses.size() > 1),
          m_csvPath(m_bus && !m_csv.isEmpty() ? log::BusCsvPath(m_csv) : m_csv) {
        m_fanOut.Add(m_rows);
        if (trace)
            m_fanOut.Add(*trace);
        m_link.SetTrace(m_fanOut);
        m_link.SetLocalEcho(options.localEcho);
        m_link.SetFastWaits(options.fast);
    }

    int Run() {
        // The CSV file is the run's record: one that cannot be written is found before the
        // meter is touched, as the trace file is.
        if (!m_csvPath.isEmpty()) {
            if (const auto reason = AppendCsv({})) {
                m_io.err(QStringLiteral("MeterDebug: cannot open the CSV file '%1': %2\n")
                             .arg(m_csvPath, *reason)
                             .toUtf8());
                return kScriptUsage;
            }
        }
        if (const std::optional<QString> why = ConverterRefusal()) {
            m_io.err(QStringLiteral("MeterDebug: --change-rate: %1\n").arg(*why).toUtf8());
            return kScriptUsage;
        }
        if (const std::optional<QString> why = Open()) {
            Outcome failed{kScriptDevice, QStringLiteral("port_error"), *why, {}};
            m_reportAddress = false;
            Report(QStringLiteral("open"), failed, -1);
            return kScriptDevice;
        }
        int status = kScriptOk;
        for (const ScriptStep& step : m_plan.steps) {
            if (m_outFailure)
                break;
            if (Stopped()) {
                // Not run on any of the meters: one report for the operation.
                Begin();
                m_reportAddress = false;
                Report(ScriptOpName(step.op), Interrupted(), -1);
                continue;
            }
            if (step.op == ScriptOp::ReadCurrents) {
                status = Worse(status, Polls(ScriptOpName(step.op)));
            } else {
                // The operation on every meter in turn; --set-address, the one step that moves
                // a meter, never comes with more than one.
                for (const int address : m_plan.addresses) {
                    if (m_outFailure || Ends(status))
                        break;
                    if (m_bus)
                        m_address = static_cast<std::uint8_t>(address);
                    // The meters after the one in flight are reported not run.
                    if (Stopped()) {
                        Begin();
                        Report(ScriptOpName(step.op), Interrupted(), -1);
                        break;
                    }
                    status = Worse(status, Carry(step));
                }
            }
            if (Ends(status))
                break;
        }
        // Closing gives a terminal device back the settings it had before the run.
        m_port.SetPortOpen(false);
        if (m_outFailure) {
            m_io.err(QStringLiteral("MeterDebug: cannot write the results to standard output: "
                                    "%1\n")
                         .arg(*m_outFailure)
                         .toUtf8());
            if (status == kScriptOk)
                status = kScriptOutput;
        }
        if (Stopped())
            return 128 + Stopped();
        return status;
    }

private:
    // The status of the run so far with another result: the first failure's for one meter;
    // over several, the worst, so that one meter's lost line is not hidden by another's
    // silence before it.
    int Worse(int status, int next) const {
        if (status == kScriptOk)
            return next;
        return m_bus ? std::max(status, next) : status;
    }

    bool Ends(int status) const { return status != kScriptOk && !m_plan.keepGoing; }

    std::optional<QString> AppendCsv(const QByteArray& rows) const {
        return m_bus ? log::AppendCsv(m_csvPath, rows, log::BusCsvHeader())
                     : log::AppendCsv(m_csvPath, rows);
    }

    QString SettingsText(int rate) const {
        return QString::number(rate) + QLatin1Char(m_plan.parity) + QStringLiteral(",8,2");
    }
    QString SettingsText() const { return SettingsText(m_rate); }

    // The signal that asked the run to stop; 0 while none did.
    int Stopped() const { return m_checks.stopSignal ? m_checks.stopSignal() : 0; }

    Outcome Interrupted() const {
        const int signal = Stopped();
        const QString name = signal == SIGINT    ? QStringLiteral("SIGINT")
                             : signal == SIGTERM ? QStringLiteral("SIGTERM")
                                                 : QStringLiteral("signal %1").arg(signal);
        return {kScriptMeterFailed,
                QStringLiteral("interrupted"),
                QStringLiteral("not run: the run was stopped by %1").arg(name),
                {}};
    }

    // The pause between polls, cut short when the run is asked to stop.
    void Pause(std::uint32_t ms) {
        if (!m_checks.stopSignal) {
            m_clock.Sleep(ms);
            return;
        }
        constexpr std::uint32_t kSliceMs = 100;
        while (ms > 0 && !Stopped()) {
            const std::uint32_t slice = std::min(ms, kSliceMs);
            m_clock.Sleep(slice);
            ms -= slice;
        }
    }

    // The port and the exchange at rate; a rate the port refuses leaves both as they were.
    void Follow(int rate) {
        m_port.SetSettings(SettingsText(rate).toStdString());
        m_rate = rate;
        m_link.SetLine(m_rate, m_plan.parity != 'N');
    }

    // A converter that sets the line itself stays at its rate while the meter moves, and the
    // meter is out of reach from then on: the window's reason, before anything is opened.
    std::optional<QString> ConverterRefusal() {
        const bool changesRate =
            std::any_of(m_plan.steps.begin(), m_plan.steps.end(),
                        [](const ScriptStep& step) { return step.op == ScriptOp::ChangeRate; });
        if (!changesRate)
            return std::nullopt;
        try {
            m_port.SetCommPort(static_cast<std::int16_t>(m_plan.port));
        } catch (const CommError&) {
            return std::nullopt; // opening says why
        }
        if (SetsLine(m_port.GetTransport()))
            return std::nullopt;
        return ui::CMeterDebugDlg::RateChangeRefusal();
    }

    // The window's start-up: the port, its settings and its input, then open.
    std::optional<QString> Open() {
        try {
            m_port.SetCommPort(static_cast<std::int16_t>(m_plan.port));
            m_port.SetSettings(SettingsText().toStdString());
            m_link.SetLine(m_rate, m_plan.parity != 'N');
            m_port.SetPortOpen(true);
            m_port.SetInputLen(0);
            m_port.SetInBufferCount(0);
        } catch (const CommError& e) {
            return QString::fromUtf8(e.what());
        }
        return std::nullopt;
    }

    void Heard(const TraceRow& row) {
        if (!IsFailure(row.status) && row.responseMs > m_responseMs)
            m_responseMs = row.responseMs;
        if (IsFailure(row.status) && row.status != TraceStatus::Dropped && !m_failure)
            m_failure = row.status;
    }

    // One step with its report; the exit status it comes to.
    int Carry(const ScriptStep& step) {
        const QString name = ScriptOpName(step.op);
        if (step.op == ScriptOp::ReadCurrents)
            return Polls(name);
        Begin();
        Outcome outcome = Guarded([&] { return Do(step); });
        Report(name, outcome, -1);
        return outcome.status;
    }

    void Begin() {
        m_responseMs = -1;
        m_failure.reset();
    }

    // A lost port gets one reopen first, as a command in the window does; a port refused or
    // lost on the way ends the operation as a failure of the device.
    template <typename F> Outcome Guarded(F body) {
        Outcome outcome;
        try {
            if (!m_port.LostReason().empty())
                m_port.Reopen();
            if (m_port.LostReason().empty())
                outcome = body();
        } catch (const CommError& e) {
            return {kScriptDevice, QStringLiteral("port_error"), QString::fromUtf8(e.what()), {}};
        }
        if (!m_port.LostReason().empty() || m_failure == TraceStatus::NotSent) {
            outcome.status = kScriptDevice;
            outcome.error = QStringLiteral("lost");
            outcome.message = QString::fromStdString(m_port.LostReason());
        }
        return outcome;
    }

    // A meter failure: the word for how its first failed exchange fared.
    Outcome Failed(const char* windowText, std::vector<Value> values = {}) {
        QString word = QStringLiteral("no_answer");
        if (m_failure == TraceStatus::Exception)
            word = QStringLiteral("refused");
        else if (m_failure)
            word = QString::fromLatin1(StatusWord(*m_failure))
                       .remove(QLatin1Char(':'))
                       .replace(QLatin1Char(' '), QLatin1Char('_'));
        return {kScriptMeterFailed, word, windowText ? WindowText(windowText) : ReadFailedText(),
                std::move(values)};
    }

    Outcome Done(std::vector<Value> values) { return {kScriptOk, {}, {}, std::move(values)}; }

    Outcome Do(const ScriptStep& step) {
        switch (step.op) {
        case ScriptOp::ReadParams:
            return ReadParams();
        case ScriptOp::WriteParams:
            return WriteParams(step.params);
        case ScriptOp::SetAddress:
            return SetAddress(step.value);
        case ScriptOp::ChangeRate:
            return ChangeRate(step.value);
        case ScriptOp::ReadIo:
            return ReadIo();
        case ScriptOp::ReadClock:
            return ReadClock();
        case ScriptOp::SetPt:
            return meter::WritePtRatio(m_link, m_address, step.value)
                       ? Done({Number(QStringLiteral("pt"), step.value)})
                       : Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "设置PT不成功"));
        case ScriptOp::SetCt:
            return meter::WriteCtRatio(m_link, m_address, step.value)
                       ? Done({Number(QStringLiteral("ct"), step.value)})
                       : Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "设置CT不成功"));
        case ScriptOp::SetWiring:
            if (!meter::WriteWiringMode(m_link, m_address, static_cast<std::uint8_t>(step.value)))
                return Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "设置接线方式不成功"));
            return Done({Number(QStringLiteral("wiring"), step.value),
                         {QStringLiteral("wiring_name"), WiringModeName(step.value),
                          WiringModeName(step.value)}});
        case ScriptOp::ReadCurrents:
            break;
        }
        return {};
    }

    Outcome ReadParams() {
        const auto upper = meter::ReadUpperLimit(m_link, m_address);
        const auto lower = meter::ReadLowerLimit(m_link, m_address);
        const auto point = meter::ReadDecimalPoint(m_link, m_address);
        const auto rate = meter::ReadRegister(m_link, m_address, reg::kParamBaudCode);
        std::vector<Value> values;
        const auto add = [&](const char* name, const auto& v, const char* unit = nullptr) {
            if (v)
                values.push_back(Number(QLatin1String(name), int{*v}, unit));
        };
        add("upper", upper);
        add("lower", lower);
        AddRate(values, rate);
        add("point", point);
        // Every read counts: a threshold left unread is no result for a script.
        if (!upper || !lower || !point || !rate)
            return Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读参数数据不成功..."),
                          std::move(values));
        return Done(std::move(values));
    }

    // The rate register as a rate when it holds a code the meter knows; otherwise the code as
    // it is, said to be one, so that a raw 1200 is never taken for 1200 bit/s.
    static void AddRate(std::vector<Value>& values, std::optional<std::uint16_t> code) {
        if (!code)
            return;
        const int rate = reg::BaudRateOf(*code);
        if (rate > 0) {
            values.push_back(Number(QStringLiteral("rate"), rate, "bit/s"));
        } else {
            values.push_back(Number(QStringLiteral("rate"), *code));
            values.push_back({QStringLiteral("rate_code_unknown"), QStringLiteral("true"), true});
        }
    }

    Outcome WriteParams(const ParamChanges& changes) {
        // What is not given keeps the meter's value: read first, and nothing is written
        // unless every read answered.
        const auto keep = [&](const std::optional<int>& given, auto read) -> std::optional<int> {
            if (given)
                return given;
            const auto v = read(m_link, m_address);
            return v ? std::optional<int>(*v) : std::nullopt;
        };
        const auto upper = keep(changes.upper, meter::ReadUpperLimit);
        const auto lower = keep(changes.lower, meter::ReadLowerLimit);
        const auto point = keep(changes.point, meter::ReadDecimalPoint);
        std::optional<std::uint16_t> code;
        if (!changes.rate)
            code = meter::ReadRegister(m_link, m_address, reg::kParamBaudCode);
        std::optional<int> rate = changes.rate;
        if (code)
            rate = meter::BaudCodeToField(*code);
        const char* failed = QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "写数据不成功");
        if (!upper || !lower || !point || !rate)
            return Failed(failed);
        // The block is written whole: a rate register that holds no code would come back as
        // another value (a raw 1200 as code 0), so the operator names the rate instead.
        if (code && reg::BaudRateOf(*code) < 0) {
            std::vector<Value> values;
            AddRate(values, code);
            return {kScriptMeterFailed, QStringLiteral("rate_code_unknown"),
                    QStringLiteral("the rate register holds %1, which is no rate code; nothing "
                                   "was written: name the rate (rate=9600) to write the block")
                        .arg(*code),
                    std::move(values)};
        }
        meter::ParamValues values;
        values.upperLimit = *upper;
        values.lowerLimit = *lower;
        values.decimalPoint = *point;
        values.baudRate = *rate;
        const meter::ParamWriteResult result =
            meter::WriteParams(m_link, m_address, [&] { return std::optional(values); });
        if (result.outcome != meter::WriteOutcome::Confirmed)
            return Failed(failed);
        return Done({Number(QStringLiteral("upper"), *upper),
                     Number(QStringLiteral("lower"), *lower),
                     Number(QStringLiteral("rate"), reg::BaudRateOf(meter::BaudFieldToCode(*rate)),
                            "bit/s"),
                     Number(QStringLiteral("point"), *point)});
    }

    // Later operations go to the new address: the meter answers nowhere else.
    Outcome SetAddress(int newAddress) {
        if (!meter::WriteOwnAddress(m_link, m_address, static_cast<std::uint8_t>(newAddress)))
            return Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "写本机地址不成功"));
        m_address = static_cast<std::uint8_t>(newAddress);
        return Done({Number(QStringLiteral("address"), newAddress)});
    }

    // The request and its echo at the current rate; the port follows once the meter has
    // acknowledged. An acknowledgement lost or late leaves it open whether the meter moved, and
    // a meter that moved alone is out of reach of this run and every later one: one read at
    // the new rate settles it, and the port stays where the meter answers.
    Outcome ChangeRate(int newRate) {
        const char* failed = QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "改变波特率不成功");
        if (meter::RequestBaudChange(m_link, m_address, newRate)) {
            Follow(newRate);
            return Done({Number(QStringLiteral("rate"), newRate, "bit/s")});
        }
        // A refusal is an answer: the meter stays where it is.
        if (m_failure == TraceStatus::Exception || !m_port.LostReason().empty())
            return Failed(failed);
        const int oldRate = m_rate;
        Follow(newRate);
        if (meter::ReadDecimalPoint(m_link, m_address))
            return Done({Number(QStringLiteral("rate"), newRate, "bit/s"),
                         Flag(QStringLiteral("acknowledgement"), QStringLiteral("lost"))});
        Follow(oldRate);
        Outcome outcome = Failed(failed, {Flag(QStringLiteral("rates_tried"),
                                               QStringLiteral("%1,%2").arg(oldRate).arg(newRate))});
        outcome.message +=
            QStringLiteral(" (no answer at %1 or %2 bit/s)").arg(oldRate).arg(newRate);
        return outcome;
    }

    Outcome ReadIo() {
        const auto state = meter::ReadSwitchState(m_link, m_address);
        if (!state)
            return Failed(nullptr);
        const QString relay = state->relayOn ? QStringLiteral("on") : QStringLiteral("off");
        const QString input =
            state->switchClosed ? QStringLiteral("closed") : QStringLiteral("open");
        return Done(
            {{QStringLiteral("relay"), relay, relay}, {QStringLiteral("switch"), input, input}});
    }

    Outcome ReadClock() {
        const auto clock = meter::ReadMeterClock(m_link, m_address);
        if (!clock)
            return Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读时间不成功"));
        // The bytes as they come, as the window shows them.
        const auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
        const QString text = QStringLiteral("%1-%2-%3T%4:%5:%6")
                                 .arg(clock->year + 2000, 4, 10, QLatin1Char('0'))
                                 .arg(two(clock->month), two(clock->day), two(clock->hour),
                                      two(clock->minute), two(clock->second));
        // A script's reader takes the clock for a time: one that is none is a wrong answer,
        // shown with its fields as they came.
        if (!QDate::isValid(clock->year + 2000, clock->month, clock->day) ||
            !QTime::isValid(clock->hour, clock->minute, clock->second))
            return {kScriptMeterFailed,
                    QStringLiteral("bad_value"),
                    QStringLiteral("the meter's clock reads %1, which is no time").arg(text),
                    {{QStringLiteral("clock"), text, text},
                     Number(QStringLiteral("year"), clock->year + 2000),
                     Number(QStringLiteral("month"), clock->month),
                     Number(QStringLiteral("day"), clock->day),
                     Number(QStringLiteral("hour"), clock->hour),
                     Number(QStringLiteral("minute"), clock->minute),
                     Number(QStringLiteral("second"), clock->second)}};
        return Done({{QStringLiteral("clock"), text, text}});
    }

    // The window's polls: each one reads the decimal point, then the currents, and scales them
    // by it. A poll without its decimal point has no currents to show.
    int Polls(const QString& name) {
        int status = kScriptOk;
        std::uint32_t started = m_clock.GetTickCount();
        for (int i = 0; i < m_plan.count; ++i) {
            if (i > 0) {
                const std::uint32_t spent = m_clock.GetTickCount() - started;
                if (spent < m_plan.intervalMs)
                    Pause(m_plan.intervalMs - spent);
                started = m_clock.GetTickCount();
            }
            // One cycle: every meter polled once, in the order given.
            for (const int address : m_plan.addresses) {
                if (m_outFailure)
                    return status;
                if (m_bus)
                    m_address = static_cast<std::uint8_t>(address);
                // A series stops after the poll in flight; the next one is reported not run.
                if (Stopped()) {
                    Begin();
                    Report(name, Interrupted(), i + 1);
                    return status;
                }
                status = Worse(status, Poll(name, i + 1));
                if (Ends(status))
                    return status;
            }
        }
        return status;
    }

    int Poll(const QString& name, int poll) {
        Begin();
        std::optional<int> point;
        std::optional<std::array<std::uint16_t, 3>> raw;
        Outcome outcome = Guarded([&] {
            const meter::CurrentsPoll currents = meter::PollCurrents(m_link, m_address);
            if (currents.decimalPoint)
                point = *currents.decimalPoint;
            if (!currents.decimalPoint || !currents.raw)
                return Failed(nullptr);
            raw = currents.raw;
            std::vector<Value> values;
            const auto texts = meter::CurrentTexts(*currents.raw, *point);
            const char* phases[] = {"phase_a", "phase_b", "phase_c"};
            for (std::size_t k = 0; k < texts.size(); ++k) {
                const QString text = QString::fromStdString(texts[k]);
                values.push_back({QLatin1String(phases[k]), text, text.toDouble(), "A"});
            }
            values.push_back(Number(QStringLiteral("point"), *point));
            return Done(std::move(values));
        });
        if (!m_csvPath.isEmpty()) {
            const log::CurrentSample sample =
                Sample(raw, point.value_or(0),
                       raw ? "ok" : StatusWord(m_failure.value_or(TraceStatus::NoAnswer)));
            Csv(m_bus ? log::BusCsvRow(m_address, sample) : log::CsvRow(sample));
        }
        Report(name, outcome, poll);
        return outcome.status;
    }

    // The poll as the window's CSV row has it.
    static log::CurrentSample Sample(const std::optional<std::array<std::uint16_t, 3>>& raw,
                                     int point, const char* outcome) {
        log::CurrentSample sample;
        const QDateTime now = QDateTime::currentDateTime();
        sample.time = now.toOffsetFromUtc(now.offsetFromUtc());
        sample.decimalPoint = point;
        sample.ok = raw.has_value();
        if (raw)
            for (std::size_t i = 0; i < raw->size(); ++i)
                sample.amps[i] = (*raw)[i] * meter::ScaleFor(point);
        sample.outcome = outcome;
        return sample;
    }

    void Csv(const QByteArray& rows) {
        const auto reason = AppendCsv(rows);
        if (reason && !m_csvFailing)
            m_io.err(QStringLiteral("MeterDebug: cannot write the CSV file '%1': %2\n")
                         .arg(m_csvPath, *reason)
                         .toUtf8());
        m_csvFailing = reason.has_value();
    }

    void Report(const QString& operation, const Outcome& outcome, int poll) {
        const bool ok = outcome.status == kScriptOk;
        if (m_plan.json) {
            QJsonObject o{{QStringLiteral("operation"), operation}, {QStringLiteral("ok"), ok}};
            if (m_bus && m_reportAddress)
                o.insert(QStringLiteral("address"), int{m_address});
            QJsonObject units;
            if (poll > 0)
                o.insert(QStringLiteral("poll"), poll);
            for (const Value& v : outcome.values) {
                o.insert(v.name, v.json);
                if (v.unit)
                    units.insert(v.name, QLatin1String(v.unit));
            }
            if (m_responseMs >= 0) {
                o.insert(QStringLiteral("response_ms"), m_responseMs);
                units.insert(QStringLiteral("response_ms"), QStringLiteral("ms"));
            }
            if (!units.isEmpty())
                o.insert(QStringLiteral("units"), units);
            if (!ok) {
                o.insert(QStringLiteral("error"), outcome.error);
                o.insert(QStringLiteral("message"), outcome.message);
            }
            Out(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
        } else {
            QString text = QStringLiteral("operation=%1\n").arg(operation);
            if (m_bus && m_reportAddress)
                text += QStringLiteral("address=%1\n").arg(int{m_address});
            if (poll > 0)
                text += QStringLiteral("poll=%1\n").arg(poll);
            for (const Value& v : outcome.values)
                text += v.name + QLatin1Char('=') + Escaped(v.text) + QLatin1Char('\n');
            if (m_responseMs >= 0)
                text += QStringLiteral("response_ms=%1\n").arg(m_responseMs);
            text += QStringLiteral("ok=%1\n").arg(QLatin1String(ok ? "true" : "false"));
            if (!ok)
                text += QStringLiteral("error=%1\nmessage=%2\n")
                            .arg(outcome.error, Escaped(outcome.message));
            Out(text.toUtf8());
        }
        if (!ok)
            m_io.err(QStringLiteral("MeterDebug: %1%2: %3 (%4)\n")
                         .arg(operation,
                              m_bus && m_reportAddress
                                  ? QStringLiteral(" at address %1").arg(int{m_address})
                                  : QString(),
                              Escaped(outcome.message), outcome.error)
                         .toUtf8());
    }

    // Results that cannot be written are no results: the first failure stops the run, which
    // sends nothing more to the meter, and is reported at the end.
    void Out(const QByteArray& bytes) {
        if (m_outFailure)
            return;
        m_io.out(bytes);
        if (m_checks.outFailure)
            m_outFailure = m_checks.outFailure();
    }

    const ScriptPlan& m_plan;
    const QString m_csv;
    SerialControl& m_port;
    Clock& m_clock;
    TraceRowMaker m_rows;
    TraceFanOut m_fanOut;
    CExchange m_link;
    const ScriptStreams& m_io;
    const ScriptChecks& m_checks;
    std::uint8_t m_address;
    int m_rate;
    const bool m_bus;                     // several meters: each result names its own
    const QString m_csvPath;              // a bus run's rows go to a file of their own
    bool m_reportAddress = true;          // false for the results of the line, not of a meter
    int m_responseMs = -1;                // the slowest answer of the operation so far
    std::optional<TraceStatus> m_failure; // how its first failed exchange fared
    bool m_csvFailing = false;
    std::optional<QString> m_outFailure; // why standard output took no more
};

void Write(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

// Every byte reaches the stream's file, or the system's reason why not is kept in failure.
void Put(std::FILE* stream, const QByteArray& bytes, std::optional<QString>& failure) {
    errno = 0;
    const std::size_t size = static_cast<std::size_t>(bytes.size());
    if (std::fwrite(bytes.constData(), 1, size, stream) == size && std::fflush(stream) == 0)
        return;
    const int error = errno;
    std::clearerr(stream);
    if (!failure)
        failure = error != 0 ? QString::fromLocal8Bit(std::strerror(error))
                             : QStringLiteral("the write failed");
}

} // namespace

int RunScript(const Options& options, SerialControl& port, Clock& clock, TraceSink* trace,
              const ScriptStreams& io, const ScriptChecks& checks) {
    return Runner(options, port, clock, trace, io, checks).Run();
}

int RunScriptCommand(const Options& options, TraceSink* trace) {
    // Only a language asked for on the command line: a script's output does not follow what
    // an operator last chose in the menu.
    if (options.language == QLatin1String("en"))
        ui::SetLanguage(ui::Language::English);
    // Only the devices named: the command line has made sure the plan's port has one.
    CMSComm comm;
    for (std::size_t i = 0; i < options.devices.size(); ++i)
        if (!options.devices[i].isEmpty())
            comm.SetDevice(static_cast<int>(i) + 1, options.devices[i]);
    SteadyClock clock;
#ifdef SIGPIPE
    // A reader that went away (| head -1) fails the write, which ends the run as any other
    // output failure does, instead of killing it between two writes to the meter.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const StopSignals stopSignals;
    std::optional<QString> outFailure;
    const ScriptStreams io{[&](const QByteArray& b) { Put(stdout, b, outFailure); },
                           [](const QByteArray& b) { Write(stderr, b); }};
    const ScriptChecks checks{[&] { return outFailure; }, [] { return StopSignals::Caught(); }};
    return RunScript(options, comm, clock, trace, io, checks);
}

} // namespace md
