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
    // What export writes, import reads back as one block for this resource,
    // unless a text holds "#File:", which a reader takes for a header line.
    TranslationTable table;
    fuzzing::RecordingReporter parse_reporter;
    parse_translation_lines(table, out, parse_reporter);
    if (!out.empty() && out.find("#File:", 1) == std::string::npos) {
        FUZZ_CHECK(table.record_count() == 1 && table.resource_index(0) == 3);
        FUZZ_CHECK(parse_reporter.problems == 0);
    }
    return 0;
}
