// The localized string: one text per language and gender, stored in a GFF
// field data block as a 12-byte head followed by its substrings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
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

// A record written into room made for it, `size` bytes in all: its head,
// then each substring in turn. A substring is its id, its length and its
// text, and a text written anew is ended by a NUL. Each gives the byte
// after what it wrote.
constexpr std::size_t substring_record_size(std::size_t text_size, bool terminated) {
    return 8 + text_size + (terminated ? 1 : 0);
}
inline std::uint8_t* store_locstring_head(std::uint8_t* at, std::size_t size, std::uint32_t string_ref,
                                          std::uint32_t count) {
    store_u32(at, static_cast<std::uint32_t>(size - 4));
    store_u32(at + 4, string_ref);
    store_u32(at + 8, count);
    return at + locstring_head_size;
}
inline std::uint8_t* store_substring(std::uint8_t* at, std::int32_t string_id, std::string_view text,
                                     bool terminated) {
    store_u32(at, static_cast<std::uint32_t>(string_id));
    store_u32(at + 4, static_cast<std::uint32_t>(text.size() + (terminated ? 1 : 0)));
    if (!text.empty()) std::memcpy(at + 8, text.data(), text.size());
    at += 8 + text.size();
    if (terminated) *at++ = 0;
    return at;
}

}  // namespace modtext

namespace modtext {

struct GffImage;

// Whether the record at offset and all its substrings lie within its own
// length and the block, read without keeping anything.
bool locstring_fits(ByteView field_data, std::uint32_t offset);

// The length of the record at offset (its total size + 4), when its head and
// its whole length lie within the field data block.
bool locstring_extent(ByteView field_data, std::uint32_t offset, std::uint64_t& length);

// One rebuilt field: the new record for the old one at position. The
// record's bytes are held by the caller.
struct FieldSplice {
    std::size_t field = 0;
    std::uint32_t position = 0;
    std::uint32_t old_length = 0;
    ByteView record;
};

// Where a field's data lies in the field data block.
struct DataExtent {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// Memory for splicing one resource's strings, kept from one resource to the
// next, so that a module's worth of splices does not take memory from the
// system and give it back each time.
struct SpliceMemory {
    Bytes records;  // the new records, back to back
    std::vector<FieldSplice> splices;
    std::vector<std::size_t> starts;  // of each record within records
    std::vector<DataExtent> extents;
    std::vector<std::uint64_t> furthest;
    std::vector<const FieldSplice*> in_place;
    std::vector<const FieldSplice*> appended;
    std::vector<std::uint32_t> positions;
    std::vector<std::uint32_t> shifts;
    Bytes block;  // the next field data block
    LocString source;  // the source string of the field being rebuilt
};

// Puts every new record into the image's field data block in one pass, the
// splices given in ascending field order with the offsets as loaded. Each
// record replaces its old one in place, and every data offset behind it moves
// by the difference in length; but a record whose old bytes another field
// also points into is appended at the end of the block instead, leaving the
// old bytes to the others. Fails when the block would outgrow 32 bits.
bool splice_field_data(GffImage& image, const std::vector<FieldSplice>& splices,
                       SpliceMemory& memory);
bool splice_field_data(GffImage& image, const std::vector<FieldSplice>& splices);

}  // namespace modtext
