#include "core/reporter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

namespace modtext {

bool Reporter::shows_warning(std::string_view format, bool error) {
    if (!caps_warnings_) return true;
    const std::lock_guard<std::mutex> lock(kinds_mutex_);
    for (Kind& kind : kinds_) {
        if (kind.format.data() == format.data() || kind.format == format) return ++kind.given <= warnings_shown_per_kind;
    }
    kinds_.push_back({format, 1, error});
    return true;
}

bool DeferredReporter::shows_warning(std::string_view format, bool error) {
    auto kind = std::find_if(told_of_kind_.begin(), told_of_kind_.end(), [format](const auto& told) {
        return told.first.data() == format.data() || told.first == format;
    });
    if (kind == told_of_kind_.end()) kind = told_of_kind_.insert(kind, {format, 0});
    if (++kind->second > warnings_shown_per_kind) {
        if (!kept_.empty() && kept_.back().told == Told::counted && kept_.back().format.data() == format.data()) {
            ++kept_.back().times;
        } else {
            kept_.push_back({Told::counted, error ? Severity::error : Severity::warning, format, error, {}});
        }
        return false;
    }
    format_ = format;
    error_ = error;
    return true;
}

void DeferredReporter::diagnostic(Severity severity, std::string_view text) {
    kept_.push_back({Told::diagnostic, severity, std::exchange(format_, {}), error_, std::string(text)});
}

void DeferredReporter::replay(Reporter& target) {
    for (const Kept& kept : kept_) {
        switch (kept.told) {
            case Told::diagnostic:
                if (!target.wants(kept.severity)) break;
                if (!kept.format.empty() && !target.shows_warning(kept.format, kept.error)) break;
                target.diagnostic(kept.severity, kept.text);
                break;
            case Told::counted:
                if (!target.wants(kept.severity)) break;
                for (std::size_t i = 0; i < kept.times; ++i) (void)target.shows_warning(kept.format, kept.error);
                break;
            case Told::error_box: target.error_box(kept.text); break;
            case Told::info_box: target.info_box(kept.text); break;
            case Told::kept_text: target.kept_text(kept.text); break;
        }
    }
    kept_.clear();
    told_of_kind_.clear();
}

void report_left_out_warnings(Reporter& reporter) {
    std::vector<Reporter::Kind> kinds;
    {
        const std::lock_guard<std::mutex> lock(reporter.kinds_mutex_);
        kinds.swap(reporter.kinds_);
    }
    for (const Reporter::Kind& kind : kinds) {
        if (kind.given <= warnings_shown_per_kind) continue;
        std::string shown(kind.format);
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == ' ')) shown.pop_back();
        const std::string_view prefix = kind.error ? "Error: " : "WARNING: ";
        if (shown.rfind(prefix, 0) == 0) shown.erase(0, prefix.size());
        const std::size_t left_out = kind.given - warnings_shown_per_kind;
        if (kind.error) {
            report(reporter, Severity::error, "Error: %zu more errors like \"%s\" were left out.\n", left_out,
                   shown.c_str());
        } else {
            report(reporter, Severity::warning, "WARNING: %zu more warnings like \"%s\" were left out.\n", left_out,
                   shown.c_str());
        }
    }
    const std::lock_guard<std::mutex> lock(reporter.kinds_mutex_);
    reporter.kinds_.clear();
}

namespace {

void show(Reporter& reporter, Severity severity, const char* format, va_list args) {
    char buffer[report_buffer_size];
    const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (written < 0) return;
    const std::size_t length =
        static_cast<std::size_t>(written) < sizeof buffer ? static_cast<std::size_t>(written)
                                                           : sizeof buffer - 1;
    reporter.diagnostic(severity, std::string_view(buffer, length));
}

}  // namespace

void report(Reporter& reporter, Severity severity, const char* format, ...) {
    if (!reporter.wants(severity)) return;
    if (severity == Severity::warning && !reporter.shows_warning(format)) return;
    va_list args;
    va_start(args, format);
    show(reporter, severity, format, args);
    va_end(args);
}

void report_each(Reporter& reporter, const char* format, ...) {
    if (!reporter.wants(Severity::error) || !reporter.shows_warning(format, true)) return;
    va_list args;
    va_start(args, format);
    show(reporter, Severity::error, format, args);
    va_end(args);
}

}  // namespace modtext
