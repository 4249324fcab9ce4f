#include "translation/entry_stats.h"

#include <algorithm>

#include "core/json_text.h"
#include "formats/module_archive.h"
#include "formats/po_file.h"
#include "translation/po_catalogue.h"
#include "translation/text_entries.h"
#include "translation/text_format.h"

namespace modtext {

std::string_view resource_class_of(std::uint16_t type, bool script) {
    if (script) return "scripts";
    switch (type) {
        case resource_type::area: return "areas";
        case resource_type::conversation: return "conversations";
        case resource_type::game_instance: return "instances";
        case resource_type::module_info: return "module";
        case resource_type::journal: return "journals";
        case resource_type::always_a:
        case resource_type::always_b: return "other";
        default: return "templates";
    }
}

StatsCounter::StatsCounter(std::uint16_t from_mask, const CodePages& pages)
    : from_mask_(from_mask), pages_(pages) {}

StatsCounter::~StatsCounter() = default;

namespace {

bool is_space(char32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Chinese and Japanese write no spaces between words.
bool spaceless(std::size_t row) {
    const std::string_view key = LanguageTable[row].key;
    return key == "chintrad" || key == "chinsimpl" || key == "japanese";
}

}  // namespace

void StatsCounter::count(std::string_view class_name, const std::string& language,
                         std::uint16_t code_page, bool no_spaces, std::string_view text) {
    auto& converter = converters_[code_page];
    if (!converter) converter = std::make_unique<CodePageConverter>(code_page);
    decoded_.clear();
    std::uint64_t characters = 0, words = 0;
    bool in_word = false;
    const auto take = [&](char32_t c) {
        ++characters;
        const bool space = is_space(c);
        if (!space && !in_word) ++words;
        in_word = !space;
    };
    if (converter->ok() && converter->decode(text, decoded_)) {
        for (std::size_t at = 0; at < decoded_.size();) {
            const auto c = read_utf8(decoded_, at);
            take(c ? c->code_point : U'?');
            at += c ? c->length : 1;
        }
    } else {
        for (const char byte : text) take(static_cast<unsigned char>(byte));
    }
    if (no_spaces) words = characters;
    for (TextCount* total : {&stats_.languages[language], &stats_.classes[std::string(class_name)][language]}) {
        ++total->strings;
        total->words += words;
        total->characters += characters;
    }
}

void StatsCounter::add(const ResourceEntries& resource) {
    const std::string_view class_name = resource_class_of(resource.type, resource.script);
    for (const ScriptLineEntry& line : resource.lines) {
        count(class_name, std::string(script_lines_key), pages_.script, false, line.text);
    }
    for (const StringFieldEntry& field : resource.strings) {
        for (const LocSubstring& sub : field.text.substrings) {
            if (!id_passes_mask(sub.string_id, from_mask_)) continue;
            const std::string label = language_label(sub.string_id);
            const std::string language = label.substr(0, label.find(','));
            const auto row = language_row_of_id(sub.string_id);
            count(class_name, language, row ? pages_.languages[*row] : pages_.other,
                  row && spaceless(*row), substring_text(sub));
        }
    }
}

std::uint64_t Progress::done() const {
    const std::uint64_t all = filled + empty + fuzzy;
    return all == 0 ? 0 : filled * 100 / all;
}

std::optional<std::map<std::string, Progress>> catalogue_progress(std::string_view text,
                                                                  std::string& error) {
    PoCatalogue catalogue;
    if (const auto problem = read_po(text, catalogue)) {
        error = problem->text();
        return std::nullopt;
    }
    const auto row = catalogue_language(catalogue);
    Progress progress;
    for (const PoEntry& entry : catalogue.entries) {
        if (entry.is_header() || entry.obsolete) continue;
        if (entry.fuzzy()) ++progress.fuzzy;
        else if (entry.msgstr.empty()) ++progress.empty;
        else ++progress.filled;
    }
    return std::map<std::string, Progress>{
        {row ? std::string(LanguageTable[*row].key) : std::string("unknown"), progress}};
}

std::map<std::string, Progress> text_progress(std::string_view text, std::string_view source_language) {
    const TextEntries entries = read_text_entries(text);
    std::vector<std::string> given;
    if (!source_language.empty()) given.emplace_back(source_language);
    const std::vector<std::string> sources = source_languages(entries, given);
    std::map<std::string, Progress> progress;
    for (const TextBlock& block : entries.blocks) {
        for (const TextField& field : block.fields) {
            for (const TextFieldLine& line : field.lines) {
                // Texts of no table language are carried, never translated.
                if (!is_translation_line(line, sources)) continue;
                Progress& counts = progress[std::string(line.language())];
                (line.text().empty() ? counts.empty : counts.filled) += 1;
            }
        }
    }
    return progress;
}

namespace {

void append_count_json(std::string& out, const TextCount& count) {
    out += "{\"strings\": " + std::to_string(count.strings) + ", \"words\": " +
           std::to_string(count.words) + ", \"characters\": " + std::to_string(count.characters) + "}";
}

void append_languages_json(std::string& out, const std::map<std::string, TextCount>& languages) {
    out += '{';
    const char* between = "";
    for (const auto& [language, count] : languages) {
        out += between;
        append_json_string(out, language);
        out += ": ";
        append_count_json(out, count);
        between = ", ";
    }
    out += '}';
}

void append_count_row(std::string& out, std::string_view where, std::string_view language,
                      const TextCount& count) {
    char row[160];
    std::snprintf(row, sizeof row, "%-14.*s %-10.*s %10llu %10llu %12llu\n", static_cast<int>(where.size()),
                  where.data(), static_cast<int>(language.size()), language.data(),
                  static_cast<unsigned long long>(count.strings), static_cast<unsigned long long>(count.words),
                  static_cast<unsigned long long>(count.characters));
    out += row;
}

}  // namespace

std::string stats_table(const ModuleStats& stats, const std::map<std::string, Progress>* text) {
    std::string out = "class          language      strings      words   characters\n";
    for (const std::string_view class_name : resource_classes) {
        const auto found = stats.classes.find(std::string(class_name));
        if (found == stats.classes.end()) continue;
        for (const auto& [language, count] : found->second) append_count_row(out, class_name, language, count);
    }
    for (const auto& [language, count] : stats.languages) append_count_row(out, "all", language, count);
    if (text) {
        out += "\nlanguage       filled      empty      fuzzy   done\n";
        for (const auto& [language, progress] : *text) {
            char row[160];
            std::snprintf(row, sizeof row, "%-10s %10llu %10llu %10llu %5llu%%\n", language.c_str(),
                          static_cast<unsigned long long>(progress.filled),
                          static_cast<unsigned long long>(progress.empty),
                          static_cast<unsigned long long>(progress.fuzzy),
                          static_cast<unsigned long long>(progress.done()));
            out += row;
        }
    }
    return out;
}

std::string stats_json(std::string_view module, const ModuleStats& stats,
                       const std::map<std::string, Progress>* text) {
    std::string out = "{\"module\": ";
    append_json_string(out, module);
    out += ", \"languages\": ";
    append_languages_json(out, stats.languages);
    out += ", \"classes\": {";
    const char* between = "";
    for (const std::string_view class_name : resource_classes) {
        const auto found = stats.classes.find(std::string(class_name));
        if (found == stats.classes.end()) continue;
        out += between;
        append_json_string(out, class_name);
        out += ": ";
        append_languages_json(out, found->second);
        between = ", ";
    }
    out += '}';
    if (text) {
        out += ", \"text\": {";
        between = "";
        for (const auto& [language, progress] : *text) {
            out += between;
            append_json_string(out, language);
            out += ": {\"filled\": " + std::to_string(progress.filled) + ", \"empty\": " +
                   std::to_string(progress.empty) + ", \"fuzzy\": " + std::to_string(progress.fuzzy) +
                   ", \"done\": " + std::to_string(progress.done()) + "}";
            between = ", ";
        }
        out += '}';
    }
    out += "}\n";
    return out;
}

}  // namespace modtext
