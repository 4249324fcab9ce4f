// The generators' one source of randomness: a splitmix64 stream, the same
// on every platform and compiler for the same seed.
#pragma once

#include <cstdint>

namespace modtext::build {

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // The slight bias of a modulo does not matter for test data.
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    std::uint32_t range(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }
    bool chance(std::uint32_t percent) { return below(100) < percent; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next() & 0xFFu); }

private:
    std::uint64_t state_;
};

}  // namespace modtext::build
