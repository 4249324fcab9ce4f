// modgen: writes synthetic modules.
//   modgen [--seed N] [--edge] OUT.mod
//       the small module of every resource class and odd case (seed 1 by
//       default); --edge adds texts of one character, a lone space, literal
//       bars and carriage returns, colour tags, bytes each language's code
//       page leaves undefined, broken double-byte sequences, and texts in
//       the other code pages a language may be given
//   modgen --scale K [--density dense|sparse] [--seed N]
//          [--translation TEXT.txt [--to LANGS] [--encoding raw|utf-8]] OUT.mod
//       a module of about K MB for benchmarks, and with --translation its
//       English text with every template line of the LANGS (default french)
//       filled in, as a translator would hand it back: in code page 1252, or
//       in UTF-8 as the export writes it with --encoding utf-8
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "app/cli.h"
#include "actions/actions.h"
#include "formats/files.h"
#include "tools/modbuild.h"

namespace {

int usage() {
    std::fputs("usage: modgen [--seed N] [--edge] OUT.mod\n"
               "       modgen --scale K [--density dense|sparse] [--seed N] "
               "[--translation TEXT.txt [--to LANGS] [--encoding raw|utf-8]] OUT.mod\n",
               stderr);
    return 2;
}

bool parse_number(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// Fills every empty template line of the text, in one pass over it, with
// a text whose "é" is written as the text is.
std::string filled(std::string_view text, bool utf8) {
    std::string out;
    out.reserve(text.size() * 2);
    std::size_t filled_lines = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end);
        out += line;
        if (line.size() > 2 && line[0] == '#' && line.ends_with("->") && line.find(',') < line.find("->")) {
            out += utf8 ? "Texte traduit num\xC3\xA9ro " : "Texte traduit num\xE9ro ";
            out += std::to_string(++filled_lines) + ", sur|deux lignes.";
        }
        if (end == std::string_view::npos) break;
        out += '\n';
        text.remove_prefix(end + 1);
    }
    return out;
}

bool write_translation(const std::string& module, const std::string& path, std::uint16_t to_mask, bool utf8) {
    modtext::SilentReporter quiet;
    const std::string exported = path + ".english";
    modtext::TextEncodingOptions options;
    if (utf8) options.encoding = modtext::TextEncoding::utf8;
    if (!modtext::export_module(module, exported, {0x001, to_mask, 0}, quiet, options)) return false;
    modtext::InputFile file;
    modtext::Bytes bytes;
    const bool read = file.open(exported) && file.read_all(bytes);
    file.close();
    std::remove(exported.c_str());
    if (!read) return false;
    const std::string text =
        filled(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), utf8);
    modtext::StagedOutput out;
    if (!out.create(path)) return false;
    out.write(text);
    return out.commit();
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1, scale = 0;
    auto density = modtext::build::Density::dense;
    std::string out, translation;
    std::uint16_t to_mask = 0x002;
    bool edge = false;
    bool utf8 = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        const std::string_view value = has_value ? argv[i + 1] : "";
        if (arg == "--seed" || arg == "--scale") {
            if (!has_value || !parse_number(value, arg == "--seed" ? seed : scale)) return usage();
            ++i;
        } else if (arg == "--edge") {
            edge = true;
        } else if (arg == "--density") {
            if (value != "dense" && value != "sparse") return usage();
            density = value == "dense" ? modtext::build::Density::dense : modtext::build::Density::sparse;
            ++i;
        } else if (arg == "--translation" && has_value) {
            translation = value;
            ++i;
        } else if (arg == "--encoding" && (value == "raw" || value == "utf-8")) {
            utf8 = value == "utf-8";
            ++i;
        } else if (arg == "--to" && has_value) {
            const auto mask = modtext::parse_language_list(value);
            if (!mask) return usage();
            to_mask = *mask;
            ++i;
        } else if (arg.starts_with("-") || !out.empty()) {
            return usage();
        } else {
            out = arg;
        }
    }
    if (out.empty() || (!translation.empty() && scale == 0)) return usage();
    try {
        modtext::build::write_file(out, scale ? modtext::build::large_module(seed, scale, density)
                                              : modtext::build::synthetic_module(seed, edge));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "modgen: %s\n", e.what());
        return 1;
    }
    if (!translation.empty() && !write_translation(out, translation, to_mask, utf8)) {
        std::fprintf(stderr, "modgen: cannot write %s\n", translation.c_str());
        return 1;
    }
    return 0;
}
