// A GFF resource taken apart: its 56-byte header and six sections, each in
// a buffer of its own, checked to lie within the resource's bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/byte_reader.h"

namespace modtext {

inline constexpr std::size_t gff_header_size = 56;
inline constexpr std::size_t gff_struct_size = 12;
inline constexpr std::size_t gff_field_size = 12;
inline constexpr std::size_t gff_label_size = 16;

struct GffHeader {
    std::array<std::uint8_t, gff_header_size> raw{};

    // Words of the header by their byte offset (8 to 52).
    std::uint32_t word(std::size_t offset) const { return load_u32(&raw[offset]); }
    void set_word(std::size_t offset, std::uint32_t v) { store_u32(&raw[offset], v); }

    std::string_view type_letters() const {
        return std::string_view(reinterpret_cast<const char*>(raw.data()), 3);
    }
    std::uint32_t struct_offset() const { return word(8); }
    std::uint32_t struct_count() const { return word(12); }
    std::uint32_t field_offset() const { return word(16); }
    std::uint32_t field_count() const { return word(20); }
    std::uint32_t label_offset() const { return word(24); }
    std::uint32_t label_count() const { return word(28); }
    std::uint32_t field_data_offset() const { return word(32); }
    std::uint32_t field_data_size() const { return word(36); }
    std::uint32_t field_indices_offset() const { return word(40); }
    std::uint32_t field_indices_size() const { return word(44); }
    std::uint32_t list_indices_offset() const { return word(48); }
    std::uint32_t list_indices_size() const { return word(52); }
};

struct GffField {
    std::uint32_t type = 0;
    std::uint32_t label_index = 0;
    std::uint32_t data = 0;  // an offset into the field data for the complex types
};

namespace gff_type {
inline constexpr std::uint32_t exo_string = 10;
inline constexpr std::uint32_t loc_string = 12;
}  // namespace gff_type

// Field types whose third word is an offset into the field data block.
constexpr bool has_data_offset(std::uint32_t type) {
    return type == 6 || type == 7 || type == 9 || type == 10 || type == 11 || type == 12 ||
           type == 13;
}

// The sections are views into the resource's bytes, which outlive the image;
// only the field array, parsed, and a rebuilt field data block are its own.
struct GffImage {
    GffHeader header;
    ByteView structs;
    std::vector<GffField> fields;
    ByteView labels;
    ByteView field_data;
    ByteView field_indices;
    ByteView list_indices;
    Bytes rebuilt_field_data;  // what field_data views once strings are rebuilt

    GffImage() = default;
    // A copy views its own rebuilt block, never the original's.
    GffImage(const GffImage& other) { *this = other; }
    GffImage& operator=(const GffImage& other) {
        if (this == &other) return *this;
        header = other.header;
        structs = other.structs;
        fields = other.fields;
        labels = other.labels;
        field_indices = other.field_indices;
        list_indices = other.list_indices;
        rebuilt_field_data = other.rebuilt_field_data;
        const bool own = other.field_data.data() == other.rebuilt_field_data.data() &&
                         !other.rebuilt_field_data.empty();
        field_data = own ? ByteView(rebuilt_field_data) : other.field_data;
        return *this;
    }
    GffImage(GffImage&&) = default;
    GffImage& operator=(GffImage&&) = default;

    void set_field_data(Bytes block) {
        rebuilt_field_data = std::move(block);
        field_data = rebuilt_field_data;
    }

    // The label of a field up to its first zero byte, at most 16 bytes; empty
    // when the label index names no label.
    std::string_view label_of(const GffField& field) const;
    bool has_label(const GffField& field) const {
        return field.label_index < labels.size() / gff_label_size;
    }
};

// Loads the image from the resource's bytes through the reader, whose cursor
// it moves; the image views those bytes, which must outlive it. Fails, with
// the reason in `why`, when the header or a section does not lie within the
// bytes; the image is then left empty.
bool load_gff(GffImage& image, ByteReader& reader, std::string& why);

// Where a GFF's sections end, from its header alone, once each lies within
// the resource's declared size: a damaged resource is found out before it is
// read whole. Fails, with the reason as load_gff gives it, otherwise.
bool gff_extent(const GffHeader& header, std::uint64_t declared_size, std::uint64_t& extent,
                std::string& why);

// Empties the image; the header keeps its values.
void release_gff(GffImage& image);

// The field array as 12-byte little-endian records.
Bytes field_array_bytes(const std::vector<GffField>& fields);
// The same into out, whose memory is kept.
void field_array_bytes(const std::vector<GffField>& fields, Bytes& out);

// Sets every section offset of the header to where the section is written:
// after the header, back to back, in the order structs, fields, labels, field
// data, field indices, list indices. Returns the resource's total size.
std::uint64_t lay_out_gff(GffImage& image);

// The header and sections, as laid out, in the order they are written;
// field_array is the image's field array bytes, held by the caller.
std::array<ByteView, 7> gff_sections(const GffImage& image, ByteView field_array);

// The header and sections, as laid out, one after another.
template <typename Sink>
void write_gff(const GffImage& image, Sink&& write) {
    const Bytes field_array = field_array_bytes(image.fields);
    for (ByteView section : gff_sections(image, field_array)) write(section);
}

}  // namespace modtext

namespace modtext {

// How many bytes of the field data a field of a complex type takes from its
// offset, as its data says (length words included); 0 when its data does not
// lie within the block or its type has none there.
std::uint64_t field_data_extent(const GffField& field, ByteView field_data);

// Whether every struct, field, list and localized string of the image lies
// within its section: struct field lists within the field indices, fields'
// labels within the labels, every field's data within the field data, lists
// within the list indices, and every index naming a field or struct that
// exists. Labels may be empty. Fails with the first fault in `why`.
bool check_gff(const GffImage& image, std::string& why);

}  // namespace modtext
