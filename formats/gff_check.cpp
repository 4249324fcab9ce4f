#include <string>

#include "formats/gff_image.h"
#include "formats/locstring.h"

namespace modtext {

namespace {

std::string at_field(const char* what, std::size_t index) {
    return std::string(what) + " of field " + std::to_string(index);
}

bool indices_fit(ByteView block, std::uint64_t offset, std::uint64_t count, std::uint64_t limit) {
    if (!extent_within(offset, count * 4, block.size())) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (load_u32(block.data() + offset + 4 * i) >= limit) return false;
    }
    return true;
}

}  // namespace

std::uint64_t field_data_extent(const GffField& field, ByteView field_data) {
    if (!has_data_offset(field.type)) return 0;
    ByteReader reader(field_data);
    if (!reader.seek(field.data)) return 0;
    std::uint32_t length = 0;
    std::uint8_t short_length = 0;
    bool fits = false;
    switch (field.type) {
        case 6: case 7: case 9: fits = reader.skip(8); break;
        case 10: case 13: case 12:
            // A localized string's first word counts the bytes after it too.
            fits = reader.read_u32(length) && reader.skip(length);
            break;
        case 11: fits = reader.read_u8(short_length) && reader.skip(short_length); break;
        default: break;
    }
    return fits ? reader.position() - field.data : 0;
}

bool check_gff(const GffImage& image, std::string& why) {
    const std::uint64_t structs = image.structs.size() / gff_struct_size;
    const std::uint64_t fields = image.fields.size();
    for (std::size_t s = 0; s < structs; ++s) {
        const std::uint8_t* record = image.structs.data() + s * gff_struct_size;
        const std::uint32_t data = load_u32(record + 4), count = load_u32(record + 8);
        const bool fits = count == 1 ? data < fields
                        : count == 0 || indices_fit(image.field_indices, data, count, fields);
        if (!fits) {
            why = "field list of struct " + std::to_string(s) + " out of bounds";
            return false;
        }
    }
    for (std::size_t f = 0; f < image.fields.size(); ++f) {
        const GffField& field = image.fields[f];
        if (!image.has_label(field)) {
            why = at_field("label", f) + " out of bounds";
            return false;
        }
        bool fits = true;
        if (field.type == gff_type::loc_string) {
            fits = locstring_fits(image.field_data, field.data);
        } else if (field.type == 14) {
            fits = field.data < structs;
        } else if (field.type == 15) {
            ByteReader list(image.list_indices);
            std::uint32_t count = 0;
            fits = list.seek(field.data) && list.read_u32(count) &&
                   indices_fit(image.list_indices, std::uint64_t{field.data} + 4, count, structs);
        } else if (has_data_offset(field.type)) {
            fits = field_data_extent(field, image.field_data) > 0;
        }
        if (!fits) {
            why = at_field("data", f) + " out of bounds";
            return false;
        }
    }
    return true;
}

}  // namespace modtext
