// Any bytes as a translation text, parsed whole and in two halves.
#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

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

// The table as one text, to compare two parses: its header lines, letters
// and counts included.
std::string contents(const TranslationTable& table) {
    std::string out;
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const FileRecord record = table.record(i);
        out += "F" + std::string(record.name) + "." + std::string(record.letters) + "," +
               std::to_string(record.resource_index) + "@" + std::to_string(record.header_line()) + "\n";
        for (const VariantRun& run : record.runs()) {
            out += "E" + std::to_string(run.key()) + "\n";
            for (const TextVariant variant : run) {
                out += "V" + std::to_string(variant.string_id) + "," + std::to_string(variant.text.size()) + ":";
                out.append(variant.text);
            }
        }
    }
    const TextCounts& counts = table.counts();
    for (const LineCounts& c : counts.languages) out += "C" + std::to_string(c.filled) + "/" + std::to_string(c.empty);
    out += "O" + std::to_string(counts.other_languages.filled) + "/" + std::to_string(counts.other_languages.empty);
    out += "S" + std::to_string(counts.script_lines);
    return out;
}

// The line, counted from 1, of each byte of a text.
std::vector<std::size_t> lines_of(std::string_view text) {
    std::vector<std::size_t> lines(text.size() + 1, 1);
    for (std::size_t i = 0; i < text.size(); ++i) lines[i + 1] = lines[i] + (text[i] == '\n');
    return lines;
}

// Lines are counted as the text had them, whatever the parse wrote: each
// header's, and some 64 variants' a record, a count costing up to the
// record's size.
void check_lines(const TranslationTable& table, const std::vector<std::size_t>& lines) {
    const auto line_in = [&](const char* at) { return lines[static_cast<std::size_t>(at - table.storage.data())]; };
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const FileRecord record = table.record(i);
        FUZZ_CHECK(record.header_line() == line_in(record.name.data()));
        const auto line_counted = [&](std::size_t v) {
            const VariantRun one(&table, v, 1);
            FUZZ_CHECK(one.line() == line_in(one.front().text.data()));
        };
        const std::size_t step = 1 + (record.end - record.first) / 64;
        for (std::size_t v = record.first; v < record.end; v += step) line_counted(v);
        if (record.end > record.first) line_counted(record.end - 1);
    }
}

// The ordinal of the first record naming index, found both ways.
std::size_t first_record(const TranslationTable& table, TextNumber index) {
    const std::optional<FileRecord> found = find_file_record(table, index);
    FUZZ_CHECK(found.has_value());
    std::size_t ordinal = 0;
    while (table.record(ordinal).name.data() != found->name.data()) ++ordinal;
    if (index >= 0 && index < 64) {
        const std::optional<FileRecord> by_index = RecordsByIndex(table, 64).find(index);
        FUZZ_CHECK(by_index && by_index->name.data() == found->name.data());
    }
    return ordinal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    JoiningReporter reporter;
    TranslationTable table;
    const bool taken = parse_translation_lines(table, text, reporter, std::numeric_limits<std::size_t>::max());
    FUZZ_CHECK(taken || table.record_count() == 0);
    const std::vector<std::size_t> lines = lines_of(text);
    check_lines(table, lines);
    std::size_t variants = 0;
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const FileRecord record = table.record(i);
        FUZZ_CHECK(first_record(table, record.resource_index) <= i);
        // The variants lie back to back, grouped by key, the keys ascending;
        // a search and a walk find each key's whole group.
        FUZZ_CHECK(record.first == variants);
        variants = record.end;
        EntryWalk walk(record);
        std::size_t next = record.first;
        TextNumber previous_key = 0;
        for (const VariantRun& run : record.runs()) {
            FUZZ_CHECK(run.first() == next && !run.empty());
            FUZZ_CHECK(next == record.first || run.key() > previous_key);
            previous_key = run.key();
            next += run.size();
            const VariantRun found = record.find(run.key());
            FUZZ_CHECK(found.first() == run.first() && found.size() == run.size());
            const VariantRun walked = walk.find(run.key());
            FUZZ_CHECK(walked.first() == run.first() && walked.size() == run.size());
        }
        FUZZ_CHECK(next == record.end);
    }
    FUZZ_CHECK(variants == table.variant_count());
    std::size_t counted = table.counts().script_lines + table.counts().other_languages.filled +
                          table.counts().other_languages.empty;
    for (const LineCounts& c : table.counts().languages) counted += c.filled + c.empty;
    FUZZ_CHECK(counted == variants);

    JoiningReporter halves_reporter;
    TranslationTable halves;
    FUZZ_CHECK(parse_translation_lines(halves, text, halves_reporter, 0) == taken);
    check_lines(halves, lines);
    FUZZ_CHECK(contents(halves) == contents(table));
    FUZZ_CHECK(halves_reporter.all == reporter.all);
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const TextNumber index = table.resource_index(i);
        FUZZ_CHECK(first_record(halves, index) == first_record(table, index));
    }
    return 0;
}
