#include <algorithm>

#include "formats/files.h"
#include "translation/exporters.h"

namespace modtext {

ExportRoute export_route(std::uint16_t type, std::int32_t filter, bool templates) {
    const auto when = [filter](std::int32_t row) {
        return filter == 0 || filter == row ? ExportRoute::gff : ExportRoute::skip;
    };
    const auto among = [type](const auto& types) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    if (among(resource_type::quiet_templates) || among(resource_type::reported_templates)) {
        if (templates || filter == templates_filter) return ExportRoute::gff;
        return among(resource_type::quiet_templates) ? ExportRoute::skip : ExportRoute::unknown;
    }
    switch (type) {
        case resource_type::script:
            return filter == 0 || filter == 6 ? ExportRoute::script : ExportRoute::skip;
        case resource_type::area: return when(1);
        case resource_type::conversation: return when(2);
        case resource_type::game_instance: return when(3);
        case resource_type::module_info: return when(4);
        case resource_type::journal: return when(5);
        case resource_type::always_a:
        case resource_type::always_b: return ExportRoute::gff;
        case 2010: case 2030: case 2046: return ExportRoute::skip;
        default: return ExportRoute::unknown;
    }
}

std::string export_summary(const ExportCounts& counts) {
    std::string out = "Exported " + std::to_string(counts.resources) + " resources: " +
                      std::to_string(counts.strings) + " strings and " +
                      std::to_string(counts.script_lines) + " script lines";
    const char* between = "; template lines: ";
    for (std::size_t row = 0; row < language_count; ++row) {
        if (counts.template_lines[row] == 0) continue;
        out += between + std::string(LanguageTable[row].key) + ' ' +
               std::to_string(counts.template_lines[row]);
        between = ", ";
    }
    out += '.';
    between = " Not visited: ";
    for (const auto& [type, count] : counts.not_visited) {
        out += between + std::to_string(count) + " of type " + std::to_string(type);
        between = ", ";
    }
    if (!counts.not_visited.empty()) out += '.';
    return out;
}

bool export_text(const ModuleArchive& archive, const std::string& text_path,
                 const SelectionState& selection, Reporter& reporter, ExportCounts& counts,
                 const TextEncodingOptions& options) {
    const CodePages pages = resolve_code_pages(options.code_pages, selection.from_mask);
    std::optional<TextDecoder> utf8;
    if (options.encoding == TextEncoding::utf8) {
        utf8.emplace(pages);
        std::uint16_t missing = 0;
        if (!utf8->open(selection.from_mask | selection.to_mask, missing)) {
            report(reporter, Severity::error, "Error: this system cannot convert code page %u!\n",
                   static_cast<unsigned>(missing));
            return false;
        }
    }
    InputFile source;
    StagedOutput text;
    if (!open_source_and_target(archive, source, text, text_path, reporter)) return false;
    if (utf8) {
        text.write(utf8_bom);
        text.write(settings_line(pages, options.code_pages, selection));
    }
    return export_blocks(archive, source, text, selection, reporter, &counts, utf8 ? &*utf8 : nullptr) &&
           finish_target(source, text, reporter);
}

bool export_blocks(const ModuleArchive& archive, InputFile& source, StagedOutput& text,
                   const SelectionState& selection, Reporter& reporter, ExportCounts* counts,
                   TextDecoder* utf8) {
    ReadBuffer bytes;
    GffImage image;
    std::string block;
    for (std::size_t i = 0; i < archive.count(); ++i) {
        const KeyEntry& key = archive.keys[i];
        const ExportRoute route = export_route(key.type(), selection.filter, selection.templates);
        if (route == ExportRoute::unknown) {
            // Not the translator's concern: counted in the summary, told
            // only on request.
            report(reporter, Severity::progress, "ResID %d NYI\n", key.type());
            if (counts) ++counts->not_visited[key.type()];
            continue;
        }
        // Skipped types are never read at all.
        if (route == ExportRoute::skip) continue;
        const std::string name = key.name();
        std::string why;
        const bool read = route == ExportRoute::script
                              ? read_resource(source, archive, i, bytes, reporter)
                              : read_gff_resource(source, archive, i, bytes, why, reporter);
        if (!read) {
            // A damaged resource, or one placed outside the file, is skipped;
            // a read that fails within it means the file changed, and ends
            // the export.
            if (!why.empty()) report_malformed_gff(reporter, i, name, why);
            else if (resource_fits(source, archive, i)) return false;
            continue;
        }

        const ResourceView resource{i, name, key.type(), bytes.view()};
        block.clear();
        if (route == ExportRoute::script) {
            export_script(block, resource, reporter, counts, utf8);
        } else if (!export_gff_strings(block, resource, image, selection, reporter, counts, utf8)) {
            block.clear();
        }
        release_gff(image);
        text.write(block);
    }
    return true;
}

}  // namespace modtext
