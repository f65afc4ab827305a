#pragma once
// The meter itself: a libmodbus RTU server on the inner pseudo-terminal. libmodbus frames,
// checks and builds every answer; the model decides what is accepted and what it means.

#include "sim/Model.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace md::sim {

class MeterSlave {
public:
    // Throws std::runtime_error when the device cannot be opened.
    MeterSlave(const std::string& device, MeterModel& model);
    ~MeterSlave();
    MeterSlave(const MeterSlave&) = delete;
    MeterSlave& operator=(const MeterSlave&) = delete;

    int Fd() const;
    // Reads what is waiting: a request with a good check for this meter's address (or the
    // broadcast address 0), or nothing.
    std::optional<std::vector<std::uint8_t>> Receive();
    // Answers a received request; refuse answers exception 0x04 without acting on it.
    // Returns false when no answer was sent (a broadcast).
    bool Answer(const std::vector<std::uint8_t>& request, bool refuse, MeterModel::TimePoint now);

private:
    void Reply(const std::vector<std::uint8_t>& request);
    void Refuse(const std::vector<std::uint8_t>& request, std::uint8_t code);

    MeterModel& m_model;
    modbus_t* m_ctx = nullptr;
    modbus_mapping_t* m_map = nullptr;
};

} // namespace md::sim
