#include "meter/MeterScan.h"

#include "modbus/Frame.h"
#include "modbus/Mbap.h"
#include "meter/Registers.h"
#include "port/DeviceName.h"

#include <algorithm>

namespace md::meter {

namespace {

// A register of the parameter block: every meter answers a read of it, and a meter that
// refuses it answers with an exception, which proves it is there just as well.
constexpr std::uint16_t kProbeRegister = reg::kParamBaudCode;
constexpr std::uint8_t kFnReadException = kFnReadHolding | 0x80;
constexpr int kExceptionLen = 5; // address, function, code, two check bytes

bool HasParity(char parity) {
    return parity != 'N';
}

// An answer to the probe read from address, or an exception to it, starts at data[0].
bool AnswerAtStart(std::span<const std::uint8_t> data, std::uint8_t address) {
    const auto n = static_cast<std::int16_t>(data.size());
    return FindResponse(data, n, kFnReadHolding, address, ReadAnswerLen(1)) == 0 ||
           FindResponse(data, n, kFnReadException, address, kExceptionLen) == 0;
}

// A gateway's own exception to the probe sent with transaction: the gateway has spoken for the
// unit, and no meter's answer is coming.
bool GatewayRefused(std::span<const std::uint8_t> data, int transaction, std::uint8_t address) {
    AnswerWanted wanted{kFnReadHolding, address, ReadAnswerLen(1)};
    wanted.transaction = transaction;
    const MbapSearch found = FindMbapAnswer(data, wanted);
    return found.offset < 0 && found.exceptionAt >= 0 &&
           (found.exceptionCode == kGatewayPathUnavailable ||
            found.exceptionCode == kGatewayTargetFailed);
}

} // namespace

std::string ScanSettingsText(int baudRate, char parity) {
    return std::to_string(baudRate) + parity + ",8,2";
}

std::vector<ScanPoint> ScanOrder(const std::optional<ScanPoint>& first,
                                 const std::vector<int>& addresses, const std::vector<int>& rates,
                                 const std::vector<char>& parities) {
    const auto has = [](const auto& list, auto value) {
        return std::find(list.begin(), list.end(), value) != list.end();
    };
    std::set<ScanPoint> seen;
    std::vector<ScanPoint> order;
    const auto add = [&](const ScanPoint& p) {
        if (seen.insert(p).second)
            order.push_back(p);
    };
    const auto everyLine = [&](const std::function<void(int, char)>& fn) {
        for (const int rate : kScanRates)
            for (const char parity : kScanParities)
                if (has(rates, rate) && has(parities, parity))
                    fn(rate, parity);
    };

    if (first)
        add(*first);
    // Address 1 is what a meter leaves the factory with: one probe a line finds most meters
    // long before the full pass over the addresses would.
    if (has(addresses, 1))
        everyLine([&](int rate, char parity) { add({1, rate, parity}); });
    everyLine([&](int rate, char parity) {
        for (int a = 1; a <= 247; ++a)
            if (has(addresses, a))
                add({static_cast<std::uint8_t>(a), rate, parity});
    });
    return order;
}

std::uint32_t ProbeWaitMs(const ScanPoint& at, std::uint32_t windowMs, Transport transport) {
    if (transport == Transport::ModbusTcp)
        return windowMs;
    return WireTimeMs(kShortRequestLen, at.baudRate, HasParity(at.parity)) +
           std::max(windowMs, InterFrameGapMs(at.baudRate, HasParity(at.parity)));
}

std::uint32_t ProbeCostMs(const std::vector<ScanPoint>& order, std::size_t i,
                          std::uint32_t windowMs, Transport transport) {
    const std::uint32_t listen = ProbeWaitMs(order[i], windowMs, transport);
    const bool lineEnds = i + 1 == order.size() || order[i + 1].baudRate != order[i].baudRate ||
                          order[i + 1].parity != order[i].parity;
    return lineEnds ? std::max(listen, kScanAnswerWaitMs) : listen;
}

MeterScan::MeterScan(SerialControl& port, Clock& clock, ScanOptions options)
    : m_port(port), m_clock(clock), m_link(port, clock), m_options(std::move(options)),
      m_transport(port.GetTransport()) {
    Estimate();
}

bool MeterScan::CountsFromWrite() const {
    return !SetsLine(m_transport);
}

void MeterScan::Estimate() {
    m_leftMs.assign(m_options.order.size() + 1, 0);
    for (std::size_t i = m_options.order.size(); i-- > 0;)
        m_leftMs[i] =
            m_leftMs[i + 1] + ProbeCostMs(m_options.order, i, m_options.windowMs, m_transport);
}

bool MeterScan::Step() {
    try {
        switch (m_state) {
        case State::Begin:
            Begin();
            break;
        case State::Idle:
            Next();
            break;
        case State::Listening:
            Listen();
            break;
        case State::Done:
            break;
        }
    } catch (const CommError& e) {
        m_error = e.what();
        Finish();
    }
    return m_state != State::Done;
}

ScanProgress MeterScan::Progress() const {
    ScanProgress p;
    p.done = static_cast<int>(m_next);
    p.total = static_cast<int>(m_options.order.size());
    p.leftMs = m_leftMs[m_next];
    p.noisy = !m_settings.empty() && m_noisy.contains(LineKey(m_lineRate, m_lineParity));
    if (!m_noisy.empty())
        p.leftMs += NoiseMs();
    p.confirming = m_state == State::Listening && m_task.confirm;
    if (m_state == State::Listening)
        p.current = m_task.at;
    else if (m_next < m_options.order.size())
        p.current = m_options.order[m_next];
    return p;
}

std::uint64_t MeterScan::NoiseMs() const {
    // Asked for at every step: worked out again only when the scan has moved on.
    if (m_noiseMs && m_noiseMs->next == m_next && m_noiseMs->noisy == m_noisy.size())
        return m_noiseMs->ms;
    // Noise is a fact of the line, whatever the settings: every setting still to come waits
    // for quiet once, after its first probe (on top of the wait for late answers when that
    // probe ends its line), and every probe hears bytes in its window and listens on for as
    // long as an answer needs.
    std::uint64_t ms = 0;
    std::set<int> waited = m_noisy;
    const auto& order = m_options.order;
    for (std::size_t i = m_next; i < order.size(); ++i) {
        const ScanPoint& at = order[i];
        const bool parity = HasParity(at.parity);
        ms += InterFrameGapMs(at.baudRate, parity) +
              WireTimeMs(ReadAnswerLen(1), at.baudRate, parity);
        if (waited.insert(LineKey(at.baudRate, at.parity)).second)
            ms += ProbeWaitMs(at, m_options.windowMs, m_transport) + kConfirmWaitMs -
                  ProbeCostMs(order, i, m_options.windowMs, m_transport);
    }
    m_noiseMs = NoiseEstimate{m_next, m_noisy.size(), ms};
    return ms;
}

void MeterScan::Begin() {
    if (m_cancelled) {
        m_state = State::Done; // the port was never touched
        return;
    }
    m_saved = {m_port.GetCommPort(), m_port.GetSettings(), m_port.GetPortOpen(),
               m_port.LostReason()};
    m_state = State::Idle;
    if (m_options.aim) {
        m_aimed = true;
        m_deviceChanged = m_options.aim(true);
    }
    // The port open on another port or device would send the probes where the operator did
    // not ask for them.
    if (m_saved.open && (m_deviceChanged || m_saved.commPort != m_options.commPort))
        m_port.SetPortOpen(false);
    m_port.SetCommPort(m_options.commPort);
    // The device the scan runs on may not be the one the scan was made for.
    if (m_port.GetTransport() != m_transport) {
        m_transport = m_port.GetTransport();
        Estimate();
    }
    m_port.SetPortOpen(true);
    m_idleSince = m_clock.GetTickCount();
}

std::optional<MeterScan::Task> MeterScan::Upcoming() const {
    if (!m_candidates.empty())
        return Task{m_candidates.front().at, true, kConfirmWaitMs};
    if (m_next < m_options.order.size())
        return Task{m_options.order[m_next], false,
                    ProbeWaitMs(m_options.order[m_next], m_options.windowMs, m_transport)};
    return std::nullopt;
}

void MeterScan::Next() {
    if (m_cancelled) {
        Finish();
        return;
    }
    const bool came = Take();
    const std::uint32_t now = m_clock.GetTickCount();
    if (came)
        m_quietFrom = now;
    Harvest();
    const std::optional<Task> task = Upcoming();
    std::uint32_t waitMs = 0;
    // A meter slower than the window answers a probe after its listening time: on the same
    // line a later probe hears it, but a probe alone on its rate and parity (address 1, the
    // dialog's settings, the last address of a pass) has nobody after it. Its answer is awaited
    // here, on the line it answers, for as long as any answer is awaited.
    const bool lineEnds =
        !task || ScanSettingsText(task->at.baudRate, task->at.parity) != m_settings;
    if (lineEnds && m_lateUntil) {
        const auto left = static_cast<std::int32_t>(*m_lateUntil - now);
        waitMs = static_cast<std::uint32_t>(std::max(left, 0));
    }
    // Bytes still coming in are let finish: a request sent over them collides on a two-wire
    // bus, and the flush that goes with it would throw half an answer away. A line that does
    // not fall quiet within the fixed wait never will: it is noisy at these settings, and
    // their later requests go out without the wait, which would only cost the fixed wait
    // every time. Over Modbus TCP the gateway keeps its line's gaps itself.
    const int line = LineKey(m_lineRate, m_lineParity);
    if (!m_settings.empty() && !OverModbusTcp() && !m_noisy.contains(line)) {
        const auto quiet = std::max(static_cast<std::int32_t>(now - m_quietFrom), 0);
        const std::uint32_t gap = InterFrameGapMs(m_lineRate, HasParity(m_lineParity));
        const bool busy = static_cast<std::uint32_t>(quiet) < gap;
        if (busy && now - m_idleSince < kConfirmWaitMs) {
            waitMs = std::max(waitMs, gap - static_cast<std::uint32_t>(quiet));
            m_awaitedQuiet = true;
        } else if (busy && m_awaitedQuiet) {
            // Only a wait that ran its course shows noise: a step that comes late (a busy
            // window) finds bytes that have merely been sitting there.
            m_noisy.insert(line);
        }
    }
    if (waitMs > 0 && m_port.GetPortOpen()) {
        m_port.WaitForInput(std::min(waitMs, kSliceMs));
        return;
    }
    if (task)
        Send(*task);
    else
        Finish();
}

void MeterScan::ThrowClosed() const {
    const std::string lost = m_port.LostReason();
    throw CommError(lost.empty() ? PortClosedText() : lost);
}

void MeterScan::Send(const Task& task) {
    if (!m_port.GetPortOpen())
        ThrowClosed();
    const std::string settings = ScanSettingsText(task.at.baudRate, task.at.parity);
    if (settings != m_settings) {
        // A line the port refuses (an adapter without a rate; a pseudo-terminal that takes
        // parity only now and then) costs that probe and nothing else: the rest of the space
        // is still worth trying, and the next probe asks again.
        try {
            m_port.SetSettings(settings);
        } catch (const CommError& e) {
            if (std::find(m_refusals.begin(), m_refusals.end(), e.what()) == m_refusals.end())
                m_refusals.emplace_back(e.what());
            ++m_next; // only probes meet new settings: candidates come from settings in use
            return;
        }
        m_settings = settings;
        m_lineRate = task.at.baudRate;
        m_lineParity = task.at.parity;
        m_here.clear();
        m_lateUntil.reset();
    }
    const int len = BuildReadRequest(m_link.m_bySendBuf, task.at.address, kProbeRegister, 1);
    m_link.SendOnly(len);
    if (!task.confirm) {
        ++m_probes;
        if (m_link.Transaction() >= 0)
            m_unanswered[static_cast<std::uint16_t>(m_link.Transaction())] = task.at.address;
    }
    m_sentAt = m_clock.GetTickCount();
    m_requestMs = WireTimeMs(len, task.at.baudRate, HasParity(task.at.parity));
    m_quietFrom = m_sentAt + m_requestMs;
    m_received = 0;
    m_task = task;
    m_here.insert(task.at.address);
    m_state = State::Listening;
}

bool MeterScan::Take() {
    const std::vector<std::uint8_t> input = m_port.GetInput();
    if (input.empty())
        return false;
    auto& copy = m_link.m_byRecvBuf;
    const auto room = static_cast<std::size_t>(CExchange::kRecvSize - m_received);
    if (input.size() > room) {
        // A babbling line: what the copy holds has been searched already; only its last bytes,
        // where a frame may have begun, are kept ahead of the new ones.
        const int keep = std::min(m_received, ReadAnswerLen(1) - 1);
        std::copy(copy.begin() + (m_received - keep), copy.begin() + m_received, copy.begin());
        m_received = keep;
    }
    const std::size_t n =
        std::min(input.size(), static_cast<std::size_t>(CExchange::kRecvSize - m_received));
    std::copy_n(input.begin(), n, copy.begin() + m_received);
    m_received += static_cast<int>(n);
    return true;
}

void MeterScan::Listen() {
    if (m_cancelled) {
        Finish();
        return;
    }
    if (!m_port.GetPortOpen())
        ThrowClosed(); // nothing can arrive: the wait would never end on a clock that stands
    const bool came = Take();
    const std::uint32_t now = m_clock.GetTickCount();
    if (came)
        m_quietFrom = now;
    const std::span<const std::uint8_t> data(m_link.m_byRecvBuf.data(),
                                             static_cast<std::size_t>(m_received));
    const int transaction = m_link.Transaction();
    bool answered = transaction >= 0 && MbapMeterAnswered(data, transaction, m_task.at.address);
    for (std::size_t i = 0; transaction < 0 && i < data.size() && !answered; ++i)
        answered = AnswerAtStart(data.subspan(i), m_task.at.address);
    // A gateway that says it cannot reach the unit has answered for it: nothing else comes.
    const bool refused =
        !answered && transaction >= 0 && GatewayRefused(data, transaction, m_task.at.address);
    const std::uint32_t spent = now - m_sentAt;
    const std::uint32_t limit = ListenLimit();
    if (answered || refused || spent >= limit) {
        Harvest();
        EndTask(answered, refused, now);
        return;
    }
    m_port.WaitForInput(std::min(limit - spent, kSliceMs));
}

std::uint32_t MeterScan::ListenLimit() const {
    // Bytes in by the time the window closes may be an answer on its way (at 1200 bit/s a
    // meter's answer takes 64 ms on the wire): the probe then waits as long as the whole answer
    // needs. The line may fall quiet meanwhile (a USB adapter hands bytes over in bursts), so
    // only a located answer ends the wait early.
    // A Modbus TCP frame comes whole, at no line's rate.
    if (m_received == 0 || OverModbusTcp())
        return m_task.limitMs;
    return m_task.limitMs + InterFrameGapMs(m_task.at.baudRate, HasParity(m_task.at.parity)) +
           WireTimeMs(ReadAnswerLen(1), m_task.at.baudRate, HasParity(m_task.at.parity));
}

void MeterScan::Harvest() {
    const std::span<const std::uint8_t> data(m_link.m_byRecvBuf.data(),
                                             static_cast<std::size_t>(m_received));
    const bool listening = m_state == State::Listening;
    if (m_link.Transaction() >= 0) {
        // A late Modbus TCP answer names the request it answers, and so the unit probed: a
        // gateway slower than the window (its own line's times, a queue of requests) is found
        // as a slow meter on a serial line is.
        for (std::size_t i = 0; i + kMbapHeaderLen < data.size(); ++i) {
            const int transaction = data[i] << 8 | data[i + 1];
            const auto probe = m_unanswered.find(static_cast<std::uint16_t>(transaction));
            if (probe == m_unanswered.end() || (listening && transaction == m_link.Transaction()) ||
                !MbapMeterAnswered(data.subspan(i), transaction, probe->second))
                continue;
            const ScanPoint at{probe->second, m_lineRate, m_lineParity};
            m_unanswered.erase(probe);
            if (m_known.insert(at).second)
                m_candidates.push_back({at, {}});
        }
        return;
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint8_t a = data[i];
        if ((listening && a == m_task.at.address) || !m_here.contains(a) ||
            !AnswerAtStart(data.subspan(i), a))
            continue;
        // A meter that answers slower than the window answers after its probe has ended; its
        // frame names its own address, and the line settings are still those of its request.
        const ScanPoint at{a, m_lineRate, m_lineParity};
        if (m_known.insert(at).second)
            m_candidates.push_back({at, {}});
    }
}

void MeterScan::TraceTask() {
    AnswerWanted wanted{kFnReadHolding, m_task.at.address, ReadAnswerLen(1)};
    wanted.transaction = m_link.Transaction();
    AnswerSearch found = m_link.Locate(m_received, wanted);
    if (found.offset < 0) {
        AnswerWanted refused{kFnReadException, m_task.at.address, kExceptionLen};
        refused.transaction = wanted.transaction;
        const AnswerSearch exception = m_link.Locate(m_received, refused);
        if (exception.offset >= 0) {
            wanted = refused;
            found = exception;
        }
    }
    m_link.TraceCollection(m_received, wanted, found);
}

void MeterScan::EndTask(bool answered, bool refused, std::uint32_t now) {
    TraceTask();
    m_state = State::Idle;
    m_idleSince = now;
    m_awaitedQuiet = false;
    // A gateway's refusal is the last word on that request.
    if (!answered && !refused)
        m_lateUntil = m_sentAt + kConfirmWaitMs;
    const std::uint32_t requestEnd = m_sentAt + (CountsFromWrite() ? 0 : m_requestMs);
    if (!m_task.confirm) {
        ++m_next;
        if (answered && m_known.insert(m_task.at).second)
            m_candidates.push_back({m_task.at, {}});
        return;
    }
    // A meter that misses a read now and then is still a meter: three answers among at most
    // five reads, its probe counted, confirm it as well as three confirming answers in a row.
    Candidate& c = m_candidates.front();
    ++c.reads;
    if (answered) {
        ++c.answered;
        const auto response = static_cast<std::int32_t>(now - requestEnd);
        c.times.push_back(static_cast<std::uint32_t>(std::max(response, 0)));
    }
    const bool confirmed = static_cast<int>(c.times.size()) >= kConfirmReads ||
                           (c.answered >= kConfirmReads && c.reads > c.answered);
    if (!confirmed) {
        if (c.answered + kConfirmAttempts - c.reads < kConfirmReads)
            m_candidates.erase(m_candidates.begin());
        return;
    }
    std::sort(c.times.begin(), c.times.end());
    const ScanHit hit{c.at, c.times[c.times.size() / 2], c.answered, c.reads};
    m_candidates.erase(m_candidates.begin());
    m_hits.push_back(hit);
    if (onFound)
        onFound(hit);
    if (!m_options.all)
        Finish();
}

void MeterScan::Finish() {
    m_state = State::Done;
    // The scan gives the port back as it found it, a lost one lost: the outage goes on until
    // a reopen works. A loss met on the port's own device while it was in use goes on too.
    const bool ownDevice = !m_deviceChanged && m_port.GetCommPort() == m_saved.commPort;
    std::string lost = m_saved.lost;
    if (lost.empty() && ownDevice && m_saved.open)
        lost = m_port.LostReason();
    try {
        if (!ownDevice || !lost.empty())
            m_port.SetPortOpen(false);
        if (m_aimed) {
            m_aimed = false;
            m_options.aim(false);
        }
        if (m_port.GetCommPort() != m_saved.commPort)
            m_port.SetCommPort(m_saved.commPort);
        m_port.SetSettings(m_saved.settings);
        if (lost.empty())
            m_port.SetPortOpen(m_saved.open);
        else
            m_port.MarkLost(lost);
    } catch (const CommError& e) {
        if (m_error.empty())
            m_error = e.what();
    }
}

} // namespace md::meter
