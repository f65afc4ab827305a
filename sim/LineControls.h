#pragma once
// What the console may do to the line and the trace while metersim runs.

#include <cstdint>
#include <string>

namespace md::sim {

class LineControls {
public:
    virtual ~LineControls() = default;

    // Ends the run after the current command.
    virtual void Quit() = 0;
    // The cable is pulled; the tool's handles fail.
    virtual void Unplug() = 0;
    // The tool's device goes away, path and all; false with error where the line cannot.
    virtual bool Vanish(std::string& error) = 0;
    // Comes back at the same path; note: what the trace says happened ("replugged").
    virtual bool Replug(std::string& error, const std::string& note = "replugged") = 0;
    // Random bytes to the tool at this many per second; 0 stops them.
    virtual void SetNoise(std::uint64_t bytesPerSecond) = 0;
    virtual void SetTrace(bool on) = 0;
    // Prints "-- text" in the trace.
    virtual void Note(const std::string& text) = 0;
};

} // namespace md::sim
