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

}  // namespace modtext
