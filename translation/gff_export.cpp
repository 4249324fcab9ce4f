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
                        const SelectionState& selection, Reporter& reporter) {
    const std::string name(resource.name);
    report(reporter, Severity::progress, "Exporting general GFF file: %s.....", name.c_str());
    ByteReader cursor(resource.bytes);
    std::string why;
    if (!load_gff(image, cursor, why)) return report_malformed(reporter, resource, why);

    const bool conversation = resource.type == resource_type::conversation;
    bool header_written = false;
    bool speaker = false;
    LocString locstring;
    const TemplateLines templates(selection.to_mask);
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
                append_header_line(out, resource.name, image.header.type_letters(),
                                   resource.index);
                header_written = true;
            }
            if (conversation) out += speaker ? npc_to_player : player_to_npc;
            // The text ends at its first zero byte, as the game reads it.
            std::string_view text(reinterpret_cast<const char*>(sub.text.data()), sub.text.size());
            text = text.substr(0, text.find('\0'));
            append_localized_entry(out, key, sub.string_id, text);
            field_written = true;
        }
        if (field_written) {
            templates.append(out, key);
            out += '\n';
        }
    }
    if (header_written) out += block_end_gff;
    report(reporter, Severity::progress, "complete!\n");
    return true;
}

}  // namespace modtext
