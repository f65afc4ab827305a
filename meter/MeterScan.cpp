#include "meter/MeterScan.h"

#include "link/Frame.h"
#include "link/Mbap.h"
#include "meter/Registers.h"

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

std::uint32_t ProbeWaitMs(const ScanPoint& at, std::uint32_t windowMs) {
    return WireTimeMs(kShortRequestLen, at.baudRate, HasParity(at.parity)) +
           std::max(windowMs, InterFrameGapMs(at.baudRate, HasParity(at.parity)));
}

MeterScan::MeterScan(SerialControl& port, Clock& clock, ScanOptions options)
    : m_port(port), m_clock(clock), m_link(port, clock), m_options(std::move(options)),
      m_leftMs(m_options.order.size() + 1, 0) {
    for (std::size_t i = m_options.order.size(); i-- > 0;)
        m_leftMs[i] = m_leftMs[i + 1] + ProbeWaitMs(m_options.order[i], m_options.windowMs);
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
    p.confirming = m_state == State::Listening && m_task.confirm;
    if (m_state == State::Listening)
        p.current = m_task.at;
    else if (m_next < m_options.order.size())
        p.current = m_options.order[m_next];
    return p;
}

void MeterScan::Begin() {
    if (m_cancelled) {
        m_state = State::Done; // the port was never touched
        return;
    }
    m_saved = {m_port.GetCommPort(), m_port.GetSettings(), m_port.GetPortOpen()};
    if (m_saved.open && m_saved.commPort != m_options.commPort)
        m_port.SetPortOpen(false);
    m_port.SetCommPort(m_options.commPort);
    m_port.SetPortOpen(true);
    m_state = State::Idle;
}

void MeterScan::Next() {
    if (m_cancelled)
        Finish();
    else if (!m_candidates.empty())
        Send({m_candidates.front().at, true, kConfirmWaitMs});
    else if (m_next < m_options.order.size())
        Send({m_options.order[m_next], false,
              ProbeWaitMs(m_options.order[m_next], m_options.windowMs)});
    else
        Finish();
}

void MeterScan::Send(const Task& task) {
    if (!m_port.GetPortOpen()) {
        const std::string lost = m_port.LostReason();
        throw CommError(lost.empty() ? "串口已关闭" : lost);
    }
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
        m_here.clear();
        m_quietSince.reset();
    } else if (m_quietSince) {
        const std::uint32_t quiet = m_clock.GetTickCount() - *m_quietSince;
        const std::uint32_t gap = InterFrameGapMs(task.at.baudRate, HasParity(task.at.parity));
        if (quiet < gap)
            m_clock.Sleep(gap - quiet);
        // An answer that came after its window is still waiting: take it before the flush
        // that goes with the next request throws it away.
        m_task = task;
        Harvest(m_link.TakeInput(0));
    }
    const int len = BuildReadRequest(m_link.m_bySendBuf, task.at.address, kProbeRegister, 1);
    m_link.SendOnly(len);
    m_sentAt = m_clock.GetTickCount();
    m_requestMs = WireTimeMs(len, task.at.baudRate, HasParity(task.at.parity));
    m_received = 0;
    m_task = task;
    m_here.insert(task.at.address);
    m_state = State::Listening;
}

void MeterScan::Listen() {
    if (m_cancelled) {
        Finish();
        return;
    }
    m_received = m_link.TakeInput(m_received);
    const std::uint32_t now = m_clock.GetTickCount();
    const std::span<const std::uint8_t> data(m_link.m_byRecvBuf.data(),
                                             static_cast<std::size_t>(m_received));
    const int transaction = m_link.Transaction();
    bool answered = transaction >= 0 && MbapMeterAnswered(data, transaction, m_task.at.address);
    for (std::size_t i = 0; transaction < 0 && i < data.size() && !answered; ++i)
        answered = AnswerAtStart(data.subspan(i), m_task.at.address);
    const std::uint32_t spent = now - m_sentAt;
    const std::uint32_t limit = ListenLimit();
    if (answered || spent >= limit) {
        Harvest(m_received);
        EndTask(answered, now);
        return;
    }
    m_port.WaitForInput(std::min(limit - spent, kSliceMs));
}

std::uint32_t MeterScan::ListenLimit() const {
    // Bytes in by the time the window closes may be an answer on its way (at 1200 bit/s a
    // meter's answer takes 64 ms on the wire): the probe then waits as long as the whole answer
    // needs. The line may fall quiet meanwhile (a USB adapter hands bytes over in bursts), so
    // only a located answer ends the wait early.
    if (m_received == 0)
        return m_task.limitMs;
    return m_task.limitMs + InterFrameGapMs(m_task.at.baudRate, HasParity(m_task.at.parity)) +
           WireTimeMs(ReadAnswerLen(1), m_task.at.baudRate, HasParity(m_task.at.parity));
}

void MeterScan::Harvest(int received) {
    // A Modbus TCP answer names the request it answers: a late one is not taken for another.
    if (m_link.Transaction() >= 0)
        return;
    const std::span<const std::uint8_t> data(m_link.m_byRecvBuf.data(),
                                             static_cast<std::size_t>(received));
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint8_t a = data[i];
        if (a == m_task.at.address || !m_here.contains(a) || !AnswerAtStart(data.subspan(i), a))
            continue;
        // A meter that answers slower than the window answers while a later probe listens;
        // its frame names its own address, and the line settings are still the same.
        const ScanPoint at{a, m_task.at.baudRate, m_task.at.parity};
        if (m_known.insert(at).second)
            m_candidates.push_back({at, {}});
    }
}

void MeterScan::EndTask(bool answered, std::uint32_t now) {
    m_state = State::Idle;
    const std::uint32_t requestEnd = m_sentAt + m_requestMs;
    // The line is quiet from the end of the answer, or of the request when none came.
    m_quietSince = answered ? now : requestEnd;
    if (!m_task.confirm) {
        ++m_next;
        if (answered && m_known.insert(m_task.at).second)
            m_candidates.push_back({m_task.at, {}});
        return;
    }
    Candidate& c = m_candidates.front();
    if (!answered) {
        m_candidates.erase(m_candidates.begin());
        return;
    }
    const auto response = static_cast<std::int32_t>(now - requestEnd);
    c.times.push_back(static_cast<std::uint32_t>(std::max(response, 0)));
    if (static_cast<int>(c.times.size()) < kConfirmReads)
        return;
    std::sort(c.times.begin(), c.times.end());
    const ScanHit hit{c.at, c.times[c.times.size() / 2]};
    m_candidates.erase(m_candidates.begin());
    m_hits.push_back(hit);
    if (onFound)
        onFound(hit);
    if (!m_options.all)
        Finish();
}

void MeterScan::Finish() {
    m_state = State::Done;
    try {
        if (m_port.GetCommPort() != m_saved.commPort) {
            m_port.SetPortOpen(false);
            m_port.SetCommPort(m_saved.commPort);
        }
        m_port.SetSettings(m_saved.settings);
        m_port.SetPortOpen(m_saved.open);
    } catch (const CommError& e) {
        if (m_error.empty())
            m_error = e.what();
    }
}

} // namespace md::meter
