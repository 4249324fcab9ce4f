#include "translation/text_update.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "translation/po_catalogue.h"

namespace modtext {

std::string update_summary(const UpdateCounts& counts) {
    return std::to_string(counts.exact) + " carried exactly, " + std::to_string(counts.by_text) +
           " carried by text, " + std::to_string(counts.source_changed) + " source changed, " +
           std::to_string(counts.fresh) + " new.";
}

namespace {

// The text an old field gives a new line: its first filled line of the same
// language and gender. An empty one gives nothing, so it never empties a
// line.
std::optional<std::string_view> filled_for(const TextField& old, const TextFieldLine& line) {
    for (const TextFieldLine& candidate : old.lines) {
        if (!candidate.text().empty() && candidate.language() == line.language() &&
            candidate.gender() == line.gender()) {
            return candidate.text();
        }
    }
    return std::nullopt;
}

// Whether two fields have the same lines of a kind, each "LANGUAGE,GENDER->TEXT"
// and in the same order: a field's source text, or what it has filled,
// compared where it lies instead of copied out.
template <class Kind>
bool same_lines(const TextField& a, const TextField& b, const Kind& kind) {
    auto i = a.lines.begin();
    auto j = b.lines.begin();
    for (;; ++i, ++j) {
        while (i != a.lines.end() && !kind(*i)) ++i;
        while (j != b.lines.end() && !kind(*j)) ++j;
        if (i == a.lines.end() || j == b.lines.end()) return i == a.lines.end() && j == b.lines.end();
        if (i->body() != j->body()) return false;
    }
}

constexpr std::uint64_t golden = 0x9E3779B97F4A7C15u;

std::uint64_t mixed(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    return h ^ (h >> 33);
}

std::uint64_t hash_pair(std::uint64_t a, std::uint64_t b) { return mixed(a * golden ^ b); }

// Eight bytes at a time: the sources hashed are most of a text.
std::uint64_t hash_bytes(std::uint64_t h, std::string_view bytes) {
    h = (h ^ bytes.size()) * golden;
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + at, 8);
        h = std::rotl((h ^ word) * golden, 29);
    }
    std::uint64_t rest = 0;
    if (at < bytes.size()) std::memcpy(&rest, bytes.data() + at, bytes.size() - at);
    return mixed(h ^ rest);
}

// A field's source text hashed line by line, as same_lines compares it;
// none when it has no source line.
std::optional<std::uint64_t> source_hash(const TextField& field, const std::vector<std::string>& sources) {
    std::optional<std::uint64_t> hash;
    for (const TextFieldLine& line : field.lines) {
        if (is_source_line(line, sources)) hash = hash_bytes(hash.value_or(0), line.body());
    }
    return hash;
}

// An open-addressing table from hashes to indices, sized once. It keeps
// 32 bits of each hash; the caller tells whether an index holds what it
// looks for, so a hash shared by two things costs a comparison, never a
// wrong answer.
class HashIndex {
public:
    // Room for most indices, taken at the first one added.
    explicit HashIndex(std::size_t most) : most_(most) {}

    template <class Holds>
    std::optional<std::uint32_t> find(std::uint64_t hash, const Holds& holds) const {
        if (slots_.empty()) return std::nullopt;
        for (std::size_t at = start(hash);; at = (at + 1) & mask_) {
            const Slot& slot = slots_[at];
            if (slot.taken == 0) return std::nullopt;
            if (slot.tag == tag(hash) && holds(slot.taken - 1)) return slot.taken - 1;
        }
    }

    // The index held for what holds recognises, else index, added.
    template <class Holds>
    std::uint32_t emplace(std::uint64_t hash, std::uint32_t index, const Holds& holds) {
        if (slots_.empty()) {
            std::size_t size = 16;
            while (size < most_ + most_ / 2) size *= 2;
            slots_.resize(size);
            mask_ = size - 1;
        }
        for (std::size_t at = start(hash);; at = (at + 1) & mask_) {
            Slot& slot = slots_[at];
            if (slot.taken == 0) {
                slot = {tag(hash), index + 1};
                return index;
            }
            if (slot.tag == tag(hash) && holds(slot.taken - 1)) return slot.taken - 1;
        }
    }

private:
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t taken = 0;  // the index + 1; 0 when free
    };

    static std::uint32_t tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash); }
    std::size_t start(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> 32) & mask_; }

    std::size_t most_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// The old text looked up by resource, key and source, each once: the merge
// stays linear however large the texts. Fields and script lines are known
// by their index in the old entries' arrays, blocks by theirs.
class OldIndex {
    // What an index must hold to be the one looked for.
    bool in_block(std::uint32_t b, std::uint32_t field) const {
        const std::span<const TextField> fields = entries_.blocks[b].fields;
        return &entries_.fields[field] >= fields.data() && &entries_.fields[field] < fields.data() + fields.size();
    }

    auto field_of(std::uint32_t b, std::int64_t key) const {
        return [this, b, key](std::uint32_t index) { return entries_.fields[index].key == key && in_block(b, index); };
    }

    auto same_source_in(std::optional<std::uint32_t> b, const TextField& field) const {
        return [this, b, &field](std::uint32_t index) {
            return (!b || in_block(*b, index)) && same_source(entries_.fields[index], field);
        };
    }

    auto script_line_of(std::uint32_t b, std::int64_t number) const {
        return [this, b, number](std::uint32_t index) {
            const std::span<const TextScriptLine> lines = entries_.blocks[b].script_lines;
            const TextScriptLine* line = &entries_.script_lines[index];
            return line->number == number && line >= lines.data() && line < lines.data() + lines.size();
        };
    }

public:
    OldIndex(const TextEntries& entries, std::string_view name, const std::vector<std::string>& sources,
             Reporter& reporter)
        : entries_(entries), sources_(sources), first_(entries.blocks.size()), keys_ascending_(entries.blocks.size()),
          by_key_(entries.fields.size()), by_block_source_(entries.fields.size()), by_source_(entries.fields.size()),
          script_lines_(entries.script_lines.size()) {
        for (std::uint32_t b = 0; b < entries.blocks.size(); ++b) {
            const TextBlock& block = entries.blocks[b];
            const std::string resource = block.resource();
            if (!blocks_.try_emplace(resource, b).second) {
                report(reporter, Severity::warning, "Warning: %s line %zu: %s appears again; the first block counts.\n",
                       std::string(name).c_str(), block.line, resource.c_str());
                continue;
            }
            first_[b] = true;
            // Export writes a block's keys ascending: such a block is
            // searched in place, and only the others are hashed.
            const bool ascending = std::adjacent_find(block.fields.begin(), block.fields.end(),
                                                      [](const TextField& a, const TextField& next) {
                                                          return a.key >= next.key;
                                                      }) == block.fields.end();
            keys_ascending_[b] = ascending;
            if (!ascending) {
                for (const TextField& field : block.fields) {
                    const auto index = static_cast<std::uint32_t>(&field - entries.fields.data());
                    if (by_key_.emplace(hash_pair(b, static_cast<std::uint64_t>(field.key)), index,
                                        field_of(b, field.key)) != index) {
                        report_repeat(reporter, name, field.lines.front().line, block, field.key);
                    }
                }
            }
            for (const TextScriptLine& line : block.script_lines) {
                const auto index = static_cast<std::uint32_t>(&line - entries.script_lines.data());
                if (script_lines_.emplace(hash_pair(b, static_cast<std::uint64_t>(line.number)), index,
                                          script_line_of(b, line.number)) != index) {
                    report_repeat(reporter, name, line.line, block, line.number);
                }
            }
        }
    }

    std::optional<std::uint32_t> block(const TextBlock& of_new) const {
        const auto found = blocks_.find(of_new.resource());
        if (found == blocks_.end()) return std::nullopt;
        return found->second;
    }

    const TextBlock& block_at(std::uint32_t b) const { return entries_.blocks[b]; }
    const TextField& field_at(std::uint32_t index) const { return entries_.fields[index]; }

    // The block a field lies in.
    const TextBlock& block_of(const TextField& field) const {
        return *std::partition_point(entries_.blocks.begin(), entries_.blocks.end(), [&field](const TextBlock& block) {
            return block.fields.data() + block.fields.size() <= &field;
        });
    }

    std::optional<std::uint32_t> by_key(std::uint32_t b, std::int64_t key) const {
        if (!keys_ascending_[b]) return by_key_.find(hash_pair(b, static_cast<std::uint64_t>(key)), field_of(b, key));
        const std::span<const TextField> fields = entries_.blocks[b].fields;
        const auto found = std::partition_point(fields.begin(), fields.end(),
                                                [key](const TextField& field) { return field.key < key; });
        if (found == fields.end() || found->key != key) return std::nullopt;
        return static_cast<std::uint32_t>(&*found - entries_.fields.data());
    }

    // The first filled field of a source in block b, then anywhere; the
    // latter only when every filled field of the source agrees.
    std::optional<std::uint32_t> by_source(std::uint32_t b, const TextField& of_new, std::uint64_t source) {
        know_sources();
        return by_block_source_.find(hash_pair(b, source), same_source_in(b, of_new));
    }
    std::optional<std::uint32_t> by_source(const TextField& of_new, std::uint64_t source) {
        know_sources();
        const auto found = by_source_.find(source, same_source_in(std::nullopt, of_new));
        if (!found || disagreeing_[*found]) return std::nullopt;
        return found;
    }

    const TextScriptLine* script_line(std::uint32_t b, std::int64_t number) const {
        const auto found =
            script_lines_.find(hash_pair(b, static_cast<std::uint64_t>(number)), script_line_of(b, number));
        return found ? &entries_.script_lines[*found] : nullptr;
    }

    bool same_source(const TextField& a, const TextField& b) const {
        return same_lines(a, b, [this](const TextFieldLine& line) { return is_source_line(line, sources_); });
    }

private:
    // Hashed when first asked for: an update that finds every field by its
    // key needs none of it.
    void know_sources() {
        if (sources_known_) return;
        sources_known_ = true;
        disagreeing_.resize(entries_.fields.size());
        const auto filled = [this](const TextFieldLine& line) { return is_filled_line(line, sources_); };
        for (std::uint32_t b = 0; b < entries_.blocks.size(); ++b) {
            if (!first_[b]) continue;
            for (const TextField& field : entries_.blocks[b].fields) {
                const auto index = static_cast<std::uint32_t>(&field - entries_.fields.data());
                // A repeated key, or a field with nothing to carry or no
                // source to know it by, is found only by its key.
                if (!keys_ascending_[b] && by_key(b, field.key) != index) continue;
                if (std::none_of(field.lines.begin(), field.lines.end(), filled)) continue;
                const std::optional<std::uint64_t> source = source_hash(field, sources_);
                if (!source) continue;
                by_block_source_.emplace(hash_pair(b, *source), index, same_source_in(b, field));
                const std::uint32_t first = by_source_.emplace(*source, index, same_source_in(std::nullopt, field));
                if (first != index && !same_lines(entries_.fields[first], field, filled)) disagreeing_[first] = true;
            }
        }
    }

    static void report_repeat(Reporter& reporter, std::string_view name, std::size_t line, const TextBlock& block,
                              std::int64_t key) {
        report(reporter, Severity::warning, "Warning: %s line %zu: %s #%lld appears again; the first one counts.\n",
               std::string(name).c_str(), line, block.resource().c_str(), static_cast<long long>(key));
    }

    const TextEntries& entries_;
    const std::vector<std::string>& sources_;
    std::unordered_map<std::string, std::uint32_t> blocks_;  // the first of each "NAME.XYZ"
    std::vector<bool> first_;                                 // by block: the first of its resource
    std::vector<bool> keys_ascending_;                        // by block
    HashIndex by_key_;                                        // (block, key): the first field, of other blocks
    HashIndex by_block_source_;                               // (block, source): the first filled field
    HashIndex by_source_;                                     // source: the first filled field anywhere
    HashIndex script_lines_;                                  // (block, number): the first script line
    // By the first field of a source: another filled field of it has other lines.
    std::vector<bool> disagreeing_;
    bool sources_known_ = false;
};

// Whether the merge meets the new text's lines in the text's order, block
// by block, each's fields and then its script lines. It does unless a
// damaged text interleaves them.
bool merge_meets_in_order(const TextEntries& entries) {
    std::size_t last = 0;
    const auto next = [&last](std::size_t line) { return std::exchange(last, line) < line; };
    for (const TextBlock& block : entries.blocks) {
        for (const TextField& field : block.fields) {
            for (const TextFieldLine& line : field.lines) {
                if (!next(line.line)) return false;
            }
        }
        for (const TextScriptLine& line : block.script_lines) {
            if (!next(line.line)) return false;
        }
    }
    return true;
}

// The new text's changes: lines inserted before its lines and texts
// replaced within them, written through in the text's order. Changes that
// come in that order are written as they come; else they are gathered and
// sorted first.
class MergeWriter {
public:
    MergeWriter(std::string_view text, const TextSink& out, bool in_order)
        : text_(text), out_(out), in_order_(in_order) {
        const std::size_t feed = text.find('\n');
        if (feed != std::string_view::npos && feed > 0 && text[feed - 1] == '\r') default_end_ = "\r\n";
    }

    // A comment line before the line whole, ended as that line is.
    void insert_before(std::string_view whole, std::string comment) {
        const std::size_t after = offset(whole.data()) + whole.size();
        const std::string_view end = after >= text_.size() ? default_end_ : text_[after] == '\r' ? "\r\n" : "\n";
        if (in_order_) {
            write(offset(whole.data()), 0, comment, end);
        } else {
            edits_.push_back({offset(whole.data()), 0, std::move(comment.append(end)), {}});
        }
    }

    // The text part of a line, replaced; with must outlive the writer.
    void replace(std::string_view part, std::string_view with) {
        if (in_order_) {
            write(offset(part.data()), part.size(), with);
        } else {
            edits_.push_back({offset(part.data()), part.size(), {}, with});
        }
    }

    void finish() {
        const auto before = [](const Edit& a, const Edit& b) { return a.at < b.at; };
        std::stable_sort(edits_.begin(), edits_.end(), before);
        for (const Edit& edit : edits_) write(edit.at, edit.replaced, edit.line.empty() ? edit.with : edit.line);
        out_(text_.substr(written_));
    }

private:
    struct Edit {
        std::size_t at = 0;
        std::size_t replaced = 0;
        std::string line;       // an inserted line, with its end
        std::string_view with;  // a replacing text
    };

    void write(std::size_t at, std::size_t replaced, std::string_view piece, std::string_view end = {}) {
        if (at < written_) return;  // each line is replaced once; a guard for the bytes
        if (at > written_) out_(text_.substr(written_, at - written_));
        out_(piece);
        if (!end.empty()) out_(end);
        written_ = at + replaced;
    }

    std::size_t offset(const char* place) const { return static_cast<std::size_t>(place - text_.data()); }

    std::string_view text_;
    const TextSink& out_;
    const bool in_order_;
    std::string_view default_end_ = "\n";  // for a last line with no end
    std::size_t written_ = 0;              // the text before it is written
    std::vector<Edit> edits_;
};

// A script line's code with the text of every string literal taken out:
// two lines that only say other things are equal so.
std::string masked_code(std::string_view code) {
    std::string masked;
    std::size_t at = 0;
    for (const ScriptLiteral& literal : script_literals(code)) {
        masked.append(code.substr(at, literal.begin - at));
        at = literal.end;
    }
    masked.append(code.substr(at));
    return masked;
}

std::string check_comment(const TextBlock& block, std::int64_t key) {
    return "//CHECK: carried from " + block.resource() + " #" + std::to_string(key);
}

class Merge {
public:
    Merge(OldIndex& old, const std::vector<std::string>& sources, MergeWriter& writer, UpdateCounts& counts)
        : old_(old), sources_(sources), writer_(writer), counts_(counts) {}

    void block(const TextBlock& block) {
        const std::optional<std::uint32_t> old = old_.block(block);
        for (const TextField& field : block.fields) this->field(old, field);
        for (const TextScriptLine& line : block.script_lines) script_line(old, line);
    }

private:
    enum class Rule { exact, moved, anywhere };

    void field(std::optional<std::uint32_t> old, const TextField& field) {
        targets_.clear();
        for (const TextFieldLine& line : field.lines) {
            if (is_translation_line(line, sources_)) targets_.push_back(&line);
        }
        if (targets_.empty()) return;
        const auto carries = [this](const TextField& candidate) {
            return std::any_of(targets_.begin(), targets_.end(), [&candidate](const TextFieldLine* line) {
                return filled_for(candidate, *line).has_value();
            });
        };
        const TextField* same_key = nullptr;
        if (old) {
            if (const auto found = old_.by_key(*old, field.key)) same_key = &old_.field_at(*found);
        }
        const bool same_source = same_key && old_.same_source(*same_key, field);
        const TextField* match = nullptr;
        Rule rule = Rule::exact;
        if (same_source && carries(*same_key)) match = same_key;
        const std::optional<std::uint64_t> source = match ? std::nullopt : source_hash(field, sources_);
        if (!match && old && source) {
            const auto found = old_.by_source(*old, field, *source);
            if (found && carries(old_.field_at(*found))) {
                match = &old_.field_at(*found);
                rule = Rule::moved;
            }
        }
        if (!match && source) {
            const auto found = old_.by_source(field, *source);
            if (found && carries(old_.field_at(*found))) {
                match = &old_.field_at(*found);
                rule = Rule::anywhere;
            }
        }
        if (match) {
            carry(*match, rule == Rule::anywhere);
            ++(rule == Rule::exact ? counts_.exact : counts_.by_text);
        } else if (same_key && !same_source) {
            // The translator sees what the old text said and how it was put.
            for (const TextFieldLine& line : same_key->lines) {
                if (is_source_line(line, sources_) || is_filled_line(line, sources_)) {
                    writer_.insert_before(targets_.front()->whole(), "//OLD: " + std::string(line.whole()));
                }
            }
            ++counts_.source_changed;
        } else {
            ++counts_.fresh;
        }
    }

    void carry(const TextField& match, bool check) {
        for (const TextFieldLine* line : targets_) {
            const std::optional<std::string_view> text = filled_for(match, *line);
            if (!text) continue;
            if (check) writer_.insert_before(line->whole(), check_comment(old_.block_of(match), match.key));
            check = false;
            writer_.replace(line->text(), *text);
        }
    }

    void script_line(std::optional<std::uint32_t> old, const TextScriptLine& line) {
        const TextScriptLine* before = old ? old_.script_line(*old, line.number) : nullptr;
        if (!before) {
            ++counts_.fresh;
        } else if (before->text == line.text) {
            ++counts_.exact;  // nothing to carry, nothing to check
        } else if (masked_code(before->text) == masked_code(line.text)) {
            writer_.insert_before(line.whole, check_comment(old_.block_at(*old), before->number));
            writer_.replace(line.text, before->text);
            ++counts_.by_text;
        } else {
            writer_.insert_before(line.whole, "//OLD: " + std::string(before->whole));
            ++counts_.source_changed;
        }
    }

    OldIndex& old_;
    const std::vector<std::string>& sources_;
    MergeWriter& writer_;
    UpdateCounts& counts_;
    std::vector<const TextFieldLine*> targets_;  // the field's translation lines
};

}  // namespace

UpdateCounts merge_update(const TextEntries& old_entries, std::string_view old_name, std::string_view new_text,
                          const TextEntries& new_entries, const std::vector<std::string>& sources,
                          const TextSink& out, Reporter& reporter) {
    OldIndex old(old_entries, old_name, sources, reporter);
    MergeWriter writer(new_text, out, merge_meets_in_order(new_entries));
    UpdateCounts counts;
    Merge merge(old, sources, writer, counts);
    for (const TextBlock& block : new_entries.blocks) merge.block(block);
    writer.finish();
    return counts;
}

std::string merge_update_texts(std::string_view old_text, std::string_view new_text,
                               const std::vector<std::string>& given_sources, UpdateCounts& counts,
                               Reporter& reporter) {
    const TextEntries old_entries = read_text_entries(old_text);
    const TextEntries new_entries = read_text_entries(new_text);
    std::string merged;
    counts = merge_update(old_entries, "OLD", new_text, new_entries, source_languages(new_entries, given_sources),
                          [&merged](std::string_view piece) { merged += piece; }, reporter);
    return merged;
}

}  // namespace modtext
