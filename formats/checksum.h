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
    // The checksum of a short text, whole: its sixteen bytes a step in one
    // lane, with no room for pieces to come. Not the value of a Checksum
    // fed the same bytes.
    static std::uint64_t of_short(ByteView bytes) {
        std::uint64_t h = state_seed ^ (bytes.size() * 0x9E3779B97F4A7C15ull);
        std::size_t i = 0;
        for (; i + 16 <= bytes.size(); i += 16) {
            h = fold(load_word(bytes.data() + i) ^ secrets[0], load_word(bytes.data() + i + 8) ^ h);
        }
        if (i < bytes.size()) {
            std::uint8_t last[16] = {0};
            std::memcpy(last, bytes.data() + i, bytes.size() - i);
            h = fold(load_word(last) ^ secrets[1], load_word(last + 8) ^ h);
        }
        return fold(h ^ secrets[2], secrets[3]);
    }

    void update(ByteView bytes) {
        if (bytes.empty()) return;
        length_ += bytes.size();
        std::size_t i = 0;
        if (pending_ > 0) {
            i = std::min<std::size_t>(block - pending_, bytes.size());
            std::memcpy(tail_ + pending_, bytes.data(), i);
            pending_ += i;
            if (pending_ < block) return;
            mix_block(state_, tail_);
            pending_ = 0;
        }
        // The lanes in locals while the bulk is mixed: stored through a
        // pointer, they could alias the bytes and be read again each block.
        std::uint64_t state[lanes];
        std::copy(state_, state_ + lanes, state);
        for (; i + block <= bytes.size(); i += block) mix_block(state, bytes.data() + i);
        std::copy(state, state + lanes, state_);
        pending_ = bytes.size() - i;
        if (pending_ > 0) std::memcpy(tail_, bytes.data() + i, pending_);
    }

    std::uint64_t value() const {
        // The tail, padded with zeros, as one more block: the length told
        // apart streams that differ only in trailing zeros.
        std::uint64_t state[lanes];
        std::copy(state_, state_ + lanes, state);
        if (pending_ > 0) {
            std::uint8_t last[block] = {0};
            std::memcpy(last, tail_, pending_);
            mix_block(state, last);
        }
        std::uint64_t h = length_ * 0x9E3779B97F4A7C15ull;
        for (std::size_t lane = 0; lane < lanes; ++lane) h = fold(h ^ state[lane], secrets[lane]);
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return h;
    }

private:
    // Sixteen bytes a lane, four lanes at a time, so that no lane waits on
    // another: one wide multiplication per sixteen bytes.
    static constexpr std::size_t lanes = 4;
    static constexpr std::size_t block = 16 * lanes;
    static constexpr std::uint64_t secrets[lanes] = {0xA0761D6478BD642Full, 0xE7037ED1A0B428DBull,
                                                     0x8EBC6AF09C88C6E3ull, 0x589965CC75374CC3ull};

    // In the host's byte order: a checksum is compared only within one run.
    static std::uint64_t load_word(const std::uint8_t* at) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        return word;
    }
    // Both halves of the 128-bit product, each with a factor folded in, so
    // that a factor that happens to be zero does not hide the other.
    static std::uint64_t fold(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
        __extension__ typedef unsigned __int128 Wide;  // GCC's and Clang's, on 64-bit hosts
        const Wide product = static_cast<Wide>(a) * b;
        const auto low = static_cast<std::uint64_t>(product);
        const auto high = static_cast<std::uint64_t>(product >> 64);
#else
        const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
        const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
        const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
        const std::uint64_t low = (middle << 32) | (p00 & 0xFFFFFFFFu);
        const std::uint64_t high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
#endif
        return (low ^ a) ^ (high ^ b);
    }
    static void mix_block(std::uint64_t* state, const std::uint8_t* at) {
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            state[lane] = fold(load_word(at + 16 * lane) ^ secrets[lane], load_word(at + 16 * lane + 8) ^ state[lane]);
        }
    }

    static constexpr std::uint64_t state_seed = 0x2545F4914F6CDD1Dull;
    std::uint64_t state_[lanes] = {state_seed, 0x9E3779B97F4A7C15ull,
                                   0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull};
    std::uint64_t length_ = 0;
    std::uint8_t tail_[block] = {0};
    std::size_t pending_ = 0;
};

}  // namespace modtext
