// modgen [--seed N] OUT.mod: writes the synthetic module for seed N
// (default 1). Prints nothing on success.
#include "tools/modbuild.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace {

int usage() {
    std::fputs("usage: modgen [--seed N] OUT.mod\n", stderr);
    return 2;
}

bool parse_seed(std::string_view text, std::uint64_t& seed) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, seed);
    return !text.empty() && ec == std::errc() && ptr == end;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--seed") {
            if (i + 1 >= argc || !parse_seed(argv[i + 1], seed)) {
                return usage();
            }
            ++i;
        } else if (arg.starts_with("-") || !out.empty()) {
            return usage();
        } else {
            out = arg;
        }
    }
    if (out.empty()) {
        return usage();
    }
    try {
        modtext::build::write_file(out, modtext::build::synthetic_module(seed));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "modgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
