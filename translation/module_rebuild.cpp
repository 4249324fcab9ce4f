#include <algorithm>
#include <cstring>
#include <tuple>
#include <limits>

#include "translation/binding.h"
#include "translation/exporters.h"
#include "translation/rebuild.h"
#include "translation/text_format.h"

namespace modtext {

Bytes rebuild_locstring(const VariantRun& variants, std::uint16_t from_mask, Reporter& reporter,
                        const LocString* source) {
    Bytes record;
    append_rebuilt_locstring(variants, from_mask, reporter, record, source);
    return record;
}

bool empty_text(std::string_view text) { return text.empty() || text == "\r"; }

namespace {

// The substring's text, when export wrote the line for it.
std::optional<std::string_view> written_for(const LocSubstring& substring, std::string_view line) {
    const std::string_view original = substring_text(substring);
    if (original.size() != line.size()) return std::nullopt;
    // The line holds the text with its bars turned into line feeds, as
    // export wrote a line feed and a bar alike.
    if (std::memcmp(original.data(), line.data(), line.size()) == 0) return original;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != original[i] && (line[i] != '\n' || original[i] != '|')) return std::nullopt;
    }
    return original;
}

// A text's hash as export would write it: its bars and line feeds alike.
std::uint64_t line_hash(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c == '|' ? '\n' : c)) * 0x100000001b3u;
    return hash;
}

}  // namespace

std::optional<std::string_view> unedited_source(const LocString& source, std::int32_t string_id,
                                                std::string_view line) {
    for (const LocSubstring& substring : source.substrings) {
        if (substring.string_id != string_id) continue;
        if (const auto original = written_for(substring, line)) return original;
    }
    return std::nullopt;
}

SourceTexts::SourceTexts(const LocString& source) : source_(source) {
    if (source.substrings.size() <= scanned) return;
    keys_.reserve(source.substrings.size());
    for (std::size_t i = 0; i < source.substrings.size(); ++i) {
        const LocSubstring& substring = source.substrings[i];
        keys_.push_back({substring.string_id, line_hash(substring_text(substring)), i});
    }
    std::sort(keys_.begin(), keys_.end(), [](const Key& a, const Key& b) {
        return std::tie(a.string_id, a.hash, a.index) < std::tie(b.string_id, b.hash, b.index);
    });
}

std::optional<std::string_view> SourceTexts::unedited(std::int32_t string_id, std::string_view line) const {
    if (keys_.empty()) return unedited_source(source_, string_id, line);
    const Key wanted{string_id, line_hash(line), 0};
    auto at = std::lower_bound(keys_.begin(), keys_.end(), wanted, [](const Key& a, const Key& b) {
        return std::tie(a.string_id, a.hash) < std::tie(b.string_id, b.hash);
    });
    // Equal hashes, in substring order: the first whose text is the line's.
    for (; at != keys_.end() && at->string_id == string_id && at->hash == wanted.hash; ++at) {
        if (const auto found = written_for(source_.substrings[at->index], line)) return found;
    }
    return std::nullopt;
}

std::uint32_t append_rebuilt_locstring(const VariantRun& variants, std::uint16_t from_mask,
                                       Reporter& reporter, Bytes& out, const LocString* source) {
    // What each variant keeps: a line left as export wrote it for a source
    // substring of its language and gender keeps that substring's bytes; an
    // empty line takes the fallback; any other text is kept as written. The
    // fallback is the last text kept so far, a skipped variant's included,
    // unless it was kept from its source and is empty.
    const std::optional<SourceTexts> texts = source ? std::optional<SourceTexts>(std::in_place, *source) : std::nullopt;
    const auto kept_text = [&texts](const TextVariant& variant, std::string_view& fallback) {
        const std::string_view text = variant.text;
        if (texts) {
            if (const auto original = texts->unedited(variant.string_id, text)) {
                if (!empty_text(*original)) fallback = *original;
                return *original;
            }
        }
        if (empty_text(text)) return fallback;
        fallback = text;
        return text;
    };
    // Measured first, so that the record is made room for at once. The kept
    // variants of a usual entry are noted as they are measured, so that the
    // table is read once.
    struct Kept {  // left unset until noted: setting them all would cost more
        std::int32_t string_id;
        const char* text;
        std::size_t text_size;
        const char* kept;
        std::size_t kept_size;
    };
    constexpr std::uint32_t noted = 16;
    Kept kept_ones[noted];
    std::size_t size = locstring_head_size;
    std::uint32_t count = 0;
    std::string_view fallback;
    for (const TextVariant variant : variants) {
        const std::string_view kept = kept_text(variant, fallback);
        if (!id_passes_mask(variant.string_id, from_mask)) continue;
        size += substring_record_size(kept.size(), true);
        if (count < noted) {
            kept_ones[count] = {variant.string_id, variant.text.data(), variant.text.size(), kept.data(),
                                kept.size()};
        }
        ++count;
    }
    const std::size_t head = out.size();
    out.resize(head + size);
    std::uint8_t* at = store_locstring_head(out.data() + head, size, 0xFFFFFFFFu, count);
    const auto write = [&reporter, &at](std::int32_t string_id, std::string_view text,
                                        std::string_view kept) {
        reporter.kept_text(text);
        at = store_substring(at, string_id, kept, true);
    };
    if (count <= noted) {
        for (const Kept& k : std::span(kept_ones, count)) {
            write(k.string_id, {k.text, k.text_size}, {k.kept, k.kept_size});
        }
        return count;
    }
    fallback = {};
    for (const TextVariant variant : variants) {
        const std::string_view kept = kept_text(variant, fallback);
        if (id_passes_mask(variant.string_id, from_mask)) write(variant.string_id, variant.text, kept);
    }
    return count;
}

Bytes rebuild_script(ByteView bytes, const FileRecord& record, RebuildTally* tally) {
    Bytes out;
    out.reserve(bytes.size());
    ByteReader cursor(bytes);
    EntryWalk entries(record);
    TextNumber line_number = 0;
    for (; !cursor.at_end(); ++line_number) {
        const ByteView line = read_script_line(cursor);
        if (const VariantRun entry = entries.find(line_number)) {
            if (tally) {
                ++tally->script_lines;
                tally->variants_used += entry.size();
            }
            const std::string_view text = entry.front().text;
            append_text(out, text);
            // A replacement without a line end must not join the next line.
            if (text.empty() || text.back() != '\n') out.push_back('\n');
        } else {
            out.insert(out.end(), line.begin(), line.end());
            out.push_back('\n');
        }
    }
    if (tally) tally->lines = static_cast<std::size_t>(line_number);
    return out;
}

bool rebuild_gff_strings(GffImage& image, const FileRecord& record, std::uint16_t from_mask,
                         Reporter& reporter, std::string& why, SpliceMemory& memory,
                         RebuildTally* tally) {
    // The new records, back to back; the splices view them once all are made.
    Bytes& records = memory.records;
    std::vector<FieldSplice>& splices = memory.splices;
    std::vector<std::size_t>& starts = memory.starts;
    records.clear();
    splices.clear();
    starts.clear();
    EntryWalk entries(record);
    for (std::size_t j = 0; j < image.fields.size(); ++j) {
        const GffField& field = image.fields[j];
        if (field.type != gff_type::loc_string) continue;
        const VariantRun entry = entries.find(static_cast<TextNumber>(j));
        if (!entry) continue;
        std::uint64_t old_length = 0;
        if (!locstring_extent(image.field_data, field.data, old_length)) {
            why = "localized string out of bounds in field " + std::to_string(j);
            return false;
        }
        // The source's texts, each checked against the field data, tell
        // which lines were left as export wrote them.
        if (!read_locstring(image.field_data, field.data, memory.source, why)) {
            why += " in field " + std::to_string(j);
            return false;
        }
        starts.push_back(records.size());
        const std::uint32_t written = append_rebuilt_locstring(entry, from_mask, reporter, records, &memory.source);
        if (tally) {
            tally->strings += written;
            tally->variants_used += entry.size();
        }
        splices.push_back({j, field.data, static_cast<std::uint32_t>(old_length), {}});
    }
    starts.push_back(records.size());
    for (std::size_t k = 0; k < splices.size(); ++k) {
        splices[k].record = ByteView(records).subspan(starts[k], starts[k + 1] - starts[k]);
    }
    if (!splice_field_data(image, splices, memory)) {
        why = "field data would exceed 4 GB";
        return false;
    }
    return true;
}

namespace {

bool fits_offsets(std::uint64_t end) { return end <= std::numeric_limits<std::uint32_t>::max(); }

void report_too_large(Reporter& reporter, std::size_t index, const ModuleArchive& archive) {
    report(reporter, Severity::error,
           "Error: the output MOD would exceed 4 GB at resource %zu (%s); nothing was written!\n",
           index, archive.keys[index].name().c_str());
}

// A named GFF is read only as far as its header says its sections reach,
// and not at all when they do not lie within it.
bool read_named_resource(InputFile& source, const ModuleArchive& archive, std::size_t index,
                         ReadBuffer& out, Reporter& reporter) {
    if (archive.keys[index].type() == resource_type::script) {
        return read_resource(source, archive, index, out, reporter);
    }
    std::string why;
    if (read_gff_resource(source, archive, index, out, why, reporter)) return true;
    if (!why.empty()) {
        report(reporter, Severity::error,
               "Error: resource %zu (%s) is not a well-formed GFF (%s); nothing was written!\n",
               index, archive.keys[index].name().c_str(), why.c_str());
    }
    return false;
}

// Warns of each entry of a block that reached no localized string or script
// line of its resource: it was dropped. Only looked for when some variant
// was not used, which a text export wrote never has.
void warn_of_unused_entries(const FileRecord& record, const RebuildTally& tally, std::size_t index,
                            const ModuleArchive& archive, const GffImage* image, Reporter& reporter) {
    if (tally.variants_used == record.end - record.first) return;
    const std::string resource = "resource " + std::to_string(index) + " (" + archive.keys[index].name() + ")";
    for (const VariantRun& run : record.runs()) {
        const TextNumber key = run.key();
        std::string reason;
        if (image) {
            const bool field = key >= 0 && static_cast<std::uint64_t>(key) < image->fields.size();
            if (field && image->fields[static_cast<std::size_t>(key)].type == gff_type::loc_string) continue;
            reason = field ? "field " + std::to_string(key) + " of " + resource + " is not a localized string"
                           : resource + " has no field " + std::to_string(key);
        } else {
            if (key >= 0 && static_cast<std::uint64_t>(key) < tally.lines) continue;
            reason = resource + " has no line " + std::to_string(key) +
                     (tally.lines == 0 ? ": it has no lines"
                                       : ": its lines are 0 to " + std::to_string(tally.lines - 1));
        }
        report(reporter, Severity::warning, "WARNING: Entry on line %d skipped! (%s)\n",
               static_cast<int>(run.line(0)), reason.c_str());
    }
}

bool source_well_formed(ByteView bytes) {
    GffImage source;
    ByteReader reader(bytes);
    std::string why;
    return load_gff(source, reader, why) && check_gff(source, why);
}

}  // namespace

bool finish_gff_piece(ResourcePiece& piece, std::size_t index, const ModuleArchive& archive, Reporter& reporter) {
    GffImage& image = piece.image;
    std::string why;
    // Oddities a source carries are carried on; only a source that was well
    // formed must come out well formed. The source is looked at only when the
    // output is not, which is rare.
    if (!check_gff(image, why) && source_well_formed(piece.source.view())) {
        report(reporter, Severity::error,
               "Error: the written MOD failed its check: resource %zu is a malformed GFF (%s); "
               "nothing was written!\n",
               index, why.c_str());
        return false;
    }
    if (!fits_offsets(lay_out_gff(image))) {
        report_too_large(reporter, index, archive);
        return false;
    }
    field_array_bytes(image.fields, piece.built);
    for (ByteView section : gff_sections(image, piece.built)) piece.parts.push_back(section);
    return true;
}

bool rebuild_resource(ResourcePiece& piece, std::size_t index, const FileRecord& record,
                      const ModuleArchive& archive, const SelectionState& selection,
                      SpliceMemory& memory, Reporter& reporter, ImportCounts* counts) {
    const ByteView bytes = piece.source.view();
    RebuildTally tally;
    if (counts) ++counts->resources;
    if (archive.keys[index].type() == resource_type::script) {
        piece.built = rebuild_script(bytes, record, &tally);
        piece.parts.push_back(piece.built);
        warn_of_unused_entries(record, tally, index, archive, nullptr, reporter);
        if (counts) counts->script_lines += tally.script_lines;
        return true;
    }
    GffImage& image = piece.image;
    ByteReader reader(bytes);
    std::string why;
    if (!load_gff(image, reader, why) ||
        !rebuild_gff_strings(image, record, selection.from_mask, reporter, why, memory, &tally)) {
        report(reporter, Severity::error,
               "Error: resource %zu (%s) is not a well-formed GFF (%s); nothing was written!\n",
               index, archive.keys[index].name().c_str(), why.c_str());
        return false;
    }
    if (!finish_gff_piece(piece, index, archive, reporter)) return false;
    warn_of_unused_entries(record, tally, index, archive, &image, reporter);
    if (counts) counts->strings += tally.strings;
    return true;
}

bool verify_written_module(const ModuleArchive& archive, InputFile& written,
                           const OutputCursor& cursor, std::string& why) {
    ModuleArchive check;
    SilentReporter quiet;
    if (!read_module_tables(check, written, "output", quiet)) {
        why = "its tables do not lie within it";
        return false;
    }
    if (check.header.raw != archive.header.raw || check.locstring_block != archive.locstring_block ||
        check.gap_block != archive.gap_block || check.count() != archive.count() ||
        cursor.checksums.size() != archive.count()) {
        why = "its tables are not those written";
        return false;
    }
    ReadBuffer bytes;
    for (std::size_t i = 0; i < archive.count(); ++i) {
        const ResourceEntry& entry = check.resources[i];
        if (check.keys[i].raw != archive.keys[i].raw || entry.offset != archive.resources[i].offset ||
            entry.size != archive.resources[i].size || !resource_fits(written, check, i)) {
            why = "resource " + std::to_string(i) + " is not where it was written";
            return false;
        }
        if (i < cursor.checked) continue;
        if (auto fault = written_resource_fault(written, i, entry.offset, entry.size, cursor.checksums[i], bytes)) {
            why = std::move(*fault);
            return false;
        }
    }
    return true;
}

std::string import_summary(const ImportCounts& counts, const TextCounts& text) {
    std::string out = "Rebuilt " + std::to_string(counts.resources) + " resources: " +
                      std::to_string(counts.strings) + " strings and " +
                      std::to_string(counts.script_lines) + " script lines";
    const char* between = "; lines in the text: ";
    const auto lines = [&](std::string_view language, const LineCounts& c) {
        if (c.filled == 0 && c.empty == 0) return;
        out += between + std::string(language) + ' ' + std::to_string(c.filled) + " filled, " +
               std::to_string(c.empty) + " empty";
        between = "; ";
    };
    for (std::size_t row = 0; row < language_count; ++row) lines(LanguageTable[row].key, text.languages[row]);
    lines("other languages", text.other_languages);
    return out + '.';
}

void warn_of_left_out_languages(const TextCounts& text, std::uint16_t from_mask, Reporter& reporter) {
    for (std::size_t row = 0; row < language_count; ++row) {
        const std::size_t filled = text.languages[row].filled;
        if (filled == 0 || (from_mask & language_bit(row)) != 0) continue;
        const std::string key(LanguageTable[row].key);
        report(reporter, Severity::warning,
               "WARNING: %zu filled %s lines were left out: %s is not selected under Translate from/Import\n",
               filled, key.c_str(), key.c_str());
    }
}

namespace {

// The import of a text into output, or with none, its rehearsal: every
// warning and error told, nothing written.
bool import_text(ModuleArchive& archive, const std::string& text_path, const std::string* output_path,
                 const SelectionState& selection, Reporter& reporter, std::string* summary,
                 const TextEncodingOptions& options) {
    InputFile source;
    StagedOutput output;
    if (output_path) {
        if (!open_source_and_target(archive, source, output, *output_path, reporter)) return false;
    } else {
        if (!open_source(archive, source, reporter)) return false;
        output.create_discarding();
    }
    TranslationTable table;
    if (!parse_translation_text(table, text_path, reporter, {options, selection.from_mask})) return false;
    warn_of_left_out_languages(table.counts(), selection.from_mask, reporter);
    ImportCounts counts;
    if (!write_module_to(archive, source, output, table, selection, reporter, &counts)) return false;
    // A text meant for another module, or no translation text at all.
    if (counts.blocks_bound == 0) {
        report(reporter, Severity::error, "Error: the text names no resource of %s; nothing was written!\n",
               archive.source_path.c_str());
        return false;
    }
    if (output_path && !finish_target(source, output, reporter)) return false;
    if (summary) *summary = import_summary(counts, table.counts());
    return true;
}

}  // namespace

bool write_module(ModuleArchive& archive, const std::string& text_path,
                  const std::string& output_path, const SelectionState& selection,
                  Reporter& reporter, std::string* summary, const TextEncodingOptions& options) {
    return import_text(archive, text_path, &output_path, selection, reporter, summary, options);
}

bool rehearse_import(ModuleArchive& archive, const std::string& text_path, const SelectionState& selection,
                     Reporter& reporter, const TextEncodingOptions& options) {
    return import_text(archive, text_path, nullptr, selection, reporter, nullptr, options);
}

namespace {

// The text's blocks, each rebuilding the resource it is bound to.
class TextRebuilder final : public ResourceRebuilder {
public:
    TextRebuilder(const TranslationTable& table, const ModuleArchive& archive, InputFile& source,
                  const SelectionState& selection, Reporter& reporter, ImportCounts* counts)
        : binding_(table, archive, source, reporter), archive_(archive), selection_(selection),
          reporter_(reporter), counts_(counts) {}
    std::size_t bound() const { return binding_.bound(); }

    bool rebuilds(std::size_t index) override {
        record_ = binding_.find(index);
        return record_.has_value();
    }
    bool rebuild(ResourcePiece& piece, std::size_t index, SpliceMemory& memory) override {
        return rebuild_resource(piece, index, *record_, archive_, selection_, memory, reporter_, counts_);
    }

private:
    const BlockBinding binding_;
    const ModuleArchive& archive_;
    const SelectionState& selection_;
    Reporter& reporter_;
    ImportCounts* counts_;
    std::optional<FileRecord> record_;
};

}  // namespace

bool write_module_to(ModuleArchive& archive, InputFile& source, StagedOutput& output,
                     const TranslationTable& table, const SelectionState& selection,
                     Reporter& reporter, ImportCounts* counts) {
    TextRebuilder rebuilder(table, archive, source, selection, reporter, counts);
    if (counts) counts->blocks_bound = rebuilder.bound();
    return write_rebuilt_module(archive, source, output, rebuilder, reporter);
}

bool write_rebuilt_module(ModuleArchive& archive, InputFile& source, StagedOutput& output,
                          ResourceRebuilder& rebuilder, Reporter& reporter) {
    const std::uint64_t count = archive.count();
    const std::uint64_t block = archive.locstring_block.size();
    const std::uint64_t list_offset = archive_header_size + block + 32 * count;
    const std::uint64_t data_offset = list_offset + resource_entry_size * count;
    if (!fits_offsets(data_offset)) {
        report(reporter, Severity::error, "Error: the output MOD would exceed 4 GB!\n");
        return false;
    }
    archive.header.set_locstring_block_offset(static_cast<std::uint32_t>(archive_header_size));
    archive.header.set_key_list_offset(static_cast<std::uint32_t>(archive_header_size + block));
    archive.header.set_resource_list_offset(static_cast<std::uint32_t>(list_offset));

    Bytes list;
    const auto resource_list = [&archive, &list]() -> ByteView {
        list.clear();
        for (const ResourceEntry& entry : archive.resources) {
            append_u32(list, entry.offset);
            append_u32(list, entry.size);
        }
        return list;
    };
    output.write(ByteView(archive.header.raw));
    output.write(archive.locstring_block);
    for (const KeyEntry& key : archive.keys) output.write(ByteView(key.raw));
    output.write(archive.gap_block);
    output.write(resource_list());

    OutputCursor cursor{data_offset, {}};
    // Working memory of the rebuilds, one after another: what a piece holds
    // for the writer is never in it.
    SpliceMemory splicing;
    {
        ResourceWriter writer(output, source, data_offset);
        for (std::size_t i = 0; i < archive.count(); ++i) {
            // Entry i is still the source's here: it is rewritten once placed.
            std::uint64_t size = archive.resources[i].size;
            if (rebuilder.rebuilds(i)) {
                ResourcePiece* piece = writer.next_piece(archive.resources[i].size);
                if (!piece) break;  // the writer failed: finish tells
                if (!read_named_resource(source, archive, i, piece->source, reporter) ||
                    !rebuilder.rebuild(*piece, i, splicing)) {
                    return false;
                }
                size = piece->size();
                writer.hand_on();
            } else {
                if (!resource_fits(source, archive, i, reporter)) return false;
                writer.copy(i, archive.resources[i]);
            }
            if (!fits_offsets(size) || !fits_offsets(cursor.offset + size)) {
                report_too_large(reporter, i, archive);
                return false;
            }
            archive.resources[i] = {static_cast<std::uint32_t>(cursor.offset),
                                    static_cast<std::uint32_t>(size)};
            cursor.offset += size;
        }
        if (!writer.finish(archive, cursor.checksums, cursor.checked, reporter)) return false;
    }
    output.write_at(list_offset, resource_list());
    if (output.discarding()) return !output.failed();

    InputFile written;
    std::string why;
    if (!output.read_back(written)) {
        report(reporter, Severity::error, "Error writing file: %s\n", output.target_path().c_str());
        return false;
    }
    if (!verify_written_module(archive, written, cursor, why)) {
        report(reporter, Severity::error,
               "Error: the written MOD failed its check: %s; nothing was written!\n", why.c_str());
        return false;
    }
    return true;
}

}  // namespace modtext
