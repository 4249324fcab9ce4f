#include <cstring>

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

namespace {

bool report_malformed(Reporter& reporter, const ResourceView& resource, const std::string& why) {
    report_malformed_gff(reporter, resource.index, resource.name, why);
    return false;
}

}  // namespace

bool export_gff_strings(std::string& out, const ResourceView& resource, GffImage& image,
                        const SelectionState& selection, Reporter& reporter,
                        ExportCounts* counts, TextDecoder* utf8) {
    const std::string name(resource.name);
    report(reporter, Severity::progress, "Exporting general GFF file: %s.....", name.c_str());
    ByteReader cursor(resource.bytes);
    std::string why;
    if (!load_gff(image, cursor, why)) return report_malformed(reporter, resource, why);

    const bool conversation = resource.type == resource_type::conversation;
    bool header_written = false;
    bool speaker = false;
    LocString locstring;
    const TemplateLines templates(selection.to_mask, selection.from_mask);
    // Counted apart and added once the resource is whole: a damaged one
    // counts for nothing.
    ExportCounts found;
    for (std::size_t k = 0; k < image.fields.size(); ++k) {
        const GffField& field = image.fields[k];
        if (field.type == gff_type::exo_string) {
            if (!image.has_label(field)) {
                return report_malformed(reporter, resource,
                                        "label index out of bounds in field " + std::to_string(k));
            }
            speaker = image.label_of(field) == "Speaker";
        }
        if (field.type != gff_type::loc_string) continue;
        if (!read_locstring(image.field_data, field.data, locstring, why)) {
            return report_malformed(reporter, resource,
                                    why + " in field " + std::to_string(k));
        }
        bool field_written = false;
        const auto key = static_cast<std::uint32_t>(k);
        for (const LocSubstring& sub : locstring.substrings) {
            if (!id_passes_mask(sub.string_id, selection.from_mask)) continue;
            if (!header_written) {
                append_header_line(out, resource.name, image.header.type_letters(), resource.index,
                                   utf8 ? TextEncoding::utf8 : TextEncoding::raw);
                header_written = true;
            }
            if (conversation) out += speaker ? npc_to_player : player_to_npc;
            append_localized_entry(out, key, sub.string_id, substring_text(sub), utf8);
            ++found.strings;
            field_written = true;
        }
        if (field_written) {
            templates.append(out, key, locstring, found.template_lines, utf8);
            out += '\n';
        }
    }
    if (header_written) out += block_end_gff;
    if (counts) {
        counts->resources += header_written ? 1 : 0;
        counts->strings += found.strings;
        for (std::size_t row = 0; row < language_count; ++row) {
            counts->template_lines[row] += found.template_lines[row];
        }
    }
    report(reporter, Severity::progress, "complete!\n");
    return true;
}

}  // namespace modtext
