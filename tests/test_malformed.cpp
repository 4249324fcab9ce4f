// The catalogue of damaged input: one small file per kind of damage, and
// exactly what the user is told about it by the command-line tool.
#include "app/cli.h"
#include "test_support.h"

#include <fstream>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace modtext;
using namespace modtext::build;
using modtext::testing::read_text;
using modtext::testing::write_text;
namespace fs = std::filesystem;

namespace {

using F = build::GffField;

Bytes item(std::vector<F> fields) { return gff_bytes(GffStruct{0, std::move(fields)}, "UTI V3.2"); }
Bytes lamp() { return item({F::loc_string("Name", 1, {{0, "Lamp"}})}); }
Bytes module_of(Bytes gff) { return module_bytes({{"a", restype::item_template, std::move(gff), 0, 0}}); }

Bytes patched(Bytes bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

// Where field 0's data word of the lamp lies, inside the module.
std::size_t lamp_field_word() { return get_u32(lamp(), 16) + 8; }

struct Damage {
    const char* name;
    Bytes module;
    std::string text;  // for an import; empty: an export
    int status;
    std::string message;  // standard error; "{m}" stands for the module's path
};

std::string with_path(std::string message, const std::string& path) {
    for (std::size_t at; (at = message.find("{m}")) != std::string::npos;) message.replace(at, 3, path);
    return message;
}

}  // namespace

TEST(Malformed, EveryKindOfDamageGetsItsMessage) {
    const Bytes good = module_of(lamp());
    const Bytes gff = lamp();
    const std::uint32_t data = get_u32(good, get_u32(good, 28));  // the resource's offset
    const std::string junk("#\x01\x02\xFF\xFE\n\x00\x00#File\n#5\n", 17);
    const std::vector<Damage> catalogue{
        {"header cut short", Bytes(good.begin(), good.begin() + 100), "", 1,
         "Error: {m} is too short to be a MOD file!\n"},
        {"a text where a module belongs", to_bytes("#File:area.ARE,0\n\n#3,english,male->" + std::string(200, 'x') + "\n"),
         "", 1, "Error: {m} is not a module archive!\n"},
        {"a short text where a module belongs", to_bytes("#File:a.ARE,0\n"), "", 1,
         "Error: {m} is not a module archive!\n"},
        {"another version", patched(good, 4, 0x312E3156u), "", 1,
         "Error: {m} is a MOD file of version \"V1.1\"; only V1.0 can be read!\n"},
        {"key list past the end", patched(good, 24, static_cast<std::uint32_t>(good.size())), "", 1,
         "Error: the key list of {m} lies outside the file!\n"},
        {"resource list past the end", patched(good, 28, 0xFFFFFFF0u), "", 1,
         "Error: the resource list of {m} lies outside the file!\n"},
        {"localized-string block past the end", patched(good, 12, 0x10000), "", 1,
         "Error: the localized-string block of {m} lies outside the file!\n"},
        {"entry count huge", patched(good, 16, 0x7FFFFFFF), "", 1,
         "Error: the key list of {m} lies outside the file!\n"},
        {"entry count negative", patched(good, 16, 0xFFFFFFFEu), "", 0, ""},
        {"resource past the end", patched(good, get_u32(good, 28) + 4, 0x1000), "", 0,
         "Error: resource 0 (a) lies outside the MOD file (offset " + std::to_string(data) + ", size 4096)!\n"},
        {"GFF header cut short", module_of(Bytes(gff.begin(), gff.begin() + 40)), "", 0,
         "Error: resource 0 (a) is not a well-formed GFF (header cut short), skipped!\n"},
        {"GFF section out of bounds", module_of(patched(gff, 36, 5000)), "", 0,
         "Error: resource 0 (a) is not a well-formed GFF (field data out of bounds), skipped!\n"},
        {"GFF field array count overflows", module_of(patched(gff, 20, 0x40000000u)), "", 0,
         "Error: resource 0 (a) is not a well-formed GFF (field array out of bounds), skipped!\n"},
        {"field data offset out of bounds", module_of(patched(gff, lamp_field_word(), 999)), "", 0,
         "Error: resource 0 (a) is not a well-formed GFF (localized string head out of bounds in field 0), skipped!\n"},
        {"substring runs past its block",
         module_of(item({F::raw_bytes("Name", GffType::LocString,
                                      std::string("\x10\0\0\0\xFF\xFF\xFF\xFF\x01\0\0\0\0\0\0\0\x40\0\0\0ab", 22))})),
         "", 0,
         "Error: resource 0 (a) is not a well-formed GFF (localized string substring out of bounds in field 0), skipped!\n"},
        {"substring count overflows",
         module_of(item({F::raw_bytes("Name", GffType::LocString,
                                      std::string("\x08\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12))})),
         "", 0,
         "Error: resource 0 (a) is not a well-formed GFF (localized string substring out of bounds in field 0), skipped!\n"},
        {"label of 16 bytes without terminator, no damage",
         module_of(item({F::exo_string("Speaker_of_house", "x"), F::loc_string("Name", 1, {{0, "Lamp"}})})),
         "", 0, ""},
        {"named string whose substring runs past its block",
         module_of(item({F::raw_bytes("Name", GffType::LocString,
                                      std::string("\x10\0\0\0\xFF\xFF\xFF\xFF\x01\0\0\0\0\0\0\0\x40\0\0\0ab", 22))})),
         "#File:a.UTI,0\n#0,english,male->Lampe\n", 1,
         "Error: resource 0 (a) is not a well-formed GFF (localized string substring out of bounds in field 0); "
         "nothing was written!\n"},
        {"named GFF malformed", module_of(patched(gff, lamp_field_word(), 999)),
         "#File:a.UTI,0\n#0,english,male->Lampe\n", 1,
         "Error: resource 0 (a) is not a well-formed GFF (localized string out of bounds in field 0); nothing was written!\n"},
        {"text of binary junk", good, "#File:a.UTI,0\n" + junk, 0,
         "WARNING: Invalid String on line 2! (no \"->\")\nWARNING: Invalid String on line 4! (no \"->\")\n"},
        {"text with NUL bytes", good, std::string("#File:a.UTI,0\n#0,english,male->La\0mpe\n", 38), 0, ""},
        {"text line of megabytes", good, "#File:a.UTI,0\n#0,english,male->" + std::string(3 << 20, 'L') + "\n", 0, ""},
        {"keys beyond 32 bits", good, "#File:a.UTI,4294967296\n#0,english,male->x\n#File:a.UTI,0\n#4294967296,english,male->y\n", 0,
         "WARNING: Invalid String on line 4! (key beyond 2147483647)\n"
         "WARNING: Block a.UTI on line 1 applied to resource 0! (its index is too large for any module)\n"
         "WARNING: Block a.UTI on line 3 skipped! (a second block for resource 0; the first counts)\n"},
        {"key language unknown", good, "#File:a.UTI,0\n#0,englsh,male->Lampe\n", 0,
         "WARNING: Invalid String on line 2! (unknown language key \"englsh\")\n"},
    };
    const auto dir = modtext::testing::scratch_dir();
    const std::string module = (dir / "damaged.mod").string();
    const std::string text = (dir / "damaged.txt").string();
    const std::string out = (dir / "out.txt").string();
    for (const Damage& damage : catalogue) {
        SCOPED_TRACE(damage.name);
        write_file(module, damage.module);
        std::vector<std::string> args{"export", "--from", "all", module, out};
        if (!damage.text.empty()) {
            write_text(text, damage.text);
            args = {"import", "--from", "all", module, text, out};
        }
        std::ostringstream o, e;
        EXPECT_EQ(run_cli(args, o, e), damage.status);
        EXPECT_EQ(e.str(), with_path(damage.message, module));
        // The summary line after the completion is another test's.
        const std::string complete = damage.text.empty() ? "Export complete!\n" : "Import complete!\n";
        EXPECT_EQ(o.str().substr(0, damage.status == 0 ? complete.size() : std::string::npos),
                  damage.status == 0 ? complete : "");
        EXPECT_EQ(fs::exists(out), damage.status == 0);
        fs::remove(out);
    }
}

// What the damaged texts above did to the module: nothing, where they named
// nothing, and each such line or block is told of.
TEST(Malformed, TextsThatNameNothingChangeNothing) {
    const auto dir = modtext::testing::scratch_dir();
    write_file((dir / "m.mod").string(), module_of(lamp()));
    write_text(dir / "t.txt", "#File:b.UTI,4294967296\n#0,english,male->x\n#File:a.UTI,0\n#4294967296,english,male->y\n"
                              "#-1,english,male->z\n#7,english,male->w\n");
    std::ostringstream o, e;
    ASSERT_EQ(run_cli({"import", (dir / "m.mod").string(), (dir / "t.txt").string(), (dir / "o.mod").string()}, o, e), 0);
    EXPECT_EQ(e.str(), "WARNING: Invalid String on line 4! (key beyond 2147483647)\n"
                       "WARNING: Invalid String on line 5! (negative key)\n"
                       "WARNING: Block b.UTI on line 1 skipped! (no resource of the module is b.UTI)\n"
                       "WARNING: Entry on line 6 skipped! (resource 0 (a) has no field 7)\n");
    const std::string output = read_text(dir / "o.mod");
    const Bytes written(output.begin(), output.end());
    const std::uint32_t list = get_u32(written, 28);
    EXPECT_EQ(Bytes(written.begin() + static_cast<std::ptrdiff_t>(get_u32(written, list)), written.end()), lamp());
}

// A damaged input can repeat one warning millions of times: 20 of a kind are
// shown, then how many more there were. Errors are never left out, and
// --verbose shows everything.
TEST(Malformed, AFloodOfOneWarningIsCutShortButNoErrorIs) {
    std::vector<ModuleResource> resources{{"a", restype::item_template, lamp(), 0, 0}};
    for (int i = 0; i < 25; ++i) resources.push_back({"d", restype::item_template, Bytes(10, 0), 0, 0});
    const auto dir = modtext::testing::scratch_dir();
    const std::string module = (dir / "m.mod").string(), text = (dir / "t.txt").string();
    write_file(module, module_bytes(resources));
    std::string flood = "#File:a.UTI,0\n";
    for (int i = 0; i < 45; ++i) flood += "#0,englsh,male->x\n";
    write_text(text, flood);
    struct Case {
        std::vector<std::string> args;
        std::size_t shown;     // lines of the repeated kind
        std::string left_out;  // the line that counts the rest
    };
    const std::string out = (dir / "o").string();
    const std::vector<Case> cases{
        {{"export", module, out}, 25, ""},  // errors: every one
        // Made in runs on two threads, and told in order all the same.
        {{"export", "--to", "french", module, out + ".po"}, 25, ""},
        {{"import", module, text, out}, 20, "WARNING: 25 more warnings like \"Invalid String on line %d!"},
        {{"import", "--verbose", module, text, out}, 45, ""},
    };
    for (const Case& c : cases) {
        std::ostringstream o, e;
        EXPECT_EQ(run_cli(c.args, o, e), 0);
        const std::string kind = c.args[0] == "export" ? "Error: resource " : "WARNING: Invalid String on line ";
        std::size_t shown = 0, left_out = 0;
        long last = -1;  // the resource or line each names, ascending
        std::istringstream lines(e.str());
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(kind, 0) == 0) {
                ++shown;
                const long named = std::stol(line.substr(kind.size()));
                EXPECT_GT(named, last) << e.str();
                last = named;
            }
            left_out += !c.left_out.empty() && line.rfind(c.left_out, 0) == 0;
        }
        EXPECT_EQ(shown, c.shown) << e.str();
        EXPECT_EQ(left_out, c.left_out.empty() ? 0u : 1u) << e.str();
    }
}

TEST(Malformed, WhatWasToldOnAnotherThreadIsToldInOrderUnderTheCap) {
    modtext::testing::RecordingReporter target;
    DeferredReporter first(target), second(target);
    // Made in parallel, told as if one after the other: 15 + 30 of one
    // kind, of which the target shows 20 (the second's last ten, past the
    // cap there already, are only counted); errors and progress all.
    std::thread([&] {
        for (int i = 0; i < 30; ++i) report(second, Severity::warning, "WARNING: w %d\n", 15 + i);
        report_each(second, "Error: e %d\n", 1);
        report(second, Severity::progress, "p\n");
    }).join();
    for (int i = 0; i < 15; ++i) report(first, Severity::warning, "WARNING: w %d\n", i);
    report(first, Severity::error, "Error: x\n");
    first.replay(target);
    second.replay(target);
    report_left_out_warnings(target);
    std::string expected;
    const auto warnings = [&expected](int from, int to) {
        for (int i = from; i < to; ++i) expected.append("WARNING: w ").append(std::to_string(i)).append("\n");
    };
    warnings(0, 15);
    expected += "Error: x\n";
    warnings(15, 20);
    expected += "Error: e 1\nWARNING: 25 more warnings like \"w %d\" were left out.\n";
    EXPECT_EQ(target.problems, expected);
    EXPECT_EQ(target.progress, "p\n");
}

#ifndef _WIN32
namespace {

// Lets the process map at most `room` bytes more than it has while it lives,
// so that reading gigabytes fails instead of passing slowly. The sanitizers
// map terabytes of shadow memory: under them there is no ceiling.
class AddressSpaceCeiling {
public:
    explicit AddressSpaceCeiling(std::uint64_t room) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        std::ifstream statm("/proc/self/statm");
        std::uint64_t pages = 0;
        if (!(statm >> pages) || getrlimit(RLIMIT_AS, &before_) != 0) return;
        rlimit lower = before_;
        lower.rlim_cur = pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) + room;
        set_ = setrlimit(RLIMIT_AS, &lower) == 0;
#else
        (void)room;
#endif
    }
    ~AddressSpaceCeiling() {
        if (set_) setrlimit(RLIMIT_AS, &before_);
    }

private:
    rlimit before_{};
    bool set_ = false;
};

}  // namespace
#endif

// A resource is measured by its own header before it is read: one that
// claims gigabytes is skipped as damaged, or read only as far as its
// sections reach, without reading the gigabytes.
TEST(Malformed, AResourceClaimingGigabytesIsNotReadWhole) {
#ifdef _WIN32
    GTEST_SKIP() << "a sparse file of 4 GB";
#else
    const AddressSpaceCeiling ceiling(std::uint64_t{1} << 30);
    const auto dir = modtext::testing::scratch_dir();
    const std::string module = (dir / "m.mod").string(), text = (dir / "t.txt").string();
    const std::uint32_t claimed = 0xF0000000u;
    for (const bool damaged : {true, false}) {
        Bytes file = module_of(damaged ? patched(lamp(), 36, 0xFFFFFF00u) : lamp());
        const std::uint32_t list = get_u32(file, 28);
        file = patched(file, list + 4, claimed);
        write_file(module, file);
        fs::resize_file(module, std::uint64_t{get_u32(file, list)} + claimed);  // sparse: nothing on the disk
        std::ostringstream o, e;
        EXPECT_EQ(run_cli({"export", module, text}, o, e), 0);
        EXPECT_EQ(e.str(), damaged ? "Error: resource 0 (a) is not a well-formed GFF (field data out of bounds), skipped!\n"
                                   : "");
        EXPECT_EQ(read_text(text).find("->Lamp\n") != std::string::npos, !damaged);
    }
    write_text(text, "#File:a.UTI,0\n#0,english,male->Lampe\n");
    write_file(module, patched(module_of(patched(lamp(), 36, 0xFFFFFF00u)), get_u32(module_of(lamp()), 28) + 4, claimed));
    fs::resize_file(module, std::uint64_t{4} << 30);
    std::ostringstream o, e;
    EXPECT_EQ(run_cli({"import", module, text, (dir / "o.mod").string()}, o, e), 1);
    EXPECT_EQ(e.str(), "Error: resource 0 (a) is not a well-formed GFF (field data out of bounds); nothing was written!\n");
    fs::remove(module);
#endif
}
