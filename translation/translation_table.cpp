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

}  // namespace

std::uint64_t TranslationTable::long_length(std::uint64_t offset) const {
    const auto found = std::lower_bound(long_lengths_.begin(), long_lengths_.end(), offset,
                                        [](const LongText& t, std::uint64_t o) { return t.offset < o; });
    return found->length;
}

std::size_t TranslationTable::held_bytes() const {
    return variants_.held_bytes() + records_.held_bytes() +
           long_lengths_.capacity() * sizeof(LongText);
}

FileRecord TranslationTable::record(std::size_t ordinal) const {
    const Record& r = records_[ordinal];
    const char* name = storage.data() + r.name;
    // The name ends at the first dot after it, which its line holds.
    const char* dot = static_cast<const char*>(std::memchr(name, '.', storage.size() - static_cast<std::size_t>(r.name)));
    return FileRecord{this,
                      std::string_view(name, static_cast<std::size_t>(dot - name)),
                      table_detail::widen(table_detail::load_i32(name - 6)),
                      static_cast<std::size_t>(r.first),
                      ordinal + 1 < records_.size() ? static_cast<std::size_t>(records_[ordinal + 1].first)
                                                    : variants_.size()};
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

void TableBuilder::add_record(char* name, TextNumber resource_index) {
    finish_record();
    store_i32(name - 6, narrow(resource_index));
    table_.records_.push_back({static_cast<std::uint64_t>(name - base_), table_.variants_.size()});
}

void TableBuilder::add_variant(char* text, std::size_t length, std::size_t prefix, TextNumber key,
                               std::int32_t string_id) {
    using T = TranslationTable;
    const std::int32_t stored = narrow(key);
    std::uint64_t kind = T::script_key_0;
    if (string_id >= 0) {
        store_i32(text - 8, string_id);
        store_i32(text - 4, stored);
        kind = T::localized;
    } else if (prefix >= 4) {
        store_i32(text - 4, stored);
        kind = T::script;
    }
    // A key below the one before: the record's variants are sorted once it ends.
    if (table_.variants_.size() > table_.records_.back().first && stored < last_key_) ascending_ = false;
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
    const auto first = static_cast<std::size_t>(table_.records_.back().first);
    const char* base = base_;
    std::sort(table_.variants_.at(first), table_.variants_.at(table_.variants_.size()),
              [base](TranslationTable::Variant a, TranslationTable::Variant b) {
                  const TextNumber ka = TranslationTable::key_at(base, a);
                  const TextNumber kb = TranslationTable::key_at(base, b);
                  return ka < kb || (ka == kb && a < b);
              });
}

void TableBuilder::append(TranslationTable& part) {
    const std::uint64_t shift = table_.variants_.size();
    for (std::size_t i = 0; i < part.records_.size(); ++i) part.records_[i].first += shift;
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
