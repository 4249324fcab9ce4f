// In-memory builders for module archives and GFF resources.
//
// The tests and the sample generator use these to make inputs with a known
// byte layout. The builders are written independently of the readers in
// formats/ so that a misunderstanding of the layout is not shared by both.
// All integers are written little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modtext::build {

using Bytes = std::vector<std::uint8_t>;

// Resource type numbers of the key list.
namespace restype {
inline constexpr std::uint16_t script = 2009;        // script source, plain text
inline constexpr std::uint16_t area = 2012;
inline constexpr std::uint16_t module_info = 2014;
inline constexpr std::uint16_t item_template = 2015;  // exported whatever the filter
inline constexpr std::uint16_t game_instance = 2023;
inline constexpr std::uint16_t conversation = 2029;
inline constexpr std::uint16_t creature_template = 2038;  // exported whatever the filter
inline constexpr std::uint16_t journal = 2056;
// Types the exporter passes over without a word.
inline constexpr std::uint16_t compiled_script = 2010;
inline constexpr std::uint16_t skipped_2025 = 2025;
inline constexpr std::uint16_t skipped_2027 = 2027;
inline constexpr std::uint16_t skipped_2030 = 2030;
inline constexpr std::uint16_t skipped_2044 = 2044;
inline constexpr std::uint16_t skipped_2046 = 2046;
inline constexpr std::uint16_t skipped_2058 = 2058;
inline constexpr std::array<std::uint16_t, 7> skipped = {2010, 2025, 2027, 2030,
                                                         2044, 2046, 2058};
// A type the exporter does not know and reports.
inline constexpr std::uint16_t unknown = 2017;
}  // namespace restype

// ---------------------------------------------------------------------------
// Localized strings

struct LocSub {
    std::int32_t id;   // string id: 2 * language + gender
    std::string text;  // stored exactly; no terminator is added
};

// u32 total size (bytes after this word), u32 string ref, u32 substring
// count, then per substring: i32 id, u32 length, the text bytes.
Bytes locstring_bytes(std::uint32_t strref, const std::vector<LocSub>& subs);

// ---------------------------------------------------------------------------
// GFF tree

enum class GffType : std::uint32_t {
    Byte = 0,
    Char = 1,
    Word = 2,
    Short = 3,
    Dword = 4,
    Int = 5,
    Dword64 = 6,
    Int64 = 7,
    Float = 8,
    Double = 9,
    ExoString = 10,
    ResRef = 11,
    LocString = 12,
    Void = 13,
    Struct = 14,
    List = 15,
};

struct GffField;

struct GffStruct {
    std::uint32_t type = 0;
    std::vector<GffField> fields;
};

struct GffField {
    std::string label;  // at most 16 bytes; 16 bytes are stored without a zero
    GffType type = GffType::Dword;
    // Types 0-5 and 8: the third word of the record as is.
    // Types 6, 7, 9: the eight bytes stored in field data.
    std::uint64_t number = 0;
    // Types 10, 11, 13: the payload after the length prefix.
    std::string bytes;
    // Set by raw_word() and raw_bytes(): the third word is the low 32 bits of
    // `number` (types 0-5, 8, 14, 15) or the field data is exactly `bytes`
    // with no prefix (types 6, 7, 9-13); children are ignored. This makes
    // malformed records possible.
    bool raw = false;
    // Type 12.
    std::uint32_t strref = 0xFFFFFFFFu;
    std::vector<LocSub> subs;
    // Type 14: exactly one child. Type 15: the list's elements.
    std::vector<GffStruct> children;

    static GffField byte(std::string label, std::uint8_t v);
    static GffField character(std::string label, std::int8_t v);
    static GffField word(std::string label, std::uint16_t v);
    static GffField short_int(std::string label, std::int16_t v);
    static GffField dword(std::string label, std::uint32_t v);
    static GffField integer(std::string label, std::int32_t v);
    static GffField dword64(std::string label, std::uint64_t v);
    static GffField int64(std::string label, std::int64_t v);
    static GffField float32(std::string label, float v);
    static GffField float64(std::string label, double v);
    static GffField exo_string(std::string label, std::string text);
    static GffField resref(std::string label, std::string name);  // up to 255 bytes
    static GffField loc_string(std::string label, std::uint32_t strref,
                               std::vector<LocSub> subs);
    static GffField void_data(std::string label, std::string data);
    static GffField structure(std::string label, GffStruct child);
    static GffField list(std::string label, std::vector<GffStruct> elements);
    // A field of any type whose third word is `word` (types 0-5, 8, 14, 15)
    // or whose field data is exactly `data` (types 6, 7, 9-13).
    static GffField raw_word(std::string label, GffType type, std::uint32_t word);
    static GffField raw_bytes(std::string label, GffType type, std::string data);
};

// The six sections of a GFF resource, each as the bytes that are stored.
// Counts in the header follow from the sizes (12 bytes per struct and field
// record, 16 per label).
struct GffSections {
    Bytes structs;
    Bytes fields;
    Bytes labels;
    Bytes field_data;
    Bytes field_indices;
    Bytes list_indices;
};

enum class GffSection { Structs, Fields, Labels, FieldData, FieldIndices, ListIndices };

struct GffLayout {
    // Storage order of the sections after the 56-byte header.
    std::array<GffSection, 6> order = {GffSection::Structs,   GffSection::Fields,
                                       GffSection::Labels,    GffSection::FieldData,
                                       GffSection::FieldIndices, GffSection::ListIndices};
    // Filler bytes put between two consecutive sections.
    std::uint32_t gap = 0;
    std::uint8_t gap_byte = 0xEE;
};

// Flattens a tree breadth-first: struct 0 is `top`; the fields of each struct
// get consecutive field indices in the struct's own order; child structs are
// numbered in the order they are met. Labels are deduplicated in order of
// first use; field data, field indices and list indices grow in field order.
// Throws std::invalid_argument for a label over 16 bytes or a resref over
// 255 bytes, or a Struct field without exactly one child.
GffSections gff_sections(const GffStruct& top);

// Header (type and version: 8 bytes, padded with spaces or cut) + sections.
Bytes gff_assemble(const GffSections& sections, std::string_view type_and_version,
                   const GffLayout& layout = {});

Bytes gff_bytes(const GffStruct& top, std::string_view type_and_version,
                const GffLayout& layout = {});

// ---------------------------------------------------------------------------
// Module archive

struct ModuleResource {
    std::string name;  // up to 16 bytes, zero padded; 16 bytes have no zero
    std::uint16_t type = 0;
    Bytes bytes;
    std::uint32_t id = 0;
    std::uint16_t spare = 0;  // the key entry's last two bytes
};

struct ModuleOptions {
    std::string version = "V1.0";  // bytes 4..7, padded with spaces or cut
    std::uint32_t language_count = 0;  // bytes 8..11
    std::uint32_t build_year = 124;    // bytes 32..35
    std::uint32_t build_day = 200;     // bytes 36..39
    Bytes locstring_block;             // stored at its offset as is
    Bytes after_header;                // filler between header and block
    Bytes between_tables;              // filler between key list and resource list
    bool reverse_order = false;        // store resource bytes last index first
    std::uint32_t resource_gap = 0;    // filler bytes between stored resources
    std::uint8_t gap_byte = 0xCC;
    std::optional<std::int32_t> entry_count;  // header value instead of the real count
};

// Header (160 bytes: "MOD ", version, then the fields at 12..31), filler,
// localized-string block, key list (24 bytes each), filler, resource list
// (8 bytes each), then the resources. Throws std::invalid_argument for a
// name over 16 bytes.
Bytes module_bytes(const std::vector<ModuleResource>& resources,
                   const ModuleOptions& options = {});

// A deterministic synthetic module of a few tens of resources covering every
// resource class the exporter knows (see modgen). The same seed gives the
// same bytes on every platform. An edge module's English texts also hold
// one-character texts, a lone space, literal bars and carriage returns.
Bytes synthetic_module(std::uint64_t seed, bool edge = false);

// A module of about `megabytes` MB with the proportions of a big one. A dense
// module is mostly conversations; in a sparse one compiled data and area
// tiles outweigh the text several times.
enum class Density { dense, sparse };
Bytes large_module(std::uint64_t seed, std::uint64_t megabytes, Density density);

// ---------------------------------------------------------------------------
// Small helpers

void put_u16(Bytes& out, std::uint16_t v);
void put_u32(Bytes& out, std::uint32_t v);
void put_u64(Bytes& out, std::uint64_t v);
void put_str(Bytes& out, std::string_view s);
std::uint32_t get_u32(const Bytes& in, std::size_t at);
Bytes to_bytes(std::string_view s);

// Throws std::runtime_error when the file cannot be written whole.
void write_file(const std::string& path, const Bytes& bytes);

}  // namespace modtext::build
