#include "tools/modbuild.h"

#include <bit>
#include <fstream>
#include <limits>
#include <map>
#include <stdexcept>

namespace modtext::build {

namespace {

constexpr std::size_t kGffHeaderSize = 56;
constexpr std::size_t kModuleHeaderSize = 160;
constexpr std::size_t kLabelSize = 16;
constexpr std::size_t kNameSize = 16;

// Every size and offset in both formats is a 32-bit word; anything larger
// cannot be represented, so refuse it rather than wrap silently.
std::uint32_t u32(std::size_t v) {
    if (v > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("value does not fit in 32 bits");
    }
    return static_cast<std::uint32_t>(v);
}

void put_padded(Bytes& out, std::string_view s, std::size_t width, char pad) {
    for (std::size_t i = 0; i < width; ++i) {
        const char c = i < s.size() ? s[i] : pad;
        out.push_back(static_cast<std::uint8_t>(c));
    }
}

void set_u32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu);
    }
}

bool has_field_data(GffType t) {
    switch (t) {
        case GffType::Dword64:
        case GffType::Int64:
        case GffType::Double:
        case GffType::ExoString:
        case GffType::ResRef:
        case GffType::LocString:
        case GffType::Void:
            return true;
        default:
            return false;
    }
}

GffField simple(std::string label, GffType type, std::uint64_t number) {
    GffField f;
    f.label = std::move(label);
    f.type = type;
    f.number = number;
    return f;
}

GffField with_bytes(std::string label, GffType type, std::string data) {
    GffField f;
    f.label = std::move(label);
    f.type = type;
    f.bytes = std::move(data);
    return f;
}

// The payload a field stores in the field data block.
void put_field_data(Bytes& out, const GffField& f) {
    if (f.raw) {
        put_str(out, f.bytes);
        return;
    }
    switch (f.type) {
        case GffType::Dword64:
        case GffType::Int64:
        case GffType::Double:
            put_u64(out, f.number);
            break;
        case GffType::ExoString:
        case GffType::Void:
            put_u32(out, u32(f.bytes.size()));
            put_str(out, f.bytes);
            break;
        case GffType::ResRef:
            if (f.bytes.size() > 255) {
                throw std::invalid_argument("resref longer than 255 bytes: " + f.label);
            }
            out.push_back(static_cast<std::uint8_t>(f.bytes.size()));
            put_str(out, f.bytes);
            break;
        case GffType::LocString: {
            const Bytes loc = locstring_bytes(f.strref, f.subs);
            out.insert(out.end(), loc.begin(), loc.end());
            break;
        }
        default:
            break;
    }
}

}  // namespace

// ---------------------------------------------------------------------------

void put_u16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
}

void put_u32(Bytes& out, std::uint32_t v) {
    for (unsigned i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu));
    }
}

void put_u64(Bytes& out, std::uint64_t v) {
    for (unsigned i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFu));
    }
}

void put_str(Bytes& out, std::string_view s) {
    for (const char c : s) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
}

std::uint32_t get_u32(const Bytes& in, std::size_t at) {
    if (at + 4 > in.size()) {
        throw std::out_of_range("read past the end of the bytes");
    }
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
    }
    return v;
}

Bytes to_bytes(std::string_view s) {
    Bytes out;
    put_str(out, s);
    return out;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot create " + path);
    }
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

// ---------------------------------------------------------------------------

Bytes locstring_bytes(std::uint32_t strref, const std::vector<LocSub>& subs) {
    std::size_t total = 8;
    for (const LocSub& s : subs) {
        total += 8 + s.text.size();
    }
    Bytes out;
    out.reserve(total + 4);
    put_u32(out, u32(total));
    put_u32(out, strref);
    put_u32(out, u32(subs.size()));
    for (const LocSub& s : subs) {
        put_u32(out, static_cast<std::uint32_t>(s.id));
        put_u32(out, u32(s.text.size()));
        put_str(out, s.text);
    }
    return out;
}

// ---------------------------------------------------------------------------

GffField GffField::byte(std::string label, std::uint8_t v) {
    return simple(std::move(label), GffType::Byte, v);
}
GffField GffField::character(std::string label, std::int8_t v) {
    return simple(std::move(label), GffType::Char, static_cast<std::uint8_t>(v));
}
GffField GffField::word(std::string label, std::uint16_t v) {
    return simple(std::move(label), GffType::Word, v);
}
GffField GffField::short_int(std::string label, std::int16_t v) {
    return simple(std::move(label), GffType::Short, static_cast<std::uint16_t>(v));
}
GffField GffField::dword(std::string label, std::uint32_t v) {
    return simple(std::move(label), GffType::Dword, v);
}
GffField GffField::integer(std::string label, std::int32_t v) {
    return simple(std::move(label), GffType::Int, static_cast<std::uint32_t>(v));
}
GffField GffField::dword64(std::string label, std::uint64_t v) {
    return simple(std::move(label), GffType::Dword64, v);
}
GffField GffField::int64(std::string label, std::int64_t v) {
    return simple(std::move(label), GffType::Int64, static_cast<std::uint64_t>(v));
}
GffField GffField::float32(std::string label, float v) {
    return simple(std::move(label), GffType::Float, std::bit_cast<std::uint32_t>(v));
}
GffField GffField::float64(std::string label, double v) {
    return simple(std::move(label), GffType::Double, std::bit_cast<std::uint64_t>(v));
}
GffField GffField::exo_string(std::string label, std::string text) {
    return with_bytes(std::move(label), GffType::ExoString, std::move(text));
}
GffField GffField::resref(std::string label, std::string name) {
    return with_bytes(std::move(label), GffType::ResRef, std::move(name));
}
GffField GffField::loc_string(std::string label, std::uint32_t strref,
                              std::vector<LocSub> subs) {
    GffField f;
    f.label = std::move(label);
    f.type = GffType::LocString;
    f.strref = strref;
    f.subs = std::move(subs);
    return f;
}
GffField GffField::void_data(std::string label, std::string data) {
    return with_bytes(std::move(label), GffType::Void, std::move(data));
}
GffField GffField::structure(std::string label, GffStruct child) {
    GffField f;
    f.label = std::move(label);
    f.type = GffType::Struct;
    f.children.push_back(std::move(child));
    return f;
}
GffField GffField::list(std::string label, std::vector<GffStruct> elements) {
    GffField f;
    f.label = std::move(label);
    f.type = GffType::List;
    f.children = std::move(elements);
    return f;
}
GffField GffField::raw_word(std::string label, GffType type, std::uint32_t w) {
    GffField f = simple(std::move(label), type, w);
    f.raw = true;
    return f;
}
GffField GffField::raw_bytes(std::string label, GffType type, std::string data) {
    GffField f = with_bytes(std::move(label), type, std::move(data));
    f.raw = true;
    return f;
}

// ---------------------------------------------------------------------------

GffSections gff_sections(const GffStruct& top) {
    GffSections out;
    std::vector<const GffStruct*> queue{&top};
    std::map<std::string, std::uint32_t> label_index;
    std::uint32_t label_count = 0;
    std::uint32_t field_count = 0;

    // The queue grows while it is walked: children are numbered when their
    // parent's field is written, which gives breadth-first struct indices.
    for (std::size_t si = 0; si < queue.size(); ++si) {
        const GffStruct& s = *queue[si];
        const std::uint32_t n = u32(s.fields.size());
        const std::uint32_t first = field_count;

        put_u32(out.structs, s.type);
        if (n == 0) {
            put_u32(out.structs, 0xFFFFFFFFu);
        } else if (n == 1) {
            put_u32(out.structs, first);
        } else {
            put_u32(out.structs, u32(out.field_indices.size()));
            for (std::uint32_t k = 0; k < n; ++k) {
                put_u32(out.field_indices, first + k);
            }
        }
        put_u32(out.structs, n);

        for (const GffField& f : s.fields) {
            if (f.label.size() > kLabelSize) {
                throw std::invalid_argument("label longer than 16 bytes: " + f.label);
            }
            auto [it, added] = label_index.try_emplace(f.label, label_count);
            if (added) {
                put_padded(out.labels, f.label, kLabelSize, '\0');
                ++label_count;
            }

            std::uint32_t third = 0;
            if (has_field_data(f.type)) {
                third = u32(out.field_data.size());
                put_field_data(out.field_data, f);
            } else if (f.raw) {
                third = static_cast<std::uint32_t>(f.number);
            } else if (f.type == GffType::Struct) {
                if (f.children.size() != 1) {
                    throw std::invalid_argument("struct field needs one child: " + f.label);
                }
                third = u32(queue.size());
                queue.push_back(&f.children.front());
            } else if (f.type == GffType::List) {
                third = u32(out.list_indices.size());
                put_u32(out.list_indices, u32(f.children.size()));
                for (const GffStruct& child : f.children) {
                    put_u32(out.list_indices, u32(queue.size()));
                    queue.push_back(&child);
                }
            } else {
                third = static_cast<std::uint32_t>(f.number);
            }

            put_u32(out.fields, static_cast<std::uint32_t>(f.type));
            put_u32(out.fields, it->second);
            put_u32(out.fields, third);
            ++field_count;
        }
    }
    return out;
}

Bytes gff_assemble(const GffSections& sections, std::string_view type_and_version,
                   const GffLayout& layout) {
    auto section_bytes = [&](GffSection s) -> const Bytes& {
        switch (s) {
            case GffSection::Structs: return sections.structs;
            case GffSection::Fields: return sections.fields;
            case GffSection::Labels: return sections.labels;
            case GffSection::FieldData: return sections.field_data;
            case GffSection::FieldIndices: return sections.field_indices;
            case GffSection::ListIndices: break;
        }
        return sections.list_indices;
    };

    Bytes out;
    put_padded(out, type_and_version, 8, ' ');
    out.resize(kGffHeaderSize, 0);

    std::array<std::uint32_t, 6> offset{};
    for (std::size_t i = 0; i < layout.order.size(); ++i) {
        if (i > 0) {
            out.insert(out.end(), layout.gap, layout.gap_byte);
        }
        const GffSection s = layout.order[i];
        offset[static_cast<std::size_t>(s)] = u32(out.size());
        const Bytes& b = section_bytes(s);
        out.insert(out.end(), b.begin(), b.end());
    }

    auto off = [&](GffSection s) { return offset[static_cast<std::size_t>(s)]; };
    set_u32(out, 8, off(GffSection::Structs));
    set_u32(out, 12, u32(sections.structs.size() / 12));
    set_u32(out, 16, off(GffSection::Fields));
    set_u32(out, 20, u32(sections.fields.size() / 12));
    set_u32(out, 24, off(GffSection::Labels));
    set_u32(out, 28, u32(sections.labels.size() / kLabelSize));
    set_u32(out, 32, off(GffSection::FieldData));
    set_u32(out, 36, u32(sections.field_data.size()));
    set_u32(out, 40, off(GffSection::FieldIndices));
    set_u32(out, 44, u32(sections.field_indices.size()));
    set_u32(out, 48, off(GffSection::ListIndices));
    set_u32(out, 52, u32(sections.list_indices.size()));
    return out;
}

Bytes gff_bytes(const GffStruct& top, std::string_view type_and_version,
                const GffLayout& layout) {
    return gff_assemble(gff_sections(top), type_and_version, layout);
}

// ---------------------------------------------------------------------------

Bytes module_bytes(const std::vector<ModuleResource>& resources,
                   const ModuleOptions& options) {
    const std::size_t n = resources.size();
    const std::size_t block_offset = kModuleHeaderSize + options.after_header.size();
    const std::size_t key_offset = block_offset + options.locstring_block.size();
    const std::size_t list_offset = key_offset + 24 * n + options.between_tables.size();
    const std::size_t data_offset = list_offset + 8 * n;

    // Where each resource goes, in storage order.
    std::vector<std::size_t> stored(n);
    for (std::size_t i = 0; i < n; ++i) {
        stored[i] = options.reverse_order ? n - 1 - i : i;
    }
    std::vector<std::size_t> res_offset(n);
    std::size_t pos = data_offset;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) {
            pos += options.resource_gap;
        }
        res_offset[stored[k]] = pos;
        pos += resources[stored[k]].bytes.size();
    }

    Bytes out;
    out.reserve(pos);
    put_str(out, "MOD ");
    put_padded(out, options.version, 4, ' ');
    put_u32(out, options.language_count);
    put_u32(out, u32(options.locstring_block.size()));
    put_u32(out, static_cast<std::uint32_t>(
                     options.entry_count.value_or(static_cast<std::int32_t>(u32(n)))));
    put_u32(out, u32(block_offset));
    put_u32(out, u32(key_offset));
    put_u32(out, u32(list_offset));
    put_u32(out, options.build_year);
    put_u32(out, options.build_day);
    out.resize(kModuleHeaderSize, 0);

    out.insert(out.end(), options.after_header.begin(), options.after_header.end());
    out.insert(out.end(), options.locstring_block.begin(), options.locstring_block.end());

    for (const ModuleResource& r : resources) {
        if (r.name.size() > kNameSize) {
            throw std::invalid_argument("resource name longer than 16 bytes: " + r.name);
        }
        put_padded(out, r.name, kNameSize, '\0');
        put_u32(out, r.id);
        put_u16(out, r.type);
        put_u16(out, r.spare);
    }
    out.insert(out.end(), options.between_tables.begin(), options.between_tables.end());

    for (std::size_t i = 0; i < n; ++i) {
        put_u32(out, u32(res_offset[i]));
        put_u32(out, u32(resources[i].bytes.size()));
    }

    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) {
            out.insert(out.end(), options.resource_gap, options.gap_byte);
        }
        const Bytes& b = resources[stored[k]].bytes;
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

}  // namespace modtext::build
