#include "app/cli.h"

#include <array>
#include <bit>
#include <ostream>

#include "actions/actions.h"
#include "core/languages.h"

namespace modtext {

void ConsoleReporter::diagnostic(Severity, std::string_view text) { err_ << text << std::flush; }
void ConsoleReporter::error_box(std::string_view text) { err_ << text << '\n'; }
void ConsoleReporter::info_box(std::string_view text) { out_ << text << '\n'; }
void ConsoleReporter::summary(std::string_view text) { out_ << text << '\n'; }
void ConsoleReporter::kept_text(std::string_view text) {
    if (verbose_) out_ << text << '\n';
}

std::optional<std::uint16_t> parse_language_list(std::string_view text, std::string* bad) {
    if (text == "all") return all_languages_mask;
    if (text == "none") return std::uint16_t{0};
    std::uint16_t mask = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto row = language_row_of_key(text.substr(0, comma));
        if (!row) {
            if (bad) *bad = std::string(text.substr(0, comma));
            return std::nullopt;
        }
        mask = static_cast<std::uint16_t>(mask | language_bit(*row));
        if (comma == std::string_view::npos) return mask;
        text.remove_prefix(comma + 1);
    }
}

std::optional<std::int32_t> parse_filter(std::string_view text) {
    static constexpr std::array<std::string_view, 7> names{"all", "are", "dlg", "git",
                                                           "ifo", "jrl", "nss"};
    for (std::size_t row = 0; row < names.size(); ++row) {
        if (text == names[row] || (text.size() == 1 && text[0] == static_cast<char>('0' + row))) {
            return static_cast<std::int32_t>(row);
        }
    }
    if (text == "templates") return templates_filter;
    return std::nullopt;
}

namespace {

constexpr std::string_view usage_text =
    "Usage:\n"
    "  modtext export [--from LANGS] [--to LANGS] [--filter F] [--templates] [--encoding E]\n"
    "                 [--codepage LANG=CP]... [-v|--verbose] SOURCE.mod TEXT.txt\n"
    "  modtext export --format po|pot --to LANG [--from LANG] [--female] [--filter F]\n"
    "                 [--templates] [--codepage LANG=CP]... [-v|--verbose] SOURCE.mod OUT.po\n"
    "  modtext import [--from LANGS] [--encoding E] [--codepage LANG=CP]... [-v|--verbose]\n"
    "                 SOURCE.mod TEXT.txt OUTPUT.mod\n"
    "  modtext import [--format po] [--use-fuzzy] [--to LANG] [--codepage LANG=CP]...\n"
    "                 [-v|--verbose] SOURCE.mod IN.po OUTPUT.mod\n"
    "  modtext stats [--from LANGS] [--filter F] [--templates] [--codepage LANG=CP]...\n"
    "                [--source LANG] [--format text|po] [--json] SOURCE.mod [TEXT]\n"
    "  modtext check [--from LANGS] [--source LANG] [--encoding E] [--codepage LANG=CP]...\n"
    "                [--format text|po] [--to LANG] [--use-fuzzy] [--json] SOURCE.mod TEXT\n"
    "  modtext update [--from LANGS] [--source LANG] [--encoding E] [-v|--verbose]\n"
    "                 OLD.txt NEW.txt OUT.txt\n"
    "  modtext --help | --version\n"
    "\n"
    "export writes every localized string of the --from languages, and every\n"
    "script line that speaks, into TEXT.txt, with empty template lines for the\n"
    "--to languages.\n"
    "import writes OUTPUT.mod: SOURCE.mod with the texts of TEXT.txt rebuilt,\n"
    "keeping in each rebuilt string only the --from languages (and texts of\n"
    "no table language); every other resource is copied byte for byte.\n"
    "\n"
    "LANGS  comma-separated language keys (english, french, german, italian,\n"
    "       spanish, polish, korean, chintrad, chinsimpl, japanese), all or none;\n"
    "       --from defaults to english on export and to all on import, --to to none\n"
    "F      all, are, dlg, git, ifo, jrl, nss, or the row number 0 to 6 (default all);\n"
    "       templates: only the template resources\n"
    "--templates  also the template resources (names and descriptions players read)\n"
    "E      raw: texts as the module stores them (export's default); utf-8: each\n"
    "       text in UTF-8, from and to its language's code page. Import without\n"
    "       --encoding reads UTF-8 when the text starts with a byte order mark or\n"
    "       its settings line says utf-8, and raw otherwise\n"
    "LANG=CP  with utf-8, the code page of a language key, of script lines\n"
    "       (script) or of texts of no table language (other); CP is 874, 932,\n"
    "       936, 949, 950 or 1250 to 1258. Defaults: 1252, polish 1250, korean\n"
    "       949, chintrad 950, chinsimpl 936, japanese 932; scripts take the\n"
    "       first --from language's\n"
    "stats  counts the strings, words and characters of SOURCE.mod by resource\n"
    "       class and language, and with TEXT (a text or a .po catalogue) its\n"
    "       filled and empty lines per target language; --source names the\n"
    "       text's source language (its settings line's, else english)\n"
    "check  a dry run of the import of TEXT into SOURCE.mod: every warning and\n"
    "       error it would give, and nothing written; then each translation\n"
    "       against its source text: tokens (<...>) and colour tags missing or\n"
    "       added, line breaks, leading and trailing spaces, and as notes the\n"
    "       translations that repeat their source. Exit 1 on any error or warning\n"
    "update writes OUT.txt: NEW.txt, a fresh export, with the translations of\n"
    "       OLD.txt carried onto it by resource, field and source text, and\n"
    "       comments on what to check; --from (else --source) names the source\n"
    "       languages, by default NEW.txt's settings line's, else english\n"
    "-v     also print progress, on import every text kept, and every warning\n"
    "       (otherwise at most 20 of a kind, and how many more there were)\n"
    "\n"
    "--format  text, po or pot; by default po for a path ending in .po, pot for\n"
    "       .pot, and text otherwise. A PO export writes one catalogue in UTF-8\n"
    "       for the one --to language, its msgids the --from language's texts\n"
    "       (english by default); pot writes the template. A PO import takes the\n"
    "       target language from the catalogue's Language header (or --to) and\n"
    "       sets only its substrings, keeping every other one\n"
    "--female    a feminine entry for every field (PO export)\n"
    "--use-fuzzy also import the entries marked fuzzy (PO import)\n";

int usage_error(std::ostream& err, std::string_view problem) {
    err << "modtext: " << problem << "\n\n" << usage_text;
    return 2;
}

// A language key that is not one: named, with the keys there are, without
// the whole usage.
std::string unknown_language(std::string_view option, const std::string& key) {
    std::string keys;
    for (const Language& language : LanguageTable) keys += std::string(language.key) + ", ";
    return "unknown language key \"" + key + "\" in " + std::string(option) + "; the keys are " +
           keys + "all and none";
}

struct Options {
    // As the window starts: English to translate from, nothing to, all files.
    // An import keeps every language of the text unless told otherwise.
    SelectionState selection{0x001, 0, 0};
    std::string problem_key;  // a language key or code page that is not one
    TextEncodingOptions text;
    std::optional<std::string> format;
    bool to_given = false;
    bool from_given = false;
    bool female = false;
    bool use_fuzzy = false;
    bool verbose = false;
    bool help = false;
    bool json = false;
    std::string source_language;  // stats: whose lines of a text are the source
    std::vector<std::string> paths;
};

// Parses "--name VALUE" or "--name=VALUE"; advances i past what it took.
std::optional<std::string> option_value(const std::vector<std::string>& args, std::size_t& i,
                                        std::string_view name, bool& matched) {
    const std::string& arg = args[i];
    matched = false;
    if (arg == name) {
        matched = true;
        if (i + 1 >= args.size()) return std::nullopt;
        return args[++i];
    }
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
        arg[name.size()] == '=') {
        matched = true;
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

// Parses a subcommand's arguments; `exporting` allows --to and --filter.
// Returns a problem to report as a usage error, or none.
std::optional<std::string> parse_options(const std::vector<std::string>& args, bool exporting,
                                         Options& options) {
    bool options_end = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
            options.paths.push_back(arg);
        } else if (arg == "--") {
            options_end = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--templates" && exporting) {
            options.selection.templates = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--female" && exporting) {
            options.female = true;
        } else if (arg == "--use-fuzzy" && !exporting) {
            options.use_fuzzy = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else {
            bool matched = false;
            if (auto source = option_value(args, i, "--source", matched); matched) {
                if (!source || !language_row_of_key(*source)) return "--source needs a language key";
                options.source_language = *source;
                continue;
            }
            if (auto from = option_value(args, i, "--from", matched); matched) {
                std::string bad;
                const auto mask = from ? parse_language_list(*from, &bad) : std::nullopt;
                if (!mask && from) options.problem_key = unknown_language("--from", bad);
                if (!mask) return "--from needs a language list";
                options.selection.from_mask = *mask;
                options.from_given = true;
            } else if (auto format = option_value(args, i, "--format", matched); matched) {
                if (format != "text" && format != "po" && format != "pot") return "--format needs text, po or pot";
                if (*format == "pot" && !exporting) return "--format pot is for export; import a .po";
                options.format = *format;
            } else if (auto to = option_value(args, i, "--to", matched); matched) {
                std::string bad;
                const auto mask = to ? parse_language_list(*to, &bad) : std::nullopt;
                if (!mask && to) options.problem_key = unknown_language("--to", bad);
                if (!mask) return "--to needs a language list";
                options.selection.to_mask = *mask;
                options.to_given = true;
            } else if (auto filter = option_value(args, i, "--filter", matched);
                       matched && exporting) {
                const auto row = filter ? parse_filter(*filter) : std::nullopt;
                if (!row) return "--filter needs all, are, dlg, git, ifo, jrl, nss, templates or 0 to 6";
                options.selection.filter = *row;
            } else if (auto encoding = option_value(args, i, "--encoding", matched); matched) {
                if (encoding != "raw" && encoding != "utf-8") return "--encoding needs raw or utf-8";
                options.text.encoding = *encoding == "raw" ? TextEncoding::raw : TextEncoding::utf8;
            } else if (auto page = option_value(args, i, "--codepage", matched); matched) {
                if (!page) return "--codepage needs LANG=CP";
                if (auto problem = add_code_page_choice(options.text.code_pages, *page)) {
                    options.problem_key = *problem;
                    return *problem;
                }
            } else {
                return "unknown option " + arg;
            }
        }
    }
    return std::nullopt;
}

// Parses a command's options and checks its paths: from fewest to most of
// them, none empty. The exit status when the command ends here (a usage
// error, or --help), else none.
std::optional<int> take_options(const std::vector<std::string>& args, bool exporting, std::size_t fewest,
                                std::size_t most, const char* paths_wanted, Options& options, std::ostream& out,
                                std::ostream& err) {
    if (const auto problem = parse_options(args, exporting, options)) {
        if (!options.problem_key.empty()) {
            err << "modtext: " << options.problem_key << '\n';
            return 2;
        }
        return usage_error(err, *problem);
    }
    if (options.help) {
        out << usage_text;
        return 0;
    }
    if (options.paths.size() < fewest || options.paths.size() > most) return usage_error(err, paths_wanted);
    for (const std::string& path : options.paths) {
        if (path.empty()) return usage_error(err, "an empty argument is not a path");
    }
    return std::nullopt;
}

// The one language of a list, for a catalogue.
std::optional<std::size_t> one_language(std::uint16_t mask) {
    if (std::popcount(mask) != 1) return std::nullopt;
    return static_cast<std::size_t>(std::countr_zero(mask));
}

int run_po(const Options& options, bool template_only, bool exporting, std::ostream& out, std::ostream& err) {
    if (options.text.encoding) return usage_error(err, "--encoding does not apply to a catalogue: it is UTF-8");
    if (options.selection.filter != 0 && !exporting) return usage_error(err, "--filter is for export");
    const auto& p = options.paths;
    ConsoleReporter reporter(out, err, options.verbose);
    if (exporting) {
        PoExportOptions po;
        const std::optional<std::size_t> from = one_language(options.selection.from_mask);
        if (!from) return usage_error(err, "--from needs one language for a catalogue");
        po.from_row = *from;
        if (options.to_given) {
            po.to_row = one_language(options.selection.to_mask);
            if (!po.to_row) return usage_error(err, "--to needs one language for a catalogue");
        } else if (!template_only) {
            return usage_error(err, "a PO export needs --to LANG");
        }
        po.template_only = template_only;
        po.female = options.female;
        po.filter = options.selection.filter;
        po.templates = options.selection.templates;
        po.code_pages = options.text.code_pages;
        return export_catalogue(p[0], p[1], po, reporter) ? 0 : 1;
    }
    if (options.from_given) {
        return usage_error(err, "--from does not apply to a PO import: its X-Source-Language header names the source");
    }
    PoImportOptions po;
    if (options.to_given) {
        po.to_row = one_language(options.selection.to_mask);
        if (!po.to_row) return usage_error(err, "--to needs one language for a catalogue");
    }
    po.use_fuzzy = options.use_fuzzy;
    po.code_pages = options.text.code_pages;
    return import_catalogue(p[0], p[1], p[2], po, reporter) ? 0 : 1;
}

int run_stats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (const auto ended = take_options(args, true, 1, 2, "stats needs SOURCE.mod and, if wanted, TEXT", options, out, err)) {
        return *ended;
    }
    if (options.female || options.use_fuzzy || options.to_given) {
        return usage_error(err, options.female ? "--female is for a PO export"
                                : options.use_fuzzy ? "--use-fuzzy is for a PO import"
                                                    : "--to is for export and import");
    }
    const std::string text = options.paths.size() == 2 ? options.paths[1] : std::string();
    if (options.format && text.empty()) return usage_error(err, "--format names the format of TEXT");
    // The text's lines count alike in either encoding: --encoding is taken
    // as every command takes it, and the module's characters are counted in
    // each language's code page.
    const bool catalogue = options.format ? *options.format != "text" : is_po_path(text) || is_pot_path(text);
    ConsoleReporter reporter(out, err, options.verbose);
    std::string result;
    if (!module_stats(options.paths[0], text, catalogue, options.selection, options.text.code_pages,
                      options.source_language, options.json, result, reporter)) {
        return 1;
    }
    out << result;
    return 0;
}

int run_check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    options.selection.from_mask = all_languages_mask;  // as on import
    if (const auto ended = take_options(args, false, 2, 2, "check needs SOURCE.mod and TEXT", options, out, err)) {
        return *ended;
    }
    if (options.format == "pot") return usage_error(err, "--format pot is for export; check a .po");
    const bool po = options.format ? *options.format == "po" : is_po_path(options.paths[1]);
    PoImportOptions catalogue;
    if (po) {
        if (options.text.encoding) return usage_error(err, "--encoding does not apply to a catalogue: it is UTF-8");
        if (options.to_given) {
            catalogue.to_row = one_language(options.selection.to_mask);
            if (!catalogue.to_row) return usage_error(err, "--to needs one language for a catalogue");
        }
        catalogue.use_fuzzy = options.use_fuzzy;
        catalogue.code_pages = options.text.code_pages;
    } else if (options.to_given || options.use_fuzzy) {
        return usage_error(err, options.to_given ? "--to is for a PO catalogue" : "--use-fuzzy is for a PO catalogue");
    }
    ConsoleReporter reporter(out, err, options.verbose);
    std::string result;
    const bool clean = check_text(options.paths[0], options.paths[1], po, options.selection, options.text, catalogue,
                                  options.source_language, options.json, result, reporter);
    out << result;
    return clean ? 0 : 1;
}

int run_update(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (const auto ended = take_options(args, false, 3, 3, "update needs OLD.txt, NEW.txt and OUT.txt", options, out, err)) {
        return *ended;
    }
    if (options.to_given || options.format || options.use_fuzzy || options.json ||
        options.text.code_pages != CodePageChoices{}) {
        return usage_error(err, "update takes only --from, --source, --encoding and --verbose");
    }
    UpdateOptions update;
    update.encoding = options.text.encoding;
    if (options.from_given) {
        if (options.selection.from_mask == 0) return usage_error(err, "update's --from needs a language");
        for (std::size_t row = 0; row < language_count; ++row) {
            if (options.selection.from_mask & language_bit(row)) update.sources.emplace_back(LanguageTable[row].key);
        }
    } else if (!options.source_language.empty()) {
        update.sources.push_back(options.source_language);
    }
    ConsoleReporter reporter(out, err, options.verbose);
    const auto& p = options.paths;
    return update_text(p[0], p[1], p[2], update, reporter) ? 0 : 1;
}

}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return usage_error(err, "no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << usage_text;
        return 0;
    }
    if (command == "--version") {
        out << "modtext " << MODTEXT_VERSION << '\n';
        return 0;
    }
    if (command == "stats") return run_stats(args, out, err);
    if (command == "check") return run_check(args, out, err);
    if (command == "update") return run_update(args, out, err);
    const bool exporting = command == "export";
    if (!exporting && command != "import") return usage_error(err, "unknown command " + command);

    Options options;
    if (!exporting) options.selection.from_mask = all_languages_mask;
    const std::size_t wanted = exporting ? 2 : 3;
    if (const auto ended = take_options(args, exporting, wanted, wanted,
                                        exporting ? "export needs SOURCE.mod and TEXT.txt"
                                                  : "import needs SOURCE.mod, TEXT.txt and OUTPUT.mod",
                                        options, out, err)) {
        return *ended;
    }
    const std::string& catalogue = options.paths[1];
    const std::string format = options.format ? *options.format
                               : is_pot_path(catalogue) && exporting ? "pot"
                               : is_po_path(catalogue)               ? "po"
                                                                     : "text";
    if (format != "text") return run_po(options, format == "pot", exporting, out, err);
    if (options.female || options.use_fuzzy || (!exporting && options.to_given)) {
        return usage_error(err, options.female ? "--female is for a PO export"
                                : options.use_fuzzy ? "--use-fuzzy is for a PO import"
                                                    : "--to is for a PO import");
    }
    // Code pages are for UTF-8 texts: an export writes raw unless told, and
    // an import told raw reads none.
    const bool raw = exporting ? options.text.encoding != TextEncoding::utf8
                               : options.text.encoding == TextEncoding::raw;
    if (raw && options.text.code_pages != CodePageChoices{}) {
        return usage_error(err, exporting ? "--codepage needs --encoding utf-8"
                                          : "--codepage does not apply with --encoding raw");
    }
    ConsoleReporter reporter(out, err, options.verbose);
    const auto& p = options.paths;
    const bool done =
        exporting ? export_module(p[0], p[1], options.selection, reporter, options.text)
                  : import_module(p[0], p[1], p[2], options.selection, reporter, options.text);
    return done ? 0 : 1;
}

}  // namespace modtext
