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
            i = std::min<std::size_t>(8 - pending_, bytes.size());
            std::memcpy(tail_ + pending_, bytes.data(), i);
            pending_ += i;
            if (pending_ < 8) return;
            mix(load_word(tail_));
            pending_ = 0;
        }
        for (; i + 8 <= bytes.size(); i += 8) mix(load_word(bytes.data() + i));
        pending_ = bytes.size() - i;
        if (pending_ > 0) std::memcpy(tail_, bytes.data() + i, pending_);
    }

    std::uint64_t value() const {
        std::uint8_t last[8] = {0};
        std::memcpy(last, tail_, pending_);
        std::uint64_t h = state_ ^ load_word(last) ^ (length_ * 0x9E3779B97F4A7C15ull);
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return h;
    }

private:
    // In the host's byte order: a checksum is compared only within one run.
    static std::uint64_t load_word(const std::uint8_t* at) {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        return word;
    }
    void mix(std::uint64_t word) {
        state_ ^= word * 0x87C37B91114253D5ull;
        state_ = ((state_ << 31) | (state_ >> 33)) * 0x4CF5AD432745937Full;
    }

    std::uint64_t state_ = 0x2545F4914F6CDD1Dull;
    std::uint64_t length_ = 0;
    std::uint8_t tail_[8] = {0};
    std::size_t pending_ = 0;
};

}  // namespace modtext
