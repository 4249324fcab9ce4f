// The one way resource and table bytes are read: a cursor over a buffer whose
// every read is checked against the buffer's end, whatever a file claims.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace modtext {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class ByteReader {
public:
    explicit ByteReader(ByteView bytes) : bytes_(bytes) {}

    std::size_t position() const { return position_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - position_; }
    bool at_end() const { return position_ >= bytes_.size(); }
    ByteView bytes() const { return bytes_; }

    // Moves the cursor; a position past the end is refused and leaves it.
    [[nodiscard]] bool seek(std::uint64_t position) {
        if (position > bytes_.size()) return false;
        position_ = static_cast<std::size_t>(position);
        return true;
    }
    [[nodiscard]] bool skip(std::uint64_t count) {
        if (count > remaining()) return false;
        position_ += static_cast<std::size_t>(count);
        return true;
    }

    // Each read either takes all it asks for and advances, or fails and
    // leaves the cursor and the destination as they were. The small ones
    // are defined here: they run for every field of every resource.
    [[nodiscard]] bool read_bytes(std::span<std::uint8_t> destination);
    [[nodiscard]] bool read_view(std::uint64_t count, ByteView& out) {
        if (count > remaining()) return false;
        out = bytes_.subspan(position_, static_cast<std::size_t>(count));
        position_ += static_cast<std::size_t>(count);
        return true;
    }
    [[nodiscard]] bool read_u8(std::uint8_t& value) {
        if (remaining() < 1) return false;
        value = bytes_[position_++];
        return true;
    }
    [[nodiscard]] bool read_u16(std::uint16_t& value);
    [[nodiscard]] bool read_u32(std::uint32_t& value);
    [[nodiscard]] bool read_i32(std::int32_t& value) {
        std::uint32_t raw = 0;
        if (!read_u32(raw)) return false;
        value = static_cast<std::int32_t>(raw);
        return true;
    }

    // The line that starts at the cursor, without its line end (a line feed,
    // or a carriage return and line feed); the cursor moves past the line
    // end. A last line without line end is taken whole.
    ByteView read_line();

private:
    ByteView bytes_;
    std::size_t position_ = 0;
};

// Little-endian helpers for fixed-size records held in memory.
inline std::uint16_t load_u16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t load_u32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
inline void store_u32(std::uint8_t* at, std::uint32_t value) {
    // One store where the host is little-endian: the compiler cannot merge
    // four byte stores that might overlap what the value was read from.
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, sizeof value);
    } else {
        at[0] = static_cast<std::uint8_t>(value);
        at[1] = static_cast<std::uint8_t>(value >> 8);
        at[2] = static_cast<std::uint8_t>(value >> 16);
        at[3] = static_cast<std::uint8_t>(value >> 24);
    }
}
void append_u32(Bytes& out, std::uint32_t value);
// Appends a text's bytes at once: inserted from char iterators, they would
// be copied one by one.
inline void append_text(Bytes& out, std::string_view text) {
    const auto* const bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    out.insert(out.end(), bytes, bytes + text.size());
}

inline bool ByteReader::read_u16(std::uint16_t& value) {
    if (remaining() < 2) return false;
    value = load_u16(bytes_.data() + position_);
    position_ += 2;
    return true;
}
inline bool ByteReader::read_u32(std::uint32_t& value) {
    if (remaining() < 4) return false;
    value = load_u32(bytes_.data() + position_);
    position_ += 4;
    return true;
}

// Whether [offset, offset + length) lies within a buffer of the given size,
// without overflow.
constexpr bool extent_within(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace modtext
