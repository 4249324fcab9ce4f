#include "formats/byte_reader.h"

#include <algorithm>
#include <cstring>

namespace modtext {

bool ByteReader::seek(std::uint64_t position) {
    if (position > bytes_.size()) return false;
    position_ = static_cast<std::size_t>(position);
    return true;
}

bool ByteReader::skip(std::uint64_t count) {
    if (count > remaining()) return false;
    position_ += static_cast<std::size_t>(count);
    return true;
}

bool ByteReader::read_view(std::uint64_t count, ByteView& out) {
    if (count > remaining()) return false;
    out = bytes_.subspan(position_, static_cast<std::size_t>(count));
    position_ += static_cast<std::size_t>(count);
    return true;
}

bool ByteReader::read_bytes(std::span<std::uint8_t> destination) {
    ByteView source;
    if (!read_view(destination.size(), source)) return false;
    if (!source.empty()) std::memcpy(destination.data(), source.data(), source.size());
    return true;
}

bool ByteReader::read_u8(std::uint8_t& value) {
    if (remaining() < 1) return false;
    value = bytes_[position_++];
    return true;
}

bool ByteReader::read_u16(std::uint16_t& value) {
    if (remaining() < 2) return false;
    value = load_u16(bytes_.data() + position_);
    position_ += 2;
    return true;
}

bool ByteReader::read_u32(std::uint32_t& value) {
    if (remaining() < 4) return false;
    value = load_u32(bytes_.data() + position_);
    position_ += 4;
    return true;
}

bool ByteReader::read_i32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!read_u32(raw)) return false;
    value = static_cast<std::int32_t>(raw);
    return true;
}

ByteView ByteReader::read_line() {
    const auto rest = bytes_.subspan(position_);
    const auto feed = std::find(rest.begin(), rest.end(), std::uint8_t{'\n'});
    if (feed == rest.end()) {
        position_ = bytes_.size();
        return rest;
    }
    std::size_t length = static_cast<std::size_t>(feed - rest.begin());
    position_ += length + 1;
    if (length > 0 && rest[length - 1] == '\r') --length;
    return rest.first(length);
}

std::uint16_t load_u16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t load_u32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void store_u32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

void append_u32(Bytes& out, std::uint32_t value) {
    std::uint8_t word[4];
    store_u32(word, value);
    out.insert(out.end(), word, word + 4);
}

}  // namespace modtext
