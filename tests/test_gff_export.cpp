#include "formats/gff_image.h"
#include "formats/module_archive.h"
#include "test_support.h"
#include "translation/exporters.h"
#include "translation/translation_table.h"

using namespace modtext;
using namespace modtext::build;
using modtext::testing::RecordingReporter;

namespace {

using F = build::GffField;

// Exports one GFF resource the way the driver would, returning the block.
std::string export_one(const Bytes& gff, std::uint16_t type, SelectionState selection,
                       RecordingReporter& reporter, bool* ok = nullptr,
                       std::string_view name = "res", std::size_t index = 4) {
    GffImage image;
    std::string out;
    const ResourceView view{index, name, type, gff};
    const bool result = export_gff_strings(out, view, image, selection, reporter);
    if (ok) *ok = result;
    return out;
}

GffStruct flat(std::vector<F> fields) { return GffStruct{0xFFFFFFFFu, std::move(fields)}; }

}  // namespace

TEST(GffImage, LoadsSectionsStoredInAnyOrder) {
    const GffStruct top = flat({F::dword("A", 7), F::exo_string("Tag", "abc"),
                                F::loc_string("Name", 5, {{0, "Hi"}})});
    const Bytes usual = gff_bytes(top, "UTI V3.2");
    GffLayout odd;
    odd.order = {GffSection::FieldData, GffSection::ListIndices, GffSection::Labels,
                 GffSection::Fields,    GffSection::FieldIndices, GffSection::Structs};
    odd.gap = 3;
    const Bytes reordered = gff_bytes(top, "UTI V3.2", odd);
    ASSERT_NE(usual, reordered);

    GffImage a, b;
    std::string why;
    ByteReader ra(usual), rb(reordered);
    ASSERT_TRUE(load_gff(a, ra, why)) << why;
    ASSERT_TRUE(load_gff(b, rb, why)) << why;
    using modtext::testing::bytes_of;
    EXPECT_EQ(bytes_of(a.structs), bytes_of(b.structs));
    EXPECT_EQ(field_array_bytes(a.fields), field_array_bytes(b.fields));
    EXPECT_EQ(bytes_of(a.labels), bytes_of(b.labels));
    EXPECT_EQ(bytes_of(a.field_data), bytes_of(b.field_data));
    EXPECT_EQ(a.fields.size(), 3u);
    EXPECT_EQ(a.label_of(a.fields[1]), "Tag");
    EXPECT_EQ(a.header.type_letters(), "UTI");

    release_gff(a);
    release_gff(a);  // harmless twice
    EXPECT_TRUE(a.fields.empty());
    EXPECT_TRUE(a.field_data.empty());
}

TEST(GffImage, RefusesSectionsOutsideTheBytes) {
    const Bytes good = gff_bytes(flat({F::loc_string("Name", 5, {{0, "Hi"}})}), "UTI V3.2");
    GffImage image;
    std::string why;
    {
        const Bytes cut(good.begin(), good.begin() + 40);
        ByteReader reader(cut);
        EXPECT_FALSE(load_gff(image, reader, why));
        EXPECT_EQ(why, "header cut short");
    }
    struct Case {
        std::size_t word;
        std::uint32_t value;
        const char* why;
    };
    for (const Case& c : {Case{12, 0x40000000u, "struct array out of bounds"},
                          Case{16, 0xFFFFFFF0u, "field array out of bounds"},
                          Case{20, 0xFFFFFFFFu, "field array out of bounds"},
                          Case{28, 1000u, "label array out of bounds"},
                          Case{36, static_cast<std::uint32_t>(good.size()), "field data out of bounds"},
                          Case{48, static_cast<std::uint32_t>(good.size() + 1), "list indices out of bounds"}}) {
        Bytes bad = good;
        for (int i = 0; i < 4; ++i) bad[c.word + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c.value >> (8 * i));
        ByteReader reader(bad);
        EXPECT_FALSE(load_gff(image, reader, why)) << c.word;
        EXPECT_EQ(why, c.why) << c.word;
        EXPECT_TRUE(image.fields.empty());
    }
}

// The conversation of the worked example: field 41 is an NPC line after a
// "Speaker" field, field 57 a player reply after another string field.
Bytes greeting_dialogue() {
    std::vector<F> fields;
    for (int i = 0; i < 40; ++i) fields.push_back(F::dword("Pad" + std::to_string(i), 1));
    fields.push_back(F::exo_string("Speaker", "innkeeper"));
    fields.push_back(F::loc_string("Text", 0xFFFFFFFFu,
                                   {{0, std::string("Hello, traveller.\nWelcome to the inn.") + '\0'},
                                    {4, "Hallo."}}));
    for (int i = 42; i < 56; ++i) fields.push_back(F::byte("Pad" + std::to_string(i), 2));
    fields.push_back(F::exo_string("Comment", ""));
    fields.push_back(F::loc_string("Text", 12, {{0, "Thanks."}}));
    return gff_bytes(flat(std::move(fields)), "DLG V3.2");
}

TEST(ExportText, WritesTheWorkedExampleByteForByte) {
    const auto dir = modtext::testing::scratch_dir();
    std::vector<ModuleResource> resources;
    for (int i = 0; i < 10; ++i) {
        resources.push_back({"skip" + std::to_string(i), restype::skipped[static_cast<std::size_t>(i % 7)],
                             to_bytes("junk"), 0, 0});
    }
    resources[3] = {"greeting", restype::conversation, greeting_dialogue(), 0, 0};
    // Lines 12 and 30 speak; every other line does not.
    std::string script = "void main()\r\n{\r\n";
    for (int line = 2; line < 12; ++line) script += "    n++;\r\n";
    script += "    SpeakString(sHalt);\r\n";
    for (int line = 13; line < 30; ++line) script += "    n++; // Speak later\r\n";
    script += "    FloatingTextStringOnCreature(sGateClosed, oPC);\r\n}\r\n";
    resources[9] = {"inn_guard", restype::script, to_bytes(script), 0, 0};
    modtext::testing::write_module(dir / "m.mod", resources);

    ModuleArchive archive;
    RecordingReporter reporter;
    ASSERT_TRUE(open_module(archive, (dir / "m.mod").string(), reporter));
    ExportCounts counts;
    ASSERT_TRUE(export_text(archive, (dir / "t.txt").string(), {0x001, 0x002, 0}, reporter, counts));
    EXPECT_EQ(export_summary(counts), "Exported 2 resources: 2 strings and 2 script lines; template lines: french 4.");
    EXPECT_EQ(modtext::testing::read_text(dir / "t.txt"),
              "#File:greeting.DLG,3\n"
              "\n"
              "//NPC->PLAYER\n"
              "#41,english,male->Hello, traveller.|Welcome to the inn.\n"
              "#41,french,male->\n"
              "#41,french,female->\n"
              "\n"
              "//PLAYER->NPC\n"
              "#57,english,male->Thanks.\n"
              "#57,french,male->\n"
              "#57,french,female->\n"
              "\n"
              "////////////////////////////////\n"
              "\n"
              "#File:inn_guard.NSS,9\n"
              "\n"
              "#12->    SpeakString(sHalt);\n"
              "#30->    FloatingTextStringOnCreature(sGateClosed, oPC);\n"
              "\n"
              "////////////////////////////////\n"
              "\n");
    EXPECT_EQ(reporter.problems, "");
    EXPECT_EQ(reporter.progress,
              "MOD Info:\n# resources: 10\n"
              "Exporting general GFF file: greeting.....complete!\n"
              "Exporting Script file: inn_guard.....complete!\n");
}

TEST(GffExport, EveryLanguageAndGenderWithTemplatesAndNoDirectionOutsideConversations) {
    const Bytes gff = gff_bytes(
        flat({F::exo_string("Speaker", "x"),
              F::loc_string("Name", 1, {{0, "en"}, {3, "fr f"}, {259, "zh"}, {263, "ja f"}}),
              F::loc_string("Desc", 1, {{4, "de only"}}),
              F::loc_string("Empty", 1, {})}),
        "UTC V3.2");
    RecordingReporter reporter;
    EXPECT_EQ(export_one(gff, restype::creature_template, {0x281, 0x060}, reporter, nullptr, "c", 2),
              "#File:c.UTC,2\n\n"
              "#1,english,male->en\n"
              "#1,chintrad,female->zh\n"
              "#1,japanese,female->ja f\n"
              "#1,polish,male->\n#1,polish,female->\n"
              "#1,korean,male->\n#1,korean,female->\n"
              "\n"
              "////////////////////////////////\n\n");
    // Nothing of a selected language: not even the header line.
    EXPECT_EQ(export_one(gff, restype::creature_template, {0x020, 0x3FF}, reporter), "");
    EXPECT_EQ(export_one(gff, restype::creature_template, {0, 0x3FF}, reporter), "");
}

TEST(GffExport, DirectionFollowsTheNearestStringFieldLabel) {
    const Bytes gff = gff_bytes(
        flat({F::loc_string("Text", 1, {{0, "before any string"}}),
              F::exo_string("Speaker", "npc"),
              F::dword("Other", 3),
              F::loc_string("Text", 1, {{0, "npc line"}, {1, "npc line f"}}),
              F::exo_string("speaker", "lower case"),
              F::loc_string("Text", 1, {{0, "player line"}}),
              F::exo_string("SpeakerX", "longer"),
              F::loc_string("Text", 1, {{0, "player again"}})}),
        "DLG V3.2");
    RecordingReporter reporter;
    EXPECT_EQ(export_one(gff, restype::conversation, {0x001, 0x001}, reporter, nullptr, "d", 0),
              "#File:d.DLG,0\n\n"
              "//PLAYER->NPC\n#0,english,male->before any string\n#0,english,male->\n\n"
              "//NPC->PLAYER\n#3,english,male->npc line\n"
              "//NPC->PLAYER\n#3,english,female->npc line f\n#3,english,male->\n\n"
              "//PLAYER->NPC\n#5,english,male->player line\n#5,english,male->\n\n"
              "//PLAYER->NPC\n#7,english,male->player again\n#7,english,male->\n\n"
              "////////////////////////////////\n\n");
}

TEST(GffExport, TextsKeepTheirBytesUpToAZeroAndOtherIdsAreLabelled) {
    const std::string high = "caf\xE9 \xFC\xDF";
    const Bytes gff = gff_bytes(
        flat({F::loc_string("Name", 1,
                            {{0, std::string("cut\0here", 8)},
                             {12, "no table language"},
                             {301, "odd other"},
                             {2, "a|b\n->c, d\r"},
                             {4, high},
                             {6, ""}})}),
        "ARE V3.2");
    RecordingReporter reporter;
    EXPECT_EQ(export_one(gff, restype::area, {0x00F, 0}, reporter, nullptr,
                         "sixteen_chars_xx", 1),
              "#File:sixteen_chars_xx.ARE,1\n\n"
              "#0,english,male->cut\n"
              "#0,lang6,male->no table language\n"
              "#0,lang150,female->odd other\n"
              "#0,french,male->a|b|->c, d\r\n"
              "#0,german,male->" + high + "\n"
              "#0,italian,male->\n"
              "\n"
              "////////////////////////////////\n\n");
    // Other ids pass even an empty from_mask, so no text is lost on the way back.
    EXPECT_EQ(export_one(gff, restype::area, {0, 0}, reporter, nullptr, "a", 1),
              "#File:a.ARE,1\n\n#0,lang6,male->no table language\n"
              "#0,lang150,female->odd other\n\n////////////////////////////////\n\n");
}

// Found by fuzzing: type letters with a line feed broke the header line, and
// the block's texts were lost on import. A comma in a name or in the letters
// would have moved where the import reads the index.
TEST(GffExport, HeaderLinesStayOneLineWithTheirIndex) {
    Bytes gff = gff_bytes(flat({F::loc_string("Name", 1, {{0, "Lamp"}})}), "A\n,V3.2");
    RecordingReporter reporter;
    const std::string text = export_one(gff, restype::item_template, {0x001, 0}, reporter, nullptr, "a.b,c", 3);
    EXPECT_EQ(text, "#File:a.b_c.A__,3\n\n#0,english,male->Lamp\n\n////////////////////////////////\n\n");
    TranslationTable table;
    parse_translation_lines(table, text, reporter);
    ASSERT_EQ(table.record_count(), 1u);
    EXPECT_EQ(table.resource_index(0), 3);
    EXPECT_EQ(reporter.problems, "");
}

TEST(GffExport, MalformedStringsAreReportedAndTheResourceSkipped) {
    // A localized string whose offset leaves the field data block.
    Bytes bad_offset = gff_bytes(flat({F::loc_string("Name", 1, {{0, "ok"}})}), "UTI V3.2");
    {
        GffImage image;
        ByteReader reader(bad_offset);
        std::string why;
        ASSERT_TRUE(load_gff(image, reader, why));
        const std::size_t record = image.header.field_offset() + 8;
        bad_offset[record] = 0xF0;
    }
    // A substring whose length runs past the block, and a count that overflows it.
    const Bytes long_sub = gff_bytes(
        flat({F::raw_bytes("Name", GffType::LocString,
                           std::string("\x14\0\0\0\xFF\xFF\xFF\xFF\x01\0\0\0\0\0\0\0\xFF\0\0\0ab", 22))}),
        "UTI V3.2");
    const Bytes huge_count = gff_bytes(
        flat({F::raw_bytes("Name", GffType::LocString,
                           std::string("\x08\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12))}),
        "UTI V3.2");
    const Bytes bad_label = gff_bytes(
        flat({F::exo_string("Speaker", "x"), F::loc_string("Text", 1, {{0, "t"}})}), "DLG V3.2");
    Bytes bad_label_index = bad_label;
    {
        GffImage image;
        ByteReader reader(bad_label_index);
        std::string why;
        ASSERT_TRUE(load_gff(image, reader, why));
        bad_label_index[image.header.field_offset() + 4] = 9;
    }
    const std::vector<std::pair<Bytes, std::string>> expected{
        {bad_offset, "localized string head out of bounds in field 0"},
        {long_sub, "localized string substring out of bounds in field 0"},
        {huge_count, "localized string substring out of bounds in field 0"},
        {bad_label_index, "label index out of bounds in field 0"},
        {Bytes(30, 0), "header cut short"},
    };
    for (const auto& [bytes, why] : expected) {
        RecordingReporter reporter;
        bool ok = true;
        export_one(bytes, restype::conversation, {0x3FF, 0}, reporter, &ok, "bad", 6);
        EXPECT_FALSE(ok) << why;
        EXPECT_EQ(reporter.problems,
                  "Error: resource 6 (bad) is not a well-formed GFF (" + why + "), skipped!\n");
    }
}
