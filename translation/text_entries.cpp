#include "translation/text_entries.h"

#include <algorithm>
#include <cstdint>

#include "core/languages.h"
#include "translation/text_encoding.h"

namespace modtext {

namespace {

constexpr auto npos = std::string_view::npos;

// A key or index as the import reads it: digits after optional blanks,
// none when there are none or too many.
std::optional<std::int64_t> number_of(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    const std::size_t first = i;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x7FFFFFFF) return std::nullopt;
    }
    if (i == first) return std::nullopt;
    return value;
}

// What update, check and stats take of the settings line: the encoding,
// and the source languages.
void read_settings(std::string_view text, TextEntries& entries) {
    for (const auto& [name, value] : settings_items(text)) {
        if (name == "encoding" && value == "utf-8") entries.utf8 = true;
        if (name != "from") continue;
        if (value == "all") {
            for (const Language& language : LanguageTable) entries.settings_from.emplace_back(language.key);
            continue;
        }
        std::string_view list = value;
        while (!list.empty()) {
            const std::size_t comma = std::min(list.find(','), list.size());
            if (language_row_of_key(list.substr(0, comma))) entries.settings_from.emplace_back(list.substr(0, comma));
            list.remove_prefix(std::min(comma + 1, list.size()));
        }
    }
}

// A field line keeps its number and offsets in 32 bits: no text one reads
// whole goes beyond them.
bool fits_32_bits(std::size_t value) { return static_cast<std::uint64_t>(value) >> 32 == 0; }

// At most how many lines start with "#": enough room for every field line,
// so that the fields can view them while they are read.
std::size_t entry_lines_at_most(std::string_view text) {
    std::size_t count = text.starts_with('#') ? 1 : 0;
    for (std::size_t feed = text.find('\n'); feed != npos; feed = text.find('\n', feed + 1)) {
        if (feed + 1 < text.size() && text[feed + 1] == '#') ++count;
    }
    return count;
}

}  // namespace

TextEntries read_text_entries(std::string_view text) {
    TextEntries entries;
    read_settings(text, entries);
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (text.starts_with(bom)) {
        entries.utf8 = true;
        text.remove_prefix(bom.size());
    }
    entries.field_lines.reserve(entry_lines_at_most(text));
    // Where each block's fields and script lines begin; the views are made
    // once the arrays stop growing.
    struct Firsts {
        std::size_t field = 0;
        std::size_t script_line = 0;
    };
    std::vector<Firsts> firsts;
    bool in_block = false;
    for (std::size_t number = 1; !text.empty(); ++number) {
        const std::size_t feed = text.find('\n');
        std::string_view line = text.substr(0, feed);
        text.remove_prefix(feed == npos ? text.size() : feed + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.starts_with('#')) continue;
        if (line.starts_with("#File:")) {
            in_block = false;
            const std::size_t dot = line.find('.', 6);
            const std::size_t comma = dot == npos ? npos : line.find(',', dot);
            const auto index = comma == npos ? std::nullopt : number_of(line.substr(comma + 1));
            if (!index) {  // its lines go with no block, as on import
                entries.unread_lines.push_back(number);
                continue;
            }
            in_block = true;
            TextBlock& block = entries.blocks.emplace_back();
            block.line = number;
            block.name = line.substr(6, dot - 6);
            block.letters = line.substr(dot + 1, comma - dot - 1);
            block.index = *index;
            firsts.push_back({entries.fields.size(), entries.script_lines.size()});
            continue;
        }
        const std::size_t arrow = line.find("->");
        const std::size_t comma = line.find(',');
        const auto key = !in_block || arrow == npos ? std::nullopt
                                                    : number_of(line.substr(1, std::min(comma, arrow) - 1));
        if (!key || !fits_32_bits(line.size()) || !fits_32_bits(number)) {
            entries.unread_lines.push_back(number);
            continue;
        }
        if (comma == npos || comma > arrow) {
            entries.script_lines.push_back({number, line, *key, line.substr(arrow + 2)});
            continue;
        }
        const std::string_view label = line.substr(1, arrow - 1);
        const std::size_t first = comma - 1;
        const std::size_t second = label.find(',', first + 1);
        const std::string_view gender = second == npos ? std::string_view() : label.substr(second + 1);
        if (gender != "male" && gender != "female") {
            entries.unread_lines.push_back(number);
            continue;
        }
        const TextFieldLine& added = entries.field_lines.emplace_back(number, line, comma + 1, arrow + 2);
        const bool same_field = entries.fields.size() > firsts.back().field && entries.fields.back().key == *key;
        if (!same_field) entries.fields.push_back({*key, {&added, 0}});
        TextField& field = entries.fields.back();
        field.lines = {field.lines.data(), field.lines.size() + 1};
    }
    for (std::size_t b = 0; b < entries.blocks.size(); ++b) {
        const bool last = b + 1 == entries.blocks.size();
        const Firsts end = last ? Firsts{entries.fields.size(), entries.script_lines.size()} : firsts[b + 1];
        entries.blocks[b].fields = std::span(entries.fields).subspan(firsts[b].field, end.field - firsts[b].field);
        entries.blocks[b].script_lines =
            std::span(entries.script_lines).subspan(firsts[b].script_line, end.script_line - firsts[b].script_line);
    }
    return entries;
}

std::vector<std::string> source_languages(const TextEntries& entries, const std::vector<std::string>& given) {
    if (!given.empty()) return given;
    if (!entries.settings_from.empty()) return entries.settings_from;
    return {"english"};
}

bool is_source_line(const TextFieldLine& line, const std::vector<std::string>& sources) {
    return std::find(sources.begin(), sources.end(), line.language()) != sources.end();
}

bool is_translation_line(const TextFieldLine& line, const std::vector<std::string>& sources) {
    return language_row_of_key(line.language()) && !is_source_line(line, sources);
}

bool is_filled_line(const TextFieldLine& line, const std::vector<std::string>& sources) {
    return !line.text().empty() && is_translation_line(line, sources);
}

}  // namespace modtext
