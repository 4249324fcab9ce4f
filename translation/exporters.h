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
#include "translation/module_entries.h"
#include "translation/text_encoding.h"
#include "translation/text_format.h"

namespace modtext {

// What an export wrote, for the summary after it.
struct ExportCounts {
    std::size_t resources = 0;     // blocks written
    std::size_t strings = 0;       // localized entries: one per substring
    std::size_t script_lines = 0;  // script entries
    std::array<std::size_t, language_count> template_lines{};
    std::map<std::uint16_t, std::size_t> not_visited;  // resources by type
};

// Adds counts to `to`.
void add_counts(ExportCounts& to, const ExportCounts& counts);

// "Exported 3 resources: 40 strings and 2 script lines; template lines:
// french 80. Not visited: 5 of type 2017."
std::string export_summary(const ExportCounts& counts);

// The line at the cursor, without its line end; the cursor moves to the start
// of the next line. Export and import number script lines through this one
// reader, so both count them alike.
inline ByteView read_script_line(ByteReader& cursor) { return cursor.read_line(); }

// Appends the script block of a script's lines that speak, or nothing when
// none does. With a decoder, the block is written in UTF-8.
void append_script_block(std::string& out, const ResourceEntries& entries, ExportCounts* counts = nullptr,
                         TextDecoder* utf8 = nullptr);

// Appends the GFF block of a resource's substrings of the from_mask
// languages, each field's followed by its template lines, or nothing when
// it has none.
void append_gff_block(std::string& out, const ResourceEntries& entries, const TemplateLines& templates,
                      std::uint16_t from_mask, ExportCounts* counts = nullptr, TextDecoder* utf8 = nullptr);

// One resource read and its block appended, as the export tells it: the
// script's, or the GFF's, false when it is malformed (reported; what it
// appended must then be dropped).
void export_script(std::string& out, const ResourceView& resource, Reporter& reporter,
                   ExportCounts* counts = nullptr, TextDecoder* utf8 = nullptr);

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

// Every resource's block, written to the text in index order: runs of
// resources are made on two threads at once (make_in_runs), with utf8's
// code pages. Malformed resources are reported and skipped; false when the
// source could not be read.
bool export_blocks(const ModuleArchive& archive, InputFile& source, StagedOutput& text,
                   const SelectionState& selection, Reporter& reporter,
                   ExportCounts* counts = nullptr, TextDecoder* utf8 = nullptr);

}  // namespace modtext
