#include "formats/gff_image.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace modtext {

std::string_view GffImage::label_of(const GffField& field) const {
    const std::uint64_t start = std::uint64_t{field.label_index} * gff_label_size;
    if (!extent_within(start, gff_label_size, labels.size())) return {};
    const auto* begin = reinterpret_cast<const char*>(labels.data() + start);
    const auto* end = static_cast<const char*>(std::memchr(begin, 0, gff_label_size));
    return std::string_view(begin, end ? static_cast<std::size_t>(end - begin) : gff_label_size);
}

namespace {

bool load_section(ByteReader& reader, const char* name, std::uint32_t offset, std::uint64_t size,
                  ByteView& out, std::string& why) {
    if (!reader.seek(offset) || !reader.read_view(size, out)) {
        why = std::string(name) + " out of bounds";
        return false;
    }
    return true;
}

}  // namespace

namespace {

// The six sections a header places, in the order they are read and laid out.
struct SectionPlace {
    const char* name;
    std::uint64_t offset, size;
};
std::array<SectionPlace, 6> section_places(const GffHeader& h) {
    return {{{"struct array", h.struct_offset(), std::uint64_t{h.struct_count()} * gff_struct_size},
             {"field array", h.field_offset(), std::uint64_t{h.field_count()} * gff_field_size},
             {"label array", h.label_offset(), std::uint64_t{h.label_count()} * gff_label_size},
             {"field data", h.field_data_offset(), h.field_data_size()},
             {"field indices", h.field_indices_offset(), h.field_indices_size()},
             {"list indices", h.list_indices_offset(), h.list_indices_size()}}};
}

}  // namespace

bool load_gff(GffImage& image, ByteReader& reader, std::string& why) {
    release_gff(image);
    if (!reader.seek(0) || !reader.read_bytes(image.header.raw)) {
        why = "header cut short";
        return false;
    }
    ByteView fields;
    const std::array<ByteView*, 6> views{&image.structs,    &fields,
                                         &image.labels,     &image.field_data,
                                         &image.field_indices, &image.list_indices};
    const std::array<SectionPlace, 6> places = section_places(image.header);
    for (std::size_t k = 0; k < places.size(); ++k) {
        if (!load_section(reader, places[k].name, static_cast<std::uint32_t>(places[k].offset), places[k].size,
                          *views[k], why)) {
            release_gff(image);
            return false;
        }
    }
    image.fields.resize(image.header.field_count());
    for (std::size_t i = 0; i < image.fields.size(); ++i) {
        const std::uint8_t* record = &fields[i * gff_field_size];
        image.fields[i] = {load_u32(record), load_u32(record + 4), load_u32(record + 8)};
    }
    return true;
}

bool gff_extent(const GffHeader& h, std::uint64_t declared_size, std::uint64_t& extent,
                std::string& why) {
    if (declared_size < gff_header_size) {
        why = "header cut short";
        return false;
    }
    extent = gff_header_size;
    for (const SectionPlace& section : section_places(h)) {
        if (!extent_within(section.offset, section.size, declared_size)) {
            why = std::string(section.name) + " out of bounds";
            return false;
        }
        extent = std::max(extent, section.offset + section.size);
    }
    return true;
}

void release_gff(GffImage& image) {
    image.structs = {};
    image.fields.clear();
    image.labels = {};
    image.field_data = {};
    image.field_indices = {};
    image.list_indices = {};
    image.rebuilt_field_data.clear();  // its memory serves the next rebuild
}

std::array<ByteView, 7> gff_sections(const GffImage& image, ByteView field_array) {
    return {ByteView(image.header.raw), image.structs,       field_array,       image.labels,
            image.field_data,           image.field_indices, image.list_indices};
}

Bytes field_array_bytes(const std::vector<GffField>& fields) {
    Bytes out;
    field_array_bytes(fields, out);
    return out;
}

void field_array_bytes(const std::vector<GffField>& fields, Bytes& out) {
    out.resize(fields.size() * gff_field_size);
    std::uint8_t* at = out.data();
    for (const GffField& field : fields) {
        store_u32(at, field.type);
        store_u32(at + 4, field.label_index);
        store_u32(at + 8, field.data);
        at += gff_field_size;
    }
}

std::uint64_t lay_out_gff(GffImage& image) {
    GffHeader& h = image.header;
    std::uint64_t at = gff_header_size;
    const auto place = [&](std::size_t offset_word, std::size_t size) {
        h.set_word(offset_word, static_cast<std::uint32_t>(at));
        at += size;
    };
    place(8, image.structs.size());
    place(16, image.fields.size() * gff_field_size);
    place(24, image.labels.size());
    place(32, image.field_data.size());
    place(40, image.field_indices.size());
    place(48, image.list_indices.size());
    return at;
}

}  // namespace modtext
