#include "core/reporter.h"

#include <cstdarg>
#include <cstdio>

namespace modtext {

void report(Reporter& reporter, Severity severity, const char* format, ...) {
    if (!reporter.wants(severity)) return;
    char buffer[report_buffer_size];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (written < 0) return;
    const std::size_t length =
        static_cast<std::size_t>(written) < sizeof buffer ? static_cast<std::size_t>(written)
                                                           : sizeof buffer - 1;
    reporter.diagnostic(severity, std::string_view(buffer, length));
}

namespace {
std::size_t rank(Severity severity) { return static_cast<std::size_t>(severity); }
}  // namespace

HeldReporter::HeldReporter(const Reporter& outer)
    : wanted_{outer.wants(Severity::progress), outer.wants(Severity::warning),
              outer.wants(Severity::error)} {}

bool HeldReporter::wants(Severity severity) const { return wanted_[rank(severity)]; }

void HeldReporter::diagnostic(Severity severity, std::string_view text) {
    held_.push_back({Kind::diagnostic, severity, std::string(text)});
}
void HeldReporter::error_box(std::string_view text) {
    held_.push_back({Kind::error_box, Severity::error, std::string(text)});
}
void HeldReporter::info_box(std::string_view text) {
    held_.push_back({Kind::info_box, Severity::progress, std::string(text)});
}
void HeldReporter::kept_text(std::string_view text) {
    held_.push_back({Kind::kept_text, Severity::progress, std::string(text)});
}

void HeldReporter::pass_on(Reporter& outer) const {
    for (const Message& message : held_) {
        switch (message.kind) {
            case Kind::diagnostic: outer.diagnostic(message.severity, message.text); break;
            case Kind::error_box: outer.error_box(message.text); break;
            case Kind::info_box: outer.info_box(message.text); break;
            case Kind::kept_text: outer.kept_text(message.text); break;
        }
    }
}

}  // namespace modtext
