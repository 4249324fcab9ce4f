#include "formats/module_archive.h"
#include "test_support.h"

using namespace modtext;
using namespace modtext::build;
using modtext::testing::RecordingReporter;

namespace {

std::vector<ModuleResource> three_resources() {
    return {{"first", restype::script, to_bytes("abc"), 11, 0},
            {"sixteen_chars_xx", restype::area, to_bytes("defgh"), 22, 0},
            {"empty", restype::journal, {}, 33, 0}};
}

void set_u32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

TEST(ModuleArchive, ReadsHeaderTablesAndResources) {
    const auto dir = modtext::testing::scratch_dir();
    ModuleOptions options;
    options.locstring_block = Bytes(100, 0x5A);
    options.after_header = Bytes(7, 0x11);
    options.reverse_order = true;
    options.resource_gap = 5;
    const Bytes file = module_bytes(three_resources(), options);
    write_file((dir / "m.mod").string(), file);

    ModuleArchive archive;
    RecordingReporter reporter;
    ASSERT_TRUE(open_module(archive, (dir / "m.mod").string(), reporter));
    EXPECT_EQ(reporter.progress, "MOD Info:\n# resources: 3\n");
    EXPECT_EQ(archive.source_path, (dir / "m.mod").string());
    EXPECT_TRUE(std::equal(archive.header.raw.begin(), archive.header.raw.end(), file.begin()));
    EXPECT_EQ(archive.locstring_block, Bytes(100, 0x5A));
    ASSERT_EQ(archive.count(), 3u);
    EXPECT_EQ(archive.keys[0].name(), "first");
    EXPECT_EQ(archive.keys[1].name(), "sixteen_chars_xx");  // no terminator, not run into the id
    EXPECT_EQ(archive.keys[1].type(), restype::area);
    // The gap block is whatever follows the key list: here the resource list.
    const std::size_t keys_end = archive.header.key_list_offset() + 3 * 24;
    EXPECT_EQ(archive.gap_block, Bytes(file.begin() + static_cast<long>(keys_end), file.begin() + static_cast<long>(keys_end) + 24));

    InputFile source;
    ASSERT_TRUE(source.open(archive.source_path));
    Bytes bytes;
    const std::vector<std::string> contents{"abc", "defgh", ""};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(read_resource(source, archive, i, bytes, reporter));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), contents[i]);
    }
    EXPECT_EQ(reporter.problems, "");
}

TEST(ModuleArchive, NoOrNegativeEntryCountMeansNoResources) {
    const auto dir = modtext::testing::scratch_dir();
    for (std::int32_t count : {0, -5}) {
        ModuleOptions options;
        options.entry_count = count;
        write_file((dir / "m.mod").string(), module_bytes(three_resources(), options));
        ModuleArchive archive;
        RecordingReporter reporter;
        ASSERT_TRUE(open_module(archive, (dir / "m.mod").string(), reporter));
        EXPECT_EQ(archive.count(), 0u);
        EXPECT_EQ(reporter.progress, "MOD Info:\n# resources: " + std::to_string(count) + "\n");
    }
}

TEST(ModuleArchive, RefusesWhatItCannotReadAndKeepsTheEarlierModule) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string path = (dir / "m.mod").string();
    const Bytes good = module_bytes(three_resources());
    write_file(path, good);
    ModuleArchive archive;
    RecordingReporter reporter;
    ASSERT_TRUE(open_module(archive, path, reporter));

    const auto refused = [&](const Bytes& bytes, const std::string& message) {
        const std::string bad = (dir / "bad.mod").string();
        write_file(bad, bytes);
        RecordingReporter r;
        EXPECT_FALSE(open_module(archive, bad, r)) << message;
        EXPECT_EQ(r.problems, message);
        EXPECT_EQ(archive.source_path, path);  // the earlier module stays
        EXPECT_EQ(archive.count(), 3u);
    };
    refused(Bytes(good.begin(), good.begin() + 159), "Error: " + (dir / "bad.mod").string() + " is too short to be a MOD file!\n");
    {
        ModuleOptions v11;
        v11.version = "V1.1";
        refused(module_bytes(three_resources(), v11),
                "Error: " + (dir / "bad.mod").string() + " is a MOD file of version \"V1.1\"; only V1.0 can be read!\n");
    }
    const std::string where = " of " + (dir / "bad.mod").string() + " lies outside the file!\n";
    Bytes bytes = good;
    set_u32(bytes, 12, 1000);  // block size
    refused(bytes, "Error: the localized-string block" + where);
    bytes = good;
    set_u32(bytes, 20, 0xFFFFFFFFu);
    refused(bytes, "Error: the localized-string block" + where);
    bytes = good;
    set_u32(bytes, 24, static_cast<std::uint32_t>(good.size() - 30));
    refused(bytes, "Error: the key list" + where);
    bytes = good;
    set_u32(bytes, 16, 0x7FFFFFFF);  // a huge count is never allocated
    refused(bytes, "Error: the key list" + where);
    bytes = good;
    set_u32(bytes, 28, static_cast<std::uint32_t>(good.size() - 8));
    refused(bytes, "Error: the resource list" + where);
    // Key list last in the file: nothing follows it to carry as the gap block.
    bytes = good;
    set_u32(bytes, 24, static_cast<std::uint32_t>(good.size() - 72));
    refused(bytes, "Error: the gap block" + where);

    RecordingReporter r;
    EXPECT_FALSE(open_module(archive, (dir / "missing.mod").string(), r));
    EXPECT_EQ(r.problems, "Error opening file: " + (dir / "missing.mod").string() + "\n");
    EXPECT_EQ(archive.source_path, path);
}

TEST(ModuleArchive, AResourceOutsideTheFileIsNotRead) {
    const auto dir = modtext::testing::scratch_dir();
    Bytes bytes = module_bytes(three_resources());
    // Resource 1's size now reaches one byte past the end.
    const std::uint32_t list = get_u32(bytes, 28);
    const std::uint32_t offset = get_u32(bytes, list + 8);
    set_u32(bytes, list + 12, static_cast<std::uint32_t>(bytes.size()) - offset + 1);
    write_file((dir / "m.mod").string(), bytes);

    ModuleArchive archive;
    RecordingReporter reporter;
    ASSERT_TRUE(open_module(archive, (dir / "m.mod").string(), reporter));
    InputFile source;
    ASSERT_TRUE(source.open(archive.source_path));
    Bytes out;
    EXPECT_FALSE(read_resource(source, archive, 1, out, reporter));
    EXPECT_EQ(reporter.problems, "Error: resource 1 (sixteen_chars_xx) lies outside the MOD file (offset " +
                                     std::to_string(offset) + ", size " +
                                     std::to_string(bytes.size() - offset + 1) + ")!\n");
    EXPECT_TRUE(read_resource(source, archive, 2, out, reporter));
}
