#pragma once
// metersim as a Modbus TCP server, a meter with Ethernet or a gateway with the meters on its
// serial line, each reached by its address as the unit identifier: libmodbus listens, accepts
// and reads each request, the meter's model answers through the same slave as on a line, and
// the faults and the trace act on each answer (MBAP header included) on its way back to the
// peer.

#include "sim/Faults.h"
#include "sim/LineControls.h"
#include "sim/Meters.h"
#include "sim/Noise.h"
#include "sim/Relay.h"
#include "sim/Slave.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace md::sim {

class NetServer final : public LineControls {
public:
    // address: where to listen (a name, an IPv4 or IPv6 address); port "0" takes a free one,
    // which Where() then names. lineRate: the rate of the serial line behind the gateway; a
    // meter switched away from it is no longer heard. Throws std::runtime_error.
    NetServer(std::string address, const std::string& port, int lineRate, Meters& meters,
              FaultPlan& faults, bool trace);
    ~NetServer() override;
    NetServer(const NetServer&) = delete;
    NetServer& operator=(const NetServer&) = delete;

    // Runs until SIGINT, SIGTERM or SIGHUP arrives or Quit() is called.
    void Run(const CommandInput& onInput);
    // "127.0.0.1:5020", "[::1]:5020".
    std::string Where() const;

    void Quit() override { m_quit = true; }
    // Every connection is reset and the server stops listening: a connect is refused.
    void Unplug() override;
    // The server falls silent without a word: connections stay open, nothing is read, accepted
    // or answered, as with a gateway that lost its power or its cable.
    bool Vanish(std::string& error) override;
    // Listens again on the same port, or speaks again after Vanish.
    bool Replug(std::string& error, const std::string& note = "replugged") override;
    // Noise goes to the newest connection.
    void SetNoise(std::uint64_t bytesPerSecond) override;
    void SetTrace(bool on) override { m_trace = on; }
    void Note(const std::string& text) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Peer {
        std::uint64_t id;
        int fd;
        std::string name; // "127.0.0.1:40122"
        std::vector<std::uint8_t> out;
    };
    struct Delivery { // an answer on its way to a peer
        Clock::time_point due;
        std::uint64_t peer;
        SpoiledAnswer answer;
        std::string meaning, notes;
    };

    void Listen(const std::string& port);
    void Accept();
    void Read(Peer& p);
    void OnRequest(Peer& p, const std::vector<std::uint8_t>& request);
    std::vector<std::uint8_t> Captured();
    void Deliver(const Delivery& d);
    void Flush(Peer& p);
    void Drop(Peer& p, const std::string& why, bool reset);
    void CommitLinkRate(MeterModel& meter);
    // The trace's note naming the meter a frame concerns; none with one meter on the line.
    std::string Who(int unit) const;
    void ReadCommands(const CommandInput& onInput);
    void Trace(const char* direction, std::span<const std::uint8_t> bytes,
               const std::string& meaning, const std::string& notes);

    std::string m_address;
    int m_port = 0;
    int m_lineRate;
    Meters& m_meters;
    FaultPlan& m_faults;
    bool m_trace;
    bool m_quit = false;
    bool m_vanished = false;
    bool m_stdinOpen = true;
    std::unique_ptr<MeterSlave> m_slave; // none while unplugged
    int m_capture[2] = {-1, -1}; // libmodbus answers into [0]; the faults take them from [1]
    std::vector<Peer> m_peers;
    std::uint64_t m_nextPeer = 1;
    std::vector<Delivery> m_late;
    Noise m_noise;
};

} // namespace md::sim
