// metersim's console over arbitrary standard input: any bytes, lines of any length, delivered in
// pieces of any size. The first input byte chooses the piece size. Every reply must be one line
// (the help text aside) that a harness reading line by line can take: no control characters,
// and no more replies than lines ended.

#include "sim/Console.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace md::sim;

// The line as the console sees it, without a pseudo-terminal behind it.
class StandIn final : public LineControls {
public:
    void Quit() override {}
    void Unplug() override {}
    bool Vanish(std::string& error) override {
        error = "no line";
        return false;
    }
    bool Replug(std::string& error, const std::string&) override {
        error = "no line";
        return false;
    }
    void SetNoise(std::uint64_t) override {}
    void SetTrace(bool) override {}
    void Note(const std::string&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + in[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(in + 1), size - 1);

    // Two meters, so that commands aimed at one of them ("set ct 5 @3") are reached as well.
    Meters meters({1, 3}, 3);
    FaultPlan faults(1);
    StandIn line;
    Console console(meters, faults, line);
    std::size_t replies = 0;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        for (const std::string& reply : console.Input(input.substr(at, piece))) {
            ++replies;
            if (reply == kCommandHelp)
                continue;
            if (std::any_of(reply.begin(), reply.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
                std::abort(); // a reply that breaks the line protocol
        }
    }
    if (replies > static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n') +
                                           std::count(input.begin(), input.end(), '\r')))
        std::abort(); // a reply to a line not yet ended
    return 0;
}
