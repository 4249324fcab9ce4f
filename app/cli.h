// The command-line tool: the same actions as the window, for scripting.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"

namespace modtext {

// Prints what the window would show: info boxes to standard output, error
// boxes and diagnostics to standard error, progress only when verbose.
class ConsoleReporter final : public Reporter {
public:
    // Verbose, it shows every warning, however many of a kind there are.
    ConsoleReporter(std::ostream& out, std::ostream& err, bool verbose)
        : out_(out), err_(err), verbose_(verbose) {
        set_caps_warnings(!verbose);
    }

    bool wants(Severity severity) const override {
        return verbose_ || severity != Severity::progress;
    }
    void diagnostic(Severity severity, std::string_view text) override;
    void error_box(std::string_view text) override;
    void info_box(std::string_view text) override;
    void kept_text(std::string_view text) override;
    void summary(std::string_view text) override;

private:
    std::ostream& out_;
    std::ostream& err_;
    bool verbose_;
};

// A language list: comma-separated keys, "all" or "none". On failure, the
// key that is not one, when `bad` is given.
std::optional<std::uint16_t> parse_language_list(std::string_view text,
                                                 std::string* bad = nullptr);

// An export filter: its name or its row number.
std::optional<std::int32_t> parse_filter(std::string_view text);

// Runs the tool on its arguments (without the program name); returns the exit
// status: 0 success, 1 the action failed, 2 a usage error.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace modtext
