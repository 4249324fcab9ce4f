// The edited translation text, parsed: one record per resource block, one
// entry per key, one variant per entry line.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/reporter.h"

namespace modtext {

// Resource indices and keys as written in the text. A number too large for a
// signed 32-bit value is kept as a value no resource, field or line has, so
// it names nothing rather than wrapping onto a small number.
using TextNumber = std::int64_t;
inline constexpr TextNumber no_text_number = std::int64_t{-1} << 40;

struct TextVariant {
    std::int32_t string_id = -1;  // -1 for a script line
    std::string_view text;        // held by the table
};

struct FieldEntry {
    TextNumber key = 0;  // GFF field index or script line number
    std::vector<TextVariant> variants;
};

struct FileRecord {
    std::string name;  // for information only
    TextNumber resource_index = 0;
    std::vector<FieldEntry> entries;
    std::unordered_map<TextNumber, std::size_t> entry_of_key;  // first entry per key
};

struct TranslationTable {
    TranslationTable() = default;
    // Its records view its own texts: a copy would view another table's.
    TranslationTable(const TranslationTable&) = delete;
    TranslationTable& operator=(const TranslationTable&) = delete;
    TranslationTable(TranslationTable&&) = default;
    TranslationTable& operator=(TranslationTable&&) = default;

    std::vector<FileRecord> records;
    std::unordered_map<TextNumber, std::size_t> record_of_index;  // first record per index
    // The texts: the parsed file itself, converted in place, and texts added
    // one by one. Neither moves its characters when the table is moved, so
    // the views stay good.
    std::vector<char> storage;
    std::deque<std::string> added_texts;
};

void add_file_record(TranslationTable& table, std::string_view name, TextNumber resource_index);

// Adds a variant under key in the last record, with its string id (-1 for a
// script line). The table keeps a copy of the text.
void add_text_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                      std::string text);

// The first entry of the record with this key, or none.
const FieldEntry* find_field_entry(const FileRecord& record, TextNumber key);

// The first record naming this resource index, or none.
const FileRecord* find_file_record(const TranslationTable& table, TextNumber resource_index);

// Reads a translation text file into a fresh table. Fails only when the file
// cannot be read; malformed lines are reported and skipped.
bool parse_translation_text(TranslationTable& table, const std::string& path, Reporter& reporter);

// The same, over text already in memory.
void parse_translation_lines(TranslationTable& table, std::string_view text, Reporter& reporter);

}  // namespace modtext
