#pragma once
// The line between the tool and the meters on it. Bytes from the tool are cut into frames and
// handed to the meter they name only if it could have heard them (same rate); the meter's
// answers come back through the faults, with a trace line for each frame. One request names one
// meter and the master waits for its answer, so two meters never answer at once.

#include "sim/Echo.h"
#include "sim/Faults.h"
#include "sim/Line.h"
#include "sim/LineControls.h"
#include "sim/Meters.h"
#include "sim/Noise.h"
#include "sim/Slave.h"
#include "sim/Wire.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace md::sim {

// Takes what standard input delivered and returns the replies to print.
using CommandInput = std::function<std::vector<std::string>(std::string_view)>;

class Relay final : public LineControls {
public:
    // Throws std::runtime_error when the meter's side cannot be set up.
    // Several meters share the line at the rate it starts at; one meter alone takes the line
    // along when it changes its rate.
    Relay(ToolLine& line, Meters& meters, FaultPlan& faults, bool trace);
    ~Relay() override;
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Runs until SIGINT, SIGTERM or SIGHUP arrives or Quit() is called. What standard input
    // delivers goes to onInput; the replies are printed.
    void Run(const CommandInput& onInput);

    void Quit() override { m_quit = true; }
    void Unplug() override;
    bool Vanish(std::string& error) override;
    bool Replug(std::string& error, const std::string& note = "replugged") override;
    // Noise comes on top of the traffic. What the line cannot take at once is dropped, so a
    // tool that stops reading builds up no backlog.
    void SetNoise(std::uint64_t bytesPerSecond) override;
    void SetTrace(bool on) override { m_trace = on; }
    // From now on every frame takes its time on the wire (11 bits a character at the rate of
    // whoever sends it), and the meter starts its answer `turnaround` after the request ended.
    void SetLineTiming(std::chrono::milliseconds turnaround) { m_wire.SetTiming(turnaround); }
    // Plays a half-duplex adapter that hears its own transmitter: every byte the tool sends
    // goes straight back to it, ahead of any answer. glitch: bytes the adapter sends as its
    // transmitter switches on, ahead of the echo of each request.
    void SetEcho(bool on, std::vector<std::uint8_t> glitch = {}) {
        m_echo.Set(on, std::move(glitch));
    }
    void Note(const std::string& text) override;
    // The meter's parity, 'N', 'O' or 'E' (default 'N'); over a line that tells the tool's
    // parity, a tool at another one is not heard.
    void SetMeterParity(char parity) { m_parity = parity; }

private:
    using Clock = std::chrono::steady_clock;

    struct Pending { // a request the meter has answered, waiting for its answer to come back
        std::vector<std::uint8_t> request;
        Fault fault;
        int rate; // the meter's rate when it answered
        Clock::time_point heard;
        MeterModel* meter = nullptr;
    };
    struct Delivery { // an answer on its way to the tool
        Clock::time_point due;
        SpoiledAnswer answer;
        std::string meaning, fault;
        int rate;
        MeterModel* meter = nullptr;
    };
    struct ForMeters { // a request on its way to the meters it names (all of them: a broadcast)
        std::vector<std::uint8_t> frame;
        std::vector<MeterModel*> meters;
    };

    void ReadTool();
    void FromTool(std::vector<std::uint8_t> frame, bool glitched);
    // The rate that cuts the tool's frames: the lone meter's, else the line's.
    int LineRate() const;
    int ToolSideRate() const;
    // The trace's note naming the meter a frame concerns; none with one meter on the line.
    std::string Who(int address) const;
    // Hands the meter's server the next request once it has taken the one before: it reads
    // each request on its own, for the meter that request names.
    void ToMeters();
    // Why a frame at this rate and the meter's parity garbles between the tool and the meter
    // ("line at 9600 bit/s, meter at 2400 bit/s"); empty when it does not.
    std::string Mismatch(int rate, const char* other) const;
    void ReleaseDue(Clock::time_point now);
    void ReadMeter();
    void ServeMeter();
    void OnToolFrame(std::vector<std::uint8_t> frame, bool glitched);
    void OnAnswer(std::vector<std::uint8_t> frame);
    void Deliver(const Delivery& d);
    void CommitLinkRate(MeterModel* meter);
    void WriteTool(std::span<const std::uint8_t> bytes);
    void FlushToTool();
    void ReadCommands(const CommandInput& onInput);
    // Frames still open when the line has been quiet long enough.
    void CutOnSilence(Clock::time_point now);
    void Trace(const char* direction, std::span<const std::uint8_t> bytes,
               const std::string& meaning, const std::string& notes);

    ToolLine& m_line;
    Meters& m_meters;
    int m_lineRate; // with several meters, the rate the line keeps
    FaultPlan& m_faults;
    bool m_trace;
    char m_parity = 'N';
    EchoAdapter m_echo;
    bool m_quit = false;
    int m_meterFd = -1; // our end of the meter's pseudo-terminal
    std::unique_ptr<MeterSlave> m_slave;

    std::vector<std::uint8_t> m_fromTool, m_fromMeter, m_toTool;
    Clock::time_point m_fromToolAt, m_fromMeterAt;
    std::deque<ForMeters> m_forMeters; // the front one is with the server once written
    bool m_meterBusy = false;          // the front one is written and not yet read
    std::deque<Pending> m_pending;
    std::vector<Delivery> m_late;
    Noise m_noise;
    Wire m_wire;
    bool m_stdinOpen = true;
};

} // namespace md::sim
