// A fast 64-bit checksum of a byte stream, fed in pieces: enough to tell
// whether bytes read back are the bytes that were written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/byte_reader.h"

namespace modtext {

class Checksum {
public:
    void update(ByteView bytes) {
        if (bytes.empty()) return;
        length_ += bytes.size();
        std::size_t i = 0;
        if (pending_ > 0) {
            i = std::min<std::size_t>(block - pending_, bytes.size());
            std::memcpy(tail_ + pending_, bytes.data(), i);
            pending_ += i;
            if (pending_ < block) return;
            mix_block(tail_);
            pending_ = 0;
        }
        for (; i + block <= bytes.size(); i += block) mix_block(bytes.data() + i);
        pending_ = bytes.size() - i;
        if (pending_ > 0) std::memcpy(tail_, bytes.data() + i, pending_);
    }

    std::uint64_t value() const {
        std::uint8_t last[block] = {0};
        std::memcpy(last, tail_, pending_);
        std::uint64_t h = length_ * 0x9E3779B97F4A7C15ull;
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            h = (h ^ state_[lane] ^ load_word(last + 8 * lane)) * 0x87C37B91114253D5ull;
            h ^= h >> 29;
        }
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return h;
    }

private:
    // Four words at a time in four lanes, so that no lane waits on another.
    static constexpr std::size_t lanes = 4;
    static constexpr std::size_t block = 8 * lanes;

    // In the host's byte order: a checksum is compared only within one run.
    static std::uint64_t load_word(const std::uint8_t* at) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        return word;
    }
    void mix_block(const std::uint8_t* at) {
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            std::uint64_t& state = state_[lane];
            state ^= load_word(at + 8 * lane) * 0x87C37B91114253D5ull;
            state = ((state << 31) | (state >> 33)) * 0x4CF5AD432745937Full;
        }
    }

    std::uint64_t state_[lanes] = {0x2545F4914F6CDD1Dull, 0x9E3779B97F4A7C15ull,
                                   0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull};
    std::uint64_t length_ = 0;
    std::uint8_t tail_[block] = {0};
    std::size_t pending_ = 0;
};

}  // namespace modtext
