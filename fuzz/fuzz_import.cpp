// A small module and any bytes as its translation text, through the whole
// import; the output must be a readable module of as many resources.
#include "fuzz_support.h"
#include "formats/module_archive.h"
#include "translation/rebuild.h"

using namespace modtext;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const build::Bytes module = fuzzing::mini_module();
    fuzzing::FormattingReporter reporter;
    InputFile source;
    source.open_memory(module);
    ModuleArchive archive;
    FUZZ_CHECK(read_module_tables(archive, source, "demo.mod", reporter));
    const std::size_t count = archive.count();

    TranslationTable table;
    parse_translation_lines(table, std::string_view(reinterpret_cast<const char*>(data), size),
                            reporter);
    StagedOutput output;
    output.create_in_memory();
    // A text may name a resource that is no GFF: that import fails, reported.
    if (!write_module_to(archive, source, output, table, {0x3FF, 0, 0}, reporter)) return 0;
    FUZZ_CHECK(output.commit());

    InputFile written;
    written.open_memory(output.memory());
    ModuleArchive result;
    FUZZ_CHECK(read_module_tables(result, written, "out.mod", reporter));
    FUZZ_CHECK(result.count() == count);
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i) FUZZ_CHECK(read_resource(written, result, i, bytes, reporter));
    return 0;
}
