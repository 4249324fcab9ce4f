// What the actions tell the user: the two message boxes, the diagnostic
// reporter and the echo of kept texts. The window program shows boxes, the
// command-line tool prints; the actions do not know which.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace modtext {

// Diagnostics are progress lines, warnings about the input, or errors that
// end or skip a piece of work. The window shows them all alike; the
// command-line tool prints warnings and errors always, progress on request.
enum class Severity { progress, warning, error };

// Warnings of one kind (one message format, whatever it appends) shown
// before the rest are only counted: a damaged input can repeat one warning
// millions of times.
inline constexpr std::size_t warnings_shown_per_kind = 20;

class Reporter {
public:
    virtual ~Reporter() = default;

    // Whether warnings past warnings_shown_per_kind of a kind are left out.
    // Errors never are.
    bool caps_warnings() const { return caps_warnings_; }
    void set_caps_warnings(bool caps) { caps_warnings_ = caps; }

    // Whether a diagnostic of this severity is shown at all; when not, it is
    // not even formatted.
    virtual bool wants(Severity severity) const = 0;
    virtual void diagnostic(Severity severity, std::string_view text) = 0;

    virtual void error_box(std::string_view text) = 0;
    virtual void info_box(std::string_view text) = 0;

    // Each text the import keeps, as the translator wrote it.
    virtual void kept_text(std::string_view text) = 0;

    // One line on what a finished action did, after its completion box.
    // The window has no place for it.
    virtual void summary(std::string_view) {}

    // Called once an action's work is over, before its completion box: a
    // reporter that gathers diagnostics shows them now.
    virtual void action_finished() {}

private:
    friend void report(Reporter&, Severity, const char*, ...);
    friend void report_each(Reporter&, const char*, ...);
    friend void report_left_out_warnings(Reporter&);
    friend class DeferredReporter;
    // Whether one more message of this format is shown.
    virtual bool shows_warning(std::string_view format, bool error = false);

    struct Kind {
        std::string_view format;
        std::size_t given;
        bool error;
    };
    bool caps_warnings_ = true;
    std::mutex kinds_mutex_;
    std::vector<Kind> kinds_;
};

// Longest diagnostic, in bytes; longer ones are cut.
inline constexpr std::size_t report_buffer_size = 1024;

#if defined(__MINGW32__)
#define MODTEXT_PRINTF_FORMAT gnu_printf  // the C99 printf of mingw's ANSI stdio
#else
#define MODTEXT_PRINTF_FORMAT printf
#endif

// printf-style diagnostic through the reporter.
void report(Reporter& reporter, Severity severity, const char* format, ...)
    __attribute__((format(MODTEXT_PRINTF_FORMAT, 3, 4)));

// An error said of one of many lines that fail an action together: shown,
// like a warning, only warnings_shown_per_kind times a kind.
void report_each(Reporter& reporter, const char* format, ...)
    __attribute__((format(MODTEXT_PRINTF_FORMAT, 2, 3)));

// One message per kind that was capped, saying how many of it were left out;
// the counts start again after it.
void report_left_out_warnings(Reporter& reporter);

// Keeps what a piece of work tells on another thread, so that it can be
// told later through the reporter it stands for, in the order the pieces
// would have come in had they been done one after another. A warning then
// meets that reporter's cap of its kind as if it had been told there; one
// past the cap of its kind here would be past it there too, and is only
// counted, so that a flood of one warning takes no memory.
class DeferredReporter final : public Reporter {
public:
    explicit DeferredReporter(const Reporter& target) : target_(target) {}
    // Asked of the target, which is not told anything meanwhile.
    bool wants(Severity severity) const override { return target_.wants(severity); }
    void diagnostic(Severity severity, std::string_view text) override;
    void error_box(std::string_view text) override { keep(Told::error_box, Severity::error, text); }
    void info_box(std::string_view text) override { keep(Told::info_box, Severity::progress, text); }
    void kept_text(std::string_view text) override { keep(Told::kept_text, Severity::progress, text); }
    // Tells target everything kept, in order, and forgets it.
    void replay(Reporter& target);

private:
    bool shows_warning(std::string_view format, bool error) override;
    enum class Told { diagnostic, error_box, info_box, kept_text, counted };
    struct Kept {
        Told told;
        Severity severity;
        std::string_view format;  // of a capped kind; empty when none
        bool error;
        std::string text;
        std::size_t times = 1;  // of a counted kind, told one after another
    };
    void keep(Told told, Severity severity, std::string_view text) {
        kept_.push_back({told, severity, {}, false, std::string(text)});
    }
    const Reporter& target_;
    std::vector<Kept> kept_;
    std::string_view format_;  // of the capped message being told
    bool error_ = false;
    std::vector<std::pair<std::string_view, std::size_t>> told_of_kind_;
};

// A reporter that keeps nothing and shows nothing.
class SilentReporter final : public Reporter {
public:
    bool wants(Severity) const override { return false; }
    void diagnostic(Severity, std::string_view) override {}
    void error_box(std::string_view) override {}
    void info_box(std::string_view) override {}
    void kept_text(std::string_view) override {}
};

}  // namespace modtext
