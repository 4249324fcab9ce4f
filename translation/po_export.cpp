#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <cstdio>
#include <unordered_map>

#include "formats/po_file.h"
#include "translation/binding.h"
#include "translation/exporters.h"
#include "translation/module_entries.h"
#include "translation/po_catalogue.h"
#include "translation/text_encoding.h"
#include "translation/text_format.h"

namespace modtext {

namespace {

std::string file_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "2026-12-07 06:50+0000": when the catalogue was written.
std::string revision_date() {
    using namespace std::chrono;
    const auto now = floor<minutes>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d+0000", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
    return text;
}

std::string header_msgstr(const ModuleArchive& archive, const PoExportOptions& options) {
    const std::string project = file_name(archive.source_path);
    const std::string date = revision_date();
    const std::string generator = std::string("ModText ") + MODTEXT_VERSION;
    std::vector<PoHeaderField> fields{{"Project-Id-Version", project},
                                      {"PO-Revision-Date", date},
                                      {"Last-Translator", "none"},
                                      {"Language-Team", "none"}};
    // A template names no language: the translator's catalogue will.
    if (!options.template_only && options.to_row) {
        fields.push_back({"Language", po_language_code(*options.to_row)});
    }
    fields.push_back({"MIME-Version", "1.0"});
    fields.push_back({"Content-Type", "text/plain; charset=UTF-8"});
    fields.push_back({"Content-Transfer-Encoding", "8bit"});
    fields.push_back({"X-Source-Language", LanguageTable[options.from_row].key});
    fields.push_back({"X-Generator", generator});
    return po_header_text(fields);
}



// Whether msgfmt --check would refuse the translation of msgid: one of
// them starts, or ends, with a line feed and the other does not.
bool breaks_differ(std::string_view msgid, std::string_view msgstr) {
    return msgid.starts_with('\n') != msgstr.starts_with('\n') || msgid.ends_with('\n') != msgstr.ends_with('\n');
}

// The resources whose written name and kind another visited resource
// shares: their contexts carry their index.
std::vector<bool> shared_headers(const ModuleArchive& archive, InputFile& source, const PoExportOptions& options) {
    std::unordered_map<std::string, std::vector<std::size_t>> by_name;
    for (std::size_t i = 0; i < archive.count(); ++i) {
        const ExportRoute route = export_route(archive.keys[i].type(), options.filter, options.templates);
        if (route == ExportRoute::script || route == ExportRoute::gff) {
            by_name[header_part(archive.keys[i].name(), TextEncoding::utf8)].push_back(i);
        }
    }
    std::vector<bool> shared(archive.count(), false);
    std::unordered_map<std::string, std::vector<std::size_t>> by_header;
    for (const auto& [name, indices] : by_name) {
        if (indices.size() < 2) continue;
        by_header.clear();
        for (const std::size_t i : indices) {
            by_header[resource_header_name(archive, i, source, TextEncoding::utf8)].push_back(i);
        }
        for (const auto& [header, same] : by_header) {
            if (same.size() < 2) continue;
            for (const std::size_t i : same) shared[i] = true;
        }
    }
    return shared;
}

void append_number(std::string& out, std::uint64_t value) {
    char digits[20];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<std::size_t>(end - digits));
}

// Writes the catalogue's text on a thread of its own, a block at a time, in
// the order it is handed over: the file's writing takes as long as a good
// part of making its text, and runs meanwhile.
class BlockWriter {
public:
    explicit BlockWriter(StagedOutput& out) : out_(out), thread_([this] { run(); }) {}
    ~BlockWriter() { finish(); }
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Takes the text once fewer than two blocks wait.
    void write(std::string&& text) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_.size() < 2; });
        waiting_.push_back(std::move(text));
        lock.unlock();
        changed_.notify_all();
    }

    // Waits until every block is written.
    void finish() {
        if (!thread_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !waiting_.empty() || done_; });
            if (waiting_.empty()) return;
            const std::string& text = waiting_.front();
            lock.unlock();
            out_.write(text);
            lock.lock();
            waiting_.pop_front();
            changed_.notify_all();
        }
    }

    StagedOutput& out_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> waiting_;  // the first is being written
    bool done_ = false;
    std::thread thread_;
};

// Makes the catalogue's entries of resources into text.
class CatalogueWriter {
public:
    CatalogueWriter(const PoExportOptions& options, CodecSet& codecs, std::string& text)
        : options_(options), codecs_(codecs), text_(text) {}

    void resource(const ResourceEntries& found, bool shared) {
        base_ = header_part(found.name, TextEncoding::utf8) + '.' + header_part(found.letters, TextEncoding::utf8);
        reference_ = base_;
        for (char& c : reference_) {
            if (c == ' ' || c == '\t') c = '_';
        }
        if (shared) base_ += '#' + std::to_string(found.index);
        const std::size_t before = text_.size();
        for (const StringFieldEntry& field : found.strings) string_field(field);
        for (const ScriptLineEntry& line : found.lines) script_line(line);
        if (text_.size() != before) ++resources;
    }

    std::size_t entries = 0;
    std::size_t resources = 0;

private:
    void entry(std::string_view context, std::string_view msgid, std::string_view msgstr, std::string_view comments,
               bool fuzzy) {
        PoEntry po;
        po.msgctxt = context;
        po.msgid = msgid;
        if (!options_.template_only) po.msgstr = msgstr;
        po.extracted_comments = comments;
        po.references = reference_;
        if (fuzzy && !options_.template_only && !msgstr.empty()) po.flags = "fuzzy";
        text_ += '\n';
        writer_.write(po, text_);
        ++entries;
    }

    void string_field(const StringFieldEntry& field) {
        const Language& from = LanguageTable[options_.from_row];
        const std::optional<std::string_view> male = first_text(field.text, from.male_id);
        const std::optional<std::string_view> female = first_text(field.text, from.female_id);
        const bool has_male = male && !male->empty();
        const bool has_female = female && !female->empty();
        if (!has_male && !has_female) return;
        const std::string_view source_male =
            decode_with_breaks(codecs_.of(from.male_id), has_male ? *male : std::string_view{}, source_male_);
        const std::string_view source_female =
            decode_with_breaks(codecs_.of(from.female_id), has_female ? *female : std::string_view{}, source_female_);

        std::optional<std::string_view> target_male, target_female;
        std::string_view target_male_text, target_female_text;
        if (options_.to_row) {
            const Language& to = LanguageTable[*options_.to_row];
            target_male = first_text(field.text, to.male_id);
            target_female = first_text(field.text, to.female_id);
            target_male_text = decode_with_breaks(codecs_.of(to.male_id), target_male.value_or(""), target_male_);
            target_female_text =
                decode_with_breaks(codecs_.of(to.female_id), target_female.value_or(""), target_female_);
        }
        comments_.assign(field.label).push_back('\n');
        if (field.direction == SpeechDirection::npc_to_player) comments_.append("NPC->PLAYER\n");
        if (field.direction == SpeechDirection::player_to_npc) comments_.append("PLAYER->NPC\n");
        // The context, and after it the feminine one's suffix.
        context_.assign(base_).push_back(':');
        append_number(context_, field.field);
        const std::size_t plain = context_.size();
        context_.append(":female");
        const std::string_view context(context_.data(), plain);
        if (has_male) {
            entry(context, source_male, target_male_text, comments_, breaks_differ(source_male, target_male_text));
        }
        // A feminine form where the source has its own, where the target
        // already has one of its own, or where every field is asked for one.
        const bool source_differs = has_female && (!has_male || source_female != source_male);
        const bool target_differs =
            target_female && !target_female->empty() && (!target_male || *target_female != *target_male);
        const bool asked = options_.female && options_.to_row && *options_.to_row != 0;
        if (source_differs || target_differs || asked) {
            const std::string_view msgid = has_female ? source_female : source_male;
            entry(context_, msgid, target_female_text, comments_, breaks_differ(msgid, target_female_text));
        }
    }

    void script_line(const ScriptLineEntry& line) {
        decoded_.clear();
        codecs_.of(std::nullopt).decode(line.text, false, decoded_);
        const std::vector<ScriptLiteral> literals = speech_literals(decoded_, line.in_comment);
        comments_.assign(decoded_).push_back('\n');
        for (std::size_t k = 0; k < literals.size(); ++k) {
            const std::string msgid =
                unescape_script_literal(std::string_view(decoded_).substr(literals[k].begin, literals[k].end - literals[k].begin));
            if (msgid.empty()) continue;
            context_.assign(base_).push_back(':');
            append_number(context_, line.line);
            context_.push_back(':');
            append_number(context_, k);
            entry(context_, msgid, {}, comments_, false);
        }
    }

    const PoExportOptions& options_;
    CodecSet& codecs_;
    std::string& text_;
    PoEntryWriter writer_{0};
    std::string base_, reference_, comments_, decoded_, context_;
    // Room for the four texts of a field that do not decode to themselves.
    std::string source_male_, source_female_, target_male_, target_female_;
};

// The catalogue's text of a run of resources.
struct CatalogueRun {
    std::string text;
    std::size_t entries = 0;
    std::size_t resources = 0;
    bool walked = true;
};

}  // namespace

bool export_po(const ModuleArchive& archive, const std::string& po_path, const PoExportOptions& options,
               Reporter& reporter, std::string& summary) {
    const std::uint16_t from_mask = language_bit(options.from_row);
    const std::uint16_t mask = static_cast<std::uint16_t>(from_mask | (options.to_row ? language_bit(*options.to_row) : 0));
    const CodePages pages = resolve_code_pages(options.code_pages, from_mask);
    TextDecoder check(pages);
    std::uint16_t missing = 0;
    if (!check.open(mask, missing)) {
        report(reporter, Severity::error, "Error: this system cannot convert code page %u!\n",
               static_cast<unsigned>(missing));
        return false;
    }
    InputFile source;
    StagedOutput out;
    if (!open_source_and_target(archive, source, out, po_path, reporter)) return false;
    PoEntry header;
    const std::string header_text = header_msgstr(archive, options);
    header.msgstr = header_text;
    if (options.template_only) header.flags = "fuzzy";
    std::string head;
    write_po_entry(header, head);
    out.write(head);
    const std::vector<bool> shared = shared_headers(archive, source, options);
    BlockWriter blocks(out);
    const SelectionState selection{from_mask, 0, options.filter, options.templates};
    std::size_t entries = 0, resources = 0;
    const bool walked = make_in_runs(
        archive, reporter,
        [&] {
            // Each thread's converters are its own.
            return [&, codecs = std::make_shared<CodecSet>(pages)](std::size_t first, std::size_t last,
                                                                    Reporter& told) {
                CatalogueRun run;
                // A dense run's catalogue is about as large as its resources:
                // room for that, and a quarter more, spares the copies of a
                // text grown bit by bit. Room never written takes no memory.
                std::uint64_t bytes = 0;
                for (std::size_t i = first; i < last; ++i) bytes += archive.resources[i].size;
                run.text.reserve(static_cast<std::size_t>(bytes + bytes / 4));
                CatalogueWriter writer(options, *codecs, run.text);
                run.walked = walk_module_entries(
                    archive, source, selection, told,
                    [&](const ResourceEntries& found) { writer.resource(found, shared[found.index]); }, {}, first,
                    last);
                run.entries = writer.entries;
                run.resources = writer.resources;
                return run;
            };
        },
        [&](CatalogueRun& run) {
            entries += run.entries;
            resources += run.resources;
            if (!run.text.empty()) blocks.write(std::move(run.text));
            return run.walked;
        });
    blocks.finish();
    if (!walked || !finish_target(source, out, reporter)) return false;
    summary = "Exported " + std::to_string(entries) + " entries of " + std::to_string(resources) + " resources.";
    return true;
}

}  // namespace modtext
