// Any bytes as a translation text, parsed whole and in two halves.
#include <limits>
#include <string>

#include "fuzz_support.h"
#include "translation/translation_table.h"

using namespace modtext;

namespace {

// Every diagnostic, as one text.
class JoiningReporter final : public Reporter {
public:
    bool wants(Severity) const override { return true; }
    void diagnostic(Severity, std::string_view text) override { all.append(text); }
    void error_box(std::string_view text) override { all.append(text); }
    void info_box(std::string_view text) override { all.append(text); }
    void kept_text(std::string_view text) override { all.append(text); }
    std::string all;
};

// The table as one text, to compare two parses.
std::string contents(const TranslationTable& table) {
    std::string out;
    for (const FileRecord& record : table.records) {
        out += "F" + record.name + "," + std::to_string(record.resource_index) + "\n";
        for (const FieldEntry& entry : record.entries) {
            out += "E" + std::to_string(entry.key) + "\n";
            for (const TextVariant& variant : record.variants_of(entry)) {
                out += "V" + std::to_string(variant.string_id) + "," +
                       std::to_string(variant.text.size()) + ":";
                out.append(variant.text);
            }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    JoiningReporter reporter;
    TranslationTable table;
    parse_translation_lines(table, text, reporter, std::numeric_limits<std::size_t>::max());
    for (const FileRecord& record : table.records) {
        FUZZ_CHECK(find_file_record(table, record.resource_index) != nullptr);
        // The entries' variants lie back to back, each entry's together.
        std::size_t next = 0;
        for (const FieldEntry& entry : record.entries) {
            FUZZ_CHECK(entry.first == next && entry.count > 0);
            next += entry.count;
            FUZZ_CHECK(find_field_entry(record, entry.key) == &entry);
        }
        FUZZ_CHECK(next == record.variants.size());
    }

    JoiningReporter halves_reporter;
    TranslationTable halves;
    parse_translation_lines(halves, text, halves_reporter, 0);
    FUZZ_CHECK(contents(halves) == contents(table));
    FUZZ_CHECK(halves_reporter.all == reporter.all);
    for (const FileRecord& record : table.records) {
        const FileRecord* first = find_file_record(table, record.resource_index);
        const FileRecord* halves_first = find_file_record(halves, record.resource_index);
        FUZZ_CHECK(halves_first != nullptr &&
                   halves_first - halves.records.data() == first - table.records.data());
    }
    return 0;
}
