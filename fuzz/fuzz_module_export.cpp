// Any bytes as a module archive, through the table reader and the whole export.
#include "fuzz_support.h"
#include "formats/module_archive.h"
#include "translation/exporters.h"

using namespace modtext;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FormattingReporter reporter;
    InputFile source;
    source.open_memory(ByteView(data, size));
    ModuleArchive archive;
    if (!read_module_tables(archive, source, "fuzz.mod", reporter)) return 0;
    FUZZ_CHECK(archive.keys.size() == archive.resources.size());
    FUZZ_CHECK(archive.gap_block.size() == 8 * archive.keys.size());
    StagedOutput text;
    text.create_in_memory();
    // Memory never reads short.
    FUZZ_CHECK(export_blocks(archive, source, text, {all_languages_mask, all_languages_mask, 0}, reporter));
    FUZZ_CHECK(text.commit());
    return 0;
}
