#include "translation/text_checks.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "core/json_text.h"
#include "core/languages.h"
#include "translation/po_catalogue.h"

namespace modtext {

namespace {

bool is_colour_tag(std::string_view token) {
    return token == "</c>" || (token.size() == 6 && token.starts_with("<c")) ||
           (token.size() == 10 && token.starts_with("<c#"));
}

// A token as a message shows it: bytes that are no printable ASCII as
// \xXX, so that a raw text's colour bytes read, and JSON stays UTF-8.
std::string shown(std::string_view token) {
    std::string out;
    for (const char c : token) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    return out;
}

std::size_t leading_spaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? text.size() : first;
}
std::size_t trailing_spaces(std::string_view text) {
    const std::size_t last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? text.size() : text.size() - 1 - last;
}

std::string count_of(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

// One translation against its source text; breaks are the byte a line
// break is written as: "|" in a text, a line feed in a catalogue.
class Checker {
public:
    Checker(Finding where, char breaks, std::vector<Finding>& findings)
        : where_(std::move(where)), breaks_(breaks), findings_(findings) {}

    void against(std::string_view source, std::string_view text) {
        compare_tokens(text_tokens(source), text_tokens(text));
        const auto bars = [this](std::string_view t) { return std::count(t.begin(), t.end(), breaks_); };
        const char* shown_break = breaks_ == '|' ? " (|)" : "";
        if (bars(source) != bars(text)) {
            add("warning", "line-breaks",
                count_of(static_cast<std::size_t>(bars(text)), "line break", "line breaks") + shown_break +
                    ", the source has " + std::to_string(bars(source)));
        }
        if (leading_spaces(source) != leading_spaces(text)) {
            add("warning", "spaces",
                count_of(leading_spaces(text), "leading space", "leading spaces") + ", the source has " +
                    std::to_string(leading_spaces(source)));
        }
        if (trailing_spaces(source) != trailing_spaces(text)) {
            add("warning", "spaces",
                count_of(trailing_spaces(text), "trailing space", "trailing spaces") + ", the source has " +
                    std::to_string(trailing_spaces(source)));
        }
        if (source == text) add("note", "same-as-source", "the translation repeats its source text");
    }

private:
    // Each token as many times as the source has it: what is short is
    // missing, what is over was added.
    void compare_tokens(std::vector<std::string_view> source, std::vector<std::string_view> text) {
        std::map<std::string_view, long> balance;
        for (const std::string_view token : source) ++balance[token];
        for (const std::string_view token : text) --balance[token];
        for (const std::string_view token : source) {
            long& left = balance[token];
            if (left <= 0) continue;
            add("warning", is_colour_tag(token) ? "colour-tag" : "token",
                "the source's " + shown(token) + " is missing");
            --left;
        }
        for (const std::string_view token : text) {
            long& over = balance[token];
            if (over >= 0) continue;
            add("warning", is_colour_tag(token) ? "colour-tag" : "token", shown(token) + " is not in the source");
            ++over;
        }
    }

    void add(const char* severity, const char* kind, std::string message) {
        Finding& finding = findings_.emplace_back(where_);
        finding.severity = severity;
        finding.kind = kind;
        finding.message = std::move(message);
    }

    Finding where_;
    char breaks_;
    std::vector<Finding>& findings_;
};

}  // namespace

std::vector<std::string_view> text_tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        // A raw colour tag's three bytes may be anything, a space or ">" too.
        if (text.substr(at + 1, 1) == "c" && text.size() > at + 5 && text[at + 5] == '>' &&
            text.substr(at + 2, 1) != "#") {
            tokens.push_back(text.substr(at, 6));
            at += 5;
            continue;
        }
        const std::size_t end = text.find_first_of("<> ", at + 1);
        if (end == std::string_view::npos || text[end] != '>' || end == at + 1) continue;
        tokens.push_back(text.substr(at, end - at + 1));
        at = end;
    }
    return tokens;
}

std::vector<Finding> check_translations(const TextEntries& entries, const std::vector<std::string>& sources,
                                        std::uint16_t languages_mask) {
    std::vector<Finding> findings;
    for (const TextBlock& block : entries.blocks) {
        for (const TextField& field : block.fields) {
            // The source text of each gender: of the first source language
            // that has one.
            std::optional<std::string_view> male, female;
            for (const std::string& language : sources) {
                for (const TextFieldLine& line : field.lines) {
                    if (line.language() != language) continue;
                    auto& slot = line.gender() == "male" ? male : female;
                    if (!slot) slot = line.text();
                }
            }
            for (const TextFieldLine& line : field.lines) {
                if (!is_filled_line(line, sources)) continue;
                const auto row = language_row_of_key(line.language());
                if (!row || (languages_mask & language_bit(*row)) == 0) continue;
                const std::optional<std::string_view> source = line.gender() == "female" && female ? female : male;
                if (!source) continue;
                Finding where{{}, line.line, block.resource(), field.key, std::string(line.language()), {}, {}};
                Checker(std::move(where), '|', findings).against(*source, line.text());
            }
        }
    }
    return findings;
}

std::vector<Finding> check_catalogue(const PoCatalogue& catalogue, std::string_view language, bool use_fuzzy) {
    std::vector<Finding> findings;
    for (const PoEntry& entry : catalogue.entries) {
        if (entry.is_header() || entry.obsolete || entry.msgstr.empty() || (entry.fuzzy() && !use_fuzzy)) continue;
        Finding where{{}, entry.line, {}, {}, std::string(language), {}, {}};
        if (entry.msgctxt) {
            if (const auto context = parse_po_context(*entry.msgctxt)) {
                where.resource = std::string(context->header);
                where.field = static_cast<std::int64_t>(context->key);
            }
        }
        Checker(std::move(where), '\n', findings).against(entry.msgid, entry.msgstr);
    }
    return findings;
}

bool has_problems(const std::vector<Finding>& findings) {
    return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.severity != "note"; });
}

std::string findings_table(const std::vector<Finding>& findings) {
    std::string out;
    std::size_t errors = 0, warnings = 0, notes = 0;
    for (const Finding& f : findings) {
        (f.severity == "error" ? errors : f.severity == "warning" ? warnings : notes) += 1;
        if (f.kind == "import") continue;  // the import tells its own, on standard error
        out += f.severity + ": line " + std::to_string(f.line) + ": " + f.resource;
        if (f.field) out += " #" + std::to_string(*f.field);
        out += ' ' + f.language + ": " + f.message + '\n';
    }
    out += count_of(errors, "error", "errors") + ", " + count_of(warnings, "warning", "warnings") + ", " +
           count_of(notes, "note", "notes") + ".\n";
    return out;
}

std::string findings_json(const std::vector<Finding>& findings) {
    std::string out = "[";
    const char* between = "\n";
    for (const Finding& f : findings) {
        out += between;
        out += "{\"severity\": ";
        append_json_string(out, f.severity);
        out += ", \"line\": " + (f.line ? std::to_string(f.line) : std::string("null")) + ", \"resource\": ";
        if (f.resource.empty()) out += "null";
        else append_json_string(out, f.resource);
        out += ", \"field\": " + (f.field ? std::to_string(*f.field) : std::string("null")) + ", \"language\": ";
        if (f.language.empty()) out += "null";
        else append_json_string(out, f.language);
        out += ", \"kind\": ";
        append_json_string(out, f.kind);
        out += ", \"message\": ";
        append_json_string(out, f.message);
        out += '}';
        between = ",\n";
    }
    out += findings.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace modtext
