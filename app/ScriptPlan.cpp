#include "app/ScriptPlan.h"

#include "meter/AddressList.h"
#include "meter/MeterOps.h"
#include "meter/Registers.h"
#include "meter/SetupOps.h"

#include <QCommandLineParser>

#include <array>

namespace md {

namespace {

struct OpOption {
    ScriptOp op;
    const char* name;
    const char* valueName; // nullptr: a switch
};

constexpr std::array kOps{
    OpOption{ScriptOp::ReadParams, "read-params", nullptr},
    OpOption{ScriptOp::WriteParams, "write-params", "NAME=VALUE,..."},
    OpOption{ScriptOp::SetAddress, "set-address", "N"},
    OpOption{ScriptOp::ChangeRate, "change-rate", "RATE"},
    OpOption{ScriptOp::ReadCurrents, "read-currents", nullptr},
    OpOption{ScriptOp::ReadIo, "read-io", nullptr},
    OpOption{ScriptOp::ReadClock, "read-clock", nullptr},
    OpOption{ScriptOp::SetPt, "set-pt", "N"},
    OpOption{ScriptOp::SetCt, "set-ct", "N"},
    OpOption{ScriptOp::SetWiring, "set-wiring", "MODE"},
};

// The options that say where the meter is and how to report: they need an operation.
constexpr const char* kLineOptions[] = {"rate", "parity", "address", "json", "keep-going"};

// The wiring modes in the order of their codes, as the setup dialog lists them.
constexpr const char* kWiringNames[meter::kWiringModeCount] = {
    "3p4w-unbalanced", "1p2w", "3p3w-unbalanced", "3p3w-balanced", "1p3w", "3p4w-balanced",
};

std::optional<long long> Whole(const QString& text) {
    bool ok = false;
    const long long n = text.trimmed().toLongLong(&ok, 10);
    return ok ? std::optional(n) : std::nullopt;
}

// A whole number from min to max, or the reason it is not one.
std::variant<int, QString> InRange(const QString& text, long long min, long long max,
                                   const QString& what) {
    const std::optional<long long> n = Whole(text);
    if (!n || *n < min || *n > max)
        return QStringLiteral("%1 is %2 to %3, not '%4'").arg(what).arg(min).arg(max).arg(text);
    return static_cast<int>(*n);
}

std::variant<int, QString> Rate(const QString& text) {
    const std::optional<long long> n = Whole(text);
    if (!n || *n < 0 || *n > 19200 || reg::BaudCodeOf(static_cast<int>(*n)) < 0)
        return QStringLiteral("'%1' is not one of 1200, 2400, 4800, 9600, 19200").arg(text);
    return static_cast<int>(*n);
}

std::variant<int, QString> WiringMode(const QString& text) {
    for (int code = 0; code < meter::kWiringModeCount; ++code)
        if (text.trimmed().compare(QLatin1String(kWiringNames[code]), Qt::CaseInsensitive) == 0)
            return code;
    const std::optional<long long> n = Whole(text);
    if (n && *n >= 0 && *n < meter::kWiringModeCount)
        return static_cast<int>(*n);
    QStringList names;
    for (const char* name : kWiringNames)
        names << QLatin1String(name);
    return QStringLiteral("'%1' is not 0 to 5 or one of %2")
        .arg(text, names.join(QStringLiteral(", ")));
}

// The decimal points the meter scales its currents by: 0 to 3 places.
constexpr int kPointMax = 3;

// The rate of the parameter block: one of the five rates, or the code 0 to 4 it goes out as
// (the form the window's field shows for a code).
std::variant<int, QString> ParamRate(const QString& text) {
    const std::optional<long long> n = Whole(text);
    if (n && *n >= 0 && *n <= 19200 &&
        (reg::BaudRateOf(static_cast<int>(*n)) > 0 || reg::BaudCodeOf(static_cast<int>(*n)) >= 0))
        return static_cast<int>(*n);
    return QStringLiteral("rate is 1200, 2400, 4800, 9600 or 19200 (or its code 0 to 4), not "
                          "'%1'")
        .arg(text);
}

// "upper=500,rate=9600": each name at most once; the thresholds as the window's field takes
// them (any whole number the register can carry), the rate and the decimal point as the meter
// can use them.
std::variant<ParamChanges, QString> Params(const QString& text) {
    ParamChanges changes;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString name = item.left(equals).trimmed();
        std::optional<int>* field = name == QLatin1String("upper")   ? &changes.upper
                                    : name == QLatin1String("lower") ? &changes.lower
                                    : name == QLatin1String("rate")  ? &changes.rate
                                    : name == QLatin1String("point") ? &changes.point
                                                                     : nullptr;
        if (!field)
            return QStringLiteral("'%1' is not upper, lower, rate or point").arg(name);
        if (equals < 0)
            return QStringLiteral("%1 needs a value, e.g. %1=500").arg(name);
        if (field->has_value())
            return QStringLiteral("%1 is given twice").arg(name);
        // A rate goes out as its code, and a decimal point the meter has no scale for would
        // leave the currents unscaled: both take only what the meter can use.
        const QString text = item.mid(equals + 1);
        const auto value = field == &changes.rate ? ParamRate(text)
                           : field == &changes.point
                               ? InRange(text, 0, kPointMax, name)
                               : InRange(text, meter::kRegisterMin, meter::kRegisterMax, name);
        if (const QString* reason = std::get_if<QString>(&value))
            return *reason;
        *field = std::get<int>(value);
    }
    return changes;
}

// The value of one operation's option, or the reason it cannot be used.
std::variant<ScriptStep, QString> Step(ScriptOp op, const QString& value) {
    ScriptStep step;
    step.op = op;
    std::variant<int, QString> n = 0;
    switch (op) {
    case ScriptOp::WriteParams: {
        const auto params = Params(value);
        if (const QString* reason = std::get_if<QString>(&params))
            return *reason;
        step.params = std::get<ParamChanges>(params);
        return step;
    }
    case ScriptOp::SetAddress:
        n = InRange(value, meter::kOwnAddressMin, meter::kOwnAddressMax,
                    QStringLiteral("the address"));
        break;
    case ScriptOp::ChangeRate:
        n = Rate(value);
        break;
    case ScriptOp::SetPt:
    case ScriptOp::SetCt:
        n = InRange(value, meter::kRatioMin, meter::kRatioMax, QStringLiteral("the ratio"));
        break;
    case ScriptOp::SetWiring:
        n = WiringMode(value);
        break;
    default:
        return step;
    }
    if (const QString* reason = std::get_if<QString>(&n))
        return *reason;
    step.value = std::get<int>(n);
    return step;
}

// Why a list of addresses cannot be used, as the script's other reasons say it.
QString AddressListReason(const meter::AddressList& list) {
    const QString item = QString::fromStdString(list.item);
    switch (list.error) {
    case meter::AddressListError::Empty:
        return QStringLiteral("no address given; a list is written 1,3,5-8");
    case meter::AddressListError::EmptyItem:
        return QStringLiteral("an empty item in the list; a list is written 1,3,5-8");
    case meter::AddressListError::NotANumber:
        return QStringLiteral("'%1' is not an address or a range of addresses").arg(item);
    case meter::AddressListError::OutOfRange:
        return QStringLiteral("'%1' is not in 1 to 247 (0 is the broadcast address, which no "
                              "meter answers; 248 to 255 are reserved)")
            .arg(item);
    case meter::AddressListError::Reversed:
        return QStringLiteral("the range '%1' runs backwards").arg(item);
    case meter::AddressListError::None:
        break;
    }
    return {};
}

QString Bad(const char* option, const QString& reason) {
    return QStringLiteral("--%1: %2").arg(QLatin1String(option), reason);
}

const char* const kScriptUsage = R"(
Meter operations: run without a window, each once, in the order given, then exit.
Status 0 when every one succeeded, 1 when the meter did not answer, answered
wrongly or refused, 2 on bad usage (nothing is sent), 3 when the device could not
be opened or was lost, 4 when the results could not be written to standard
output (nothing more is sent). The first failure ends the run. The device is
named by --com1 or --com2 (as --port picks) or METERDEBUG_COM1/2, never taken
from the window's settings. SIGINT or SIGTERM ends the run after the operation
in flight (a poll of a series), with an "interrupted" result for the rest;
a second one ends it at once.
  --read-params    read the upper and lower threshold, the meter's rate and the
                   decimal point
  --write-params NAME=VALUE,...
                   write the parameter block: upper and lower (0 to 65535), rate
                   (1200, 2400, 4800, 9600, 19200, or its code 0 to 4) and point
                   (0 to 3); names not given keep the meter's values, read first;
                   a rate register that holds no rate code must be named
  --set-address N  give the meter a new address, 1 to 247; later operations use it
  --change-rate RATE
                   move the meter and the port to 1200, 2400, 4800, 9600 or 19200
  --read-currents  poll the three phase currents, scaled by the decimal point
  --count N        polls of --read-currents (default 1)
  --interval MS    from one poll's start to the next's (default 2000)
  --read-io        read the relay output and the switch input
  --read-clock     read the meter's clock
  --set-pt N, --set-ct N
                   write the PT or CT ratio, 1 to 64000
  --set-wiring MODE
                   write the wiring mode: 0 to 5 or 3p4w-unbalanced, 1p2w,
                   3p3w-unbalanced, 3p3w-balanced, 1p3w, 3p4w-balanced
  --rate RATE      the port's rate (default 9600); not with tcp:// or modbus-tcp://
  --parity PARITY  none, odd or even, or N, O, E (default none); likewise
  --address LIST   the meter's address, 1 to 247 (default 1), or several: 1,3,5-8;
                   each operation then runs on every meter in turn, in that order
                   (--read-currents: one cycle over all of them per count), each
                   result carries address, and --csv writes its rows to a file of its
                   own (polls.csv: polls-bus.csv), the address in the second
                   column; the status is the worst of them.
                   Not with --set-address or --change-rate
  --json           one JSON object per operation instead of name=value lines
  --keep-going     go on after a failure; the status is that of the first (over
                   several meters, the worst: 3 before 1)
)";

} // namespace

QString ScriptUsageText() {
    return QString::fromUtf8(kScriptUsage);
}

QString ScriptOpName(ScriptOp op) {
    for (const OpOption& o : kOps)
        if (o.op == op)
            return QLatin1String(o.name);
    return {};
}

QString WiringModeName(int code) {
    return code >= 0 && code < meter::kWiringModeCount ? QLatin1String(kWiringNames[code])
                                                       : QString::number(code);
}

QList<QCommandLineOption> ScriptOptions() {
    QList<QCommandLineOption> options;
    for (const OpOption& o : kOps)
        options << (o.valueName
                        ? QCommandLineOption(QLatin1String(o.name), {}, QLatin1String(o.valueName))
                        : QCommandLineOption(QLatin1String(o.name)));
    for (const char* name : {"rate", "parity", "address", "count", "interval"})
        options << QCommandLineOption(QLatin1String(name), {}, QStringLiteral("VALUE"));
    options << QCommandLineOption(QStringLiteral("json"))
            << QCommandLineOption(QStringLiteral("keep-going"));
    return options;
}

std::variant<ScriptPlan, QString> ReadScriptPlan(const QCommandLineParser& parser, bool scan) {
    ScriptPlan plan;
    // Every value of an operation, in the order the options were given.
    std::array<int, kOps.size()> seen{};
    for (const QString& name : parser.optionNames()) {
        for (std::size_t i = 0; i < kOps.size(); ++i) {
            if (name != QLatin1String(kOps[i].name))
                continue;
            const QString value =
                kOps[i].valueName ? parser.values(name).value(seen[i]) : QString();
            if (++seen[i] > 1)
                return Bad(kOps[i].name, QStringLiteral("given twice; each operation runs once"));
            const auto step = Step(kOps[i].op, value);
            if (const QString* reason = std::get_if<QString>(&step))
                return Bad(kOps[i].name, *reason);
            plan.steps.push_back(std::get<ScriptStep>(step));
        }
    }

    if (plan.steps.empty()) {
        for (const char* name : kLineOptions)
            if (parser.isSet(QLatin1String(name)))
                return QStringLiteral("--%1 goes with a meter operation").arg(QLatin1String(name));
    } else if (scan) {
        return QStringLiteral("--scan does not go with meter operations");
    }
    const bool polls = seen[4] > 0;
    for (const char* name : {"count", "interval"})
        if (!polls && parser.isSet(QLatin1String(name)))
            return QStringLiteral("--%1 goes with --read-currents").arg(QLatin1String(name));

    if (parser.isSet(QStringLiteral("port")) && !plan.steps.empty()) {
        const auto n =
            InRange(parser.value(QStringLiteral("port")), 1, 2, QStringLiteral("the port"));
        if (const QString* reason = std::get_if<QString>(&n))
            return Bad("port", *reason);
        plan.port = std::get<int>(n);
    }
    if (parser.isSet(QStringLiteral("rate"))) {
        const auto n = Rate(parser.value(QStringLiteral("rate")));
        if (const QString* reason = std::get_if<QString>(&n))
            return Bad("rate", *reason);
        plan.rate = std::get<int>(n);
    }
    if (parser.isSet(QStringLiteral("parity"))) {
        const QString text = parser.value(QStringLiteral("parity"));
        const QString t = text.trimmed().toLower();
        if (t == QLatin1String("n") || t == QLatin1String("none"))
            plan.parity = 'N';
        else if (t == QLatin1String("o") || t == QLatin1String("odd"))
            plan.parity = 'O';
        else if (t == QLatin1String("e") || t == QLatin1String("even"))
            plan.parity = 'E';
        else
            return Bad("parity", QStringLiteral("'%1' is not none, odd or even").arg(text));
    }
    // The connection dialog takes any address a byte can carry; a script does not: nobody
    // answers the broadcast address 0, so a write there would reach every meter on the bus
    // with nothing to confirm it, and 248 to 255 are reserved.
    if (parser.isSet(QStringLiteral("address"))) {
        const QString text = parser.value(QStringLiteral("address"));
        const std::optional<long long> n = Whole(text);
        // A single number keeps the reason a script has always had; anything else is a list.
        if (!n && (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('-')))) {
            const meter::AddressList list = meter::ParseAddressList(text.toStdString());
            if (list.error != meter::AddressListError::None)
                return Bad("address", AddressListReason(list));
            plan.addresses.assign(list.addresses.begin(), list.addresses.end());
        } else if (!n || *n < meter::kOwnAddressMin || *n > meter::kOwnAddressMax) {
            return Bad("address",
                       QStringLiteral("the address is 1 to 247, not '%1' (0 is the broadcast "
                                      "address, which no meter answers; 248 to 255 are reserved)")
                           .arg(text));
        } else {
            plan.addresses = {static_cast<int>(*n)};
        }
        plan.address = plan.addresses.front();
    }
    // One new address or rate for several meters would put them all at the same place, or
    // leave the run unable to say which of them moved.
    if (plan.addresses.size() > 1)
        for (const ScriptStep& step : plan.steps)
            if (step.op == ScriptOp::SetAddress || step.op == ScriptOp::ChangeRate)
                return QStringLiteral("--%1 takes one meter at a time, not the %2 of --address %3")
                    .arg(ScriptOpName(step.op))
                    .arg(plan.addresses.size())
                    .arg(parser.value(QStringLiteral("address")));
    if (parser.isSet(QStringLiteral("count"))) {
        const auto n = InRange(parser.value(QStringLiteral("count")), 1, 1'000'000,
                               QStringLiteral("the count"));
        if (const QString* reason = std::get_if<QString>(&n))
            return Bad("count", *reason);
        plan.count = std::get<int>(n);
    }
    if (parser.isSet(QStringLiteral("interval"))) {
        const auto n = InRange(parser.value(QStringLiteral("interval")), 0, 86'400'000,
                               QStringLiteral("the interval in ms"));
        if (const QString* reason = std::get_if<QString>(&n))
            return Bad("interval", *reason);
        plan.intervalMs = static_cast<std::uint32_t>(std::get<int>(n));
    }
    plan.json = parser.isSet(QStringLiteral("json"));
    plan.keepGoing = parser.isSet(QStringLiteral("keep-going"));
    return plan;
}

} // namespace md
