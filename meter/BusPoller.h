#pragma once
// Several meters on one line, polled in turn: every cycle each meter gets the window's own poll
// (decimal point read, the pause between requests, currents read) through the exchange the
// caller hands in, so its fast waits, local echo and trace apply. A meter that stays silent
// for a few cycles is rested and only tried now and then; an outage of the line stops the
// cycle for every meter at once instead of failing each.
//
// A state machine that does one exchange a step, so an event loop drives it and stays
// responsive; Step says when the next step falls due. The exchange (with its port and clock)
// is injected.

#include "link/Exchange.h"
#include "meter/MeterOps.h"
#include "trace/TraceFanOut.h"
#include "trace/TraceRows.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace md::meter {

// A cycle starts this long after the one before started (at once when that one took longer),
// as the window's own polling timer ticks.
inline constexpr std::uint32_t kBusIntervalDefaultMs = 2000;
// Cycles in a row a meter may fail before it is rested, and how often a rested one is tried.
inline constexpr int kBusMissesBeforeRest = 3;
inline constexpr int kBusRestCycles = 10;

enum class BusMeterState {
    NotYet,    // not polled yet
    Answering, // the last poll was answered
    NoAnswer,  // the last poll failed: silence, or an answer that did not pass
    Refused,   // the meter answered the last poll with an exception
};

struct BusMeter {
    std::uint8_t address = 1;
    int decimalPoint = 0;                            // as last read; 0 until then
    std::optional<std::array<std::uint16_t, 3>> raw; // the last currents read
    int successCount = 0;
    int failureCount = 0;
    int responseMs = -1; // of the last answered read, when the exchange watched the arrivals
    BusMeterState state = BusMeterState::NotYet;
    TraceStatus why = TraceStatus::Ok; // how the last failed poll failed
    int missed = 0;                    // polls failed in a row
    std::uint64_t nextTry = 0;         // rested: the cycle it is tried again in

    bool Resting() const { return missed >= kBusMissesBeforeRest; }
};

// One meter's poll just made.
struct BusPoll {
    std::uint8_t address = 1;
    std::optional<std::array<std::uint16_t, 3>> raw; // the currents, when the poll was answered
    int decimalPoint = 0;                            // what the poll scaled by
    TraceStatus outcome = TraceStatus::Ok;           // how the failing read fared
};

class BusPoller {
public:
    // addresses: the meters, polled in the order of their addresses; a repeat counts once.
    // trace: the fan-out the exchange reports to; the poller listens there while it lives.
    BusPoller(CExchange& link, TraceFanOut& trace, std::vector<std::uint8_t> addresses,
              std::uint32_t intervalMs = kBusIntervalDefaultMs);
    ~BusPoller();
    BusPoller(const BusPoller&) = delete;
    BusPoller& operator=(const BusPoller&) = delete;

    // Every meter's poll as it ends, answered or not.
    std::function<void(const BusPoll&)> onPolled;

    // One exchange (or none, between cycles); the ms until the next step is due.
    std::uint32_t Step();

    const std::vector<BusMeter>& Meters() const { return m_meters; }
    // Cycles begun so far, and whether the last one is still going.
    std::uint64_t Cycles() const { return m_cycle; }
    bool InCycle() const { return m_stage != Stage::Between; }
    // Why the line cannot be used, as the port says; empty while it works.
    const std::string& LineLost() const { return m_lineLost; }

private:
    class Tap;
    enum class Stage { Between, DecimalPoint, Currents };

    std::uint32_t Advance();
    // The next meter due in this cycle from m_index on; false when the cycle is over.
    bool FindDue();
    bool Due(const BusMeter& m) const;
    // The request never went out: the line is down, for every meter alike.
    bool LineDown();
    void Answered(BusMeter& m, const std::array<std::uint16_t, 3>& raw);
    void Failed(BusMeter& m);
    std::uint32_t EndCycle();

    CExchange& m_link;
    TraceFanOut& m_trace;
    std::unique_ptr<Tap> m_tap;
    std::uint32_t m_intervalMs;
    std::vector<BusMeter> m_meters;
    Stage m_stage = Stage::Between;
    std::uint64_t m_cycle = 0;
    std::uint32_t m_cycleStart = 0;
    std::size_t m_index = 0;
    std::string m_lineLost;
};

} // namespace md::meter
