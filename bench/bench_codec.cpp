// Codec throughput: CRC-16 in MB/s, and FindResponse scans per second over a full 300-byte
// receive copy. Each figure is the best of several timed rounds of about 0.2 s.

#include "modbus/Crc.h"
#include "modbus/Frame.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Calls `body` in batches until about 0.2 s have passed, five times; returns the best rate of
// calls per second.
template <typename F> double BestRate(F body) {
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        long calls = 0;
        const auto t0 = Clock::now();
        std::chrono::duration<double> dt{};
        do {
            for (int i = 0; i < 1000; ++i)
                body();
            calls += 1000;
            dt = Clock::now() - t0;
        } while (dt.count() < 0.2);
        best = std::max(best, static_cast<double>(calls) / dt.count());
    }
    return best;
}

volatile unsigned g_sink;

} // namespace

int main() {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);

    std::vector<std::uint8_t> block(4096);
    for (auto& b : block)
        b = static_cast<std::uint8_t>(byte(rng));
    const double blocks = BestRate([&] { g_sink = g_sink + md::CalcCrc16(block); });
    std::printf("CalcCrc16, 4 KiB blocks:   %8.1f MB/s\n", blocks * block.size() / 1e6);

    const std::span<const std::uint8_t> request(block.data(), 6);
    const double requests = BestRate([&] { g_sink = g_sink + md::CalcCrc16(request); });
    std::printf("CalcCrc16, 6-byte request: %8.1f M checks/s\n", requests / 1e6);

    // A full copy of noise that holds no answer: the common failure case.
    std::array<std::uint8_t, 300> noise;
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(byte(rng));
    const double plain = BestRate([&] {
        g_sink = g_sink + static_cast<unsigned>(md::FindResponse(noise, 300, 0x03, 1, 11));
    });
    std::printf("FindResponse, noise:       %8.0f scans/s\n", plain);

    // Every start position carries the address and the function, so the check is computed at
    // each of the 290 positions: the slowest scan there is.
    std::array<std::uint8_t, 300> worst;
    worst.fill(0x03);
    const double slow = BestRate([&] {
        g_sink = g_sink + static_cast<unsigned>(md::FindResponse(worst, 300, 0x03, 3, 11));
    });
    std::printf("FindResponse, worst case:  %8.0f scans/s\n", slow);

    // An 11-byte answer in the last possible place, behind 289 bytes of noise.
    std::array<std::uint8_t, 300> late = noise;
    const std::array<std::uint8_t, 9> head{1, 0x03, 6, 0x04, 0xD2, 0x09, 0x29, 0x0D, 0x80};
    std::copy(head.begin(), head.end(), late.begin() + 289);
    const std::uint16_t crc = md::CalcCrc16(std::span(late).subspan(289, 9));
    late[298] = static_cast<std::uint8_t>(crc >> 8);
    late[299] = static_cast<std::uint8_t>(crc & 0xFF);
    if (md::FindResponse(late, 300, 0x03, 1, 11) != 289) {
        std::fprintf(stderr, "answer at offset 289 not found\n");
        return 1;
    }
    const double found = BestRate(
        [&] { g_sink = g_sink + static_cast<unsigned>(md::FindResponse(late, 300, 0x03, 1, 11)); });
    std::printf("FindResponse, answer last: %8.0f scans/s\n", found);
    return 0;
}
