#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "formats/po_file.h"
#include "translation/binding.h"
#include "translation/exporters.h"
#include "translation/module_entries.h"
#include "translation/po_catalogue.h"
#include "translation/rebuild.h"
#include "translation/text_encoding.h"
#include "translation/text_format.h"

namespace modtext {

namespace {

// An entry of the catalogue, by its place in the catalogue's list: its
// msgstr is the text to store, in the target code page for a field, and
// as the catalogue has it for a script literal.
using EntryIndex = std::uint32_t;
constexpr EntryIndex no_entry = std::numeric_limits<EntryIndex>::max();

struct FieldEdit {
    std::uint64_t field = 0;
    EntryIndex male = no_entry, female = no_entry;
    bool female_entry = false;  // the catalogue has one, translated or not
};

struct LiteralEdit {
    std::uint64_t line = 0;
    std::uint64_t literal = 0;
    EntryIndex entry = no_entry;
};

struct ResourceEdits {
    std::vector<FieldEdit> fields;  // by field, ascending
    std::vector<LiteralEdit> literals;

    // The field's edit: a catalogue holds a resource's fields one after
    // another, in order, so the last is looked at first.
    FieldEdit& field(std::uint64_t key) {
        if (fields.empty() || fields.back().field < key) return fields.emplace_back(FieldEdit{key});
        if (fields.back().field == key) return fields.back();
        const auto at = std::lower_bound(fields.begin(), fields.end(), key,
                                         [](const FieldEdit& edit, std::uint64_t k) { return edit.field < k; });
        if (at != fields.end() && at->field == key) return *at;
        return *fields.insert(at, FieldEdit{key});
    }
};

struct RefusedEntry {
    std::size_t line;
    std::string language;
    Refusal why;
};



void warn_skipped(Reporter& reporter, std::string_view context, const char* why) {
    const std::string shown(context);
    report(reporter, Severity::warning, "WARNING: Entry \"%s\" skipped! (%s)\n", shown.c_str(), why);
}

// Binds a context's resource: the one at its index when that one has its
// name and kind, or else the one resource of the module that has them. The
// resources lie at places in the source: the module's own entries change
// as the output is written.
class ContextBinding {
public:
    ContextBinding(const ModuleArchive& archive, const std::vector<ResourceEntry>& places, InputFile& source)
        : archive_(archive), places_(places), source_(source) {
        for (std::size_t i = 0; i < archive.count(); ++i) {
            by_name_[header_part(archive.keys[i].name(), TextEncoding::utf8)].push_back(i);
        }
    }

    std::optional<std::size_t> bind(const PoContext& context, Reporter& reporter) {
        std::string key(context.header);
        key += '#';
        if (context.index) key += std::to_string(*context.index);
        const auto known = decided_.find(key);
        if (known != decided_.end()) return known->second;
        std::optional<std::size_t> found = decide(context, reporter);
        decided_.emplace(key, found);
        return found;
    }

private:
    std::optional<std::size_t> decide(const PoContext& context, Reporter& reporter) {
        const std::string header(context.header);
        const std::size_t dot = context.header.rfind('.');
        std::vector<std::size_t> candidates;
        if (dot != std::string_view::npos) {
            const auto named = by_name_.find(std::string(context.header.substr(0, dot)));
            if (named != by_name_.end()) {
                for (const std::size_t i : named->second) {
                    if (resource_header_name(archive_.keys[i], places_[i], source_, TextEncoding::utf8) == header) {
                        candidates.push_back(i);
                    }
                }
            }
        }
        std::string shown = header;
        if (context.index) shown.append(1, '#').append(std::to_string(*context.index));
        if (context.index &&
            std::find(candidates.begin(), candidates.end(), *context.index) != candidates.end()) {
            return static_cast<std::size_t>(*context.index);
        }
        if (candidates.size() == 1) {
            if (context.index) {
                report(reporter, Severity::warning, "WARNING: Entries of %s applied to resource %zu! (resource %s is not %s)\n",
                       shown.c_str(), candidates.front(), std::to_string(*context.index).c_str(), header.c_str());
            }
            return candidates.front();
        }
        const std::string why = candidates.empty() ? "no resource of the module is " + header
                                                   : std::to_string(candidates.size()) + " resources are " + header +
                                                         (context.index ? ", and none at its index" : ", and it names no index");
        report(reporter, Severity::warning, "WARNING: Entries of %s skipped! (%s)\n", shown.c_str(), why.c_str());
        return std::nullopt;
    }

    const ModuleArchive& archive_;
    const std::vector<ResourceEntry>& places_;
    InputFile& source_;
    std::unordered_map<std::string, std::vector<std::size_t>> by_name_;
    std::unordered_map<std::string, std::optional<std::size_t>> decided_;
};

// The catalogue's translations, each bound to its resource and encoded.
//
// The catalogue is taken on a thread of its own while the rebuilding
// follows it resource by resource: a catalogue as exported holds each
// resource's entries together, in the module's order, so a resource is
// done with once an entry of a later one comes. Should an entry come back
// to an earlier resource, the rebuilding waits for the whole catalogue;
// and if it had passed that resource already, the module is rebuilt again
// once every entry is taken. What the taking and the rebuilding tell is
// kept, and told as if the one had come after the other.
class CatalogueEdits final : public ResourceRebuilder {
public:
    CatalogueEdits(const ModuleArchive& archive, std::size_t from_row, std::size_t to_row, const CodePages& pages,
                   const Reporter& reporter)
        : archive_(archive), from_(LanguageTable[from_row]), to_(LanguageTable[to_row]), codecs_(pages),
          encoder_(pages), rebuild_told_(reporter), take_encoder_(pages), take_told_(reporter),
          by_resource_(archive.count()) {}

    // Takes the catalogue's entries, on the taking's thread; what it tells
    // is kept for tell_taken.
    void take(PoTranslations& catalogue, const std::vector<ResourceEntry>& places, InputFile& source, bool use_fuzzy) {
        try {
            take_entries(catalogue, places, source, use_fuzzy);
        } catch (...) {
            failure_ = std::current_exception();
        }
        const std::lock_guard lock(mutex_);
        taken_ = true;
        progress_.notify_all();
    }

    // Once the taking's thread is joined: tells what it told; false, told,
    // when a translation cannot be stored in its code page.
    bool tell_taken(Reporter& reporter, const std::string& name) {
        if (failure_) std::rethrow_exception(failure_);
        take_told_.replay(reporter);
        if (refused_.empty()) return true;
        for (const RefusedEntry& r : refused_) {
            report_each(reporter, "Error: line %zu (%s): %s!\n", r.line, r.language.c_str(), describe(r.why).c_str());
        }
        report_left_out_warnings(reporter);
        report(reporter, Severity::error, "Error: %zu %s of %s cannot be imported; nothing was written!\n",
               refused_.size(), refused_.size() == 1 ? "entry" : "entries", name.c_str());
        return false;
    }

    // The rebuilding tells here until it is known to be the one that counts.
    Reporter& rebuild_reporter() { return *reporter_; }
    // The rebuilding is over, or will not ask for another resource.
    void rebuilding_over() {
        const std::lock_guard lock(mutex_);
        rebuilding_over_ = true;
        progress_.notify_all();
    }
    // Once the whole catalogue is taken: whether the rebuilding passed a
    // resource before an entry of it came back. The rebuilding then stops
    // as soon as it knows.
    bool rebuilt_too_early() const { return late_ && passed_by_rebuilding_ && *late_ <= *passed_by_rebuilding_; }
    // What was kept of the rebuilding is told, or forgotten to rebuild again.
    void tell_rebuilt(Reporter& reporter) { rebuild_told_.replay(reporter); }
    void start_again(Reporter& reporter) {
        reporter_ = &reporter;
        passed_by_rebuilding_.reset();
        resources = strings = literals = 0;
    }

private:
    void take_entries(PoTranslations& catalogue, const std::vector<ResourceEntry>& places, InputFile& source,
                      bool use_fuzzy) {
        catalogue_ = &catalogue;
        ContextBinding binding(archive_, places, source);
        PoContextReader contexts;
        std::optional<PoContext> last;
        std::optional<std::size_t> last_resource;
        ResourceEdits* last_edits = nullptr;
        // An entry's index takes 32 bits, as in the reader's search for
        // duplicates: a catalogue of more entries would be over 60 GB.
        for (std::size_t index = 0; index < catalogue.entries.size(); ++index) {
            PoTranslationEntry& entry = catalogue.entries[index];
            if (entry.obsolete || entry.is_header()) continue;
            const std::string_view shown = entry.has_msgctxt ? entry.msgctxt : entry.msgid;
            if (entry.plural) {
                warn_skipped(take_told_, shown, "a plural entry; a module has no plural forms");
                continue;
            }
            const std::optional<PoContext> context = entry.has_msgctxt ? contexts.read(entry.msgctxt) : std::nullopt;
            if (!context) {
                warn_skipped(take_told_, shown, "its context names no field or script line");
                continue;
            }
            // A catalogue holds a resource's entries one after another: each
            // is bound as the one before, without a look-up.
            if (!last || last->header != context->header || last->index != context->index) {
                last = *context;
                last_resource = binding.bind(*context, take_told_);
                last_edits = nullptr;
                if (last_resource) reached(*last_resource);
            }
            const std::optional<std::size_t> resource = last_resource;
            if (!resource) continue;
            const bool script = archive_.keys[*resource].type() == resource_type::script;
            if (script != context->script) {
                warn_skipped(take_told_, shown, script ? "its resource is a script" : "its resource is no script");
                continue;
            }
            if (!last_edits) {
                std::unique_ptr<ResourceEdits>& held = by_resource_[*resource];
                if (!held) held = std::make_unique<ResourceEdits>();
                last_edits = held.get();
            }
            ResourceEdits& edits = *last_edits;
            FieldEdit* field = nullptr;
            if (!script) {
                field = &edits.field(context->key);
                if (context->female) field->female_entry = true;
            }
            if (entry.msgstr.empty() || (entry.fuzzy && !use_fuzzy)) continue;
            Refusal why;
            const std::optional<std::int32_t> id =
                script ? std::nullopt : std::optional<std::int32_t>(context->female ? to_.female_id : to_.male_id);
            // A script literal is checked as the module would store it, and
            // escaped again when its line is rebuilt.
            if (script) take_escaped_ = escape_script_literal(entry.msgstr);
            // A plain translation, escaped or not, is stored as it is.
            switch (take_encoder_.encode(script ? std::string_view(take_escaped_) : entry.msgstr, id, take_encoded_, why,
                                         entry.msgstr_plain)) {
            case TextEncoder::Result::refused:
                refused_.push_back({entry.line, script ? std::string("script") : std::string(to_.key), why});
                continue;
            case TextEncoder::Result::written:
                // A field's text as the module stores it, over the
                // catalogue's own where it fits (it mostly does: a code page
                // takes no more bytes a character than UTF-8).
                if (!script) entry.msgstr = catalogue.replace(entry.msgstr, take_encoded_);
                break;
            case TextEncoder::Result::as_is:
                break;
            }
            const auto at = static_cast<EntryIndex>(index);
            if (script) {
                edits.literals.push_back(LiteralEdit{context->key, context->literal, at});
                continue;
            }
            EntryIndex& slot = context->female ? field->female : field->male;
            if (slot != no_entry) {
                warn_skipped(take_told_, shown, "a second entry of its context; the first counts");
                continue;
            }
            slot = at;
        }
    }

    // The taking has come to an entry of resource: the resources before it
    // are done with, unless it comes back to one.
    void reached(std::size_t resource) {
        std::unique_lock lock(mutex_);
        if (passed_ && resource + 1 < *passed_) {
            if (!late_ || resource < *late_) late_ = resource;
            if (ordered_) {
                // The rebuilding goes on only once everything is taken, and
                // looks at no resource's edits from here on.
                ordered_ = false;
                progress_.notify_all();
                progress_.wait(lock, [this] { return rebuilding_waits_ || rebuilding_over_; });
            }
            return;
        }
        if (!passed_ || resource >= *passed_) {
            passed_ = resource + 1;
            progress_.notify_all();
        }
    }

public:
    bool rebuilds(std::size_t index) override {
        {
            std::unique_lock lock(mutex_);
            // The resources before passed_ have all their edits; the one
            // at passed_ - 1 may still gain some.
            const auto done = [&] { return taken_ || (ordered_ && passed_ && index + 1 < *passed_); };
            if (!done()) {
                rebuilding_waits_ = true;
                progress_.notify_all();
                progress_.wait(lock, done);
                rebuilding_waits_ = false;
            }
            if (!taken_) passed_by_rebuilding_ = index;
            if (taken_ && (rebuilt_too_early() || !refused_.empty() || failure_)) {
                // This rebuilding counts for nothing (it came too early, or
                // the taking failed): rebuild stops it.
                current_ = nullptr;
                return true;
            }
        }
        current_ = by_resource_[index].get();
        return current_ != nullptr;
    }

    bool rebuild(ResourcePiece& piece, std::size_t index, SpliceMemory& memory) override {
        if (!current_) return false;
        ++resources;
        if (archive_.keys[index].type() == resource_type::script) {
            return rebuild_script_literals(piece, index, *current_);
        }
        return rebuild_fields(piece, index, *current_, memory);
    }

    std::size_t resources = 0, strings = 0, literals = 0;

private:
    const PoTranslationEntry& entry(EntryIndex index) const { return catalogue_->entries[index]; }

    bool msgid_matches(const PoTranslationEntry& t, std::string_view text) {
        if (t.has_msgid(text)) return true;
        warn_skipped(*reporter_, t.msgctxt, "its msgid is not the module's text: it was made for another version");
        return false;
    }
    // The same for a text of the module as it stores it, in the code page of
    // string_id. A plain msgid of the text's digest is the text itself, which
    // then decodes as itself: its bytes need no look.
    bool source_matches(const PoTranslationEntry& t, std::int32_t string_id, std::string_view stored) {
        CodePageCodec& codec = codecs_.of(string_id);
        if (t.msgid_plain && codec.ascii_identity() && t.has_msgid(stored)) return true;
        return msgid_matches(t, decode_with_breaks(codec, stored, decoded_));
    }

    bool rebuild_fields(ResourcePiece& piece, std::size_t index, ResourceEdits& edits, SpliceMemory& memory) {
        GffImage& image = piece.image;
        ByteReader reader(piece.source.view());
        std::string why;
        if (!load_gff(image, reader, why)) {
            report(*reporter_, Severity::error,
                   "Error: resource %zu (%s) is not a well-formed GFF (%s); nothing was written!\n", index,
                   archive_.keys[index].name().c_str(), why.c_str());
            return false;
        }
        Bytes& records = memory.records;
        std::vector<FieldSplice>& splices = memory.splices;
        std::vector<std::size_t>& starts = memory.starts;
        records.clear();
        splices.clear();
        starts.clear();
        for (const FieldEdit& edit : edits.fields) {
            const std::uint64_t key = edit.field;
            if (key >= image.fields.size() || image.fields[static_cast<std::size_t>(key)].type != gff_type::loc_string) {
                const EntryIndex any = edit.male != no_entry ? edit.male : edit.female;
                if (any != no_entry) warn_skipped(*reporter_, entry(any).msgctxt, "its resource has no localized string there");
                continue;
            }
            const GffField& field = image.fields[static_cast<std::size_t>(key)];
            std::uint64_t old_length = 0;
            LocString& source = memory.source;
            if (!locstring_extent(image.field_data, field.data, old_length) ||
                !read_locstring(image.field_data, field.data, source, why)) {
                report(*reporter_, Severity::error,
                       "Error: resource %zu (%s) is not a well-formed GFF (%s in field %zu); nothing was written!\n",
                       index, archive_.keys[index].name().c_str(), why.empty() ? "localized string out of bounds" : why.c_str(),
                       static_cast<std::size_t>(key));
                return false;
            }
            const std::optional<std::string_view> male = first_text(source, from_.male_id);
            const std::optional<std::string_view> female = first_text(source, from_.female_id);
            std::optional<std::string_view> new_male, new_female;
            if (edit.male != no_entry && source_matches(entry(edit.male), from_.male_id, male.value_or(""))) {
                new_male = entry(edit.male).msgstr;
            }
            if (edit.female != no_entry) {
                const bool own = female && !female->empty();
                if (source_matches(entry(edit.female), own ? from_.female_id : from_.male_id,
                                   own ? *female : male.value_or(""))) {
                    new_female = entry(edit.female).msgstr;
                }
            }
            // With no feminine entry at all, the translation serves both forms
            // that exist.
            const bool female_follows = !edit.female_entry && new_male;
            if (!new_male && !new_female) continue;
            // The substrings, each kept or replaced in its place, and the new
            // ones after them; measured first, so that the record is made
            // room for at once.
            std::vector<Put>& puts = puts_;
            puts.clear();
            bool male_done = false, female_done = false;
            for (const LocSubstring& sub : source.substrings) {
                if (sub.string_id == to_.male_id && !male_done) {
                    male_done = true;
                    if (new_male) {
                        puts.push_back({sub.string_id, *new_male, true});
                        ++strings;
                        continue;
                    }
                } else if (sub.string_id == to_.female_id && !female_done) {
                    female_done = true;
                    const std::optional<std::string_view> text = new_female ? new_female : female_follows ? new_male : std::nullopt;
                    if (text) {
                        puts.push_back({sub.string_id, *text, true});
                        ++strings;
                        continue;
                    }
                }
                puts.push_back({sub.string_id, {reinterpret_cast<const char*>(sub.text.data()), sub.text.size()}, false});
            }
            if (new_male && !male_done) puts.push_back({to_.male_id, *new_male, true}), ++strings;
            if (new_female && !female_done) puts.push_back({to_.female_id, *new_female, true}), ++strings;
            std::size_t size = locstring_head_size;
            for (const Put& put : puts) size += substring_record_size(put.text.size(), put.terminate);
            starts.push_back(records.size());
            const std::size_t head = records.size();
            records.resize(head + size);
            std::uint8_t* at = store_locstring_head(records.data() + head, size, source.string_ref,
                                                    static_cast<std::uint32_t>(puts.size()));
            for (const Put& put : puts) at = store_substring(at, put.string_id, put.text, put.terminate);
            splices.push_back({static_cast<std::size_t>(key), field.data, static_cast<std::uint32_t>(old_length), {}});
        }
        starts.push_back(records.size());
        for (std::size_t k = 0; k < splices.size(); ++k) {
            splices[k].record = ByteView(records).subspan(starts[k], starts[k + 1] - starts[k]);
        }
        if (!splice_field_data(image, splices, memory)) {
            report(*reporter_, Severity::error, "Error: resource %zu (%s) would exceed 4 GB; nothing was written!\n", index,
                   archive_.keys[index].name().c_str());
            return false;
        }
        return finish_gff_piece(piece, index, archive_, *reporter_);
    }

    bool rebuild_script_literals(ResourcePiece& piece, std::size_t index, ResourceEdits& edits) {
        // Last literal first, so that the places of those before stay put;
        // of two entries of one literal, the catalogue's first.
        std::stable_sort(edits.literals.begin(), edits.literals.end(), [](const LiteralEdit& a, const LiteralEdit& b) {
            return a.line != b.line ? a.line < b.line : a.literal > b.literal;
        });
        const ByteView bytes = piece.source.view();
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        Bytes& out = piece.built;
        out.clear();
        out.reserve(bytes.size());
        auto edit = edits.literals.begin();
        bool in_comment = false;
        std::string line_text, encoded;
        std::size_t at = 0;
        for (std::uint64_t number = 0; at < text.size(); ++number) {
            const std::size_t feed = text.find('\n', at);
            const std::size_t end = feed == std::string_view::npos ? text.size() : feed;
            const std::string_view line = text.substr(at, end - at);
            const bool started_in_comment = in_comment;
            in_comment = block_comment_open_after(line, in_comment);
            if (edit == edits.literals.end() || edit->line != number) {
                append_text(out, line);
            } else {
                line_text.clear();
                codecs_.of(std::nullopt).decode(line, false, line_text);
                const std::vector<ScriptLiteral> found = speech_literals(line_text, started_in_comment);
                bool changed = false;
                std::optional<std::uint64_t> last;
                for (; edit != edits.literals.end() && edit->line == number; ++edit) {
                    const PoTranslationEntry& t = entry(edit->entry);
                    if (last == edit->literal) {
                        warn_skipped(*reporter_, t.msgctxt, "a second entry of its context; the first counts");
                        continue;
                    }
                    last = edit->literal;
                    if (edit->literal >= found.size()) {
                        warn_skipped(*reporter_, t.msgctxt, "its script line has no such string");
                        continue;
                    }
                    const ScriptLiteral& literal = found[static_cast<std::size_t>(edit->literal)];
                    decoded_ = unescape_script_literal(std::string_view(line_text).substr(literal.begin, literal.end - literal.begin));
                    if (!msgid_matches(t, decoded_)) continue;
                    line_text.replace(literal.begin, literal.end - literal.begin, escape_script_literal(t.msgstr));
                    changed = true;
                    ++literals;
                }
                Refusal why;
                if (!changed) {
                    append_text(out, line);
                } else {
                    switch (encoder_.encode(line_text, std::nullopt, encoded, why)) {
                    case TextEncoder::Result::refused:
                        report(*reporter_, Severity::error, "Error: line %zu of resource %zu (%s) cannot be stored: %s!\n",
                               static_cast<std::size_t>(number), index, archive_.keys[index].name().c_str(), describe(why).c_str());
                        return false;
                    case TextEncoder::Result::written:
                        append_text(out, encoded);
                        break;
                    case TextEncoder::Result::as_is:
                        append_text(out, line_text);
                        break;
                    }
                }
            }
            if (feed != std::string_view::npos) out.push_back('\n');
            at = end + 1;
        }
        for (; edit != edits.literals.end(); ++edit) {
            warn_skipped(*reporter_, entry(edit->entry).msgctxt, "its script has no such line");
        }
        piece.parts.push_back(out);
        return true;
    }

    const ModuleArchive& archive_;
    const Language& from_;
    const Language& to_;
    // The rebuilding's.
    CodecSet codecs_;
    TextEncoder encoder_;
    std::string decoded_;
    // A substring of a rebuilt record: its text ended by a NUL when it is
    // a translation.
    struct Put {
        std::int32_t string_id;
        std::string_view text;
        bool terminate;
    };
    std::vector<Put> puts_;
    ResourceEdits* current_ = nullptr;
    DeferredReporter rebuild_told_;
    Reporter* reporter_ = &rebuild_told_;  // where the rebuilding tells
    // The taking's, on cache lines of their own, as the mutex and what it
    // guards are: the two threads write them at once.
    alignas(64) TextEncoder take_encoder_;
    std::string take_encoded_, take_escaped_;
    DeferredReporter take_told_;
    // Read by the rebuilding once the taking is done.
    const PoTranslations* catalogue_ = nullptr;
    std::vector<RefusedEntry> refused_;
    std::exception_ptr failure_;
    // Each resource's edits: made by the taking, and read by the
    // rebuilding once the taking is done with the resource.
    std::vector<std::unique_ptr<ResourceEdits>> by_resource_;

    alignas(64) std::mutex mutex_;  // guards what follows
    std::condition_variable progress_;
    std::optional<std::size_t> passed_;  // one past the last resource the taking reached, while in order
    bool ordered_ = true;
    std::optional<std::size_t> late_;  // the earliest resource the taking came back to
    std::optional<std::size_t> passed_by_rebuilding_;  // the last resource asked for before all was taken
    bool taken_ = false;
    bool rebuilding_waits_ = false;
    bool rebuilding_over_ = false;
};

}  // namespace

bool import_po(ModuleArchive& archive, const std::string& po_path, const std::string& output_path,
               const PoImportOptions& options, Reporter& reporter, std::string& summary) {
    InputFile file;
    if (!file.open(po_path)) {
        report_file_problem(reporter, file.problem(), po_path);
        return false;
    }
    PoTranslations catalogue;
    {
        // One core gains nothing from halves.
        const std::size_t halves_from =
            std::thread::hardware_concurrency() == 1 ? std::numeric_limits<std::size_t>::max() : po_halves_from;
        std::optional<PoError> error;
        if (!read_po_file(file, catalogue, error, halves_from)) {
            report(reporter, Severity::error, "Error reading file: %s\n", po_path.c_str());
            return false;
        }
        file.close();
        if (error) {
            report(reporter, Severity::error, "Error: %s is not a PO catalogue: line %zu: %s; nothing was written!\n",
                   po_path.c_str(), error->line, error->message.c_str());
            return false;
        }
    }
    std::optional<std::size_t> to_row = options.to_row;
    if (!to_row) to_row = catalogue_language(catalogue);
    if (!to_row) {
        const std::optional<std::string_view> named = catalogue.header_field("Language");
        const std::string shown(named.value_or(""));
        report(reporter, Severity::error,
               named ? "Error: %s is in language \"%s\", which is none of the ten; name one with --to; nothing was written!\n"
                     : "Error: %s has no Language header%s; name its language with --to; nothing was written!\n",
               po_path.c_str(), shown.c_str());
        return false;
    }
    std::size_t from_row = 0;
    if (const std::optional<std::string_view> source_key = catalogue.header_field("X-Source-Language")) {
        const std::optional<std::size_t> row = language_row_of_key(*source_key);
        if (!row) {
            const std::string shown(*source_key);
            report(reporter, Severity::error,
                   "Error: the X-Source-Language of %s, \"%s\", is no language key; nothing was written!\n",
                   po_path.c_str(), shown.c_str());
            return false;
        }
        from_row = *row;
    }
    const CodePages pages = resolve_code_pages(options.code_pages, language_bit(from_row));
    TextDecoder check(pages);
    std::uint16_t missing = 0;
    if (!check.open(static_cast<std::uint16_t>(language_bit(from_row) | language_bit(*to_row)), missing)) {
        report(reporter, Severity::error, "Error: this system cannot convert code page %u!\n",
               static_cast<unsigned>(missing));
        return false;
    }
    InputFile source;
    std::optional<StagedOutput> output;
    const auto stage = [&] {
        output.emplace();
        if (!options.rehearse) return create_target(*output, output_path, reporter);
        output->create_discarding();
        return true;
    };
    if (!open_source(archive, source, reporter) || !stage()) return false;
    CatalogueEdits edits(archive, from_row, *to_row, pages, reporter);
    // Where each resource lies in the source: the writing moves the
    // module's entries to their places in the output.
    const std::vector<ResourceEntry> places = archive.resources;
    bool written = false;
    {
        // Joined however the rebuilding ends.
        struct Taking {
            CatalogueEdits& edits;
            std::thread thread;
            ~Taking() {
                edits.rebuilding_over();
                if (thread.joinable()) thread.join();
            }
        } taking{edits, std::thread([&] { edits.take(catalogue, places, source, options.use_fuzzy); })};
        written = write_rebuilt_module(archive, source, *output, edits, edits.rebuild_reporter());
    }
    if (!edits.tell_taken(reporter, po_path)) return false;
    if (edits.rebuilt_too_early()) {
        archive.resources = places;
        output.reset();
        if (!stage()) return false;
        edits.start_again(reporter);
        written = write_rebuilt_module(archive, source, *output, edits, reporter);
    } else {
        edits.tell_rebuilt(reporter);
    }
    if (!written || (!options.rehearse && !finish_target(source, *output, reporter))) return false;
    summary = "Rebuilt " + std::to_string(edits.resources) + " resources: " + std::to_string(edits.strings) +
              " strings and " + std::to_string(edits.literals) + " script strings in " +
              std::string(LanguageTable[*to_row].key) + ".";
    return true;
}

}  // namespace modtext
