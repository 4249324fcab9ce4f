#include "app/cli.h"

#include <array>
#include <ostream>

#include "core/actions.h"
#include "core/languages.h"

namespace modtext {

void ConsoleReporter::diagnostic(Severity, std::string_view text) { err_ << text << std::flush; }
void ConsoleReporter::error_box(std::string_view text) { err_ << text << '\n'; }
void ConsoleReporter::info_box(std::string_view text) { out_ << text << '\n'; }
void ConsoleReporter::kept_text(std::string_view text) {
    if (verbose_) out_ << text << '\n';
}

std::optional<std::uint16_t> parse_language_list(std::string_view text) {
    if (text == "all") return all_languages_mask;
    if (text == "none") return std::uint16_t{0};
    std::uint16_t mask = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto row = language_row_of_key(text.substr(0, comma));
        if (!row) return std::nullopt;
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
    return std::nullopt;
}

namespace {

constexpr std::string_view usage_text =
    "Usage:\n"
    "  modtext export [--from LANGS] [--to LANGS] [--filter F] [-v|--verbose] SOURCE.mod TEXT.txt\n"
    "  modtext --help | --version\n"
    "\n"
    "Export writes every localized string of the --from languages, and every\n"
    "script line that speaks, into TEXT.txt, with empty template lines for the\n"
    "--to languages.\n"
    "\n"
    "LANGS  comma-separated language keys (english, french, german, italian,\n"
    "       spanish, polish, korean, chintrad, chinsimpl, japanese), all or none;\n"
    "       --from defaults to english, --to to none\n"
    "F      all, are, dlg, git, ifo, jrl, nss, or the row number 0 to 6 (default all)\n";

int usage_error(std::ostream& err, std::string_view problem) {
    err << "modtext: " << problem << "\n\n" << usage_text;
    return 2;
}

struct ExportOptions {
    SelectionState selection{0x001, 0, 0};
    bool verbose = false;
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

int run_export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ExportOptions options;
    bool options_end = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
            options.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            continue;
        }
        if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            out << usage_text;
            return 0;
        }
        bool matched = false;
        if (auto value = option_value(args, i, "--from", matched); matched) {
            const auto mask = value ? parse_language_list(*value) : std::nullopt;
            if (!mask) return usage_error(err, "--from needs a language list");
            options.selection.from_mask = *mask;
        } else if (auto to = option_value(args, i, "--to", matched); matched) {
            const auto mask = to ? parse_language_list(*to) : std::nullopt;
            if (!mask) return usage_error(err, "--to needs a language list");
            options.selection.to_mask = *mask;
        } else if (auto filter = option_value(args, i, "--filter", matched); matched) {
            const auto row = filter ? parse_filter(*filter) : std::nullopt;
            if (!row) return usage_error(err, "--filter needs all, are, dlg, git, ifo, jrl, nss or 0 to 6");
            options.selection.filter = *row;
        } else {
            return usage_error(err, "unknown option " + arg);
        }
    }
    if (options.paths.size() != 2) return usage_error(err, "export needs SOURCE.mod and TEXT.txt");
    ConsoleReporter reporter(out, err, options.verbose);
    return export_module(options.paths[0], options.paths[1], options.selection, reporter) ? 0 : 1;
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
    if (command == "export") return run_export(args, out, err);
    return usage_error(err, "unknown command " + command);
}

}  // namespace modtext
