#include "translation/module_entries.h"

#include <algorithm>

#include "formats/gff_image.h"
#include "translation/exporters.h"

namespace modtext {

bool calls_speech_function(std::string_view line) {
    return line.find("FloatingTextStringOnCreature") != std::string_view::npos ||
           line.find("SpeakString") != std::string_view::npos;
}

bool block_comment_open_after(std::string_view line, bool open) {
    // Without a slash no comment opens or closes: most lines.
    if (line.find('/') == std::string_view::npos) return open;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (open) {
            if (c == '*' && next == '/') open = false, ++i;
        } else if (quoted) {
            if (c == '\\') ++i;
            else if (c == '"') quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '/' && next == '/') {
            return false;
        } else if (c == '/' && next == '*') {
            open = true, ++i;
        }
    }
    return open;
}

namespace {

// Keeps the first count string entries; the rest are set aside, with their
// memory, for the next resource.
void keep_strings(ResourceEntries& out, std::size_t count) {
    while (out.strings.size() > count) {
        out.spare_strings.push_back(std::move(out.strings.back()));
        out.strings.pop_back();
    }
}

// A GFF's localized strings; false, with why, when it is damaged.
bool gff_entries(ByteView bytes, bool conversation, GffImage& image, ResourceEntries& out, std::string& why) {
    ByteReader cursor(bytes);
    if (!load_gff(image, cursor, why)) return false;
    out.letters = image.header.type_letters();
    bool speaker = false;
    std::size_t used = 0;
    for (std::size_t k = 0; k < image.fields.size(); ++k) {
        const GffField& field = image.fields[k];
        if (field.type == gff_type::exo_string) {
            if (!image.has_label(field)) {
                why = "label index out of bounds in field " + std::to_string(k);
                return false;
            }
            speaker = image.label_of(field) == "Speaker";
        }
        if (field.type != gff_type::loc_string) continue;
        // Entries are kept from one resource to the next, their memory with
        // them: a resource of fewer fields leaves the rest spare.
        if (used == out.strings.size()) {
            if (out.spare_strings.empty()) {
                out.strings.emplace_back();
            } else {
                out.strings.push_back(std::move(out.spare_strings.back()));
                out.spare_strings.pop_back();
            }
        }
        StringFieldEntry& entry = out.strings[used];
        if (!read_locstring(image.field_data, field.data, entry.text, why)) {
            why += " in field " + std::to_string(k);
            return false;
        }
        entry.field = static_cast<std::uint32_t>(k);
        entry.label = image.has_label(field) ? image.label_of(field) : std::string_view{};
        entry.direction = !conversation ? SpeechDirection::none
                          : speaker     ? SpeechDirection::npc_to_player
                                        : SpeechDirection::player_to_npc;
        ++used;
    }
    keep_strings(out, used);
    return true;
}

void script_entries(ByteView bytes, ResourceEntries& out) {
    ByteReader cursor(bytes);
    bool in_comment = false;
    for (std::size_t number = 0; !cursor.at_end(); ++number) {
        const ByteView line = read_script_line(cursor);
        const std::string_view text(reinterpret_cast<const char*>(line.data()), line.size());
        if (calls_speech_function(text)) out.lines.push_back({number, text, in_comment});
        in_comment = block_comment_open_after(text, in_comment);
    }
}

}  // namespace

bool read_resource_entries(const ResourceView& resource, bool script, GffImage& image, ResourceEntries& out,
                           std::string& why) {
    out.index = resource.index;
    out.type = resource.type;
    out.name = resource.name;
    out.script = script;
    out.lines.clear();
    if (script) {
        out.letters = "NSS";
        keep_strings(out, 0);
        script_entries(resource.bytes, out);
        return true;
    }
    return gff_entries(resource.bytes, resource.type == resource_type::conversation, image, out, why);
}

void tell_export_started(Reporter& reporter, bool script, std::string_view name) {
    if (!reporter.wants(Severity::progress)) return;  // most runs: no copy of the name
    const std::string shown(name);
    report(reporter, Severity::progress, script ? "Exporting Script file: %s....." : "Exporting general GFF file: %s.....",
           shown.c_str());
}

void tell_export_done(Reporter& reporter) { report(reporter, Severity::progress, "complete!\n"); }

bool walk_module_entries(const ModuleArchive& archive, InputFile& source, const SelectionState& selection,
                         Reporter& reporter, const std::function<void(const ResourceEntries&)>& take,
                         const EntryWalkEvents& events, std::size_t first, std::size_t last) {
    ReadBuffer bytes;
    GffImage image;
    ResourceEntries entries;
    std::string name;
    for (std::size_t i = first; i < std::min(last, archive.count()); ++i) {
        const KeyEntry& key = archive.keys[i];
        const ExportRoute route = export_route(key.type(), selection.filter, selection.templates);
        if (route == ExportRoute::unknown) {
            // Not the translator's concern: told only on request.
            report(reporter, Severity::progress, "ResID %d NYI\n", key.type());
            if (events.not_visited) events.not_visited(key.type());
            continue;
        }
        // Skipped types are never read at all.
        if (route == ExportRoute::skip) continue;
        name = key.name();
        std::string why;
        const bool script = route == ExportRoute::script;
        const bool read = script ? read_resource(source, archive, i, bytes, reporter)
                                 : read_gff_resource(source, archive, i, bytes, why, reporter);
        if (!read) {
            // A damaged resource, or one placed outside the file, is skipped;
            // a read that fails within it means the file changed, and ends
            // the walk.
            if (!why.empty()) report_malformed_gff(reporter, i, name, why);
            else if (resource_fits(source, archive, i)) return false;
            continue;
        }
        if (events.tell_progress) tell_export_started(reporter, script, name);
        if (!read_resource_entries({i, name, key.type(), bytes.view()}, script, image, entries, why)) {
            report_malformed_gff(reporter, i, name, why);
            release_gff(image);
            continue;
        }
        if (!entries.strings.empty() || !entries.lines.empty()) take(entries);
        release_gff(image);
        if (events.tell_progress) tell_export_done(reporter);
    }
    return true;
}

}  // namespace modtext
