#include "translation/exporters.h"
#include "translation/text_format.h"

namespace modtext {

void append_script_block(std::string& out, const ResourceEntries& entries, ExportCounts* counts,
                         TextDecoder* utf8) {
    if (entries.lines.empty()) return;
    append_header_line(out, entries.name, "NSS", entries.index, utf8 ? TextEncoding::utf8 : TextEncoding::raw);
    for (const ScriptLineEntry& line : entries.lines) append_script_entry(out, line.line, line.text, utf8);
    out += block_end_script;
    if (counts) {
        counts->script_lines += entries.lines.size();
        ++counts->resources;
    }
}

void export_script(std::string& out, const ResourceView& resource, Reporter& reporter,
                   ExportCounts* counts, TextDecoder* utf8) {
    tell_export_started(reporter, true, resource.name);
    ResourceEntries entries;
    GffImage unused;
    std::string why;
    read_resource_entries(resource, true, unused, entries, why);
    append_script_block(out, entries, counts, utf8);
    tell_export_done(reporter);
}

}  // namespace modtext
