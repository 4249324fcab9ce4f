// The one way resource and table bytes are read: a cursor over a buffer whose
// every read is checked against the buffer's end, whatever a file claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
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
    [[nodiscard]] bool seek(std::uint64_t position);
    [[nodiscard]] bool skip(std::uint64_t count);

    // Each read either takes all it asks for and advances, or fails and
    // leaves the cursor and the destination as they were.
    [[nodiscard]] bool read_bytes(std::span<std::uint8_t> destination);
    [[nodiscard]] bool read_view(std::uint64_t count, ByteView& out);
    [[nodiscard]] bool read_u8(std::uint8_t& value);
    [[nodiscard]] bool read_u16(std::uint16_t& value);
    [[nodiscard]] bool read_u32(std::uint32_t& value);
    [[nodiscard]] bool read_i32(std::int32_t& value);

    // The line that starts at the cursor, without its line end (a line feed,
    // or a carriage return and line feed); the cursor moves past the line
    // end. A last line without line end is taken whole.
    ByteView read_line();

private:
    ByteView bytes_;
    std::size_t position_ = 0;
};

// Little-endian helpers for fixed-size records held in memory.
std::uint16_t load_u16(const std::uint8_t* at);
std::uint32_t load_u32(const std::uint8_t* at);
void store_u32(std::uint8_t* at, std::uint32_t value);
void append_u32(Bytes& out, std::uint32_t value);

// Whether [offset, offset + length) lies within a buffer of the given size,
// without overflow.
constexpr bool extent_within(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace modtext
