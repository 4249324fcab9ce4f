#include <cstring>
#include <limits>

#include "core/languages.h"
#include "formats/files.h"
#include "translation/translation_table.h"

namespace modtext {

void add_file_record(TranslationTable& table, std::string_view name, TextNumber resource_index) {
    table.records.push_back(FileRecord{std::string(name), resource_index, {}, {}});
    table.record_of_index.try_emplace(resource_index, table.records.size() - 1);
}

namespace {

// A variant whose text the table already holds.
void add_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                 std::string_view text) {
    FileRecord& record = table.records.back();
    // A field's lines stand together as export writes them: the entry of
    // the line before is the likely one.
    if (!record.entries.empty() && record.entries.back().key == key) {
        record.entries.back().variants.push_back(TextVariant{string_id, text});
        return;
    }
    const auto [slot, added] = record.entry_of_key.try_emplace(key, record.entries.size());
    if (added) record.entries.push_back(FieldEntry{key, {}});
    record.entries[slot->second].variants.push_back(TextVariant{string_id, text});
}

}  // namespace

void add_text_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                      std::string text) {
    add_variant(table, key, string_id, table.added_texts.emplace_back(std::move(text)));
}

const FieldEntry* find_field_entry(const FileRecord& record, TextNumber key) {
    const auto found = record.entry_of_key.find(key);
    return found == record.entry_of_key.end() ? nullptr : &record.entries[found->second];
}

const FileRecord* find_file_record(const TranslationTable& table, TextNumber resource_index) {
    const auto found = table.record_of_index.find(resource_index);
    return found == table.record_of_index.end() ? nullptr : &table.records[found->second];
}

namespace {

constexpr auto npos = std::string_view::npos;

// A decimal number: white space skipped, an optional sign, digits up to the
// first non-digit, 0 without digits. A value beyond 32 signed bits becomes
// one that names nothing.
TextNumber read_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr TextNumber limit = TextNumber{1} << 40;
    TextNumber value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < limit) value = value * 10 + (text[i] - '0');
    }
    if (value > std::numeric_limits<std::int32_t>::max()) return no_text_number;
    return negative ? -value : value;
}

// The string id of a language key and gender key: a table key, or "lang<N>"
// as export writes it for an id of no table language. None for other keys.
std::optional<std::int32_t> string_id_of(std::string_view language, std::string_view gender) {
    const std::uint32_t female = gender == "female" ? 1u : 0u;
    if (const auto row = language_row_of_key(language)) {
        return LanguageTable[*row].male_id + static_cast<std::int32_t>(female);
    }
    constexpr std::string_view prefix = "lang";
    if (language.size() <= prefix.size() || language.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::string_view digits = language.substr(prefix.size());
    if (digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n > std::numeric_limits<std::uint32_t>::max() >> 1) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n << 1) | female);
}

// Turns the bars of a localized text back into line feeds, in place.
std::string_view unbar(char* text, std::size_t size) {
    for (char* bar = text; (bar = static_cast<char*>(std::memchr(bar, '|', size - static_cast<std::size_t>(bar - text))));) {
        *bar++ = '\n';
    }
    return std::string_view(text, size);
}

void warn(Reporter& reporter, const char* format, std::size_t line_number) {
    report(reporter, Severity::warning, format, static_cast<int>(line_number));
}

// One line of the table's storage, its line feed included when it has one.
void parse_line(TranslationTable& table, char* start, std::size_t size, std::size_t line_number,
                Reporter& reporter) {
    const std::string_view line(start, size);
    if (line.substr(0, 2) == "//") return;

    constexpr std::string_view file_tag = "#File:";
    if (const std::size_t tag = line.find(file_tag); tag != npos) {
        const std::size_t name_start = tag + file_tag.size();
        const std::size_t dot = line.find('.', name_start);
        const std::size_t comma = dot == npos ? npos : line.find(',', dot);
        if (comma == npos) {
            warn(reporter, "WARNING: Invalid File Info on line %d!\n", line_number);
            return;
        }
        add_file_record(table, line.substr(name_start, dot - name_start),
                        read_number(line.substr(comma + 1)));
        return;
    }
    if (line.empty() || line[0] != '#') return;

    const std::size_t arrow = line.find("->");
    if (arrow == npos || table.records.empty()) {
        warn(reporter, "WARNING: Invalid String on line %d!\n", line_number);
        return;
    }
    const TextNumber key = read_number(line.substr(1));
    const std::string_view text = line.substr(arrow + 2);
    const std::size_t comma = line.find(',');
    if (comma == npos || arrow < comma) {
        // A script entry keeps its line end; the rebuild writes it as it stands.
        add_variant(table, key, -1, text);
        return;
    }
    const std::size_t second = line.find(',', comma + 1);
    const std::size_t gender_end = second == npos ? npos : line.find("->", second);
    const auto id = gender_end == npos
                        ? std::nullopt
                        : string_id_of(line.substr(comma + 1, second - comma - 1),
                                       line.substr(second + 1, gender_end - second - 1));
    if (!id) {
        warn(reporter, "WARNING: Invalid String on line %d!\n", line_number);
        return;
    }
    std::size_t length = text.size();
    if (length >= 2 && text.back() == '\n') --length;
    add_variant(table, key, *id, unbar(start + arrow + 2, length));
}

// Parses the table's storage, whose texts the variants then view.
void parse_storage(TranslationTable& table, Reporter& reporter) {
    char* text = table.storage.data();
    std::size_t rest = table.storage.size();
    for (std::size_t line_number = 0; rest > 0; ++line_number) {
        const void* feed = std::memchr(text, '\n', rest);
        const std::size_t length = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - text) + 1 : rest;
        parse_line(table, text, length, line_number, reporter);
        text += length;
        rest -= length;
    }
}

}  // namespace

void parse_translation_lines(TranslationTable& table, std::string_view text, Reporter& reporter) {
    table = TranslationTable{};
    table.storage.assign(text.begin(), text.end());
    parse_storage(table, reporter);
}

bool parse_translation_text(TranslationTable& table, const std::string& path, Reporter& reporter) {
    table = TranslationTable{};
    InputFile file;
    if (!file.open(path) || file.size() > table.storage.max_size()) {
        report(reporter, Severity::error, "Error opening file: %s\n", path.c_str());
        return false;
    }
    table.storage.resize(static_cast<std::size_t>(file.size()));
    if (!file.read_into(0, file.size(), reinterpret_cast<std::uint8_t*>(table.storage.data()))) {
        report(reporter, Severity::error, "Error opening file: %s\n", path.c_str());
        table = TranslationTable{};
        return false;
    }
    parse_storage(table, reporter);
    return true;
}

}  // namespace modtext
