#include "sim/Relay.h"

#include "trace/TraceText.h"
#include "sim/Frames.h"
#include "sim/StopSignals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace md::sim {

namespace {

// A tool that stops reading must not make the relay hoard its answers without end.
constexpr std::size_t kMaxQueuedForTool = 1 << 20;
// A flood of noise is traced by its first bytes and its length.
constexpr std::size_t kHexShown = 48;

void Print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Appends whatever fd has to buf; false on a read error. A drained serial line set for raw
// reads returns 0 rather than EAGAIN, so 0 only ends the read; a line that has gone is
// reported by poll.
bool ReadAll(int fd, std::vector<std::uint8_t>& buf) {
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            buf.insert(buf.end(), chunk, chunk + n);
        if (n == static_cast<ssize_t>(sizeof chunk))
            continue;
        return n >= 0 || errno == EAGAIN || errno == EINTR;
    }
}

std::string Rates(const char* what, int a, const char* other, int b) {
    return std::string(what) + " " + std::to_string(a) + " bit/s, " + other + " " +
           std::to_string(b) + " bit/s";
}

} // namespace

Relay::Relay(ToolLine& line, Meters& meters, FaultPlan& faults, bool trace)
    : m_line(line), m_meters(meters), m_lineRate(meters.First().LinkRate()), m_faults(faults),
      m_trace(trace) {
    m_meterFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_meterFd < 0 || grantpt(m_meterFd) != 0 || unlockpt(m_meterFd) != 0) {
        const std::string why = std::strerror(errno);
        if (m_meterFd >= 0)
            close(m_meterFd);
        throw std::runtime_error("pseudo-terminal for the meter: " + why);
    }
    try {
        m_slave = std::make_unique<MeterSlave>(ptsname(m_meterFd), m_meters.First());
    } catch (...) {
        close(m_meterFd);
        throw;
    }
}

Relay::~Relay() {
    m_slave.reset();
    close(m_meterFd);
}

void Relay::Run(const CommandInput& onInput) {
    const StopSignals signals;
    while (!m_quit && !signals.Stopped()) {
        pollfd fds[4] = {
            {m_slave->Fd(), POLLIN, 0},
            {m_meterFd, POLLIN, 0},
            {m_line.Fd(),
             static_cast<short>(POLLIN | (m_toTool.empty() && !m_noise.Blocked() ? 0 : POLLOUT)), 0},
            {m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0},
        };
        std::optional<Clock::time_point> wake;
        const auto earliest = [&](std::optional<Clock::time_point> t) {
            if (t)
                wake = wake ? std::min(*wake, *t) : t;
        };
        const auto silence = FrameSilence(LineRate());
        if (!m_fromTool.empty())
            earliest(m_fromToolAt + silence);
        if (!m_fromMeter.empty())
            earliest(m_fromMeterAt + silence);
        for (const Delivery& d : m_late)
            earliest(d.due);
        earliest(m_noise.NextDue());
        earliest(m_wire.NextDue());
        timespec timeout{};
        if (wake) {
            const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout = {static_cast<time_t>(ns / 1'000'000'000),
                       static_cast<long>(ns % 1'000'000'000)};
        }
        if (ppoll(fds, 4, wake ? &timeout : nullptr, signals.WaitMask()) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[2].revents & (POLLHUP | POLLERR))
            Unplug();
        else if (fds[2].revents & POLLIN)
            ReadTool();
        if (fds[2].revents & POLLOUT)
            FlushToTool();
        if (fds[0].revents & POLLIN)
            ServeMeter();
        if (fds[1].revents & POLLIN)
            ReadMeter();
        if (fds[3].revents & (POLLIN | POLLHUP))
            ReadCommands(onInput);

        const auto now = Clock::now();
        m_noise.Send(m_line.Fd(), m_faults.Rng(), now);
        CutOnSilence(now);
        std::vector<Delivery> due;
        std::erase_if(m_late, [&](Delivery& d) {
            if (d.due > now)
                return false;
            due.push_back(std::move(d));
            return true;
        });
        std::sort(due.begin(), due.end(),
                  [](const Delivery& a, const Delivery& b) { return a.due < b.due; });
        for (const Delivery& d : due)
            Deliver(d);
        ReleaseDue(now);
    }
}

void Relay::Unplug() {
    m_line.Unplug();
    m_fromTool.clear();
    m_echo.Reset();
    m_toTool.clear();
    m_wire.Clear();
    Note("unplugged");
}

bool Relay::Vanish(std::string& error) {
    if (!m_line.Vanish(error))
        return false;
    m_fromTool.clear();
    m_echo.Reset();
    m_toTool.clear();
    Note("vanished");
    return true;
}

bool Relay::Replug(std::string& error, const std::string& note) {
    if (!m_line.Replug(error))
        return false;
    Note(note + ": " + m_line.Where());
    return true;
}

void Relay::SetNoise(std::uint64_t bytesPerSecond) {
    m_noise.SetRate(bytesPerSecond, m_faults.Rng(), Clock::now());
    Note(bytesPerSecond ? "noise " + std::to_string(bytesPerSecond) + " bytes/s" : "noise off");
}

void Relay::Note(const std::string& text) {
    if (m_trace)
        Print(TraceLine("--", "", text));
}

void Relay::ReadTool() {
    if (!m_line.Plugged())
        return;
    const std::size_t before = m_fromTool.size();
    if (!ReadAll(m_line.Fd(), m_fromTool)) {
        Unplug();
        return;
    }
    const auto now = Clock::now();
    if (m_echo.On()) {
        // The adapter's transmitter switches on when the tool starts a request on a quiet
        // line, not between the pieces of one request.
        const bool startsRequest = before == 0 && (!m_wire.Timed() || m_wire.ToMeterQuiet(now));
        const auto echoed = m_echo.Echo(std::span(m_fromTool).subspan(before), startsRequest);
        // With line timing the echo comes back as the bytes go out on the wire.
        if (m_wire.Timed())
            m_wire.ToTool(echoed, ToolSideRate(), now);
        else
            WriteTool(echoed);
    }
    m_fromToolAt = now;
    while (!m_fromTool.empty()) {
        const std::size_t len = RequestLength(m_fromTool);
        if (len == 0 || m_fromTool.size() < len)
            break;
        std::vector<std::uint8_t> frame(m_fromTool.begin(), m_fromTool.begin() + len);
        m_fromTool.erase(m_fromTool.begin(), m_fromTool.begin() + len);
        FromTool(std::move(frame), m_echo.TakeGlitched());
    }
}

// With line timing the meter hears a request only once its last character is through; a
// request written while the previous one is still on the wire queues behind it.
void Relay::FromTool(std::vector<std::uint8_t> frame, bool glitched) {
    if (!m_wire.Timed()) {
        OnToolFrame(std::move(frame), glitched);
        return;
    }
    m_wire.ToMeter(std::move(frame), glitched, ToolSideRate(), m_fromToolAt);
}

int Relay::LineRate() const {
    return m_meters.Several() ? m_lineRate : m_meters.First().LinkRate();
}

// The rate the tool sends at: what its pseudo-terminal is set to, else the line's.
int Relay::ToolSideRate() const {
    const int toolRate = m_line.ToolRate();
    return toolRate != 0 ? toolRate : LineRate();
}

std::string Relay::Who(int address) const {
    return m_meters.Several() ? "meter " + std::to_string(address) : std::string();
}

std::string Relay::Mismatch(int rate, const char* other) const {
    // A real port that several meters share stays at the line's rate; one meter alone takes
    // the port along to its new rate.
    const int toolRate = m_line.ToolRate() != 0 ? m_line.ToolRate()
                         : m_meters.Several()   ? m_lineRate
                                                : 0;
    if (toolRate != 0 && toolRate != rate)
        return Rates("line at", toolRate, other, rate);
    const std::optional<bool> toolOdd = m_line.ToolOdd();
    const bool meterOdd = m_parity == 'O';
    if (toolOdd && *toolOdd != meterOdd)
        return std::string("line at parity ") + (*toolOdd ? "odd" : "none or even") + ", " +
               other + " parity " + (meterOdd ? "odd" : m_parity == 'E' ? "even" : "none");
    return {};
}

void Relay::ReleaseDue(Clock::time_point now) {
    for (Wire::Request& heard : m_wire.HeardBy(now))
        OnToolFrame(std::move(heard.frame), heard.glitched);
    const std::vector<std::uint8_t> arrived = m_wire.ArrivedBy(now);
    if (!arrived.empty())
        WriteTool(arrived);
}

void Relay::OnToolFrame(std::vector<std::uint8_t> frame, bool glitched) {
    const std::string meaning = DescribeRequest(frame);
    const auto withEcho = [&](std::string notes) {
        const std::string echo = m_echo.Note(glitched);
        if (!echo.empty())
            notes += (notes.empty() ? "" : "; ") + echo;
        return notes;
    };
    const auto join = [](const std::string& a, const std::string& b) {
        return a.empty() || b.empty() ? a + b : a + "; " + b;
    };
    const int address = frame[0];
    MeterModel* named = address == 0 ? nullptr : m_meters.Find(address);
    std::vector<MeterModel*> hearing; // for a broadcast, every meter that can hear it
    for (MeterModel& m : m_meters.All())
        if ((address == 0 || &m == named) && Mismatch(m.LinkRate(), "").empty())
            hearing.push_back(&m);
    // Whose ear the trace speaks of: the meter named; for a broadcast, or alone on the line
    // whoever is named, the first.
    const MeterModel* listener = named                                 ? named
                                 : address == 0 || !m_meters.Several() ? &m_meters.First()
                                                                       : nullptr;
    if (listener && hearing.empty()) {
        if (const std::string garbled = Mismatch(listener->LinkRate(), "meter at");
            !garbled.empty()) {
            // At the wrong rate or parity the meter's receiver sees only framing or parity
            // errors.
            Trace("->", frame, meaning,
                  withEcho(join(named ? Who(address) : "", "not heard: " + garbled)));
            return;
        }
    }
    if (!named && address != 0) {
        // libmodbus, built for a shared bus, would take the next frame for the other meter's
        // answer and ignore it; no meter here answers to that address, so the next frame is
        // the tool's next request.
        Trace("->", frame, meaning,
              withEcho("for address " + std::to_string(frame[0]) + ": ignored"));
        return;
    }
    Trace("->", frame, meaning,
          withEcho(join(named ? Who(address) : "", CrcOk(frame) ? "" : "bad check bytes")));
    m_forMeters.push_back({std::move(frame), std::move(hearing)});
    ToMeters();
}

void Relay::ToMeters() {
    while (!m_meterBusy && !m_forMeters.empty()) {
        const std::vector<std::uint8_t>& frame = m_forMeters.front().frame;
        if (write(m_meterFd, frame.data(), frame.size()) >= 0) {
            m_meterBusy = true;
            return;
        }
        Note(std::string("meter line: ") + std::strerror(errno));
        m_forMeters.pop_front();
    }
}

void Relay::ServeMeter() {
    std::vector<MeterModel*> meters{&m_meters.First()};
    if (!m_forMeters.empty()) {
        meters = std::move(m_forMeters.front().meters);
        m_forMeters.pop_front();
    }
    m_meterBusy = false;
    m_slave->Serve(meters.empty() ? m_meters.First() : *meters.front());
    const auto request = m_slave->Receive();
    ToMeters();
    if (!request)
        return;
    if ((*request)[0] == 0) {
        for (MeterModel* m : meters) {
            m_slave->Serve(*m);
            m_slave->Answer(*request, 0, std::chrono::system_clock::now());
            CommitLinkRate(m);
        }
        return;
    }
    MeterModel* meter = meters.empty() ? &m_meters.First() : meters.front();
    const Fault fault = m_faults.Pick(*request);
    const int rate = meter->LinkRate();
    if (m_slave->Answer(*request, RefusalOf(fault.kind), std::chrono::system_clock::now()))
        m_pending.push_back({*request, fault, rate, Clock::now(), meter});
    else
        CommitLinkRate(meter);
}

void Relay::ReadMeter() {
    ReadAll(m_meterFd, m_fromMeter);
    m_fromMeterAt = Clock::now();
    while (!m_fromMeter.empty()) {
        const std::size_t len = AnswerLength(m_fromMeter);
        if (len == 0 || m_fromMeter.size() < len)
            break;
        std::vector<std::uint8_t> frame(m_fromMeter.begin(), m_fromMeter.begin() + len);
        m_fromMeter.erase(m_fromMeter.begin(), m_fromMeter.begin() + len);
        OnAnswer(std::move(frame));
    }
}

void Relay::OnAnswer(std::vector<std::uint8_t> frame) {
    const auto now = Clock::now();
    Pending p{{}, Fault{}, LineRate(), now};
    if (!m_pending.empty()) {
        p = std::move(m_pending.front());
        m_pending.pop_front();
    }
    Delivery d;
    d.meaning =
        p.request.empty() ? "unasked" : DescribeRequest(p.request) + " -> " + AnswerText(frame);
    d.rate = p.rate;
    d.meter = p.meter;
    d.fault = p.request.empty() ? "" : Who(p.request[0]);
    if (p.fault.kind != FaultKind::None) {
        Fault shown = p.fault;
        shown.remaining = -1;
        shown.probability = 1;
        shown.address = 0;
        d.fault += (d.fault.empty() ? "fault " : "; fault ") + FaultText(shown);
    }
    d.answer = Spoil(p.fault.kind, p.fault.lateMs, frame, m_faults.Rng());
    if (d.answer.lost) {
        Trace("<-", frame, d.meaning, d.fault + ": answer lost");
        CommitLinkRate(d.meter);
        return;
    }
    // The meter turns the line round before it starts answering.
    d.due = std::max(now, p.heard + m_wire.Turnaround()) +
            std::chrono::milliseconds(d.answer.delayMs);
    if (d.due > now)
        m_late.push_back(std::move(d));
    else
        Deliver(d);
}

void Relay::Deliver(const Delivery& d) {
    std::string notes = d.fault;
    const auto add = [&](const std::string& note) { notes += (notes.empty() ? "" : "; ") + note; };
    if (d.answer.noise)
        add(std::to_string(d.answer.noise) + " noise bytes before");
    const std::string garbled = Mismatch(d.rate, "answer at");
    if (!m_line.Plugged())
        add("unplugged: lost");
    else if (!garbled.empty())
        add("not understood: " + garbled);
    else if (m_wire.Timed())
        m_wire.ToTool(d.answer.bytes, d.rate, d.due);
    else
        WriteTool(d.answer.bytes);
    Trace("<-", std::span(d.answer.bytes).subspan(d.answer.noise), d.meaning, notes);
    CommitLinkRate(d.meter);
}

void Relay::CommitLinkRate(MeterModel* meter) {
    if (!meter || !meter->CommitLinkRate())
        return;
    if (m_meters.Several()) {
        Note("meter " + std::to_string(meter->Address()) + " now at " +
             std::to_string(meter->LinkRate()) + " bit/s");
        return;
    }
    m_line.MeterRateChanged(meter->LinkRate());
    Note("meter now at " + std::to_string(meter->LinkRate()) + " bit/s");
}

void Relay::WriteTool(std::span<const std::uint8_t> bytes) {
    if (!m_line.Plugged())
        return;
    if (m_toTool.size() + bytes.size() > kMaxQueuedForTool) {
        Note("the tool is not reading: " + std::to_string(bytes.size()) + " bytes dropped");
        return;
    }
    m_toTool.insert(m_toTool.end(), bytes.begin(), bytes.end());
    FlushToTool();
}

void Relay::FlushToTool() {
    if (!m_line.Plugged()) {
        m_toTool.clear();
        return;
    }
    const ssize_t n = write(m_line.Fd(), m_toTool.data(), m_toTool.size());
    if (n > 0)
        m_toTool.erase(m_toTool.begin(), m_toTool.begin() + n);
}

void Relay::ReadCommands(const CommandInput& onInput) {
    char chunk[1024];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_stdinOpen = false;
        return;
    }
    for (const std::string& reply : onInput(std::string_view(chunk, static_cast<std::size_t>(n))))
        Print(reply);
}

void Relay::CutOnSilence(Clock::time_point now) {
    const auto silence = FrameSilence(LineRate());
    if (!m_fromTool.empty() && now - m_fromToolAt >= silence) {
        FromTool(std::move(m_fromTool), m_echo.TakeGlitched());
        m_fromTool.clear();
    }
    if (!m_fromMeter.empty() && now - m_fromMeterAt >= silence) {
        OnAnswer(std::move(m_fromMeter));
        m_fromMeter.clear();
    }
}

void Relay::Trace(const char* direction, std::span<const std::uint8_t> bytes,
                  const std::string& meaning, const std::string& notes) {
    if (!m_trace)
        return;
    Print(TraceLine(direction, TraceHex(bytes, kHexShown), meaning, notes));
}

} // namespace md::sim
