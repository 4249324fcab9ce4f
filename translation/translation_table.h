// The edited translation text, parsed: one record per resource block, one
// entry per key, one variant per entry line.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"
#include "formats/bulk_buffer.h"

namespace modtext {

// Resource indices and keys as written in the text. A number too large for a
// signed 32-bit value is kept as a value no resource, field or line has, so
// it names nothing rather than wrapping onto a small number.
using TextNumber = std::int64_t;
inline constexpr TextNumber no_text_number = std::int64_t{-1} << 40;

// A hash from text numbers to positions, flat: a large text makes hundreds
// of thousands of keys, and a node and a bucket per key would cost more than
// the texts. The first position given a number is the one kept.
class KeyIndex {
public:
    std::optional<std::size_t> find(TextNumber key) const;
    // The position key has: the one given now if it had none.
    std::size_t insert(TextNumber key, std::size_t position);
    std::size_t size() const { return count_; }

private:
    static constexpr std::size_t empty = ~std::size_t{0};
    struct Slot {
        TextNumber key = 0;
        std::size_t position = empty;
    };
    std::size_t slot_of(TextNumber key) const;
    void grow();

    std::vector<Slot> slots_;  // a power of two of them, at most half used
    unsigned shift_ = 64;      // 64 less the bits of a slot number
    std::size_t count_ = 0;
};

struct TextVariant {
    std::int32_t string_id = -1;  // -1 for a script line
    std::string_view text;        // held by the table
};

struct FieldEntry {
    TextNumber key = 0;  // GFF field index or script line number
    // Its variants in the record's variant list: these, in text order.
    std::size_t first = 0;
    std::size_t count = 0;
};

struct FileRecord {
    std::string name;  // for information only
    TextNumber resource_index = 0;
    std::vector<FieldEntry> entries;    // in the order their keys first appear
    std::vector<TextVariant> variants;  // grouped by entry, in entry order
    // Whether the entries' keys ascend, as an export writes them: they are
    // then found by searching the entries, and need no hash.
    bool keys_ascend = true;
    KeyIndex entry_of_key;  // first entry per key, once the keys do not ascend

    std::span<const TextVariant> variants_of(const FieldEntry& entry) const {
        return std::span<const TextVariant>(variants).subspan(entry.first, entry.count);
    }
};

struct TranslationTable {
    TranslationTable() = default;
    // Its records view its own texts: a copy would view another table's.
    TranslationTable(const TranslationTable&) = delete;
    TranslationTable& operator=(const TranslationTable&) = delete;
    TranslationTable(TranslationTable&&) = default;
    TranslationTable& operator=(TranslationTable&&) = default;

    std::vector<FileRecord> records;
    KeyIndex record_of_index;  // first record per index
    // The texts: the parsed file itself, converted in place, and texts added
    // one by one. Neither moves its characters when the table is moved, so
    // the views stay good.
    BulkBuffer storage;  // not zeroed first: the file fills it
    std::deque<std::string> added_texts;
    // While the last record's lines for one key are not all adjacent: the
    // entry of each of its variants, until they are grouped. Empty otherwise.
    std::vector<std::size_t> scattered;
};

void add_file_record(TranslationTable& table, std::string_view name, TextNumber resource_index);

// Adds a variant under key in the last record, with its string id (-1 for a
// script line). The table keeps a copy of the text.
void add_text_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                      std::string text);

// A variant whose text the table already holds. The last record's variants
// are grouped by entry only once group_variants runs.
void add_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                 std::string_view text);
// Groups the last record's variants by entry, keeping their text order.
void group_variants(TranslationTable& table);
// Ends the last record: its variants grouped, its lists no larger than they
// need be.
void finish_record(TranslationTable& table);

// The first entry of the record with this key, or none.
const FieldEntry* find_field_entry(const FileRecord& record, TextNumber key);

// Finds a record's entries by keys asked in ascending order, as the rebuild
// walks fields and lines: alongside the entries when their keys ascend, which
// costs one pass over them in all, or else by hash.
class EntryWalk {
public:
    explicit EntryWalk(const FileRecord& record) : record_(record) {}
    const FieldEntry* find(TextNumber key) {
        if (!record_.keys_ascend) return find_field_entry(record_, key);
        const std::vector<FieldEntry>& entries = record_.entries;
        while (next_ < entries.size() && entries[next_].key < key) ++next_;
        return next_ < entries.size() && entries[next_].key == key ? &entries[next_] : nullptr;
    }

private:
    const FileRecord& record_;
    std::size_t next_ = 0;
};

// The first record naming this resource index, or none.
const FileRecord* find_file_record(const TranslationTable& table, TextNumber resource_index);

// Reads a translation text file into a fresh table. Fails only when the file
// cannot be read; malformed lines are reported and skipped.
bool parse_translation_text(TranslationTable& table, const std::string& path, Reporter& reporter);

// Where a second half of the text may start: the first line from the middle
// on that the parse takes as a header. Every line after it up to the next
// header is that record's, whatever came before, so the halves parse alone.
// The text's size when there is no such line.
std::size_t translation_second_half(std::string_view text);

// Texts from this size on are parsed in two halves at once.
inline constexpr std::size_t parse_in_halves_from = std::size_t{1} << 20;

// The same, over text already in memory, parsed in two halves from
// halves_from bytes on.
void parse_translation_lines(TranslationTable& table, std::string_view text, Reporter& reporter,
                             std::size_t halves_from = parse_in_halves_from);

}  // namespace modtext
