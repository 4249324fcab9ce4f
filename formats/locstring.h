// The localized string: one text per language and gender, stored in a GFF
// field data block as a 12-byte head followed by its substrings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/byte_reader.h"

namespace modtext {

inline constexpr std::size_t locstring_head_size = 12;

struct LocSubstring {
    std::int32_t string_id = 0;
    ByteView text;  // the stored bytes, all of them
};

struct LocString {
    std::uint32_t total_size = 0;  // bytes of the record after this word
    std::uint32_t string_ref = 0;
    std::vector<LocSubstring> substrings;
};

// Reads the record at offset within the field data block; every substring
// must lie within the block. Fails with the reason in `why`.
bool read_locstring(ByteView field_data, std::uint32_t offset, LocString& out, std::string& why);

}  // namespace modtext
