// Any bytes as one GFF resource, exported as a conversation with every language.
#include "fuzz_support.h"
#include "translation/exporters.h"
#include "translation/translation_table.h"

using namespace modtext;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FormattingReporter reporter;
    GffImage image;
    std::string out;
    const ResourceView resource{3, "fuzz", resource_type::conversation, ByteView(data, size)};
    if (!export_gff_strings(out, resource, image, {all_languages_mask, all_languages_mask, 0},
                            reporter)) {
        return 0;
    }
    // What export writes, import reads back without a warning.
    TranslationTable table;
    fuzzing::FormattingReporter parse_reporter;
    parse_translation_lines(table, out, parse_reporter);
    FUZZ_CHECK(out.empty() || table.records.size() == 1);
    return 0;
}
