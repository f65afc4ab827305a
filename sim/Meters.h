#pragma once
// The meters metersim plays on one line, each with its own registers. A request names one
// address and only the meter that answers to it now acts on it; a meter that takes a new address
// takes its registers along. Two meters never hold the same address: the second could not be
// told from the first, and both would answer at once.

#include "sim/Model.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace md::sim {

// "1,3,5-8": addresses 1 to 247 as single numbers or rising ranges, each once, in the order
// given; nothing, with error, otherwise.
std::optional<std::vector<int>> ParseAddresses(const std::string& text, std::string& error);

class Meters {
public:
    // One meter at each address (at least one), all at the rate with this code.
    Meters(const std::vector<int>& addresses, int baudCode);
    Meters(const Meters&) = delete;
    Meters& operator=(const Meters&) = delete;

    bool Several() const { return m_meters.size() > 1; }
    // The meter listed first: the one a console command without an address speaks to.
    MeterModel& First() { return m_meters.front(); }
    // The meter that answers to address now; nullptr when none does.
    MeterModel* Find(int address);
    std::deque<MeterModel>& All() { return m_meters; }
    // "1 3 5", the addresses the meters answer to now, in the order they were listed.
    std::string Addresses() const;

private:
    std::deque<MeterModel> m_meters; // a deque: the models never move once made
};

} // namespace md::sim
