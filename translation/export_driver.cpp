#include <algorithm>
#include <memory>

#include "formats/files.h"
#include "translation/exporters.h"
#include "translation/module_entries.h"

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

void add_counts(ExportCounts& to, const ExportCounts& counts) {
    to.resources += counts.resources;
    to.strings += counts.strings;
    to.script_lines += counts.script_lines;
    for (std::size_t row = 0; row < language_count; ++row) to.template_lines[row] += counts.template_lines[row];
    for (const auto& [type, count] : counts.not_visited) to.not_visited[type] += count;
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
    const TemplateLines templates(selection.to_mask, selection.from_mask);
    // The blocks of a run of resources, and what was counted of them.
    struct Run {
        std::string text;
        ExportCounts counts;
        bool walked = true;
    };
    return make_in_runs(
        archive, reporter,
        [&] {
            // Each thread's converters are its own.
            std::shared_ptr<TextDecoder> decoder;
            if (utf8) decoder = std::make_shared<TextDecoder>(utf8->pages());
            return [&, decoder](std::size_t first, std::size_t last, Reporter& told) {
                Run run;
                EntryWalkEvents events;
                events.tell_progress = true;
                events.not_visited = [&run](std::uint16_t type) { ++run.counts.not_visited[type]; };
                run.walked = walk_module_entries(
                    archive, source, selection, told,
                    [&](const ResourceEntries& entries) {
                        if (entries.script) {
                            append_script_block(run.text, entries, &run.counts, decoder.get());
                        } else {
                            append_gff_block(run.text, entries, templates, selection.from_mask, &run.counts,
                                             decoder.get());
                        }
                    },
                    events, first, last);
                return run;
            };
        },
        [&](Run& run) {
            text.write(run.text);
            if (counts) add_counts(*counts, run.counts);
            return run.walked;
        });
}

}  // namespace modtext
