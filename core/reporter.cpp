#include "core/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace modtext {

bool Reporter::shows_warning(std::string_view format) {
    if (!caps_warnings_) return true;
    const std::lock_guard<std::mutex> lock(kinds_mutex_);
    for (auto& [kind, count] : kinds_) {
        if (kind.data() == format.data() || kind == format) return ++count <= warnings_shown_per_kind;
    }
    kinds_.emplace_back(format, 1);
    return true;
}

void report_left_out_warnings(Reporter& reporter) {
    std::vector<std::pair<std::string_view, std::size_t>> kinds;
    {
        const std::lock_guard<std::mutex> lock(reporter.kinds_mutex_);
        kinds.swap(reporter.kinds_);
    }
    for (const auto& [format, count] : kinds) {
        if (count <= warnings_shown_per_kind) continue;
        std::string kind(format);
        while (!kind.empty() && (kind.back() == '\n' || kind.back() == ' ')) kind.pop_back();
        if (kind.rfind("WARNING: ", 0) == 0) kind.erase(0, 9);
        report(reporter, Severity::warning, "WARNING: %zu more warnings like \"%s\" were left out.\n",
               count - warnings_shown_per_kind, kind.c_str());
    }
    const std::lock_guard<std::mutex> lock(reporter.kinds_mutex_);
    reporter.kinds_.clear();
}

void report(Reporter& reporter, Severity severity, const char* format, ...) {
    if (!reporter.wants(severity)) return;
    if (severity == Severity::warning && !reporter.shows_warning(format)) return;
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

}  // namespace modtext
