#include "app/ScriptCommand.h"

#include "app/PortSettings.h"
#include "link/Exchange.h"
#include "port/MSComm.h"
#include "trace/TraceFanOut.h"
#include "trace/TraceRows.h"
#include "log/CsvRecord.h"
#include "meter/MeterOps.h"
#include "meter/SetupOps.h"
#include "ui/Language.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <cstdio>

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

struct Outcome {
    int status = kScriptOk;
    QString error;   // a word: no_answer, refused, lost, ...
    QString message; // the window's text, or the port's
    std::vector<Value> values;
};

class Runner {
public:
    Runner(const Options& options, SerialControl& port, Clock& clock, TraceSink* trace,
           const ScriptStreams& io)
        : m_plan(options.script), m_csv(options.csv), m_port(port), m_clock(clock),
          m_rows([this](TraceRow&& row) { Heard(row); }), m_link(port, clock), m_io(io),
          m_address(static_cast<std::uint8_t>(m_plan.address)), m_rate(m_plan.rate) {
        m_fanOut.Add(m_rows);
        if (trace)
            m_fanOut.Add(*trace);
        m_link.SetTrace(m_fanOut);
        m_link.SetLocalEcho(options.localEcho);
        m_link.SetFastWaits(options.fast);
    }

    int Run() {
        if (const std::optional<QString> why = Open()) {
            Outcome failed{kScriptDevice, QStringLiteral("port_error"), *why, {}};
            Report(QStringLiteral("open"), failed, -1);
            return kScriptDevice;
        }
        int status = kScriptOk;
        for (const ScriptStep& step : m_plan.steps) {
            const int s = Carry(step);
            if (status == kScriptOk)
                status = s;
            if (status != kScriptOk && !m_plan.keepGoing)
                break;
        }
        m_port.SetPortOpen(false);
        return status;
    }

private:
    QString SettingsText() const {
        return QString::number(m_rate) + QLatin1Char(m_plan.parity) + QStringLiteral(",8,2");
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
        if (!m_csv.isEmpty())
            Csv({});
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
            word = QString::fromLatin1(StatusWord(*m_failure)).replace(QLatin1Char(' '), '_');
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
        const auto rate = meter::ReadBaudCode(m_link, m_address);
        std::vector<Value> values;
        const auto add = [&](const char* name, const auto& v, const char* unit = nullptr) {
            if (v)
                values.push_back(Number(QLatin1String(name), int{*v}, unit));
        };
        add("upper", upper);
        add("lower", lower);
        add("rate", rate, "bit/s");
        add("point", point);
        // Every read counts: a threshold left unread is no result for a script.
        if (!upper || !lower || !point || !rate)
            return Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "读参数数据不成功..."),
                          std::move(values));
        return Done(std::move(values));
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
        const auto rate = keep(changes.rate, meter::ReadBaudCode);
        const char* failed = QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "写数据不成功");
        if (!upper || !lower || !point || !rate)
            return Failed(failed);
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
                     Number(QStringLiteral("rate"), *rate, "bit/s"),
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
    // acknowledged.
    Outcome ChangeRate(int newRate) {
        if (!meter::RequestBaudChange(m_link, m_address, newRate))
            return Failed(QT_TRANSLATE_NOOP("md::ui::CMeterDebugDlg", "改变波特率不成功"));
        m_rate = newRate;
        m_port.SetSettings(SettingsText().toStdString());
        m_link.SetLine(m_rate, m_plan.parity != 'N');
        return Done({Number(QStringLiteral("rate"), newRate, "bit/s")});
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
        // The bytes as they come, with no range check, as the window shows them.
        const auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
        const QString text = QStringLiteral("%1-%2-%3T%4:%5:%6")
                                 .arg(clock->year + 2000, 4, 10, QLatin1Char('0'))
                                 .arg(two(clock->month), two(clock->day), two(clock->hour),
                                      two(clock->minute), two(clock->second));
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
                    m_clock.Sleep(m_plan.intervalMs - spent);
                started = m_clock.GetTickCount();
            }
            Begin();
            std::optional<int> point;
            std::optional<std::array<std::uint16_t, 3>> raw;
            Outcome outcome = Guarded([&] {
                const meter::CurrentsPoll poll = meter::PollCurrents(m_link, m_address);
                if (poll.decimalPoint)
                    point = *poll.decimalPoint;
                if (!poll.decimalPoint || !poll.raw)
                    return Failed(nullptr);
                raw = poll.raw;
                std::vector<Value> values;
                const auto texts = meter::CurrentTexts(*poll.raw, *point);
                const char* phases[] = {"phase_a", "phase_b", "phase_c"};
                for (std::size_t k = 0; k < texts.size(); ++k) {
                    const QString text = QString::fromStdString(texts[k]);
                    values.push_back({QLatin1String(phases[k]), text, text.toDouble(), "A"});
                }
                values.push_back(Number(QStringLiteral("point"), *point));
                return Done(std::move(values));
            });
            if (!m_csv.isEmpty())
                Csv(log::CsvRow(
                    Sample(raw, point.value_or(0),
                           raw ? "ok" : StatusWord(m_failure.value_or(TraceStatus::NoAnswer)))));
            Report(name, outcome, i + 1);
            if (status == kScriptOk)
                status = outcome.status;
            if (status != kScriptOk && !m_plan.keepGoing)
                break;
        }
        return status;
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
        const auto reason = log::AppendCsv(m_csv, rows);
        if (reason && !m_csvFailing)
            m_io.err(QStringLiteral("MeterDebug: cannot write the CSV file '%1': %2\n")
                         .arg(m_csv, *reason)
                         .toUtf8());
        m_csvFailing = reason.has_value();
    }

    void Report(const QString& operation, const Outcome& outcome, int poll) {
        const bool ok = outcome.status == kScriptOk;
        if (m_plan.json) {
            QJsonObject o{{QStringLiteral("operation"), operation}, {QStringLiteral("ok"), ok}};
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
            m_io.out(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
        } else {
            QString text = QStringLiteral("operation=%1\n").arg(operation);
            if (poll > 0)
                text += QStringLiteral("poll=%1\n").arg(poll);
            for (const Value& v : outcome.values)
                text += v.name + QLatin1Char('=') + v.text + QLatin1Char('\n');
            if (m_responseMs >= 0)
                text += QStringLiteral("response_ms=%1\n").arg(m_responseMs);
            text += QStringLiteral("ok=%1\n").arg(QLatin1String(ok ? "true" : "false"));
            if (!ok)
                text +=
                    QStringLiteral("error=%1\nmessage=%2\n").arg(outcome.error, outcome.message);
            m_io.out(text.toUtf8());
        }
        if (!ok)
            m_io.err(QStringLiteral("MeterDebug: %1: %2 (%3)\n")
                         .arg(operation, outcome.message, outcome.error)
                         .toUtf8());
    }

    const ScriptPlan& m_plan;
    const QString m_csv;
    SerialControl& m_port;
    Clock& m_clock;
    TraceRowMaker m_rows;
    TraceFanOut m_fanOut;
    CExchange m_link;
    const ScriptStreams& m_io;
    std::uint8_t m_address;
    int m_rate;
    int m_responseMs = -1;                // the slowest answer of the operation so far
    std::optional<TraceStatus> m_failure; // how its first failed exchange fared
    bool m_csvFailing = false;
};

void Write(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int RunScript(const Options& options, SerialControl& port, Clock& clock, TraceSink* trace,
              const ScriptStreams& io) {
    return Runner(options, port, clock, trace, io).Run();
}

int RunScriptCommand(const Options& options, TraceSink* trace) {
    // Only a language asked for on the command line: a script's output does not follow what
    // an operator last chose in the menu.
    if (options.language == QLatin1String("en"))
        ui::SetLanguage(ui::Language::English);
    const QSettings remembered(QStringLiteral("MeterDebug"), QStringLiteral("MeterDebug"));
    CMSComm comm;
    PutStartDevices(comm, options.devices, remembered);
    SteadyClock clock;
    const ScriptStreams io{[](const QByteArray& b) { Write(stdout, b); },
                           [](const QByteArray& b) { Write(stderr, b); }};
    return RunScript(options, comm, clock, trace, io);
}

} // namespace md
