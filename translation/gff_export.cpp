#include "formats/locstring.h"
#include "translation/exporters.h"
#include "translation/text_format.h"

namespace modtext {

void report_malformed_gff(Reporter& reporter, std::size_t index, std::string_view name,
                          const std::string& why) {
    const std::string shown(name);
    report(reporter, Severity::error, "Error: resource %zu (%s) is not a well-formed GFF (%s), skipped!\n",
           index, shown.c_str(), why.c_str());
}

void append_gff_block(std::string& out, const ResourceEntries& entries, const TemplateLines& templates,
                      std::uint16_t from_mask, ExportCounts* counts, TextDecoder* utf8) {
    const bool conversation = entries.type == resource_type::conversation;
    bool header_written = false;
    std::size_t strings = 0;
    std::array<std::size_t, language_count> template_lines{};
    for (const StringFieldEntry& field : entries.strings) {
        bool field_written = false;
        for (const LocSubstring& sub : field.text.substrings) {
            if (!id_passes_mask(sub.string_id, from_mask)) continue;
            if (!header_written) {
                append_header_line(out, entries.name, entries.letters, entries.index,
                                   utf8 ? TextEncoding::utf8 : TextEncoding::raw);
                header_written = true;
            }
            if (conversation) {
                out += field.direction == SpeechDirection::npc_to_player ? npc_to_player : player_to_npc;
            }
            append_localized_entry(out, field.field, sub.string_id, substring_text(sub), utf8);
            ++strings;
            field_written = true;
        }
        if (field_written) {
            templates.append(out, field.field, field.text, template_lines, utf8);
            out += '\n';
        }
    }
    if (header_written) out += block_end_gff;
    if (counts) {
        counts->resources += header_written ? 1 : 0;
        counts->strings += strings;
        for (std::size_t row = 0; row < language_count; ++row) counts->template_lines[row] += template_lines[row];
    }
}

bool export_gff_strings(std::string& out, const ResourceView& resource, GffImage& image,
                        const SelectionState& selection, Reporter& reporter,
                        ExportCounts* counts, TextDecoder* utf8) {
    tell_export_started(reporter, false, resource.name);
    ResourceEntries entries;
    std::string why;
    if (!read_resource_entries(resource, false, image, entries, why)) {
        report_malformed_gff(reporter, resource.index, resource.name, why);
        return false;
    }
    append_gff_block(out, entries, TemplateLines(selection.to_mask, selection.from_mask), selection.from_mask,
                     counts, utf8);
    tell_export_done(reporter);
    return true;
}

}  // namespace modtext
