// The writers of the translation text: one block per resource that has
// something to export, walked by the export driver.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/languages.h"
#include "core/reporter.h"
#include "formats/byte_reader.h"
#include "formats/files.h"
#include "formats/gff_image.h"
#include "formats/module_archive.h"
#include "translation/text_encoding.h"

namespace modtext {

// The resource being exported: its key-list position, name and bytes.
struct ResourceView {
    std::size_t index = 0;
    std::string_view name;
    std::uint16_t type = 0;
    ByteView bytes;
};

// What an export wrote, for the summary after it.
struct ExportCounts {
    std::size_t resources = 0;     // blocks written
    std::size_t strings = 0;       // localized entries: one per substring
    std::size_t script_lines = 0;  // script entries
    std::array<std::size_t, language_count> template_lines{};
    std::map<std::uint16_t, std::size_t> not_visited;  // resources by type
};

// "Exported 3 resources: 40 strings and 2 script lines; template lines:
// french 80. Not visited: 5 of type 2017."
std::string export_summary(const ExportCounts& counts);

// The line at the cursor, without its line end; the cursor moves to the start
// of the next line. Export and import number script lines through this one
// reader, so both count them alike.
inline ByteView read_script_line(ByteReader& cursor) { return cursor.read_line(); }

// Appends the script block of every line that calls a speech function, or
// nothing when no line does. With a decoder, the block is written in UTF-8.
void export_script(std::string& out, const ResourceView& resource, Reporter& reporter,
                   ExportCounts* counts = nullptr, TextDecoder* utf8 = nullptr);

// Appends the GFF block of every localized substring of the from_mask
// languages, with template lines for the to_mask languages. Returns false,
// having reported why, when the resource is malformed; what it appended must
// then be dropped.
bool export_gff_strings(std::string& out, const ResourceView& resource, GffImage& image,
                        const SelectionState& selection, Reporter& reporter,
                        ExportCounts* counts = nullptr, TextDecoder* utf8 = nullptr);

// Reports a GFF resource the export skips as damaged.
void report_malformed_gff(Reporter& reporter, std::size_t index, std::string_view name,
                          const std::string& why);

// How the export driver treats a resource type under a filter, with or
// without the template resources.
enum class ExportRoute { script, gff, skip, unknown };
ExportRoute export_route(std::uint16_t type, std::int32_t filter, bool templates = false);

// Writes the translation text of the loaded module to text_path. The file
// replaces an existing one only when the whole export succeeded. A UTF-8
// text starts with a byte order mark and its settings line.
bool export_text(const ModuleArchive& archive, const std::string& text_path,
                 const SelectionState& selection, Reporter& reporter, ExportCounts& counts,
                 const TextEncodingOptions& options = {});

// The walk itself: every resource's block, read from the open source and
// written to the text. Malformed resources are reported and skipped; false
// when the source could not be read.
bool export_blocks(const ModuleArchive& archive, InputFile& source, StagedOutput& text,
                   const SelectionState& selection, Reporter& reporter,
                   ExportCounts* counts = nullptr, TextDecoder* utf8 = nullptr);

}  // namespace modtext
