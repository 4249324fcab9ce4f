#include "translation/text_update.h"

#include <algorithm>
#include <unordered_map>

#include "translation/po_catalogue.h"

namespace modtext {

std::string update_summary(const UpdateCounts& counts) {
    return std::to_string(counts.exact) + " carried exactly, " + std::to_string(counts.by_text) +
           " carried by text, " + std::to_string(counts.source_changed) + " source changed, " +
           std::to_string(counts.fresh) + " new.";
}

namespace {

bool is_source_line(const TextFieldLine& line, const std::vector<std::string>& sources) {
    return std::find(sources.begin(), sources.end(), line.language) != sources.end();
}

// The text an old field gives a new line: its first filled line of the same
// language and gender. An empty one gives nothing, so it never empties a
// line.
std::optional<std::string_view> filled_for(const TextField& old, const TextFieldLine& line) {
    for (const TextFieldLine& candidate : old.lines) {
        if (candidate.language == line.language && candidate.gender == line.gender && !candidate.text.empty()) {
            return candidate.text;
        }
    }
    return std::nullopt;
}

struct OldField {
    const TextBlock* block = nullptr;
    const TextField* field = nullptr;
    std::string source;
    // Its filled translation lines as "LANGUAGE,GENDER->TEXT\n": two fields
    // agree when these are equal; empty when it has none to carry.
    std::string filled;
};

struct OldBlock {
    const TextBlock* block = nullptr;
    std::unordered_map<std::int64_t, std::size_t> by_key;         // the first field of a key
    std::unordered_map<std::string_view, std::size_t> by_source;  // the first filled field of a source
    std::unordered_map<std::int64_t, const TextScriptLine*> script_lines;
};

// The old text looked up by resource, key and source, each once: the merge
// stays linear however large the texts.
struct OldIndex {
    struct Agreement {
        std::size_t first = 0;
        bool agree = true;  // every filled field of the source has the same lines
    };

    OldIndex(const TextEntries& entries, std::string_view name, const std::vector<std::string>& sources,
             Reporter& reporter) {
        std::size_t count = 0;
        for (const TextBlock& block : entries.blocks) count += block.fields.size();
        fields.reserve(count);  // the maps' keys view the sources in place
        for (const TextBlock& block : entries.blocks) {
            const std::string resource = block.resource();
            const auto [place, added] = blocks.try_emplace(resource);
            if (!added) {
                report(reporter, Severity::warning, "Warning: %s line %zu: %s appears again; the first block counts.\n",
                       std::string(name).c_str(), block.line, resource.c_str());
                continue;
            }
            OldBlock& indexed = place->second;
            indexed.block = &block;
            for (const TextField& field : block.fields) add_field(indexed, field, name, sources, reporter);
            for (const TextScriptLine& line : block.script_lines) {
                if (!indexed.script_lines.try_emplace(line.number, &line).second) {
                    report_repeat(reporter, name, line.line, block, line.number);
                }
            }
        }
    }

    void add_field(OldBlock& indexed, const TextField& field, std::string_view name,
                   const std::vector<std::string>& sources, Reporter& reporter) {
        if (!indexed.by_key.try_emplace(field.key, fields.size()).second) {
            report_repeat(reporter, name, field.lines.front().line, *indexed.block, field.key);
            return;
        }
        OldField& old = fields.emplace_back(OldField{indexed.block, &field, field_source(field, sources), {}});
        for (const TextFieldLine& line : field.lines) {
            if (line.text.empty() || !is_translation_line(line, sources)) continue;
            old.filled.append(line.whole.substr(line.whole.find(',') + 1));
            old.filled += '\n';
        }
        // A field with nothing to carry, or no source to know it by, is
        // found only by its key.
        if (old.filled.empty() || old.source.empty()) return;
        indexed.by_source.try_emplace(old.source, fields.size() - 1);
        const auto [place, added] = by_source.try_emplace(old.source, Agreement{fields.size() - 1, true});
        if (!added && fields[place->second.first].filled != old.filled) place->second.agree = false;
    }

    static void report_repeat(Reporter& reporter, std::string_view name, std::size_t line, const TextBlock& block,
                              std::int64_t key) {
        report(reporter, Severity::warning, "Warning: %s line %zu: %s #%lld appears again; the first one counts.\n",
               std::string(name).c_str(), line, block.resource().c_str(), static_cast<long long>(key));
    }

    std::vector<OldField> fields;
    std::unordered_map<std::string, OldBlock> blocks;  // by "NAME.XYZ"
    std::unordered_map<std::string_view, Agreement> by_source;
};

// The new text's changes: lines inserted before its lines and texts
// replaced within them, written through in the text's order. Gathered
// first, as a damaged text may interleave one field's lines with others.
class MergeWriter {
public:
    explicit MergeWriter(std::string_view text) : text_(text) {
        const std::size_t feed = text.find('\n');
        if (feed != std::string_view::npos && feed > 0 && text[feed - 1] == '\r') default_end_ = "\r\n";
    }

    // A comment line before the line whole, ended as that line is.
    void insert_before(std::string_view whole, std::string comment) {
        const std::size_t after = offset(whole.data()) + whole.size();
        comment += after >= text_.size() ? default_end_ : text_[after] == '\r' ? "\r\n" : "\n";
        edits_.push_back({offset(whole.data()), 0, std::move(comment), {}});
    }

    // The text part of a line, replaced; with must outlive the writer.
    void replace(std::string_view part, std::string_view with) {
        edits_.push_back({offset(part.data()), part.size(), {}, with});
    }

    void finish(const TextSink& out) {
        const auto before = [](const Edit& a, const Edit& b) { return a.at < b.at; };
        if (!std::is_sorted(edits_.begin(), edits_.end(), before)) {
            std::stable_sort(edits_.begin(), edits_.end(), before);
        }
        std::size_t at = 0;
        for (const Edit& edit : edits_) {
            if (edit.at < at) continue;  // each line is replaced once; a guard for the bytes
            if (edit.at > at) out(text_.substr(at, edit.at - at));
            out(edit.line.empty() ? edit.with : std::string_view(edit.line));
            at = edit.at + edit.replaced;
        }
        out(text_.substr(at));
    }

private:
    struct Edit {
        std::size_t at = 0;
        std::size_t replaced = 0;
        std::string line;       // an inserted line, with its end
        std::string_view with;  // a replacing text
    };

    std::size_t offset(const char* place) const { return static_cast<std::size_t>(place - text_.data()); }

    std::string_view text_;
    std::string_view default_end_ = "\n";  // for a last line with no end
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
    Merge(const OldIndex& old, const std::vector<std::string>& sources, MergeWriter& writer, UpdateCounts& counts)
        : old_(old), sources_(sources), writer_(writer), counts_(counts) {}

    void block(const TextBlock& block) {
        const auto found = old_.blocks.find(block.resource());
        const OldBlock* old = found == old_.blocks.end() ? nullptr : &found->second;
        for (const TextField& field : block.fields) this->field(old, field);
        for (const TextScriptLine& line : block.script_lines) script_line(old, line);
    }

private:
    enum class Rule { exact, moved, anywhere };

    void field(const OldBlock* old, const TextField& field) {
        std::vector<const TextFieldLine*> targets;
        for (const TextFieldLine& line : field.lines) {
            if (is_translation_line(line, sources_)) targets.push_back(&line);
        }
        if (targets.empty()) return;
        const std::string source = field_source(field, sources_);
        const auto carries = [&targets](const OldField& candidate) {
            return std::any_of(targets.begin(), targets.end(), [&candidate](const TextFieldLine* line) {
                return filled_for(*candidate.field, *line).has_value();
            });
        };
        const OldField* same_key = nullptr;
        if (old) {
            const auto found = old->by_key.find(field.key);
            if (found != old->by_key.end()) same_key = &old_.fields[found->second];
        }
        const OldField* match = nullptr;
        Rule rule = Rule::exact;
        if (same_key && same_key->source == source && carries(*same_key)) match = same_key;
        if (!match && old && !source.empty()) {
            const auto found = old->by_source.find(source);
            if (found != old->by_source.end() && carries(old_.fields[found->second])) {
                match = &old_.fields[found->second];
                rule = Rule::moved;
            }
        }
        if (!match && !source.empty()) {
            const auto found = old_.by_source.find(source);
            if (found != old_.by_source.end() && found->second.agree && carries(old_.fields[found->second.first])) {
                match = &old_.fields[found->second.first];
                rule = Rule::anywhere;
            }
        }
        if (match) {
            carry(*match, targets, rule == Rule::anywhere);
            ++(rule == Rule::exact ? counts_.exact : counts_.by_text);
        } else if (same_key && same_key->source != source) {
            // The translator sees what the old text said and how it was put.
            for (const TextFieldLine& line : same_key->field->lines) {
                if (is_source_line(line, sources_) || (is_translation_line(line, sources_) && !line.text.empty())) {
                    writer_.insert_before(targets.front()->whole, "//OLD: " + std::string(line.whole));
                }
            }
            ++counts_.source_changed;
        } else {
            ++counts_.fresh;
        }
    }

    void carry(const OldField& match, const std::vector<const TextFieldLine*>& targets, bool check) {
        for (const TextFieldLine* line : targets) {
            const std::optional<std::string_view> text = filled_for(*match.field, *line);
            if (!text) continue;
            if (check) writer_.insert_before(line->whole, check_comment(*match.block, match.field->key));
            check = false;
            writer_.replace(line->text, *text);
        }
    }

    void script_line(const OldBlock* old, const TextScriptLine& line) {
        const TextScriptLine* before = nullptr;
        if (old) {
            const auto found = old->script_lines.find(line.number);
            if (found != old->script_lines.end()) before = found->second;
        }
        if (!before) {
            ++counts_.fresh;
        } else if (before->text == line.text) {
            ++counts_.exact;  // nothing to carry, nothing to check
        } else if (masked_code(before->text) == masked_code(line.text)) {
            writer_.insert_before(line.whole, check_comment(*old->block, before->number));
            writer_.replace(line.text, before->text);
            ++counts_.by_text;
        } else {
            writer_.insert_before(line.whole, "//OLD: " + std::string(before->whole));
            ++counts_.source_changed;
        }
    }

    const OldIndex& old_;
    const std::vector<std::string>& sources_;
    MergeWriter& writer_;
    UpdateCounts& counts_;
};

}  // namespace

UpdateCounts merge_update(const TextEntries& old_entries, std::string_view old_name, std::string_view new_text,
                          const TextEntries& new_entries, const std::vector<std::string>& sources,
                          const TextSink& out, Reporter& reporter) {
    const OldIndex old(old_entries, old_name, sources, reporter);
    MergeWriter writer(new_text);
    UpdateCounts counts;
    Merge merge(old, sources, writer, counts);
    for (const TextBlock& block : new_entries.blocks) merge.block(block);
    writer.finish(out);
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
