#pragma once
// The meter itself: a libmodbus server, RTU on the inner pseudo-terminal or Modbus TCP on a
// listening socket. libmodbus frames, checks and builds every answer; the model decides what is
// accepted and what it means.

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
    // An RTU server on a serial device. Throws std::runtime_error when the device cannot be
    // opened.
    MeterSlave(const std::string& device, MeterModel& model);
    // A Modbus TCP server listening on address (a name, IPv4 or IPv6 address) and port ("0":
    // any free one). Throws std::runtime_error when it cannot listen there.
    MeterSlave(const std::string& address, const std::string& port, MeterModel& model);
    ~MeterSlave();
    MeterSlave(const MeterSlave&) = delete;
    MeterSlave& operator=(const MeterSlave&) = delete;

    // The RTU line, or the TCP server's listening socket.
    int Fd() const;
    // TCP: takes a waiting connection; its socket (the caller closes it), or -1.
    int Accept();
    // TCP: the socket the next Receive reads and the next Answer writes.
    void Use(int socket);
    // The meter the next Receive takes requests for and the next Answer speaks for: several
    // meters on one line share the one server, each request going to the meter it names.
    void Serve(MeterModel& model) { m_model = &model; }
    // Bytes in front of the function code: the address (RTU) or the MBAP header (TCP), whose
    // last byte is the unit identifier.
    std::size_t HeaderLength() const;

    // Reads what is waiting: a request with a good check for this meter's address (or the
    // broadcast address 0), or nothing. Over TCP every unit identifier is taken: the caller
    // decides who is meant.
    std::optional<std::vector<std::uint8_t>> Receive();
    // Answers a received request; refuse, when not 0, is the exception code with which the
    // request is refused without acting on it. Returns false when no answer was sent (a
    // broadcast).
    bool Answer(const std::vector<std::uint8_t>& request, std::uint8_t refuse,
                MeterModel::TimePoint now);

private:
    void Map();
    void Reply(const std::vector<std::uint8_t>& request);
    void Refuse(const std::vector<std::uint8_t>& request, std::uint8_t code);

    MeterModel* m_model;
    modbus_t* m_ctx = nullptr;
    modbus_mapping_t* m_map = nullptr;
    int m_listenFd = -1;
};

} // namespace md::sim
