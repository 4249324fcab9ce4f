// Failures from outside: a full device, a place that cannot be written, a
// source that changes or vanishes while it is read, a text that cannot be
// read. Each fails with a message, through the action and through the CLI,
// and leaves no partial file, every existing target and the source as they were.
#include "app/cli.h"
#include "core/actions.h"
#include "test_support.h"

#include <functional>
#include <sstream>
#include <utility>

using namespace modtext;
using namespace modtext::build;
using modtext::testing::files_in;
using modtext::testing::read_text;
using modtext::testing::RecordingReporter;
using modtext::testing::write_text;
namespace fs = std::filesystem;

namespace {

// Runs something when the action reports a given progress line, as if the
// world changed at that moment.
class HookReporter final : public Reporter {
public:
    HookReporter(std::string_view when, std::function<void()> action)
        : when_(when), action_(std::move(action)) {}
    bool wants(Severity) const override { return true; }
    void diagnostic(Severity severity, std::string_view text) override {
        if (severity != Severity::progress) problems += text;
        act_on(text);
    }
    void error_box(std::string_view text) override { problems += text; }
    void info_box(std::string_view text) override { info += text; }
    void kept_text(std::string_view text) override { act_on(text); }
    std::string problems, info;

private:
    void act_on(std::string_view text) {
        if (action_ && text.find(when_) != std::string_view::npos) std::exchange(action_, nullptr)();
    }
    std::string when_;
    std::function<void()> action_;
};

struct Scene {
    fs::path dir = modtext::testing::scratch_dir();
    std::string source = (dir / "m.mod").string();
    std::string text = (dir / "t.txt").string();
    std::string output = (dir / "out.mod").string();
    std::string source_bytes;
    Scene() {
        write_file(source, synthetic_module(4));
        source_bytes = read_text(source);
        write_text(dir / "t.txt", "#File:dlg_innkeeper.DLG,4\n#12,english,male->Kept text\n");
        write_text(dir / "out.mod", "existing output");
    }
    // The CLI gives the same message on standard error and exits 1.
    void cli_fails(const std::vector<std::string>& args, const std::string& message) const {
        std::ostringstream out, err;
        EXPECT_EQ(run_cli(args, out, err), 1);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
    }
    void untouched(const std::vector<std::string>& files) const {
        EXPECT_EQ(read_text(source), source_bytes);
        EXPECT_EQ(read_text(dir / "out.mod"), "existing output");
        EXPECT_EQ(files_in(dir), files);
    }
};

}  // namespace

TEST(Faults, AFullDeviceFailsBothActionsAndLeavesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "no full device to write to";
#else
    Scene s;
    // The staged file beside each target is the full device itself.
    fs::create_symlink("/dev/full", s.output + ".modtext-part");
    fs::create_symlink("/dev/full", s.text + ".new.modtext-part");
    RecordingReporter import;
    EXPECT_FALSE(import_module(s.source, s.text, s.output, {0x3FF, 0, 0}, import));
    EXPECT_EQ(import.problems, "Error writing file: " + s.output + "\n");
    RecordingReporter exporting;
    EXPECT_FALSE(export_module(s.source, s.text + ".new", {0x3FF, 0, 0}, exporting));
    EXPECT_NE(exporting.problems.find("Error writing file: " + s.text + ".new\n"), std::string::npos);
    EXPECT_TRUE(import.info_boxes.empty() && exporting.info_boxes.empty());
    s.untouched({"m.mod", "out.mod", "t.txt"});

    fs::create_symlink("/dev/full", s.output + ".modtext-part");
    s.cli_fails({"import", s.source, s.text, s.output}, "Error writing file: " + s.output + "\n");
    s.untouched({"m.mod", "out.mod", "t.txt"});
#endif
}

TEST(Faults, APlaceThatCannotBeWrittenFailsBeforeAnythingIsRead) {
    Scene s;
    // A path whose directory is a file can never be created.
    const std::string nowhere = (s.dir / "m.mod" / "out.mod").string();
    RecordingReporter reporter;
    EXPECT_FALSE(import_module(s.source, s.text, nowhere, {1, 0, 0}, reporter));
    EXPECT_FALSE(export_module(s.source, nowhere, {1, 0, 0}, reporter));
    EXPECT_EQ(reporter.problems, "Error opening file: " + nowhere + "\n" + "Error opening file: " + nowhere + "\n");
    s.cli_fails({"export", s.source, nowhere}, "Error opening file: " + nowhere + "\n");
#ifndef _WIN32
    // Not even root may create files here.
    s.cli_fails({"import", s.source, s.text, "/proc/modtext-out.mod"}, "Error opening file: /proc/modtext-out.mod\n");
#endif
    s.untouched({"m.mod", "out.mod", "t.txt"});
}

TEST(Faults, ASourceCutShortWhileItIsReadFailsTheAction) {
    Scene s;
    const auto cut = [&s] { fs::resize_file(s.source, 2000); };
    HookReporter exporting("Exporting general GFF file: module", cut);
    EXPECT_FALSE(export_module(s.source, s.text + ".new", {0x3FF, 0, 0}, exporting));
    EXPECT_NE(exporting.problems.find("Error reading resource 1 (module) from " + s.source + "\n"), std::string::npos)
        << exporting.problems;
    EXPECT_EQ(exporting.info, "");
    write_file(s.source, synthetic_module(4));

    HookReporter importing("# resources", cut);
    EXPECT_FALSE(import_module(s.source, s.text, s.output, {0x3FF, 0, 0}, importing));
    EXPECT_NE(importing.problems.find("lies outside the MOD file"), std::string::npos) << importing.problems;
    write_file(s.source, synthetic_module(4));

    // Cut while the named string is rebuilt: the resources after it are
    // still to be copied, on the writing thread, and their reads come back short.
    HookReporter rebuilding("Kept text", cut);
    EXPECT_FALSE(import_module(s.source, s.text, s.output, {0x3FF, 0, 0}, rebuilding));
    EXPECT_EQ(rebuilding.problems.rfind("Error reading resource ", 0), 0u) << rebuilding.problems;
    EXPECT_NE(rebuilding.problems.find(" from " + s.source + "\n"), std::string::npos) << rebuilding.problems;
    EXPECT_EQ(rebuilding.info, "");
    write_file(s.source, synthetic_module(4));
    s.untouched({"m.mod", "out.mod", "t.txt"});
}

TEST(Faults, ASourceThatVanishesBeforeItIsReadAgainFailsTheAction) {
#ifdef _WIN32
    GTEST_SKIP() << "a file that is open cannot be removed";
#endif
    Scene s;
    const auto vanish = [&s] { fs::remove(s.source); };
    HookReporter exporting("# resources", vanish);
    EXPECT_FALSE(export_module(s.source, s.text + ".new", {1, 0, 0}, exporting));
    EXPECT_EQ(exporting.problems, "Error opening file: " + s.source + "\n");
    write_file(s.source, synthetic_module(4));
    HookReporter importing("# resources", vanish);
    EXPECT_FALSE(import_module(s.source, s.text, s.output, {1, 0, 0}, importing));
    EXPECT_EQ(importing.problems, "Error opening file: " + s.source + "\n");
    EXPECT_EQ(files_in(s.dir), (std::vector<std::string>{"out.mod", "t.txt"}));
    EXPECT_EQ(read_text(s.dir / "out.mod"), "existing output");
}

TEST(Faults, ATextThatCannotBeReadFailsTheImport) {
    Scene s;
    fs::create_directory(s.dir / "folder.txt");
    const std::string folder = (s.dir / "folder.txt").string();
    RecordingReporter reporter;
    EXPECT_FALSE(import_module(s.source, folder, s.output, {1, 0, 0}, reporter));
    EXPECT_EQ(reporter.problems, "Error opening file: " + folder + "\n");
    s.cli_fails({"import", s.source, folder, s.output}, "Error opening file: " + folder + "\n");
    s.untouched({"folder.txt", "m.mod", "out.mod", "t.txt"});
}
