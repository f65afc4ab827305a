#pragma once
// Finding a meter whose address, rate or parity is unknown: probe every combination with one
// short read, listen only for the request's wire time plus a window, take any valid answer
// (late ones too) as a candidate and confirm it with reads at the fixed wait: three confirming
// answers, or three answers among five reads, the probe's included, for a meter that misses
// now and then. A late answer is awaited on the line it answers: before the rate or parity
// changes, and after the last probe, the scan listens on until the fixed wait after that
// line's last request is over. Over Modbus TCP no serial line is on the tool's side: a probe
// listens for the window from the moment its request was written, and nothing else; a late
// answer names the request, and so the unit, it answers.
//
// Before a request the line is let fall quiet (bytes still arriving may be an answer that the
// request would collide with). A line setting whose line never fell quiet within the fixed
// wait is noisy: its later requests go out without that wait.
//
// The scan is a state machine that does a short piece of work a step (at most kSliceMs of
// blocking), so a window's event loop or a command line's core application drives it with a
// zero timer and stays responsive. The port and clock are injected.

#include "link/Clock.h"
#include "link/Exchange.h"
#include "port/SerialControl.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace md::meter {

// One combination the scan tries: parity 'N', 'E' or 'O'; 8 data bits and 2 stop bits always.
struct ScanPoint {
    std::uint8_t address = 1;
    int baudRate = 9600;
    char parity = 'N';

    auto operator<=>(const ScanPoint&) const = default;
};

// "9600N,8,2", the form the port takes.
std::string ScanSettingsText(int baudRate, char parity);

// The rates and parities in the order they are tried, and the window's limits.
inline constexpr int kScanRates[] = {9600, 19200, 4800, 2400, 1200};
inline constexpr char kScanParities[] = {'N', 'E', 'O'};
inline constexpr std::uint32_t kScanWindowDefaultMs = 100;
inline constexpr std::uint32_t kScanWindowMinMs = 20;
inline constexpr std::uint32_t kScanWindowMaxMs = 1000;
// The fixed answer wait: a confirming read waits this long, and a late answer is awaited on
// its line until this long after the last request there.
inline constexpr std::uint32_t kScanAnswerWaitMs = 600;

// The order of the probes: first (when given), then address 1 at every rate and parity, then
// every address at each rate and parity. Rates, parities and addresses outside the given
// lists are left out (the first point is kept as given); no combination comes twice.
std::vector<ScanPoint> ScanOrder(const std::optional<ScanPoint>& first,
                                 const std::vector<int>& addresses, const std::vector<int>& rates,
                                 const std::vector<char>& parities);

// How long one probe listens from the moment its request went out: the request's wire time,
// then the window, but never less than the inter-frame gap, so that the next request never
// runs into this one at the meter's receiver. Over Modbus TCP the window alone: the gateway
// keeps the line's times, and the round trip to it is part of the window.
std::uint32_t ProbeWaitMs(const ScanPoint& at, std::uint32_t windowMs,
                          Transport transport = Transport::Serial);

// What probe i of order costs when nothing answers: its listening time, or the fixed answer
// wait after its request when the rate or parity changes after it (or it is the last).
std::uint32_t ProbeCostMs(const std::vector<ScanPoint>& order, std::size_t i,
                          std::uint32_t windowMs, Transport transport = Transport::Serial);

struct ScanOptions {
    std::vector<ScanPoint> order;
    std::uint32_t windowMs = kScanWindowDefaultMs;
    bool all = false; // go on after the first confirmed meter
    std::int16_t commPort = 1;
    // Puts the device the scan runs on behind commPort (scanning true, before the port is
    // opened) and the port's own back (false, once the scan has closed it); true when the
    // device behind the port changed, so that the port is opened anew. None: the port's device.
    std::function<bool(bool scanning)> aim;
};

struct ScanHit {
    ScanPoint at;
    // End of request to end of answer, the median of the confirming reads that were answered.
    // Where the tool does not set the line (Modbus TCP, a raw TCP converter), from the moment
    // the request was written: the line's time is the converter's, and is in the figure.
    std::uint32_t responseMs = 0;
    int answered = 0; // reads that were answered, the probe's included
    int reads = 0;    // reads sent to the meter, the probe's included
};

struct ScanProgress {
    int done = 0;  // probes finished
    int total = 0; // probes in the order
    ScanPoint current;
    bool confirming = false;
    // The line at the present settings never fell quiet: requests go out without waiting.
    bool noisy = false;
    // The probes still to go, at their listening time; once a line has shown noise, with one
    // wait for quiet for every line setting still to come, and every probe listening on for
    // the bytes that keep arriving.
    std::uint64_t leftMs = 0;
};

class MeterScan {
public:
    static constexpr std::uint32_t kConfirmWaitMs = kScanAnswerWaitMs;
    // Answered confirming reads that make a candidate a meter at once.
    static constexpr int kConfirmReads = 3;
    // Or, once one read has gone unanswered: answers needed among at most this many reads,
    // the probe's included.
    static constexpr int kConfirmAttempts = 5;
    static constexpr std::uint32_t kSliceMs = 50;

    MeterScan(SerialControl& port, Clock& clock, ScanOptions options);

    // Called once for every confirmed meter, as it is confirmed.
    std::function<void(const ScanHit&)> onFound;

    // One piece of work; false once the scan has ended and the port is restored.
    bool Step();
    // Ends the scan at its next step, wherever it is.
    void Cancel() { m_cancelled = true; }

    bool Finished() const { return m_state == State::Done; }
    bool Cancelled() const { return m_cancelled; }
    const std::vector<ScanHit>& Hits() const { return m_hits; }
    ScanProgress Progress() const;
    // The serial port control's complaint that ended the scan; empty when none did.
    const std::string& Error() const { return m_error; }
    // The port's complaints about line settings it refused, each once; the probes that met a
    // refusal were skipped.
    const std::vector<std::string>& Refusals() const { return m_refusals; }
    // Probes that went out (refused settings send none).
    int Probes() const { return m_probes; }
    // The exchange the probes go through: its trace and local echo apply to them.
    CExchange& Link() { return m_link; }

private:
    enum class State { Begin, Idle, Listening, Done };
    struct Task {
        ScanPoint at;
        bool confirm = false;
        std::uint32_t limitMs = 0;
    };
    struct Candidate {
        ScanPoint at;
        std::vector<std::uint32_t> times; // of the confirming reads answered
        int reads = 1;                    // the probe's answer, in its window or late
        int answered = 1;
    };

    void Begin();
    // Between two requests: waits for late answers before the line changes and for a quiet
    // line before any request, then sends the next one or ends the scan.
    void Next();
    std::optional<Task> Upcoming() const;
    void Send(const Task& task);
    void Listen();
    [[noreturn]] void ThrowClosed() const;
    // Adds what the port holds to the copy; true when anything came.
    bool Take();
    // How long the task in hand listens, counted from its request, as things stand.
    std::uint32_t ListenLimit() const;
    void EndTask(bool answered, bool refused, std::uint32_t now);
    // Takes every answer in the copy from an address probed at the present settings (but the
    // one the task in hand listens for) as a candidate there.
    void Harvest();
    void TraceTask();
    void Finish();
    // Over Modbus TCP: no line on this side, no late answer credited.
    bool OverModbusTcp() const { return m_transport == Transport::ModbusTcp; }
    // Where the tool sets no line, a response counts from the moment the request was written.
    bool CountsFromWrite() const;
    // The listening times ahead, for the transport in use.
    void Estimate();
    // What the noise seen so far adds to the time left.
    std::uint64_t NoiseMs() const;
    static int LineKey(int rate, char parity) { return rate * 128 + parity; }

    SerialControl& m_port;
    Clock& m_clock;
    CExchange m_link;
    ScanOptions m_options;
    Transport m_transport = Transport::Serial; // of the device the scan runs on
    std::vector<std::uint64_t> m_leftMs; // listening time of the probes from index i on

    State m_state = State::Begin;
    bool m_cancelled = false;
    std::string m_error;
    std::size_t m_next = 0; // the next probe in the order
    Task m_task;
    std::uint32_t m_sentAt = 0;
    std::uint32_t m_requestMs = 0;
    int m_received = 0;
    std::uint32_t m_quietFrom = 0; // the line's last activity: a request's end or a byte
    std::uint32_t m_idleSince = 0; // when the last task ended
    bool m_awaitedQuiet = false;   // and a wait for a quiet line has begun since
    // The fixed answer wait after the line's last unanswered request; none when all answered.
    std::optional<std::uint32_t> m_lateUntil;
    int m_probes = 0;
    bool m_aimed = false;         // the scan's device is behind the port
    bool m_deviceChanged = false; // and it is not the port's own

    std::string m_settings; // what the port is set to now, as the scan set it
    int m_lineRate = 0;
    char m_lineParity = 'N';
    std::vector<std::string> m_refusals;
    std::set<std::uint8_t> m_here; // addresses probed since the settings last changed
    // Modbus TCP: the unit each unanswered probe went to, by its transaction identifier.
    std::map<std::uint16_t, std::uint8_t> m_unanswered;
    std::set<int> m_noisy; // line settings (LineKey) whose line never fell quiet
    struct NoiseEstimate {
        std::size_t next = 0;  // m_next
        std::size_t noisy = 0; // m_noisy.size()
        std::uint64_t ms = 0;
    };
    mutable std::optional<NoiseEstimate> m_noiseMs;
    std::vector<Candidate> m_candidates;
    std::set<ScanPoint> m_known; // candidates taken, confirmed or refused
    std::vector<ScanHit> m_hits;

    struct Saved {
        std::int16_t commPort = 1;
        std::string settings;
        bool open = false;
        std::string lost; // the port was lost, for this reason
    } m_saved;
};

} // namespace md::meter
