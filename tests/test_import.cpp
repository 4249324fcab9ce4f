#include "app/cli.h"
#include "actions/actions.h"
#include "formats/gff_image.h"
#include "test_support.h"
#include "translation/exporters.h"
#include "formats/locstring.h"
#include "translation/rebuild.h"
#include "translation/resource_writer.h"
#include "translation/text_format.h"

#include <cstring>
#include <sstream>

using namespace modtext;
using namespace modtext::build;
using modtext::testing::read_text;
using modtext::testing::RecordingReporter;
using modtext::testing::write_text;

namespace {

using F = build::GffField;
namespace fs = std::filesystem;

Bytes read_bytes_of(const fs::path& path) {
    const std::string s = read_text(path);
    return Bytes(s.begin(), s.end());
}

Bytes slice(ByteView b, std::size_t at, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// The bytes of resource i of a module file, found through its tables.
Bytes resource_of(const Bytes& module, std::size_t i) {
    const std::uint32_t list = get_u32(module, 28);
    return slice(module, get_u32(module, list + 8 * i), get_u32(module, list + 8 * i + 4));
}

bool import(const fs::path& dir, std::string_view text, std::uint16_t from_mask, RecordingReporter& reporter,
            const std::string& source = "m.mod", const std::string& output = "out.mod") {
    write_text(dir / "t.txt", text);
    return import_module((dir / source).string(), (dir / "t.txt").string(), (dir / output).string(),
                         {from_mask, 0, 0}, reporter);
}

// Writes out.mod from m.mod straight through the writer, with a text that
// may name nothing: every resource is then copied.
bool write_directly(const fs::path& dir, std::string_view text, RecordingReporter& reporter) {
    ModuleArchive archive;
    InputFile source;
    StagedOutput output;
    TranslationTable table;
    parse_translation_lines(table, text, reporter);
    return open_module(archive, (dir / "m.mod").string(), reporter) &&
           open_source_and_target(archive, source, output, (dir / "out.mod").string(), reporter) &&
           write_module_to(archive, source, output, table, {0x3FF, 0, 0}, reporter) &&
           finish_target(source, output, reporter);
}

}  // namespace

TEST(WriteModule, LaysOutTablesThenResourcesBackToBack) {
    const auto dir = modtext::testing::scratch_dir();
    ModuleOptions options;
    options.locstring_block = Bytes(100, 0x5A);
    options.after_header = Bytes(12, 0x77);  // the block does not start at 160
    options.reverse_order = true;
    options.resource_gap = 3;
    const std::vector<ModuleResource> resources{{"a", restype::area, to_bytes("AAAA"), 1, 9},
                                                {"nothing", restype::journal, {}, 2, 0},
                                                {"c", restype::script, to_bytes("CC"), 3, 0}};
    const Bytes source = module_bytes(resources, options);
    write_file((dir / "m.mod").string(), source);
    RecordingReporter reporter;
    ASSERT_TRUE(write_directly(dir, "", reporter));

    const Bytes out = read_bytes_of(dir / "out.mod");
    ASSERT_EQ(out.size(), 380u + 6u);
    // Header: the three offsets rewritten, every other byte carried.
    Bytes header = slice(source, 0, 160);
    for (auto [at, value] : {std::pair{20, 160u}, {24, 260u}, {28, 356u}}) {
        for (int i = 0; i < 4; ++i) header[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    EXPECT_EQ(slice(out, 0, 160), header);
    EXPECT_EQ(slice(out, 160, 100), Bytes(100, 0x5A));
    EXPECT_EQ(slice(out, 260, 72), slice(source, get_u32(source, 24), 72));  // keys, ids and spares
    // The gap block is what followed the source's key list: its resource list.
    EXPECT_EQ(slice(out, 332, 24), slice(source, get_u32(source, 24) + 72, 24));
    EXPECT_EQ(slice(out, 356, 24), Bytes({124, 1, 0, 0, 4, 0, 0, 0, 128, 1, 0, 0, 0, 0, 0, 0,
                                          128, 1, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(slice(out, 380, 6), to_bytes("AAAACC"));
}

TEST(WriteModule, EmptyModuleAndUnnamedResourcesCarriedByteForByte) {
    const auto dir = modtext::testing::scratch_dir();
    ModuleOptions options;
    options.locstring_block = to_bytes("block");
    write_file((dir / "m.mod").string(), module_bytes({}, options));
    RecordingReporter reporter;
    ASSERT_TRUE(write_directly(dir, "", reporter));
    const Bytes out = read_bytes_of(dir / "out.mod");
    ASSERT_EQ(out.size(), 165u);
    EXPECT_EQ(get_u32(out, 24), 165u);
    EXPECT_EQ(get_u32(out, 28), 165u);

    // A text naming nothing: every resource of the synthetic module comes out as it was.
    write_file((dir / "m.mod").string(), synthetic_module(3));
    ASSERT_TRUE(write_directly(dir, "#File:nothing.DLG,1000\n#1,english,male->x\n", reporter));
    const Bytes source = read_bytes_of(dir / "m.mod");
    const Bytes output = read_bytes_of(dir / "out.mod");
    const std::size_t count = get_u32(source, 16);
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(resource_of(output, i), resource_of(source, i)) << i;
}

// A text meant for another module, or none at all, is refused: an import
// that says it is complete has applied something.
TEST(ImportAction, ATextThatNamesNoResourceFailsAndWritesNothing) {
    const auto dir = modtext::testing::scratch_dir();
    write_file((dir / "m.mod").string(), synthetic_module(3));
    const std::string names_nothing = "Error: the text names no resource of " + (dir / "m.mod").string() +
                                      "; nothing was written!\n";
    for (const auto& [text, warnings] : std::vector<std::pair<std::string, std::string>>{
             {"", ""},
             {"// only a comment\n", ""},
             {"#File:nothing.DLG,1000\n#1,english,male->x\n",
              "WARNING: Block nothing.DLG on line 1 skipped! (no resource of the module is nothing.DLG)\n"}}) {
        RecordingReporter reporter;
        EXPECT_FALSE(import(dir, text, 0x3FF, reporter));
        EXPECT_EQ(reporter.problems, warnings + names_nothing);
        EXPECT_TRUE(reporter.info_boxes.empty());
        EXPECT_FALSE(fs::exists(dir / "out.mod"));
    }
}

TEST(WriteModule, TheCheckTellsTheFirstResourceThatDiffersAmongThoseNotReadBackYet) {
    std::vector<ModuleResource> resources;
    for (int i = 0; i < 6; ++i) {
        const auto letter = static_cast<char>('a' + i);
        resources.push_back({std::string(1, letter), restype::script,
                             Bytes(100, static_cast<std::uint8_t>(letter)), 0, 0});
    }
    const Bytes module = module_bytes(resources);
    ModuleArchive archive;
    InputFile file;
    file.open_memory(module);
    RecordingReporter reporter;
    ASSERT_TRUE(read_module_tables(archive, file, "m.mod", reporter));
    OutputCursor cursor;
    for (std::size_t i = 0; i < 6; ++i) {
        Checksum checksum;
        checksum.update(resource_of(module, i));
        cursor.checksums.push_back(checksum.value());
    }
    const auto check = [&](const Bytes& written, const ModuleArchive& meant) {
        InputFile reader;
        reader.open_memory(written);
        std::string why;
        return verify_written_module(meant, reader, cursor, why) ? "good" : why;
    };
    EXPECT_EQ(check(module, archive), "good");

    const std::size_t data = get_u32(module, get_u32(module, 28));
    const auto changed = [&](std::initializer_list<std::size_t> at) {
        Bytes written = module;
        for (std::size_t i : at) written[data + 100 * i + 99] ^= 1;
        return written;
    };
    EXPECT_EQ(check(changed({4}), archive), "resource 4 does not hold the bytes written");
    EXPECT_EQ(check(changed({1}), archive), "resource 1 does not hold the bytes written");
    EXPECT_EQ(check(changed({5, 0}), archive), "resource 0 does not hold the bytes written");
    // Those the writing read back already are placed, not read again.
    cursor.checked = 2;
    EXPECT_EQ(check(changed({1}), archive), "good");
    EXPECT_EQ(check(changed({1, 3}), archive), "resource 3 does not hold the bytes written");
    EXPECT_EQ(check(Bytes(module.begin(), module.end() - 1), archive), "resource 5 is not where it was written");
    cursor.checked = 0;

    ModuleArchive moved = archive;
    moved.resources[5].size = 99;
    EXPECT_EQ(check(module, moved), "resource 5 is not where it was written");
    moved.resources[2].offset += 1;
    EXPECT_EQ(check(module, moved), "resource 2 is not where it was written");
    EXPECT_EQ(check(Bytes(module.begin(), module.end() - 1), archive),
              "resource 5 is not where it was written");
    cursor.checksums.pop_back();
    EXPECT_EQ(check(module, archive), "its tables are not those written");
    EXPECT_EQ(check(Bytes(module.begin(), module.begin() + 100), archive),
              "its tables do not lie within it");
}

TEST(WriteModule, ResourcesOfEverySizeComeOutInOrderWhateverTheWriterHoldsAhead) {
    // More named resources than the writer has pieces, so that pieces are
    // used again, after small resources and after ones larger than a piece
    // keeps; one larger than the writer lets the rebuilding run ahead by;
    // resources copied as they are in between.
    const auto dir = modtext::testing::scratch_dir();
    const std::size_t sizes[] = {100, 300'000, 40, 2'000, 600'000, 10};
    std::vector<ModuleResource> resources;
    std::vector<Bytes> expected;  // scripts and copies; GFFs are rebuilt alone below
    std::string text;
    for (std::size_t i = 0; i < 45; ++i) {
        // Resource 20 is rebuilt, 24 copied: both larger than the pieces
        // copies and checks are read in.
        const std::size_t size = i == 20 ? 4'500'000 : i == 24 ? 2'500'000 : sizes[i % std::size(sizes)];
        std::string name(1, 'r');
        name += std::to_string(i);
        const std::string index = std::to_string(i);
        if (i % 5 == 4) {
            resources.push_back({name, restype::area, Bytes(size, static_cast<std::uint8_t>(i)), 0, 0});
            expected.push_back(resources.back().bytes);
        } else if (i % 2 == 1) {
            // A conversation of size / 100 strings, every third one named,
            // the named ones longer than they were.
            std::vector<F> fields;
            text.append("#File:").append(name).append(".DLG,").append(index).append("\n");
            for (std::size_t k = 0; k <= size / 100; ++k) {
                std::string label(1, 'T');
                label += std::to_string(k);
                fields.push_back(F::loc_string(label, 1, {{0, std::string(80, 'o')}}));
                if (k % 3 == 0) {
                    text.append("#").append(std::to_string(k)).append(",english,male->");
                    text.append(90 + k % 7, 'n').append("\n");
                }
            }
            resources.push_back({name, restype::conversation, gff_bytes(GffStruct{0, fields}, "DLG V3.2"), 0, 0});
            expected.emplace_back();
        } else {
            std::string script;
            const std::string replaced = std::string("line ").append(index);
            std::string rebuilt = replaced + "\n";
            for (std::size_t k = 0; script.size() < size; ++k) {
                const std::string line = index + ":" + std::to_string(k);
                script += line + "\r\n";
                if (k > 0) rebuilt += line + "\n";
            }
            resources.push_back({name, restype::script, to_bytes(script), 0, 0});
            expected.push_back(to_bytes(rebuilt));
            text += "#File:" + name + ".NSS," + index + "\n#0->" + replaced + "\n";
        }
    }
    const Bytes module = module_bytes(resources);
    write_file((dir / "m.mod").string(), module);
    RecordingReporter reporter;
    ASSERT_TRUE(import(dir, text, 0x001, reporter)) << reporter.problems;
    const Bytes out = read_bytes_of(dir / "out.mod");
    ASSERT_EQ(get_u32(out, 16), resources.size());

    // Each conversation as a piece never used before makes it.
    TranslationTable table;
    parse_translation_lines(table, text, reporter);
    ModuleArchive archive;
    InputFile file;
    file.open_memory(module);
    ASSERT_TRUE(read_module_tables(archive, file, "m.mod", reporter));
    for (std::size_t i = 0; i < resources.size(); ++i) {
        if (resources[i].type == restype::conversation) {
            ResourcePiece alone;
            SpliceMemory fresh;
            ASSERT_TRUE(read_resource(file, archive, i, alone.source, reporter));
            ASSERT_TRUE(rebuild_resource(alone, i, *find_file_record(table, static_cast<TextNumber>(i)),
                                         archive, {0x001, 0, 0}, fresh, reporter));
            expected[i].clear();
            for (ByteView part : alone.parts) expected[i].insert(expected[i].end(), part.begin(), part.end());
            ASSERT_GT(expected[i].size(), resources[i].bytes.size()) << i;
        }
        EXPECT_TRUE(resource_of(out, i) == expected[i]) << i;
    }

    // The check finds a byte changed past the first piece it reads of a
    // large resource.
    ModuleArchive written;
    InputFile out_file;
    out_file.open_memory(out);
    ASSERT_TRUE(read_module_tables(written, out_file, "out.mod", reporter));
    OutputCursor cursor;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        Checksum checksum;
        checksum.update(resource_of(out, i));
        cursor.checksums.push_back(checksum.value());
    }
    std::string why;
    EXPECT_TRUE(verify_written_module(written, out_file, cursor, why)) << why;
    for (std::size_t i : {20u, 24u}) {
        Bytes changed = out;
        changed[written.resources[i].offset + 1'500'000] ^= 1;
        InputFile changed_file;
        changed_file.open_memory(changed);
        EXPECT_FALSE(verify_written_module(written, changed_file, cursor, why));
        EXPECT_EQ(why, "resource " + std::to_string(i) + " does not hold the bytes written");
    }
}

// Named resources handed on faster than they are written, copies between
// them: the rebuilding waits for room and reads back runs meanwhile, the
// writer the others. Every resource comes out in order, and every one was
// read back before the end.
TEST(WriteModule, EveryRunIsReadBackWhicheverThreadTakesIt) {
    const auto dir = modtext::testing::scratch_dir();
    constexpr std::size_t count = 48, size = 512 << 10;
    Bytes copied;  // what the copies read, in turn
    Bytes expected;
    std::vector<std::uint64_t> sums;
    for (std::size_t i = 0; i < count; ++i) {
        Bytes bytes(size - 7 * i);
        for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<std::uint8_t>(k * 31 + i);
        if (i % 4 == 3) copied.insert(copied.end(), bytes.begin(), bytes.end());
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        Checksum sum;
        sum.update(bytes);
        sums.push_back(sum.value());
    }
    InputFile source;
    source.open_memory(copied);
    StagedOutput output;
    ASSERT_TRUE(output.create((dir / "out.mod").string()));
    std::vector<std::uint64_t> checksums;
    std::size_t checked = 0;
    RecordingReporter reporter;
    {
        ResourceWriter writer(output, source, 0);
        std::uint32_t copy_at = 0;
        for (std::size_t i = 0, at = 0; i < count; ++i) {
            const std::size_t length = size - 7 * i;
            if (i % 4 == 3) {
                writer.copy(i, {copy_at, static_cast<std::uint32_t>(length)});
                copy_at += static_cast<std::uint32_t>(length);
            } else {
                ResourcePiece* piece = writer.next_piece(length);
                ASSERT_NE(piece, nullptr);
                std::memcpy(piece->source.prepare(length), expected.data() + at, length);
                piece->parts = {piece->source.view()};
                writer.hand_on();
            }
            at += length;
        }
        ASSERT_TRUE(writer.finish(ModuleArchive{}, checksums, checked, reporter)) << reporter.problems;
    }
    EXPECT_EQ(checksums, sums);
    EXPECT_EQ(checked, count);
    InputFile written;
    ASSERT_TRUE(output.read_back(written));
    Bytes out;
    ASSERT_TRUE(written.read_all(out));
    EXPECT_TRUE(out == expected);
}

TEST(RebuildResource, GffComesBackIdenticalUnlessItsStringsChange) {
    const auto dir = modtext::testing::scratch_dir();
    const Bytes dialogue = gff_bytes(
        GffStruct{0, {F::exo_string("Speaker", "npc"),
                      F::loc_string("Text", 42, {{0, std::string("Hello there.", 13)}, {2, std::string("Salut.", 7)}}),
                      F::list("Replies", {GffStruct{1, {F::loc_string("Text", 1, {{0, "Bye"}})}}}),
                      F::dword64("Big", 7)}},
        "DLG V3.2");
    write_file((dir / "m.mod").string(), module_bytes({{"d", restype::conversation, dialogue, 0, 0},
                                                        {"s", restype::script, to_bytes("x\r\n"), 0, 0}}));
    RecordingReporter reporter;
    // Named, but its entries name a string field, no field, and a field of another type.
    ASSERT_TRUE(import(dir, "#File:d.DLG,0\n#0,english,male->x\n#900,english,male->y\n#3,english,male->z\n",
                       0x001, reporter));
    Bytes out = read_bytes_of(dir / "out.mod");
    EXPECT_EQ(resource_of(out, 0), dialogue);

    // Strings that grow by 40 bytes in all move the later sections by 40.
    const std::string longer(20, 'L');
    ASSERT_TRUE(import(dir, "#File:d.DLG,0\n#1,english,male->Hello there." + longer +
                                "\n#1,french,male->Salut." + longer + "\n",
                       0x003, reporter));
    out = read_bytes_of(dir / "out.mod");
    const Bytes rebuilt = resource_of(out, 0);
    ASSERT_EQ(rebuilt.size(), dialogue.size() + 40);
    for (std::size_t word : {36u, 40u, 48u}) EXPECT_EQ(get_u32(rebuilt, word), get_u32(dialogue, word) + 40);
    EXPECT_EQ(slice(rebuilt, 0, 36), slice(dialogue, 0, 36));
    EXPECT_EQ(get_u32(out, get_u32(out, 28) + 4), dialogue.size() + 40);
    // The next resource starts right after.
    EXPECT_EQ(get_u32(out, get_u32(out, 28) + 8), get_u32(out, get_u32(out, 28)) + dialogue.size() + 40);

    // A source stored in another section order comes out in the usual order, well formed.
    GffLayout odd;
    odd.order = {GffSection::ListIndices, GffSection::FieldData, GffSection::Structs,
                 GffSection::Labels, GffSection::FieldIndices, GffSection::Fields};
    odd.gap = 2;
    write_file((dir / "m.mod").string(),
               module_bytes({{"d", restype::conversation,
                              gff_bytes(GffStruct{0, {F::exo_string("Speaker", "npc"),
                                                      F::loc_string("Text", 42, {{0, std::string("Hello there.", 13)}, {2, std::string("Salut.", 7)}}),
                                                      F::list("Replies", {GffStruct{1, {F::loc_string("Text", 1, {{0, "Bye"}})}}}),
                                                      F::dword64("Big", 7)}},
                                        "DLG V3.2", odd),
                              0, 0}}));
    ASSERT_TRUE(import(dir, "#File:d.DLG,0\n", 0x001, reporter));
    EXPECT_EQ(resource_of(read_bytes_of(dir / "out.mod"), 0), dialogue);
}

TEST(ImportAction, PathsAreCheckedInOrder) {
    const auto dir = modtext::testing::scratch_dir();
    RecordingReporter reporter;
    const std::string m = (dir / "m.mod").string(), t = (dir / "t.txt").string(), o = (dir / "o.mod").string();
    EXPECT_FALSE(import_module("", "", "", {1, 0, 0}, reporter));
    EXPECT_FALSE(import_module(m, "", o, {1, 0, 0}, reporter));
    EXPECT_FALSE(import_module(m, t, "", {1, 0, 0}, reporter));
    EXPECT_EQ(reporter.error_boxes,
              (std::vector<std::string>{"Please give a source MOD file.", "Please give a text file to import from.",
                                        "Please give a destination MOD to import to."}));
    EXPECT_FALSE(import_module(m, t, o, {1, 0, 0}, reporter));
    EXPECT_EQ(reporter.problems, "Error opening file: " + m + "\n");
    EXPECT_TRUE(modtext::testing::files_in(dir).empty());
}

TEST(ImportAction, AFailedImportLeavesNoOutputAndAnExistingOneUntouched) {
    const auto dir = modtext::testing::scratch_dir();
    const Bytes good = gff_bytes(GffStruct{0, {F::loc_string("Name", 1, {{0, "Lamp"}})}}, "UTI V3.2");
    Bytes broken = good;
    store_u32(&broken[get_u32(good, 16) + 8], 5000);  // the string's offset leaves its block
    write_file((dir / "m.mod").string(), module_bytes({{"good", restype::item_template, good, 0, 0},
                                                        {"broken", restype::item_template, broken, 0, 0}}));
    write_text(dir / "out.mod", "precious");
    const std::string out = (dir / "out.mod").string();

    RecordingReporter missing;
    EXPECT_FALSE(import_module((dir / "m.mod").string(), (dir / "none.txt").string(), out, {1, 0, 0}, missing));
    EXPECT_EQ(missing.problems, "Error opening file: " + (dir / "none.txt").string() + "\n");
    EXPECT_TRUE(missing.info_boxes.empty());

    RecordingReporter malformed;
    EXPECT_FALSE(import(dir, "#File:broken.UTI,1\n#0,english,male->Lampe\n", 0x001, malformed));
    EXPECT_EQ(malformed.problems, "Error: resource 1 (broken) is not a well-formed GFF (localized string "
                                  "out of bounds in field 0); nothing was written!\n");
    // The malformed resource, unnamed, is only carried: that works.
    RecordingReporter unnamed;
    EXPECT_TRUE(import(dir, "#File:good.UTI,0\n#0,english,male->Lampe\n", 0x001, unnamed));
    EXPECT_EQ(resource_of(read_bytes_of(dir / "out.mod"), 1), broken);
    write_text(dir / "out.mod", "precious");

    // A resource whose extent leaves the file fails the import.
    Bytes module = read_bytes_of(dir / "m.mod");
    store_u32(&module[get_u32(module, 28) + 12], 0x10000);
    write_file((dir / "m.mod").string(), module);
    RecordingReporter outside;
    EXPECT_FALSE(import(dir, "", 0x001, outside));
    EXPECT_NE(outside.problems.find("Error: resource 1 (broken) lies outside the MOD file"), std::string::npos);

    EXPECT_EQ(read_text(dir / "out.mod"), "precious");
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"m.mod", "out.mod", "t.txt"}));
}

TEST(ImportAction, OutputMayReplaceTheSource) {
    const auto dir = modtext::testing::scratch_dir();
    write_file((dir / "m.mod").string(), module_bytes({{"s", restype::script, to_bytes("SpeakString(a);\r\n"), 0, 0}}));
    RecordingReporter reporter;
    ASSERT_TRUE(import(dir, "#File:s.NSS,0\n#0->SpeakString(b);\n", 0x001, reporter, "m.mod", "m.mod"));
    EXPECT_EQ(resource_of(read_bytes_of(dir / "m.mod"), 0), to_bytes("SpeakString(b);\n"));
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"m.mod", "t.txt"}));
}

// Export, import the unedited text, export again: the same text, and every
// resource the text does not name carried byte for byte.
TEST(RoundTrip, UneditedTextGivesTheSameTextBack) {
    const auto dir = modtext::testing::scratch_dir();
    // Edge modules hold one-character texts, lone spaces, literal bars and
    // carriage returns, which an unedited round trip must all keep.
    // The last is a benchmark module of a megabyte.
    for (const auto& [seed, edge] : {std::pair<std::uint64_t, bool>{1, false}, {2, false}, {7, false},
                                     {1, true}, {2, true}, {5, true}, {0, false}}) {
        write_file((dir / "m.mod").string(), seed == 0 ? large_module(3, 1, Density::dense) : synthetic_module(seed, edge));
        RecordingReporter reporter;
        // With the template resources too (every synthetic module holds
        // four, the edge ones all nine): the import rebuilds whatever GFF
        // the text names.
        const SelectionState all{0x3FF, 0, 0, true};
        ASSERT_TRUE(export_module((dir / "m.mod").string(), (dir / "t.txt").string(), all, reporter));
        ASSERT_TRUE(import_module((dir / "m.mod").string(), (dir / "t.txt").string(),
                                  (dir / "out.mod").string(), all, reporter));
        ASSERT_TRUE(export_module((dir / "out.mod").string(), (dir / "t2.txt").string(), all, reporter));
        const std::string text = read_text(dir / "t.txt");
        EXPECT_EQ(read_text(dir / "t2.txt"), text) << seed;
        EXPECT_EQ(text.find("#File:snd_harbour.SND,13\n") != std::string::npos, seed != 0) << seed;
        EXPECT_EQ(text.find("#File:st_market.UTM,") != std::string::npos, edge) << seed;

        const Bytes source = read_bytes_of(dir / "m.mod"), output = read_bytes_of(dir / "out.mod");
        TranslationTable table;
        parse_translation_lines(table, text, reporter);
        for (std::size_t i = 0; i < get_u32(source, 16); ++i) {
            const Bytes before = resource_of(source, i), after = resource_of(output, i);
            if (!find_file_record(table, static_cast<TextNumber>(i))) {
                EXPECT_EQ(after, before) << seed << " resource " << i;
            } else if (get_u32(source, get_u32(source, 24) + 24 * static_cast<std::uint32_t>(i) + 20) % 65536 == restype::script) {
                // A named script comes back with bare line feeds, the last line ended.
                std::string lines(before.begin(), before.end());
                for (std::size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.erase(at, 1);
                if (!lines.empty() && lines.back() != '\n') lines += '\n';
                EXPECT_EQ(std::string(after.begin(), after.end()), lines) << seed << " resource " << i;
            }
        }
    }
}

TEST(RoundTrip, FilledTemplatesReachExactlyTheirFieldsAndLines) {
    const auto dir = modtext::testing::scratch_dir();
    const Bytes dialogue = gff_bytes(
        GffStruct{0, {F::exo_string("Speaker", "npc"),
                      F::loc_string("Text", 5, {{0, "Hello, traveller.\nWelcome."}}),
                      F::exo_string("Comment", ""),
                      F::loc_string("Text", 6, {{0, "Thanks."}, {1, "Thanks, f."}})}},
        "DLG V3.2");
    write_file((dir / "m.mod").string(),
               module_bytes({{"greeting", restype::conversation, dialogue, 0, 0},
                             {"guard", restype::script, to_bytes("a\r\n  SpeakString(\"Halt\");\r\nb\r\n"), 0, 0}}));
    RecordingReporter reporter;
    ASSERT_TRUE(export_module((dir / "m.mod").string(), (dir / "t.txt").string(), {0x001, 0x002, 0}, reporter));
    std::string text = read_text(dir / "t.txt");
    const auto fill = [&text](const std::string& line, const std::string& with) {
        const std::size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        text.insert(at + line.size(), with);
    };
    fill("#1,french,male->", "Bonjour, voyageur.|Bienvenue.");
    fill("#3,french,female->", "Merci, madame.");
    const std::size_t speak = text.find("#1->");
    text.replace(speak, text.find('\n', speak) - speak, "#1->  SpeakString(\"Halte\");");
    ASSERT_TRUE(import(dir, text, 0x002, reporter));  // keep French only

    const Bytes out = read_bytes_of(dir / "out.mod");
    GffImage image;
    Bytes gff = resource_of(out, 0);
    ByteReader cursor(gff);
    std::string why;
    ASSERT_TRUE(load_gff(image, cursor, why)) << why;
    const auto record_at = [&image](std::size_t field) {
        std::uint64_t length = 0;
        EXPECT_TRUE(locstring_extent(image.field_data, image.fields[field].data, length));
        return slice(image.field_data, image.fields[field].data, static_cast<std::size_t>(length));
    };
    const auto sub = [](std::int32_t id, std::string_view s) {
        Bytes b;
        append_u32(b, static_cast<std::uint32_t>(id));
        append_u32(b, static_cast<std::uint32_t>(s.size() + 1));
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return b;
    };
    const auto record = [](std::initializer_list<Bytes> subs) {
        Bytes body;
        for (const Bytes& s : subs) body.insert(body.end(), s.begin(), s.end());
        Bytes r;
        append_u32(r, static_cast<std::uint32_t>(body.size() + 8));
        append_u32(r, 0xFFFFFFFFu);
        append_u32(r, static_cast<std::uint32_t>(subs.size()));
        r.insert(r.end(), body.begin(), body.end());
        return r;
    };
    // The French male line filled; the empty French female line takes the
    // last longer text before it, the French male one.
    EXPECT_EQ(record_at(1), record({sub(2, "Bonjour, voyageur.\nBienvenue."),
                                    sub(3, "Bonjour, voyageur.\nBienvenue.")}));
    EXPECT_EQ(record_at(3), record({sub(2, "Thanks, f."), sub(3, "Merci, madame.")}));
    EXPECT_EQ(image.fields[0].data, 0u);
    EXPECT_EQ(resource_of(out, 1), to_bytes("a\n  SpeakString(\"Halte\");\nb\n"));
}

TEST(Cli, ImportPrintsOutcomesWarningsAndTheKeptTexts) {
    const auto dir = modtext::testing::scratch_dir();
    write_file((dir / "m.mod").string(),
               module_bytes({{"i", restype::item_template,
                              gff_bytes(GffStruct{0, {F::loc_string("Name", 1, {{0, "Lamp"}})}}, "UTI V3.2"), 0, 0}}));
    write_text(dir / "t.txt", "#0,english,male->orphan\n#File:i.UTI,0\n#0,english,male->Lampe\n#0,klingon,male->x\n"
                              "#0,french,male->Lampe FR\n");
    const std::vector<std::string> paths{(dir / "m.mod").string(), (dir / "t.txt").string(), (dir / "o.mod").string()};
    std::ostringstream out, err;
    EXPECT_EQ(run_cli({"import", "-v", "--from", "all", paths[0], paths[1], paths[2]}, out, err), 0);
    const std::string summary = "Rebuilt 1 resources: 2 strings and 0 script lines; lines in the text: english 1 filled, "
                                "0 empty; french 1 filled, 0 empty.\n";
    EXPECT_EQ(out.str(), "Lampe\nLampe FR\nImport complete!\n" + summary);
    const std::string warnings = "WARNING: Invalid String on line 1! (no #File: line before it)\n"
                                 "WARNING: Invalid String on line 4! (unknown language key \"klingon\")\n";
    EXPECT_EQ(err.str(), "MOD Info:\n# resources: 1\n" + warnings);
    // Without --from, every language of the text is kept.
    std::ostringstream quiet_out, quiet_err;
    EXPECT_EQ(run_cli({"import", paths[0], paths[1], paths[2]}, quiet_out, quiet_err), 0);
    EXPECT_EQ(quiet_out.str(), "Import complete!\n" + summary);
    EXPECT_EQ(quiet_err.str(), warnings);
    EXPECT_NE(read_text(paths[2]).find(std::string("Lampe FR\0", 9)), std::string::npos);
    // A language left out whose lines are filled is told of, with their count.
    std::ostringstream left_out, left_err;
    EXPECT_EQ(run_cli({"import", "--from", "french", paths[0], paths[1], paths[2]}, left_out, left_err), 0);
    EXPECT_EQ(left_err.str(), warnings + "WARNING: 1 filled english lines were left out: english is not selected "
                                         "under Translate from/Import\n");
    EXPECT_EQ(read_text(paths[2]).find(std::string("Lampe\0", 6)), std::string::npos);

    std::ostringstream o, e;
    EXPECT_EQ(run_cli({"import", paths[0], (dir / "none.txt").string(), paths[2]}, o, e), 1);
    EXPECT_EQ(e.str(), "Error opening file: " + (dir / "none.txt").string() + "\n");
    EXPECT_EQ(run_cli({"import", paths[0], paths[1]}, o, e), 2);
    EXPECT_EQ(run_cli({"import", "--to", "french", paths[0], paths[1], paths[2]}, o, e), 2);
    EXPECT_EQ(run_cli({"import", "--filter", "1", paths[0], paths[1], paths[2]}, o, e), 2);
}

// What an import makes of a text as editors and other modules leave it: the
// rebuilt lamp's string, byte for byte, and every message. The module holds
// a lamp whose English text has a literal bar and whose French one is a lone
// space, a script of three lines, two resources named twin and a
// conversation named lamp.
TEST(ImportAction, TextsAsEditorsLeaveThemAreAppliedAsWritten) {
    const auto dir = modtext::testing::scratch_dir();
    const auto item = [](std::vector<LocSub> subs) {
        return gff_bytes(GffStruct{0, {F::loc_string("Name", 1, std::move(subs))}}, "UTI V3.2");
    };
    write_file((dir / "m.mod").string(),
               module_bytes({{"lamp", restype::item_template, item({{0, "Lamp|post"}, {2, " "}}), 0, 0},
                             {"guard", restype::script, to_bytes("a\r\nSpeakString(\"x\");\r\nb\r\n"), 0, 0},
                             {"twin", restype::item_template, item({{0, "One"}}), 0, 0},
                             {"twin", restype::item_template, item({{0, "Two"}}), 0, 0},
                             {"lamp", restype::conversation,
                              gff_bytes(GffStruct{0, {F::exo_string("Speaker", "npc"), F::loc_string("Text", 1, {{0, "Hi"}})}},
                                        "DLG V3.2"),
                              0, 0}}));
    using Strings = std::vector<std::pair<std::int32_t, std::string>>;
    struct Case {
        const char* name;
        std::string text;
        Strings lamp;         // the rebuilt lamp's texts; none when the import fails
        std::string message;  // standard error; "{t}" stands for the text's path
    };
    const std::string lamp = "#File:lamp.UTI,0\n";
    const std::vector<Case> cases{
        {"CR LF line ends", "#File:lamp.UTI,0\r\n#0,english,male->Lamp|post\r\n#0,french,male->Lampe\r\n",
         {{0, "Lamp|post"}, {2, "Lampe"}}, ""},
        {"a CR of a LF text is the text's", lamp + "#0,english,male->Lamp\r\n", {{0, "Lamp\r"}}, ""},
        {"a UTF-8 byte order mark", "\xEF\xBB\xBF" + lamp + "#0,english,male->Lamp\n", {{0, "Lamp"}}, ""},
        {"UTF-16", std::string("\xFF\xFE#\0F\0i\0l\0e\0:\0", 14), {},
         "Error: {t} is a UTF-16 (\"Unicode\") text; save it as UTF-8 or ANSI and import it again!\n"},
        {"CR line ends", "#File:lamp.UTI,0\r#0,english,male->Lamp\r", {},
         "Error: {t} is a text whose lines end in CR alone; save it with CR LF or LF line ends and import it again!\n"},
        {"one character", lamp + "#0,english,male->?\n#0,french,male->\n", {{0, "?"}, {2, "?"}}, ""},
        {"a lone space left as it was", lamp + "#0,french,male-> \n#0,english,male->\n", {{2, " "}, {0, " "}}, ""},
        {"a bar left as it was, and one typed", lamp + "#0,english,male->Lamp|post\n#0,french,male->Lampe|neuve\n",
         {{0, "Lamp|post"}, {2, "Lampe\nneuve"}}, ""},
        {"#File: inside a line", lamp + "#0,english,male->see #File:guard.NSS,1 here\n",
         {{0, "see #File:guard.NSS,1 here"}}, ""},
        {"an invalid header takes its entries with it",
         lamp + "#0,english,male->Lamp\n#File:lamp.UTI,\n#0,english,male->Other\n#File:lamp.UTI,-0\n#0,english,male->x\n",
         {{0, "Lamp"}},
         "WARNING: Invalid File Info on line 3! (no resource number after the comma)\n"
         "WARNING: Invalid File Info on line 5! (negative resource number)\n"},
        {"a block whose resource moved", "#File:lamp.UTI,7\n#0,english,male->Moved\n", {{0, "Moved"}},
         "WARNING: Block lamp.UTI on line 1 applied to resource 0! (the module has no resource 7)\n"},
        {"blocks of other names and kinds",
         lamp + "#0,english,male->Lamp\n#File:twin.UTI,9\n#0,english,male->x\n#File:lamp.DLG,0\n#0,english,male->Talk\n",
         {{0, "Lamp"}},
         "WARNING: Block twin.UTI on line 3 skipped! (2 resources are twin.UTI, and the module has no resource 9)\n"
         "WARNING: Block lamp.DLG on line 5 applied to resource 4! (resource 0 is not lamp.DLG)\n"
         "WARNING: Entry on line 6 skipped! (field 0 of resource 4 (lamp) is not a localized string)\n"},
        {"a script line beyond the script", lamp + "#0,english,male->Lamp\n#File:guard.NSS,1\n#9->x\n", {{0, "Lamp"}},
         "WARNING: Entry on line 4 skipped! (resource 1 (guard) has no line 9: its lines are 0 to 2)\n"},
    };
    const std::string text = (dir / "t.txt").string(), out = (dir / "o.mod").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_text(text, c.text);
        std::ostringstream o, e;
        EXPECT_EQ(run_cli({"import", (dir / "m.mod").string(), text, out}, o, e), c.lamp.empty() ? 1 : 0);
        std::string message = c.message;
        if (const std::size_t at = message.find("{t}"); at != std::string::npos) message.replace(at, 3, text);
        EXPECT_EQ(e.str(), message);
        if (c.lamp.empty()) {
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        const Bytes written = resource_of(read_bytes_of(out), 0);
        GffImage image;
        ByteReader reader(written);
        std::string why;
        ASSERT_TRUE(load_gff(image, reader, why)) << why;
        LocString strings;
        ASSERT_TRUE(read_locstring(image.field_data, image.fields[0].data, strings, why)) << why;
        Strings got;
        for (const LocSubstring& sub : strings.substrings) got.emplace_back(sub.string_id, std::string(substring_text(sub)));
        EXPECT_EQ(got, c.lamp);
        fs::remove(out);
    }
}

// A module that already holds a translation keeps it through an export to
// that language and an unedited import: the template lines carry it.
TEST(RoundTrip, ExistingTranslationsSurviveTheirTemplateLines) {
    const auto dir = modtext::testing::scratch_dir();
    write_file((dir / "m.mod").string(),
               module_bytes({{"lamp", restype::item_template,
                              gff_bytes(GffStruct{0, {F::loc_string("Name", 1, {{0, "Lamp"}, {2, "Lampe|neuve"}})}},
                                        "UTI V3.2"),
                              0, 0}}));
    const std::string module = (dir / "m.mod").string(), text = (dir / "t.txt").string();
    std::ostringstream o, e;
    ASSERT_EQ(run_cli({"export", "--to", "french", module, text}, o, e), 0);
    EXPECT_EQ(read_text(text), "#File:lamp.UTI,0\n\n#0,english,male->Lamp\n#0,french,male->Lampe|neuve\n"
                               "#0,french,female->\n\n////////////////////////////////\n\n");
    ASSERT_EQ(run_cli({"import", module, text, (dir / "o.mod").string()}, o, e), 0);
    const Bytes written = resource_of(read_bytes_of(dir / "o.mod"), 0);
    GffImage image;
    ByteReader reader(written);
    std::string why;
    ASSERT_TRUE(load_gff(image, reader, why));
    LocString strings;
    ASSERT_TRUE(read_locstring(image.field_data, image.fields[0].data, strings, why));
    ASSERT_EQ(strings.substrings.size(), 3u);
    // The French text's bar stays a bar; the empty feminine line takes it.
    EXPECT_EQ(substring_text(strings.substrings[1]), "Lampe|neuve");
    EXPECT_EQ(substring_text(strings.substrings[2]), "Lampe|neuve");
}

// The bundled translation is the demo module's export with its French lines
// and script lines filled in; every other line must still be what export writes.
TEST(DemoTranslation, MatchesTheDemoModule) {
    const auto dir = modtext::testing::scratch_dir();
    write_file((dir / "demo.mod").string(), synthetic_module(1));
    RecordingReporter reporter;
    ASSERT_TRUE(export_module((dir / "demo.mod").string(), (dir / "t.txt").string(), {0x001, 0x002, 0}, reporter));
    const std::string fresh = read_text(dir / "t.txt");
    const std::string bundled = read_text(fs::path(MODTEXT_DATA_DIR) / "demo-translation.fr.txt");
    std::istringstream a(fresh), b(bundled);
    std::string expected, got;
    std::size_t filled = 0;
    while (std::getline(a, expected)) {
        ASSERT_TRUE(std::getline(b, got)) << expected;
        const bool french = expected.find(",french,") != std::string::npos;
        const bool script = expected.size() > 1 && expected[0] == '#' && expected.find("->") < expected.find(',');
        if (french || script) {
            EXPECT_EQ(got.substr(0, expected.find("->") + 2), expected.substr(0, expected.find("->") + 2));
            filled += got != expected;
        } else {
            EXPECT_EQ(got, expected);
        }
    }
    EXPECT_GT(filled, 50u);
    ASSERT_TRUE(import_module((dir / "demo.mod").string(), (fs::path(MODTEXT_DATA_DIR) / "demo-translation.fr.txt").string(),
                              (dir / "fr.mod").string(), {0x003, 0, 0}, reporter));
    EXPECT_EQ(reporter.problems, "");
}

// Some writers store equal texts once and let several fields point at them:
// translating one of those fields must leave the others' text alone.
TEST(RoundTrip, ASharedRecordTranslatedForOneFieldStaysForTheOthers) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string hello = std::string("Hello.") + '\0';
    Bytes dialogue = gff_bytes(
        GffStruct{0, {F::exo_string("Speaker", "npc"), F::loc_string("Text", 1, {{0, hello}}),
                      F::exo_string("Speaker", "npc"), F::loc_string("Text", 1, {{0, hello}}),
                      F::loc_string("Text", 2, {{0, "Bye."}})}},
        "DLG V3.2");
    store_u32(&dialogue[get_u32(dialogue, 16) + 3 * 12 + 8], 7);  // field 3: field 1's record
    write_file((dir / "m.mod").string(), module_bytes({{"d", restype::conversation, dialogue, 0, 0}}));
    RecordingReporter reporter;
    ASSERT_TRUE(export_module((dir / "m.mod").string(), (dir / "t.txt").string(), {0x001, 0x002, 0}, reporter));
    const std::string text = read_text(dir / "t.txt");
    ASSERT_EQ(text,
              "#File:d.DLG,0\n\n"
              "//NPC->PLAYER\n#1,english,male->Hello.\n#1,french,male->\n#1,french,female->\n\n"
              "//NPC->PLAYER\n#3,english,male->Hello.\n#3,french,male->\n#3,french,female->\n\n"
              "//NPC->PLAYER\n#4,english,male->Bye.\n#4,french,male->\n#4,french,female->\n\n"
              "////////////////////////////////\n\n");
    ASSERT_TRUE(import(dir, "#File:d.DLG,0\n#3,english,male->Hello.\n#3,french,male->Bonjour.\n"
                            "#4,english,male->Bye.\n#4,french,male->Au revoir.\n",
                       0x003, reporter));
    ASSERT_TRUE(export_module((dir / "out.mod").string(), (dir / "t2.txt").string(), {0x003, 0, 0}, reporter));
    EXPECT_EQ(read_text(dir / "t2.txt"),
              "#File:d.DLG,0\n\n"
              "//NPC->PLAYER\n#1,english,male->Hello.\n\n"
              "//NPC->PLAYER\n#3,english,male->Hello.\n//NPC->PLAYER\n#3,french,male->Bonjour.\n\n"
              "//NPC->PLAYER\n#4,english,male->Bye.\n//NPC->PLAYER\n#4,french,male->Au revoir.\n\n"
              "////////////////////////////////\n\n");
    // Field 1 still points at the old record, untouched; field 3's new record is at the end.
    GffImage before, after;
    std::string why;
    ByteReader rb(dialogue);
    const Bytes rebuilt = resource_of(read_bytes_of(dir / "out.mod"), 0);
    ByteReader ra(rebuilt);
    ASSERT_TRUE(load_gff(before, rb, why) && load_gff(after, ra, why));
    EXPECT_EQ(after.fields[1].data, 7u);
    EXPECT_EQ(slice(after.field_data, 7, 26), slice(before.field_data, 7, 26));
    EXPECT_GT(after.fields[3].data, after.fields[4].data);
    EXPECT_TRUE(check_gff(after, why)) << why;
}

// An oddity the source carries (here a field whose label index names no
// label) is carried on; the check holds the output only to what the source was.
TEST(ImportAction, ASourcesOwnOdditiesDoNotFailItsCheck) {
    const auto dir = modtext::testing::scratch_dir();
    Bytes item = gff_bytes(GffStruct{0, {F::dword("Cost", 5), F::loc_string("Name", 1, {{0, "Lamp"}})}}, "UTI V3.2");
    store_u32(&item[get_u32(item, 16) + 4], 77);  // field 0's label index
    write_file((dir / "m.mod").string(), module_bytes({{"i", restype::item_template, item, 0, 0}}));
    RecordingReporter reporter;
    ASSERT_TRUE(import(dir, "#File:i.UTI,0\n#1,english,male->Lampe\n", 0x001, reporter)) << reporter.problems;
    GffImage after;
    const Bytes rebuilt = resource_of(read_bytes_of(dir / "out.mod"), 0);
    ByteReader reader(rebuilt);
    std::string why;
    ASSERT_TRUE(load_gff(after, reader, why));
    EXPECT_EQ(after.fields[0].label_index, 77u);
    EXPECT_FALSE(check_gff(after, why));
    EXPECT_EQ(why, "label of field 0 out of bounds");
}
