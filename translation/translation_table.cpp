#include "translation/translation_table.h"

#include <algorithm>

namespace modtext {

namespace {

// A key or index as stored: read_number never gives INT32_MIN, which
// stands for no_text_number.
std::int32_t narrow(TextNumber number) {
    return number == no_text_number ? INT32_MIN : static_cast<std::int32_t>(number);
}

void store_i32(char* at, std::int32_t value) { std::memcpy(at, &value, sizeof value); }

std::uint64_t feeds_in(const char* base, std::uint64_t from, std::uint64_t to) {
    return from < to ? static_cast<std::uint64_t>(std::count(base + from, base + to, '\n')) : 0;
}

// The table row of a string id, or language_count for none: as
// language_row_of_id, without a call on the parse's path.
std::size_t row_of(std::int32_t id) {
    if (id >= 0 && id < 12) return static_cast<std::size_t>(id) >> 1;
    if (id >= 256 && id < 264) return 6 + (static_cast<std::size_t>(id - 256) >> 1);
    return language_count;
}

}  // namespace

std::uint64_t TranslationTable::long_length(std::uint64_t offset) const {
    const auto found = std::lower_bound(long_lengths_.begin(), long_lengths_.end(), offset,
                                        [](const LongText& t, std::uint64_t o) { return t.offset < o; });
    return found->length;
}

std::size_t TranslationTable::held_bytes() const {
    return variants_.held_bytes() + records_.held_bytes() +
           long_lengths_.capacity() * sizeof(LongText) + line_checks_.capacity() * sizeof(std::uint64_t);
}

FileRecord TranslationTable::record(std::size_t ordinal) const {
    const Record& r = records_[ordinal];
    const auto at = static_cast<std::size_t>(name_of(r));
    const char* name = storage.data() + at;
    // The name ends at the first dot after it, the letters at the first
    // comma after that, which its line holds.
    const char* dot = static_cast<const char*>(std::memchr(name, '.', storage.size() - at));
    const char* comma = static_cast<const char*>(
        std::memchr(dot + 1, ',', storage.size() - at - static_cast<std::size_t>(dot + 1 - name)));
    return FileRecord{this,
                      std::string_view(name, static_cast<std::size_t>(dot - name)),
                      table_detail::widen(table_detail::load_i32(name - 6)),
                      static_cast<std::size_t>(first_of(r)),
                      ordinal + 1 < records_.size() ? static_cast<std::size_t>(first_of(records_[ordinal + 1]))
                                                    : variants_.size(),
                      std::string_view(dot + 1, static_cast<std::size_t>(comma - dot - 1)),
                      ordinal};
}

std::uint64_t TranslationTable::feeds_read(std::size_t ordinal, std::size_t variant, std::uint64_t from,
                                           std::uint64_t to) const {
    const char* base = storage.data();
    std::uint64_t feeds = feeds_in(base, from, to);
    // Less those the parse wrote: the header's index, and before each
    // variant of the record lying there its key and string id, and in a
    // localized text the line feeds its bars became.
    const auto written = [&](std::uint64_t begin, std::uint64_t end) {
        feeds -= feeds_in(base, std::max(begin, from), std::min(end, to));
    };
    const Record& r = records_[ordinal];
    written(name_of(r) - 6, name_of(r) - 2);
    const auto first = static_cast<std::size_t>(first_of(r));
    const std::size_t end = ordinal + 1 < records_.size() ? static_cast<std::size_t>(first_of(records_[ordinal + 1]))
                                                          : variants_.size();
    const auto mark = [&](Variant v) {
        const std::uint64_t at = v >> (kind_bits + length_bits);
        const unsigned kind = v & 3;
        const std::uint64_t text_end = kind == localized ? at + resolve(v).text.size() : at;
        written(at - (kind == localized ? 8 : kind == script ? 4 : 0), text_end);
        return text_end;
    };
    if (r.high & sorted_bit) {
        // Sorted by key: any of them may lie in the stretch.
        for (std::size_t i = first; i < end; ++i) {
            if (i != variant) mark(variants_[i]);
        }
    } else {
        // In text order: those before the variant, back to the stretch's start.
        for (std::size_t i = variant; i > first && mark(variants_[i - 1]) > from;) --i;
    }
    return feeds;
}

std::size_t TranslationTable::variant_line(std::size_t i) const {
    const Variant v = variants_[i];
    const std::uint64_t at = v >> (kind_bits + length_bits);
    // The line's bytes before what the parse wrote hold no line feed.
    const std::uint64_t line_end = at - ((v & 3) == localized ? 8 : (v & 3) == script ? 4 : 0);
    // The last record whose variants start at or before i.
    std::size_t low = 0, high = records_.size();
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (first_of(records_[middle]) <= i) low = middle;
        else high = middle;
    }
    const std::size_t ordinal = low;
    const std::uint64_t header = name_of(records_[ordinal]) - 6;
    const std::uint64_t check = line_end >> check_bits;
    if (check << check_bits > header) {
        const std::uint64_t from = check << check_bits;
        return static_cast<std::size_t>(line_checks_[static_cast<std::size_t>(check)] +
                                        feeds_read(ordinal, i, from, line_end)) + 1;
    }
    return record_line(ordinal) + static_cast<std::size_t>(feeds_read(ordinal, i, header, line_end));
}

VariantRun FileRecord::find(TextNumber key) const {
    // The first variant whose key is not below key.
    std::size_t low = first, high = end;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (table->key_of(table->variant(middle)) < key) low = middle + 1;
        else high = middle;
    }
    std::size_t past = low;
    while (past < end && table->key_of(table->variant(past)) == key) ++past;
    return VariantRun(table, low, past - low);
}

std::vector<VariantRun> FileRecord::runs() const {
    std::vector<VariantRun> out;
    for (std::size_t i = first; i < end;) {
        const TextNumber key = table->key_of(table->variant(i));
        std::size_t past = i + 1;
        while (past < end && table->key_of(table->variant(past)) == key) ++past;
        out.emplace_back(table, i, past - i);
        i = past;
    }
    return out;
}

void TableBuilder::add_record(char* name, TextNumber resource_index, std::size_t line) {
    finish_record();
    store_i32(name - 6, narrow(resource_index));
    table_.records_.push_back(
        TranslationTable::make_record(static_cast<std::uint64_t>(name - base_), table_.variants_.size(), line));
}

void TableBuilder::add_variant(char* text, std::size_t length, std::size_t prefix, TextNumber key,
                               std::optional<std::int32_t> string_id) {
    using T = TranslationTable;
    const std::int32_t stored = narrow(key);
    std::uint64_t kind = T::script_key_0;
    if (string_id) {
        const std::size_t row = row_of(*string_id);
        LineCounts& counts = row < language_count ? table_.counts_.languages[row] : table_.counts_.other_languages;
        ++(length == 0 || (length == 1 && text[0] == '\r') ? counts.empty : counts.filled);
        store_i32(text - 8, *string_id);
        store_i32(text - 4, stored);
        kind = T::localized;
    } else {
        ++table_.counts_.script_lines;
        if (prefix >= 4) {
            store_i32(text - 4, stored);
            kind = T::script;
        }
    }
    // A key below the one before: the record's variants are sorted once it ends.
    if (table_.variants_.size() > T::first_of(table_.records_.back()) && stored < last_key_) ascending_ = false;
    last_key_ = stored;
    const auto offset = static_cast<std::uint64_t>(text - base_);
    std::uint64_t packed_length = length;
    if (length >= T::long_text) {
        table_.long_lengths_.push_back({offset, length});
        packed_length = T::long_text;
    }
    table_.variants_.push_back(offset << (T::kind_bits + T::length_bits) | packed_length << T::kind_bits |
                               kind);
}

void TableBuilder::finish_record() {
    if (ascending_) return;
    ascending_ = true;
    // Sorted in place by key, and by place in the text within a key: the
    // offset leads the packed variant.
    TranslationTable::Record& record = table_.records_[table_.records_.size() - 1];
    record.high |= TranslationTable::sorted_bit;
    const auto first = static_cast<std::size_t>(TranslationTable::first_of(record));
    const char* base = base_;
    std::sort(table_.variants_.at(first), table_.variants_.at(table_.variants_.size()),
              [base](TranslationTable::Variant a, TranslationTable::Variant b) {
                  const TextNumber ka = TranslationTable::key_at(base, a);
                  const TextNumber kb = TranslationTable::key_at(base, b);
                  return ka < kb || (ka == kb && a < b);
              });
}

void TableBuilder::append(TranslationTable& part, std::size_t lines_before) {
    using T = TranslationTable;
    const std::uint64_t shift = table_.variants_.size();
    for (std::size_t i = 0; i < part.records_.size(); ++i) {
        T::Record& r = part.records_[i];
        T::Record moved = T::make_record(T::name_of(r), T::first_of(r) + shift, T::line_of(r) + lines_before);
        moved.high |= r.high & T::sorted_bit;
        r = moved;
    }
    for (std::uint64_t line : part.line_checks_) table_.line_checks_.push_back(line + lines_before);
    for (std::size_t row = 0; row < language_count; ++row) {
        table_.counts_.languages[row].filled += part.counts_.languages[row].filled;
        table_.counts_.languages[row].empty += part.counts_.languages[row].empty;
    }
    table_.counts_.other_languages.filled += part.counts_.other_languages.filled;
    table_.counts_.other_languages.empty += part.counts_.other_languages.empty;
    table_.counts_.script_lines += part.counts_.script_lines;
    table_.records_.append_chunks(part.records_);
    table_.variants_.append_chunks(part.variants_);
    table_.long_lengths_.insert(table_.long_lengths_.end(), part.long_lengths_.begin(),
                                part.long_lengths_.end());
    part.long_lengths_ = {};
}

std::optional<FileRecord> find_file_record(const TranslationTable& table, TextNumber resource_index) {
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        if (table.resource_index(i) == resource_index) return table.record(i);
    }
    return std::nullopt;
}

RecordsByIndex::RecordsByIndex(const TranslationTable& table, std::size_t count)
    : table_(table), record_of_(count, none) {
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const TextNumber index = table.resource_index(i);
        if (index >= 0 && static_cast<std::uint64_t>(index) < count &&
            record_of_[static_cast<std::size_t>(index)] == none) {
            record_of_[static_cast<std::size_t>(index)] = i;
        }
    }
}

std::optional<FileRecord> RecordsByIndex::find(TextNumber resource_index) const {
    if (resource_index < 0 || static_cast<std::uint64_t>(resource_index) >= record_of_.size() ||
        record_of_[static_cast<std::size_t>(resource_index)] == none) {
        return std::nullopt;
    }
    return table_.record(record_of_[static_cast<std::size_t>(resource_index)]);
}

}  // namespace modtext
