#include "translation/exporters.h"
#include "translation/module_entries.h"
#include "translation/text_format.h"

namespace modtext {

void export_script(std::string& out, const ResourceView& resource, Reporter& reporter,
                   ExportCounts* counts, TextDecoder* utf8) {
    const std::string name(resource.name);
    report(reporter, Severity::progress, "Exporting Script file: %s.....", name.c_str());
    ByteReader cursor(resource.bytes);
    bool header_written = false;
    for (std::size_t line_number = 0; !cursor.at_end(); ++line_number) {
        const ByteView line = read_script_line(cursor);
        const std::string_view text(reinterpret_cast<const char*>(line.data()), line.size());
        if (!calls_speech_function(text)) continue;
        if (!header_written) {
            append_header_line(out, resource.name, "NSS", resource.index,
                               utf8 ? TextEncoding::utf8 : TextEncoding::raw);
            header_written = true;
        }
        append_script_entry(out, line_number, text, utf8);
        if (counts) ++counts->script_lines;
    }
    if (header_written) out += block_end_script;
    if (header_written && counts) ++counts->resources;
    report(reporter, Severity::progress, "complete!\n");
}

}  // namespace modtext
