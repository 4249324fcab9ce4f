#include "translation/translation_table.h"

#include <algorithm>

namespace modtext {

std::size_t KeyIndex::slot_of(TextNumber key) const {
    // Fibonacci hashing: keys in steps, as field indices and line numbers
    // come, spread over the whole table instead of clustering.
    const std::uint64_t hash = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15u;
    return static_cast<std::size_t>(hash >> shift_);
}

std::optional<std::size_t> KeyIndex::find(TextNumber key) const {
    if (slots_.empty()) return std::nullopt;
    for (std::size_t i = slot_of(key);; i = (i + 1) & (slots_.size() - 1)) {
        const Slot& slot = slots_[i];
        if (slot.position == empty) return std::nullopt;
        if (slot.key == key) return slot.position;
    }
}

std::size_t KeyIndex::insert(TextNumber key, std::size_t position) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    for (std::size_t i = slot_of(key);; i = (i + 1) & (slots_.size() - 1)) {
        Slot& slot = slots_[i];
        if (slot.position == empty) {
            slot = Slot{key, position};
            ++count_;
            return position;
        }
        if (slot.key == key) return slot.position;
    }
}

void KeyIndex::grow() {
    std::vector<Slot> old(slots_.empty() ? 8 : 2 * slots_.size());
    old.swap(slots_);
    shift_ = 64;
    for (std::size_t size = slots_.size(); size > 1; size >>= 1) --shift_;
    for (const Slot& slot : old) {
        if (slot.position == empty) continue;
        std::size_t i = slot_of(slot.key);
        while (slots_[i].position != empty) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = slot;
    }
}

void finish_record(TranslationTable& table) {
    group_variants(table);
    if (table.records.empty()) return;
    // The lists grew by doubling: what they hold beyond a quarter more than
    // their items goes back, for the records after this one.
    FileRecord& record = table.records.back();
    const auto trim = [](auto& list) {
        if (list.capacity() - list.size() > list.size() / 4) list.shrink_to_fit();
    };
    trim(record.variants);
    trim(record.entries);
}

void add_file_record(TranslationTable& table, std::string_view name, TextNumber resource_index) {
    finish_record(table);
    table.records.push_back(FileRecord{std::string(name), resource_index, {}, {}, true, {}});
    table.record_of_index.insert(resource_index, table.records.size() - 1);
}

void add_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                 std::string_view text) {
    FileRecord& record = table.records.back();
    std::vector<FieldEntry>& entries = record.entries;
    std::size_t entry = entries.size() - 1;
    // A field's lines stand together as export writes them: the entry of
    // the line before is the likely one.
    if (entries.empty() || (record.keys_ascend && entries.back().key < key)) {
        entry = entries.size();
        entries.push_back(FieldEntry{key, record.variants.size(), 0});
    } else if (entries.back().key != key) {
        if (record.keys_ascend) {
            // The first key below the one before: from here on keys are hashed.
            record.keys_ascend = false;
            for (std::size_t e = 0; e < entries.size(); ++e) record.entry_of_key.insert(entries[e].key, e);
        }
        entry = record.entry_of_key.insert(key, entries.size());
        if (entry == entries.size()) {
            entries.push_back(FieldEntry{key, record.variants.size(), 0});
        } else if (table.scattered.empty()) {
            // The first line away from its key's others: from here on each
            // variant's entry is noted, for the grouping.
            table.scattered.reserve(record.variants.size() + 1);
            for (std::size_t e = 0; e < entries.size(); ++e) {
                table.scattered.insert(table.scattered.end(), entries[e].count, e);
            }
        }
    }
    if (!table.scattered.empty()) table.scattered.push_back(entry);
    record.variants.push_back(TextVariant{string_id, text});
    ++entries[entry].count;
}

void group_variants(TranslationTable& table) {
    if (table.scattered.empty()) return;
    FileRecord& record = table.records.back();
    // A counting sort by entry: stable, one pass.
    std::vector<std::size_t> next(record.entries.size());
    std::size_t first = 0;
    for (std::size_t e = 0; e < record.entries.size(); ++e) {
        record.entries[e].first = next[e] = first;
        first += record.entries[e].count;
    }
    std::vector<TextVariant> grouped(record.variants.size());
    for (std::size_t i = 0; i < record.variants.size(); ++i) {
        grouped[next[table.scattered[i]]++] = record.variants[i];
    }
    record.variants.swap(grouped);
    table.scattered.clear();
}

void add_text_variant(TranslationTable& table, TextNumber key, std::int32_t string_id,
                      std::string text) {
    add_variant(table, key, string_id, table.added_texts.emplace_back(std::move(text)));
    group_variants(table);
}

const FieldEntry* find_field_entry(const FileRecord& record, TextNumber key) {
    if (record.keys_ascend) {
        const auto found = std::lower_bound(
            record.entries.begin(), record.entries.end(), key,
            [](const FieldEntry& entry, TextNumber k) { return entry.key < k; });
        return found != record.entries.end() && found->key == key ? &*found : nullptr;
    }
    const std::optional<std::size_t> found = record.entry_of_key.find(key);
    return found ? &record.entries[*found] : nullptr;
}

const FileRecord* find_file_record(const TranslationTable& table, TextNumber resource_index) {
    const std::optional<std::size_t> found = table.record_of_index.find(resource_index);
    return found ? &table.records[*found] : nullptr;
}

}  // namespace modtext
