// The builders are the ground truth of many other tests, so their output is
// checked here against byte sequences written out by hand.
#include "tools/modbuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>

namespace {

using namespace modtext::build;
using B = std::vector<std::uint8_t>;

B slice(const B& b, std::size_t at, std::size_t n) {
    return B(b.begin() + static_cast<std::ptrdiff_t>(at),
             b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

std::uint32_t rd32(const B& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t rd16(const B& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// One struct: DWORD "Count" = 0x01020304 and a localized string "Greeting"
// with a two-byte English text and a French feminine text ending in a zero.
GffStruct tiny_tree() {
    return GffStruct{0xFFFFFFFFu,
                     {GffField::dword("Count", 0x01020304u),
                      GffField::loc_string("Greeting", 7,
                                           {{0, "Hi"}, {3, std::string("Oui\0", 4)}})}};
}

const B kTinyStructs = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 2, 0, 0, 0};
const B kTinyFields = {4,  0, 0, 0, 0, 0, 0, 0, 0x04, 0x03, 0x02, 0x01,
                       12, 0, 0, 0, 1, 0, 0, 0, 0,    0,    0,    0};
const B kTinyLabels = {'C', 'o', 'u', 'n', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                       'G', 'r', 'e', 'e', 't', 'i', 'n', 'g', 0, 0, 0, 0, 0, 0, 0, 0};
const B kTinyFieldData = {
    30, 0, 0, 0,  // bytes after this word: 8 + (8 + 2) + (8 + 4)
    7,  0, 0, 0,  // string reference
    2,  0, 0, 0,  // substrings
    0,  0, 0, 0, 2, 0, 0, 0, 'H', 'i',
    3,  0, 0, 0, 4, 0, 0, 0, 'O', 'u', 'i', 0,
};
const B kTinyFieldIndices = {0, 0, 0, 0, 1, 0, 0, 0};

TEST(GffBuilder, TinyResourceIsByteExact) {
    B expected = {'D', 'L', 'G', ' ', 'V', '3', '.', '2',
                  56,  0,   0,   0,   1,   0,   0,   0,   // structs at 56, one
                  68,  0,   0,   0,   2,   0,   0,   0,   // fields at 68, two
                  92,  0,   0,   0,   2,   0,   0,   0,   // labels at 92, two
                  124, 0,   0,   0,   34,  0,   0,   0,   // field data at 124, 34 bytes
                  158, 0,   0,   0,   8,   0,   0,   0,   // field indices at 158, 8 bytes
                  166, 0,   0,   0,   0,   0,   0,   0};  // list indices at 166, empty
    for (const B* part : {&kTinyStructs, &kTinyFields, &kTinyLabels, &kTinyFieldData,
                          &kTinyFieldIndices}) {
        expected.insert(expected.end(), part->begin(), part->end());
    }
    EXPECT_EQ(gff_bytes(tiny_tree(), "DLG V3.2"), expected);
}

TEST(GffBuilder, SectionsMayBeReorderedAndSpaced) {
    const B plain = gff_bytes(tiny_tree(), "DLG V3.2");
    GffLayout layout;
    layout.order = {GffSection::FieldData, GffSection::Structs,      GffSection::Fields,
                    GffSection::Labels,    GffSection::FieldIndices, GffSection::ListIndices};
    layout.gap = 3;
    const B odd = gff_bytes(tiny_tree(), "DLG V3.2", layout);

    ASSERT_EQ(odd.size(), 181u);  // 166 + five gaps of 3
    EXPECT_EQ(rd32(odd, 32), 56u);   // field data first
    EXPECT_EQ(rd32(odd, 8), 93u);    // 56 + 34 + 3
    EXPECT_EQ(rd32(odd, 16), 108u);  // 93 + 12 + 3
    EXPECT_EQ(rd32(odd, 24), 135u);  // 108 + 24 + 3
    EXPECT_EQ(rd32(odd, 40), 170u);  // 135 + 32 + 3
    EXPECT_EQ(rd32(odd, 48), 181u);  // 170 + 8 + 3, empty
    EXPECT_EQ(slice(odd, 90, 3), B(3, 0xEE));
    // Counts and sizes do not depend on the layout.
    for (std::size_t at : {12u, 20u, 28u, 36u, 44u, 52u}) {
        EXPECT_EQ(rd32(odd, at), rd32(plain, at)) << "header word at " << at;
    }
    EXPECT_EQ(slice(odd, 56, 34), slice(plain, 124, 34));
    EXPECT_EQ(slice(odd, 93, 12), slice(plain, 56, 12));
    EXPECT_EQ(slice(odd, 108, 24), slice(plain, 68, 24));
    EXPECT_EQ(slice(odd, 135, 32), slice(plain, 92, 32));
    EXPECT_EQ(slice(odd, 170, 8), slice(plain, 158, 8));
}

TEST(GffBuilder, NestedStructsAreNumberedBreadthFirst) {
    // top { L: list [A { x: byte 5 }, B {}], S: struct C { y: dword 9, x: dword 6 } }
    const GffStruct top{
        0xFFFFFFFFu,
        {GffField::list("L", {GffStruct{10, {GffField::byte("x", 5)}}, GffStruct{11, {}}}),
         GffField::structure("S", GffStruct{12, {GffField::dword("y", 9),
                                                  GffField::dword("x", 6)}})}};
    const GffSections s = gff_sections(top);

    EXPECT_EQ(s.structs, (B{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 2, 0, 0, 0,   // top: indices at 0
                             10, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,              // A: field 2 itself
                             11, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,  // B: no field
                             12, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0}));           // C: indices at 8
    EXPECT_EQ(s.fields, (B{15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    // L -> list indices 0
                            14, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0,    // S -> struct 3
                            0,  0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0,    // A.x
                            4,  0, 0, 0, 3, 0, 0, 0, 9, 0, 0, 0,    // C.y
                            4,  0, 0, 0, 2, 0, 0, 0, 6, 0, 0, 0})); // C.x shares label 2
    EXPECT_EQ(s.labels.size(), 4u * 16u);
    EXPECT_EQ(s.field_indices, (B{0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}));
    EXPECT_EQ(s.list_indices, (B{2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_TRUE(s.field_data.empty());
}

TEST(GffBuilder, FieldDataPayloads) {
    const GffStruct top{0,
                        {GffField::exo_string("s", "ab"), GffField::resref("r", "xyz"),
                         GffField::void_data("v", std::string("\0\1", 2)),
                         GffField::dword64("d", 0x0102030405060708ull),
                         GffField::float32("f", 1.0f),
                         GffField::raw_bytes("bad", GffType::LocString, std::string("\x50\0\0\0", 4))}};
    const GffSections s = gff_sections(top);
    EXPECT_EQ(s.field_data, (B{2, 0, 0, 0, 'a', 'b',                     // at 0
                                3, 'x', 'y', 'z',                         // at 6
                                2, 0, 0, 0, 0, 1,                         // at 10
                                8, 7, 6, 5, 4, 3, 2, 1,                   // at 16
                                0x50, 0, 0, 0}));                         // at 24, as given
    const std::size_t offsets[] = {0, 6, 10, 16};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(rd32(s.fields, 12 * k + 8), offsets[k]) << "field " << k;
    }
    EXPECT_EQ(rd32(s.fields, 12 * 4 + 8), 0x3F800000u);  // float bits in the record
    EXPECT_EQ(rd32(s.fields, 12 * 5 + 8), 24u);
}

TEST(GffBuilder, RefusesWhatCannotBeStored) {
    const GffStruct long_label{0, {GffField::byte("seventeen_chars__", 1)}};
    EXPECT_THROW(gff_sections(long_label), std::invalid_argument);
    const GffStruct exact{0, {GffField::byte("sixteen_chars___", 1)}};
    const GffSections s = gff_sections(exact);
    EXPECT_EQ(s.labels, modtext::build::to_bytes("sixteen_chars___"));  // no terminator
}

TEST(LocStringBuilder, StoresTextsExactly) {
    const B got = locstring_bytes(0xFFFFFFFFu, {{2, "Hello"}, {-1, ""}});
    EXPECT_EQ(got, (B{29, 0, 0, 0,               // 8 + (8 + 5) + (8 + 0)
                      0xFF, 0xFF, 0xFF, 0xFF,    // string reference
                      2, 0, 0, 0,                // substrings
                      2, 0, 0, 0, 5, 0, 0, 0, 'H', 'e', 'l', 'l', 'o',
                      0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(locstring_bytes(5, {}), (B{8, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------

std::vector<ModuleResource> two_resources() {
    return {{"sixteen_bytes_xx", restype::conversation, {1, 2, 3}, 7, 0x0102},
            {"s", restype::script, {'a', 'b'}, 0}};
}

TEST(ModuleBuilder, StandardLayoutIsByteExact) {
    ModuleOptions options;
    options.locstring_block = {9, 8, 7, 6};
    const B got = module_bytes(two_resources(), options);

    B expected = {'M', 'O', 'D', ' ', 'V', '1', '.', '0', 0, 0, 0, 0,
                  4,   0,   0,   0,            // block size
                  2,   0,   0,   0,            // entries
                  160, 0,   0,   0,            // block offset
                  164, 0,   0,   0,            // key list offset
                  212, 0,   0,   0,            // resource list offset: 164 + 2 * 24
                  124, 0,   0,   0,   200, 0, 0, 0};  // build year and day
    expected.resize(160, 0);
    const B tail = {9, 8, 7, 6,
                    's', 'i', 'x', 't', 'e', 'e', 'n', '_', 'b', 'y', 't', 'e', 's', '_', 'x', 'x',
                    7, 0, 0, 0, 0xED, 0x07, 0x02, 0x01,  // id 7, type 2029, spare
                    's', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                    0, 0, 0, 0, 0xD9, 0x07, 0, 0,        // id 0, type 2009
                    228, 0, 0, 0, 3, 0, 0, 0,            // first resource at 212 + 16
                    231, 0, 0, 0, 2, 0, 0, 0,
                    1, 2, 3, 'a', 'b'};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(got, expected);
}

TEST(ModuleBuilder, OddLayoutsKeepTheTablesConsistent) {
    ModuleOptions options;
    options.version = "V9";
    options.after_header = {0xAA, 0xAB};
    options.between_tables = B(5, 0x55);
    options.reverse_order = true;
    options.resource_gap = 4;
    options.entry_count = -1;
    const B got = module_bytes(two_resources(), options);

    ASSERT_EQ(got.size(), 240u);
    EXPECT_EQ(slice(got, 4, 4), modtext::build::to_bytes("V9  "));
    EXPECT_EQ(rd32(got, 16), 0xFFFFFFFFu);
    EXPECT_EQ(rd32(got, 20), 162u);
    EXPECT_EQ(rd32(got, 24), 162u);  // empty block
    EXPECT_EQ(rd32(got, 28), 215u);  // 162 + 48 + 5
    EXPECT_EQ(slice(got, 160, 2), (B{0xAA, 0xAB}));
    EXPECT_EQ(slice(got, 210, 5), B(5, 0x55));
    // Resource 1 is stored first, at 231; resource 0 after a 4-byte gap.
    EXPECT_EQ(slice(got, 215, 16), (B{237, 0, 0, 0, 3, 0, 0, 0, 231, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(slice(got, 231, 9), (B{'a', 'b', 0xCC, 0xCC, 0xCC, 0xCC, 1, 2, 3}));
}

TEST(ModuleBuilder, RefusesLongNames) {
    EXPECT_THROW(module_bytes({{"seventeen_bytes_x", restype::area, {}, 0}}),
                 std::invalid_argument);
}

// ---------------------------------------------------------------------------
// The synthetic module, read back with the minimum of parsing.

struct Entry {
    std::string name;
    std::uint16_t type;
    B bytes;
};

std::vector<Entry> entries_of(const B& mod) {
    const std::uint32_t n = rd32(mod, 16);
    const std::uint32_t keys = rd32(mod, 24);
    const std::uint32_t list = rd32(mod, 28);
    std::vector<Entry> out;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t k = keys + 24u * i;
        const auto name_end = std::find(mod.begin() + static_cast<std::ptrdiff_t>(k),
                                        mod.begin() + static_cast<std::ptrdiff_t>(k + 16), 0);
        const std::uint32_t at = rd32(mod, list + 8u * i);
        const std::uint32_t size = rd32(mod, list + 8u * i + 4);
        EXPECT_LE(std::size_t{at} + size, mod.size());
        out.push_back({std::string(mod.begin() + static_cast<std::ptrdiff_t>(k), name_end),
                       rd16(mod, k + 20),
                       slice(mod, at, size)});
    }
    return out;
}

bool is_gff_type(std::uint16_t t) {
    return t != restype::script && t != restype::compiled_script && t != restype::skipped_2030;
}

TEST(SyntheticModule, SameSeedSameBytes) {
    const B a = synthetic_module(1);
    EXPECT_EQ(a, synthetic_module(1));
    EXPECT_NE(a, synthetic_module(2));
    EXPECT_GT(a.size(), 5000u);
    EXPECT_LT(a.size(), 100000u);
}

TEST(SyntheticModule, CoversEveryResourceClassAndOddCase) {
    const B mod = synthetic_module(42);
    const std::vector<Entry> entries = entries_of(mod);

    std::set<std::uint16_t> types;
    std::set<std::int32_t> ids;
    bool sixteen = false, bar = false, line_feed = false, arrow = false, high = false;
    bool bare_lf = false, no_final_eol = false, zero_in_text = false;
    for (const Entry& e : entries) {
        types.insert(e.type);
        sixteen = sixteen || e.name.size() == 16;
        if (e.type == restype::script && !e.bytes.empty()) {
            const std::string text(e.bytes.begin(), e.bytes.end());
            no_final_eol = no_final_eol || text.back() != '\n';
            for (std::size_t p = text.find('\n'); p != std::string::npos;
                 p = text.find('\n', p + 1)) {
                bare_lf = bare_lf || p == 0 || text[p - 1] != '\r';
            }
        }
        if (!is_gff_type(e.type)) {
            continue;
        }
        // Every localized string must lie inside the field data and have a
        // total size that matches its substrings.
        const B& g = e.bytes;
        const std::uint32_t fields = rd32(g, 16), field_count = rd32(g, 20);
        const std::uint32_t data = rd32(g, 32), data_size = rd32(g, 36);
        ASSERT_LE(std::size_t{data} + data_size, g.size()) << e.name;
        for (std::uint32_t f = 0; f < field_count; ++f) {
            if (rd32(g, fields + 12u * f) != 12) {
                continue;
            }
            const std::uint32_t at = data + rd32(g, fields + 12u * f + 8);
            const std::uint32_t total = rd32(g, at);
            ASSERT_LE(std::size_t{at} + 4 + total, std::size_t{data} + data_size) << e.name;
            std::size_t p = at + 12;
            for (std::uint32_t s = 0; s < rd32(g, at + 8); ++s) {
                ids.insert(static_cast<std::int32_t>(rd32(g, p)));
                const std::string text(g.begin() + static_cast<std::ptrdiff_t>(p + 8),
                                       g.begin() + static_cast<std::ptrdiff_t>(p + 8 + rd32(g, p + 4)));
                bar = bar || text.find('|') != std::string::npos;
                line_feed = line_feed || text.find('\n') != std::string::npos;
                arrow = arrow || text.find("->") != std::string::npos;
                high = high || std::any_of(text.begin(), text.end(),
                                           [](char c) { return static_cast<unsigned char>(c) > 127; });
                const std::size_t zero = text.find('\0');
                zero_in_text = zero_in_text || (zero != std::string::npos && zero + 1 < text.size());
                p += 8 + rd32(g, p + 4);
            }
            EXPECT_EQ(p, std::size_t{at} + 4 + total) << e.name << " field " << f;
        }
    }

    for (std::uint16_t t : {restype::script, restype::area, restype::module_info,
                            restype::item_template, restype::game_instance,
                            restype::conversation, restype::creature_template,
                            restype::journal, restype::unknown}) {
        EXPECT_TRUE(types.count(t)) << t;
    }
    for (std::uint16_t t : restype::skipped) {
        EXPECT_TRUE(types.count(t)) << t;
    }
    for (std::int32_t id : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 256, 257, 258, 259, 260, 261,
                            262, 263, 12}) {
        EXPECT_TRUE(ids.count(id)) << "string id " << id;
    }
    EXPECT_TRUE(sixteen);
    EXPECT_TRUE(bar);
    EXPECT_TRUE(line_feed);
    EXPECT_TRUE(arrow);
    EXPECT_TRUE(high);
    EXPECT_TRUE(zero_in_text);
    EXPECT_TRUE(bare_lf);
    EXPECT_TRUE(no_final_eol);
}

}  // namespace
