// The import: a new module in which the texts the translation names are
// rebuilt and every other resource is carried over byte for byte.
#pragma once

#include <string>

#include "core/languages.h"
#include "core/reporter.h"
#include "formats/checksum.h"
#include "formats/files.h"
#include "formats/gff_image.h"
#include "formats/locstring.h"
#include "formats/module_archive.h"
#include "translation/resource_writer.h"
#include "translation/translation_table.h"

namespace modtext {

// The new record of one localized-string field from its entry's variants:
// those whose language from_mask keeps (and those of no table language), in
// text order. A variant of fewer than two bytes takes the last text of two or
// more bytes met before it in the entry. Each kept variant's own text goes to
// the reporter's echo.
Bytes rebuild_locstring(const VariantRun& variants, std::uint16_t from_mask, Reporter& reporter);
// The same, appended to out.
void append_rebuilt_locstring(const VariantRun& variants, std::uint16_t from_mask,
                              Reporter& reporter, Bytes& out);

// Rebuilds a named script: every line through the script line reader, with
// the lines the record names replaced by their first variant's text.
Bytes rebuild_script(ByteView bytes, const FileRecord& record);

// Rebuilds a named GFF resource's localized strings in the loaded image,
// working in memory. Fails, with the reason in `why`, when a named string
// lies outside its block.
bool rebuild_gff_strings(GffImage& image, const FileRecord& record, std::uint16_t from_mask,
                         Reporter& reporter, std::string& why, SpliceMemory& memory);

// The output module's position of the next resource, and the checksum of
// each resource as it was written, for the check of the written module.
struct OutputCursor {
    std::uint64_t offset = 0;  // the running output offset
    std::vector<std::uint64_t> checksums;
};

// Rebuilds resource index, which record names, from the piece's source into
// the piece, working in memory, which the piece does not view afterwards.
// Fails, reported, on a malformed resource or one beyond 32-bit offsets.
bool rebuild_resource(ResourcePiece& piece, std::size_t index, const FileRecord& record,
                      const ModuleArchive& archive, const SelectionState& selection,
                      SpliceMemory& memory, Reporter& reporter);

// Parses the translation text and writes the output module. The output
// replaces its target only when every resource was written.
bool write_module(ModuleArchive& archive, const std::string& text_path,
                  const std::string& output_path, const SelectionState& selection,
                  Reporter& reporter);

// The writing itself: the tables, then every resource from the open source,
// through rebuild_resource or as it is, written on a second thread; then the
// resource list with the new places. The written module is then read back and
// checked before it may replace anything.
bool write_module_to(ModuleArchive& archive, InputFile& source, StagedOutput& output,
                     const TranslationTable& table, const SelectionState& selection,
                     Reporter& reporter);

// Reads the written module back: its tables within it and as written, every
// resource's bytes as written. (A rebuilt GFF was checked well formed, where
// its source was, before it was written.) The second half of the resources is
// read on another thread.
bool verify_written_module(const ModuleArchive& archive, InputFile& written,
                           const OutputCursor& cursor, std::string& why);

}  // namespace modtext
