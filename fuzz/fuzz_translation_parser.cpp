// Any bytes as a translation text.
#include "fuzz_support.h"
#include "translation/translation_table.h"

using namespace modtext;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FormattingReporter reporter;
    TranslationTable table;
    parse_translation_lines(table, std::string_view(reinterpret_cast<const char*>(data), size),
                            reporter);
    for (const FileRecord& record : table.records) {
        FUZZ_CHECK(find_file_record(table, record.resource_index) != nullptr);
        for (const FieldEntry& entry : record.entries) {
            FUZZ_CHECK(!entry.variants.empty());
            FUZZ_CHECK(find_field_entry(record, entry.key) == &entry);
        }
    }
    return 0;
}
