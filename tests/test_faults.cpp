// Failures from outside: a full device, a place that cannot be written, a
// source that changes or vanishes while it is read, a text that cannot be
// read, targets and inputs that are not what they seem, interrupts and runs
// at once. Each fails with a message, through the action and through the
// CLI, and leaves no partial file, every existing target and the source as
// they were.
#include "app/cli.h"
#include "actions/actions.h"
#include "formats/files.h"
#include "test_support.h"

#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

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

TEST(Faults, AWriteThatFailsFailsBothActionsAndLeavesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "no file size limit to write against";
#else
    Scene s;
    // Past this size every write fails, as on a full device.
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    RecordingReporter import;
    const bool imported = import_module(s.source, s.text, s.output, {0x3FF, 0, 0}, import);
    RecordingReporter exporting;
    const bool exported = export_module(s.source, s.text + ".new", {0x3FF, 0x3FF, 0}, exporting);
    std::ostringstream out, err;
    const int status = run_cli({"import", s.source, s.text, s.output}, out, err);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(imported);
    EXPECT_EQ(import.problems, "Error writing file: " + s.output + "\n");
    EXPECT_FALSE(exported);
    EXPECT_NE(exporting.problems.find("Error writing file: " + s.text + ".new\n"), std::string::npos);
    EXPECT_TRUE(import.info_boxes.empty() && exporting.info_boxes.empty());
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err.str(), "Error writing file: " + s.output + "\n");
    s.untouched({"m.mod", "out.mod", "t.txt"});
#endif
}

// Large writes go past the output's buffer: between small ones, and under
// overwrites of both, every byte lands where it was written; on a full
// device a large write fails the output as a small one does.
TEST(Faults, LargeWritesLandInPlaceAndFailLikeSmallOnes) {
    Scene s;
    Bytes expected;
    StagedOutput output;
    ASSERT_TRUE(output.create(s.output));
    const auto pattern = [](std::size_t size, std::size_t seed) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
        return bytes;
    };
    std::size_t seed = 0;
    constexpr std::size_t sizes[] = {10, 70'000, 3, 65'536, 65'535, 200'000, 1, 1'100'000, 7};
    for (const std::size_t size : sizes) {
        const Bytes part = pattern(size, ++seed);
        output.write(part);
        expected.insert(expected.end(), part.begin(), part.end());
    }
    for (const auto& [at, size] : std::vector<std::pair<std::size_t, std::size_t>>{
             {2, 5}, {60'000, 20'000}, {100, 70'000}, {1'400'000, 66'000}}) {
        const Bytes part = pattern(size, ++seed);
        output.write_at(at, part);
        std::copy(part.begin(), part.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const Bytes last = pattern(80'000, ++seed);
    output.write(last);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(output.position(), expected.size());
    ASSERT_TRUE(output.commit());
    EXPECT_TRUE(read_text(s.output) == std::string(expected.begin(), expected.end()));
#ifndef _WIN32
    write_text(s.output, "existing output");
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 100'000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool committed = true;
    {
        StagedOutput full;
        if (full.create(s.output)) {
            full.write(pattern(10, 0));
            full.write(pattern(128'000, 0));
            committed = full.commit();
        }
    }
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(committed);
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
    // Cut once the export told of a resource: it makes runs of resources
    // ahead on two threads, so the read that comes back short is one of a
    // later resource.
    HookReporter exporting("Exporting general GFF file: module", cut);
    EXPECT_FALSE(export_module(s.source, s.text + ".new", {0x3FF, 0, 0}, exporting));
    EXPECT_EQ(exporting.problems.rfind("Error reading resource ", 0), 0u) << exporting.problems;
    EXPECT_NE(exporting.problems.find(" from " + s.source + "\n"), std::string::npos) << exporting.problems;
    // Told once: a run made beyond the one that failed is dropped untold.
    EXPECT_EQ(exporting.problems.find("Error reading", 1), std::string::npos) << exporting.problems;
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
    EXPECT_EQ(reporter.problems, "Error: " + folder + " is not a regular file!\n");
    s.cli_fails({"import", s.source, folder, s.output}, "Error: " + folder + " is not a regular file!\n");
    s.untouched({"folder.txt", "m.mod", "out.mod", "t.txt"});
}

namespace {

// A module, its text and the outputs two different texts give, for the
// cases below.
struct Workbench : Scene {
    std::string other_text = (dir / "t2.txt").string();
    std::string expected_one, expected_two;
    Workbench() {
        write_text(dir / "t2.txt", "#File:dlg_innkeeper.DLG,4\n#12,english,male->Other text\n");
        std::ostringstream out, err;
        EXPECT_EQ(run_cli({"import", source, text, (dir / "one.mod").string()}, out, err), 0);
        EXPECT_EQ(run_cli({"import", source, other_text, (dir / "two.mod").string()}, out, err), 0);
        expected_one = read_text(dir / "one.mod");
        expected_two = read_text(dir / "two.mod");
        fs::remove(dir / "one.mod");
        fs::remove(dir / "two.mod");
    }
};

int run_quietly(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    return run_cli(args, out, err);
}

}  // namespace

TEST(Faults, ATargetThatIsAnInputIsRefusedAndNothingIsTouched) {
    Workbench s;
    const std::string export_refusal = " is the source MOD file itself; give another text file to export to!\n";
    const std::string import_refusal = " is the text file to import itself; give another destination MOD!\n";
    // The same file by its own path, another spelling, a hard link and a symbolic link.
    fs::create_hard_link(s.source, s.dir / "hard.mod");
    fs::create_hard_link(s.text, s.dir / "hard.txt");
    const std::string spelled = (s.dir / "." / "m.mod").string();
    std::vector<std::pair<std::string, std::string>> cases{
        {s.source, s.text}, {spelled, (s.dir / "." / "t.txt").string()},
        {(s.dir / "hard.mod").string(), (s.dir / "hard.txt").string()}};
#ifndef _WIN32
    fs::create_symlink(s.source, s.dir / "link.mod");
    fs::create_symlink(s.text, s.dir / "link.txt");
    cases.emplace_back((s.dir / "link.mod").string(), (s.dir / "link.txt").string());
#endif
    for (const auto& [module_alias, text_alias] : cases) {
        s.cli_fails({"export", "--to", "french", s.source, module_alias}, "Error: " + module_alias + export_refusal);
        s.cli_fails({"import", s.source, s.text, text_alias}, "Error: " + text_alias + import_refusal);
        EXPECT_EQ(read_text(s.text), "#File:dlg_innkeeper.DLG,4\n#12,english,male->Kept text\n");
    }
    EXPECT_EQ(read_text(s.source), s.source_bytes);
    // Onto its own source, an import is still allowed: the source is read whole first.
    EXPECT_EQ(run_quietly({"import", s.source, s.text, s.source}), 0);
    EXPECT_EQ(read_text(s.source), s.expected_one);
}

TEST(Faults, TheStagedFileIsOnlyEverThisRunsOwn) {
    Workbench s;
    // What lay under the staged file's old fixed name is never followed,
    // truncated or removed, whether the import succeeds or fails.
    write_text(s.dir / "victim", "victim");
    write_text(s.dir / "out.mod.new.modtext-part", "the user's own file");
#ifndef _WIN32
    fs::create_symlink(s.dir / "victim", s.dir / "out.mod.modtext-part");
#endif
    EXPECT_EQ(run_quietly({"import", s.source, s.text, s.output}), 0);
    EXPECT_EQ(run_quietly({"import", s.source, (s.dir / "none.txt").string(), s.output + ".new"}), 1);
    EXPECT_EQ(read_text(s.output), s.expected_one);
    EXPECT_EQ(read_text(s.dir / "victim"), "victim");
    EXPECT_EQ(read_text(s.dir / "out.mod.new.modtext-part"), "the user's own file");
    EXPECT_FALSE(fs::is_symlink(s.output));

    // Each staged file is new, beside its target, under a name of its own.
    StagedOutput first, second;
    ASSERT_TRUE(first.create(s.output));
    ASSERT_TRUE(second.create(s.output));
    EXPECT_NE(first.temp_path(), second.temp_path());
    EXPECT_EQ(fs::path(first.temp_path()).parent_path(), s.dir);
    EXPECT_LT(fs::path(first.temp_path()).filename().string().size(), 32u);
    first.discard();
    second.discard();
    EXPECT_EQ(read_text(s.output), s.expected_one);
}

TEST(Faults, ImportsOfOneTargetAtOnceEachFinishWhole) {
    Workbench s;
    for (int trial = 0; trial < 6; ++trial) {
        int status_one = -1, status_two = -1;
        std::thread one([&] { status_one = run_quietly({"import", s.source, s.text, s.output}); });
        std::thread two([&] { status_two = run_quietly({"import", s.source, s.other_text, s.output}); });
        one.join();
        two.join();
        EXPECT_EQ(status_one, 0);
        EXPECT_EQ(status_two, 0);
        const std::string written = read_text(s.output);
        EXPECT_TRUE(written == s.expected_one || written == s.expected_two) << "trial " << trial;
    }
    EXPECT_EQ(files_in(s.dir), (std::vector<std::string>{"m.mod", "out.mod", "t.txt", "t2.txt"}));
}

TEST(Faults, TargetsThatAreNotRegularFilesAreRefusedAndLinksFollowed) {
    Workbench s;
    std::vector<std::string> targets{s.dir.string()};
#ifdef _WIN32
    targets.push_back("NUL");
#else
    ASSERT_EQ(mkfifo((s.dir / "fifo").c_str(), 0600), 0);
    targets.push_back((s.dir / "fifo").string());
    // Bound by a name relative to the directory: a socket's path is short.
    const int socket_fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy_n("sock", 5, address.sun_path);
    const fs::path before = fs::current_path();
    fs::current_path(s.dir);
    const int bound = bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fs::current_path(before);
    ASSERT_EQ(bound, 0);
    targets.push_back((s.dir / "sock").string());
    // A device node of its own, never the system's: as root the old code
    // replaced /dev/null.
    if (mknod((s.dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        targets.push_back((s.dir / "null").string());
    }
#endif
    for (const std::string& target : targets) {
        s.cli_fails({"import", s.source, s.text, target}, "Error: " + target + " is not a regular file!\n");
        s.cli_fails({"export", s.source, target}, "Error: " + target + " is not a regular file!\n");
    }
#ifndef _WIN32
    close(socket_fd);
    EXPECT_TRUE(fs::is_fifo(s.dir / "fifo"));
    EXPECT_TRUE(fs::is_socket(s.dir / "sock"));
    // A link is followed: the file it names is replaced, its staged file
    // beside that file, and the link stays.
    fs::create_directory(s.dir / "real");
    write_text(s.dir / "real" / "target.mod", "old");
    fs::create_symlink(fs::path("real") / "target.mod", s.dir / "link.mod");
    EXPECT_EQ(run_quietly({"import", s.source, s.text, (s.dir / "link.mod").string()}), 0);
    EXPECT_TRUE(fs::is_symlink(s.dir / "link.mod"));
    EXPECT_EQ(read_text(s.dir / "real" / "target.mod"), s.expected_one);
    EXPECT_EQ(files_in(s.dir / "real"), std::vector<std::string>{"target.mod"});
    // A link to nothing is refused.
    fs::create_symlink(s.dir / "missing.mod", s.dir / "dangling.mod");
    const std::string dangling = (s.dir / "dangling.mod").string();
    s.cli_fails({"import", s.source, s.text, dangling},
                "Error: " + dangling + " is a link to a file that does not exist!\n");
    EXPECT_FALSE(fs::exists(s.dir / "missing.mod"));
#endif
}

TEST(Faults, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "no FIFO by a path";
#else
    Scene s;
    // Opened the old way, a FIFO with no writer made the open wait forever.
    ASSERT_EQ(mkfifo((s.dir / "fifo").c_str(), 0600), 0);
    const std::string fifo = (s.dir / "fifo").string();
    s.cli_fails({"export", fifo, s.text + ".new"}, "Error: " + fifo + " is not a regular file!\n");
    s.cli_fails({"import", fifo, s.text, s.output}, "Error: " + fifo + " is not a regular file!\n");
    s.cli_fails({"import", s.source, fifo, s.output}, "Error: " + fifo + " is not a regular file!\n");
    s.untouched({"fifo", "m.mod", "out.mod", "t.txt"});
#endif
}

TEST(Faults, AnInterruptRemovesTheStagedFileAndEndsAsTheSignalWould) {
#ifdef _WIN32
    GTEST_SKIP() << "console events cannot be sent to a process here";
#else
    Scene s;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            remove_staged_files_on_interrupt();
            StagedOutput output;
            if (!output.create(s.output)) _exit(3);
            output.write(std::string_view("a part of a module"));
            std::raise(signal_number);
            _exit(4);  // never reached
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        s.untouched({"m.mod", "out.mod", "t.txt"});
    }
    // A closed pipe fails a write instead of ending the program: the staged
    // file is then discarded as after any failure.
    const pid_t piped = fork();
    ASSERT_GE(piped, 0);
    if (piped == 0) {
        remove_staged_files_on_interrupt();
        int ends[2];
        if (pipe(ends) != 0) _exit(3);
        close(ends[0]);
        StagedOutput output;
        if (!output.create(s.output)) _exit(3);
        const bool refused = write(ends[1], "x", 1) < 0 && errno == EPIPE;
        output.discard();
        _exit(refused ? 0 : 5);
    }
    int piped_status = 0;
    ASSERT_EQ(waitpid(piped, &piped_status, 0), piped);
    EXPECT_TRUE(WIFEXITED(piped_status) && WEXITSTATUS(piped_status) == 0) << piped_status;
    s.untouched({"m.mod", "out.mod", "t.txt"});
    // A signal the program was started to ignore stays ignored.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGHUP, SIG_IGN);
        remove_staged_files_on_interrupt();
        StagedOutput output;
        if (!output.create(s.output)) _exit(3);
        std::raise(SIGHUP);
        _exit(output.commit() ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(read_text(s.output), "");
#endif
}

TEST(Faults, AReplacedFileKeepsItsPermissionBitsAndANewOneFollowsTheUmask) {
#ifdef _WIN32
    GTEST_SKIP() << "no permission bits";
#else
    Scene s;
    struct Case {
        std::optional<fs::perms> existing;
        mode_t umask_bits;
        fs::perms expected;
    };
    using P = fs::perms;
    const std::vector<Case> cases{
        {P::owner_read | P::owner_write, 022, P::owner_read | P::owner_write},
        {P::owner_all | P::group_read | P::group_exec, 077, P::owner_all | P::group_read | P::group_exec},
        {P::owner_read | P::owner_write | P::set_uid, 022, P::owner_read | P::owner_write},
        {std::nullopt, 022, P::owner_read | P::owner_write | P::group_read | P::others_read},
        {std::nullopt, 077, P::owner_read | P::owner_write},
    };
    for (const Case& c : cases) {
        fs::remove(s.output);
        if (c.existing) {
            write_text(s.output, "old");
            fs::permissions(s.output, *c.existing);
        }
        const mode_t before = umask(c.umask_bits);
        const int status = run_quietly({"import", s.source, s.text, s.output});
        umask(before);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(fs::status(s.output).permissions(), c.expected);
    }
#endif
}

// A rename needs only the directory's permission; the file's own decides.
// Run as another user where the suite runs as root, who may write anything.
TEST(Faults, AFileTheUserMayNotWriteIsRefusedAndAWriteOnlyOneReplaced) {
#ifdef _WIN32
    GTEST_SKIP() << "no permission bits";
#else
    Scene s;
    fs::permissions(s.dir, fs::perms::all);  // anyone may make files here
    write_text(s.dir / "theirs.mod", "not yours");
    fs::permissions(s.dir / "theirs.mod", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                              fs::perms::others_read);
    if (geteuid() != 0) {
        // A read-only file of one's own stands for another's.
        fs::permissions(s.dir / "theirs.mod", fs::perms::owner_read);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        // Refused as a write in place would have been.
        std::ostringstream out, err;
        const int refused = run_cli({"import", s.source, s.text, (s.dir / "theirs.mod").string()}, out, err);
        if (refused != 1 || err.str() != "Error opening file: " + (s.dir / "theirs.mod").string() + "\n") _exit(4);
        // One's own file that only its owner may write, not read: replaced,
        // and it keeps its bits.
        write_text(s.dir / "write-only.mod", "old");
        fs::permissions(s.dir / "write-only.mod", fs::perms::owner_write);
        if (run_cli({"import", s.source, s.text, (s.dir / "write-only.mod").string()}, out, err) != 0) _exit(5);
        _exit(fs::status(s.dir / "write-only.mod").permissions() == fs::perms::owner_write ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    fs::permissions(s.dir / "theirs.mod", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_text(s.dir / "theirs.mod"), "not yours");
    EXPECT_EQ(files_in(s.dir), (std::vector<std::string>{"m.mod", "out.mod", "t.txt", "theirs.mod", "write-only.mod"}));
#endif
}

TEST(Faults, TheOutputIsOnTheDiskBeforeItReplacesTheTarget) {
#if defined(_WIN32) || !defined(MODTEXT_CLI_PATH)
    GTEST_SKIP() << "traced on Linux only";
#else
    Scene s;
    // The system's own record of the calls is the judge: the staged file is
    // synced before the rename, and its directory after it.
    const fs::path trace = s.dir / "trace";
    // The leak checker cannot run under a tracer.
    const std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=openat,fsync,rename -o '" + trace.string() + "' '" +
                                MODTEXT_CLI_PATH + "' import '" + s.source + "' '" + s.text + "' '" +
                                s.output + "' >/dev/null 2>&1";
    if (std::system("strace -V >/dev/null 2>&1") != 0 || std::system(command.c_str()) != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    std::istringstream calls(read_text(trace));
    std::string order, fd;
    const auto result = [](const std::string& line) { return line.substr(line.rfind("= ") + 2); };
    for (std::string line; std::getline(calls, line);) {
        const bool create = line.find(".modtext-") != std::string::npos && line.find("O_CREAT") != std::string::npos;
        const bool directory = line.find("O_DIRECTORY") != std::string::npos;
        if (create || (directory && order.find("rename") != std::string::npos)) {
            fd = result(line);
            order += create ? "create " : "open-directory ";
        } else if (!fd.empty() && line.find("fsync(" + fd + ")") != std::string::npos) {
            order += directory || order.find("open-directory") != std::string::npos ? "sync-directory" : "sync-file ";
            fd.clear();
        } else if (line.find("rename(") != std::string::npos && line.find(s.output) != std::string::npos) {
            order += "rename ";
        }
    }
    EXPECT_EQ(order, "create sync-file rename open-directory sync-directory");
    EXPECT_EQ(files_in(s.dir), (std::vector<std::string>{"m.mod", "out.mod", "t.txt", "trace"}));
#endif
}

TEST(Faults, AnyNonEmptyPathIsAPathAndAnEmptyOneIsAUsageError) {
    Scene s;
    // One-character names in the current directory.
    const fs::path before = fs::current_path();
    fs::current_path(s.dir);
    fs::copy_file("m.mod", "m");
    const int exported = run_quietly({"export", "m", "t"});
    const int imported = run_quietly({"import", "m", "t", "o"});
    fs::current_path(before);
    EXPECT_EQ(exported, 0);
    EXPECT_EQ(imported, 0);
    EXPECT_TRUE(fs::file_size(s.dir / "t") > 0 && fs::file_size(s.dir / "o") > 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"export", "", s.text}, {"export", s.source, ""},
          {"import", s.source, "", s.output}, {"import", s.source, s.text, ""}}) {
        std::ostringstream out, err;
        EXPECT_EQ(run_cli(args, out, err), 2);
        EXPECT_EQ(err.str().rfind("modtext: an empty argument is not a path\n", 0), 0u) << err.str();
    }
#ifndef _WIN32
    // As long a name as the file system takes: the staged file's name does
    // not grow with it.
    const std::string longest = (s.dir / std::string(250, 'n')).string();
    EXPECT_EQ(run_quietly({"export", s.source, longest}), 0);
    EXPECT_EQ(run_quietly({"import", s.source, longest, longest + ".mod"}), 0);
    EXPECT_EQ(read_text(longest), read_text(s.dir / "t"));
    EXPECT_EQ(read_text(longest + ".mod"), read_text(s.dir / "o"));
#endif
}
