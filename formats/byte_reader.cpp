#include "formats/byte_reader.h"

#include <algorithm>
#include <cstring>

namespace modtext {

bool ByteReader::read_bytes(std::span<std::uint8_t> destination) {
    ByteView source;
    if (!read_view(destination.size(), source)) return false;
    if (!source.empty()) std::memcpy(destination.data(), source.data(), source.size());
    return true;
}

ByteView ByteReader::read_line() {
    const auto rest = bytes_.subspan(position_);
    const void* feed = rest.empty() ? nullptr : std::memchr(rest.data(), '\n', rest.size());
    if (!feed) {
        position_ = bytes_.size();
        return rest;
    }
    std::size_t length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(feed) - rest.data());
    position_ += length + 1;
    if (length > 0 && rest[length - 1] == '\r') --length;
    return rest.first(length);
}

void append_u32(Bytes& out, std::uint32_t value) {
    std::uint8_t word[4];
    store_u32(word, value);
    out.insert(out.end(), word, word + 4);
}

}  // namespace modtext
