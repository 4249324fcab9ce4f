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

// What the rebuild of a resource did: for the import's summary, and to find
// the entries of a block that reached nothing.
struct RebuildTally {
    std::size_t strings = 0;        // substrings written into rebuilt strings
    std::size_t script_lines = 0;   // script lines replaced
    std::size_t variants_used = 0;  // the block's variants that reached a string or line
    std::size_t lines = 0;          // a script's lines
};

// What an import did, for the summary after it.
struct ImportCounts {
    std::size_t blocks_bound = 0;  // resources a block of the text applies to
    std::size_t resources = 0;     // rebuilt
    std::size_t strings = 0;    // substrings written into rebuilt strings
    std::size_t script_lines = 0;
};

// "Rebuilt 3 resources: 40 strings and 2 script lines; lines in the text:
// english 20 filled, 0 empty; french 18 filled, 2 empty."
std::string import_summary(const ImportCounts& counts, const TextCounts& text);

// Whether a localized text stands for no text of its own: nothing, or a lone
// CR, after its arrow.
bool empty_text(std::string_view text);

// The source substring of this language and gender whose text, as export
// writes it, is the line's: the first such, up to its first zero byte.
std::optional<std::string_view> unedited_source(const LocString& source, std::int32_t string_id,
                                                std::string_view line);

// The substrings of a field's source string, found by language and gender
// and by their text as export wrote it: by a scan of them when they are few,
// and by a sorted list of their keys when they are many, so that a string of
// many substrings costs no more than its size.
class SourceTexts {
public:
    explicit SourceTexts(const LocString& source);
    // As unedited_source.
    std::optional<std::string_view> unedited(std::int32_t string_id, std::string_view line) const;

private:
    static constexpr std::size_t scanned = 16;
    struct Key {
        std::int32_t string_id;
        std::uint64_t hash;
        std::size_t index;
    };
    const LocString& source_;
    std::vector<Key> keys_;  // sorted; empty while a scan serves
};

// The new record of one localized-string field from its entry's variants:
// those whose language from_mask keeps (and those of no table language), in
// text order. A line left as export wrote it for a substring of the source
// string keeps that substring's bytes. An empty line takes the last text
// kept before it in the entry, a skipped variant's included (but not an
// empty one kept from the source). Each kept variant's own text goes to the
// reporter's echo.
Bytes rebuild_locstring(const VariantRun& variants, std::uint16_t from_mask, Reporter& reporter,
                        const LocString* source = nullptr);
// The same, appended to out; returns the substrings written.
std::uint32_t append_rebuilt_locstring(const VariantRun& variants, std::uint16_t from_mask,
                                       Reporter& reporter, Bytes& out,
                                       const LocString* source = nullptr);

// Rebuilds a named script: every line through the script line reader, with
// the lines the record names replaced by their first variant's text.
Bytes rebuild_script(ByteView bytes, const FileRecord& record, RebuildTally* tally = nullptr);

// Rebuilds a named GFF resource's localized strings in the loaded image,
// working in memory. Fails, with the reason in `why`, when a named string
// lies outside its block.
bool rebuild_gff_strings(GffImage& image, const FileRecord& record, std::uint16_t from_mask,
                         Reporter& reporter, std::string& why, SpliceMemory& memory,
                         RebuildTally* tally = nullptr);

// The output module's position of the next resource, and the checksum of
// each resource as it was written, for the check of the written module.
struct OutputCursor {
    std::uint64_t offset = 0;  // the running output offset
    std::vector<std::uint64_t> checksums;
    std::size_t checked = 0;  // resources already read back as written, from the first
};

// Rebuilds resource index, which record names, from the piece's source into
// the piece, working in memory, which the piece does not view afterwards.
// Fails, reported, on a malformed resource or one beyond 32-bit offsets.
bool rebuild_resource(ResourcePiece& piece, std::size_t index, const FileRecord& record,
                      const ModuleArchive& archive, const SelectionState& selection,
                      SpliceMemory& memory, Reporter& reporter, ImportCounts* counts = nullptr);

// Parses the translation text and writes the output module. The output
// replaces its target only when every resource was written. A language the
// text fills but from_mask leaves out is warned about. On success, the
// summary tells what was rebuilt. The text is read raw or as UTF-8 as the
// options force, or else as it says of itself.
bool write_module(ModuleArchive& archive, const std::string& text_path,
                  const std::string& output_path, const SelectionState& selection,
                  Reporter& reporter, std::string* summary = nullptr,
                  const TextEncodingOptions& options = {});

// Everything write_module does but the writing: every warning and error the
// import would give, and nothing written.
bool rehearse_import(ModuleArchive& archive, const std::string& text_path, const SelectionState& selection,
                     Reporter& reporter, const TextEncodingOptions& options = {});

// The writing itself: each block bound to its resource, then the tables, then
// every resource from the open source, through rebuild_resource or as it is,
// written on a second thread; then the resource list with the new places.
// The written module is read back and checked, its resources as they are
// written and its tables at the end, before it may replace anything.
bool write_module_to(ModuleArchive& archive, InputFile& source, StagedOutput& output,
                     const TranslationTable& table, const SelectionState& selection,
                     Reporter& reporter, ImportCounts* counts = nullptr);

// What an import rewrites of a module: which resources, and how.
class ResourceRebuilder {
public:
    virtual ~ResourceRebuilder() = default;
    // Whether resource index is rebuilt rather than copied as it is. Asked
    // once per resource, in index order, before its rebuild.
    virtual bool rebuilds(std::size_t index) = 0;
    // Fills the piece, whose source holds the resource as read; false, told,
    // when it cannot be.
    virtual bool rebuild(ResourcePiece& piece, std::size_t index, SpliceMemory& memory) = 0;
};

// The writing of write_module_to, for any rebuilder.
bool write_rebuilt_module(ModuleArchive& archive, InputFile& source, StagedOutput& output,
                          ResourceRebuilder& rebuilder, Reporter& reporter);

// Lays out the piece's rebuilt image and views its sections as the piece's
// parts; fails, told, when a well-formed source came out malformed or the
// resource grew beyond 32-bit offsets.
bool finish_gff_piece(ResourcePiece& piece, std::size_t index, const ModuleArchive& archive, Reporter& reporter);

// Reads the written module back: its tables within it and as written, every
// resource where it was written, and the bytes of each resource the writing
// did not already read back (cursor.checked on) as written. (A rebuilt GFF
// was checked well formed, where its source was, before it was written.)
bool verify_written_module(const ModuleArchive& archive, InputFile& written,
                           const OutputCursor& cursor, std::string& why);

}  // namespace modtext
