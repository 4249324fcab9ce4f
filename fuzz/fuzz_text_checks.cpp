// Any bytes as a translation text, read as the commands that do not import
// it read one: every entry lies within the text on the line it says, the
// progress counts each translation line once, and each finding names a
// translation line of the text.
#include <algorithm>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "translation/entry_stats.h"
#include "translation/text_checks.h"
#include "translation/text_entries.h"

using namespace modtext;

namespace {

bool within(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    const TextEntries entries = read_text_entries(text);
    const std::vector<std::string> sources = source_languages(entries, {});
    FUZZ_CHECK(!sources.empty());
    std::set<std::size_t> translation_lines;
    std::size_t translations = 0;
    for (const TextBlock& block : entries.blocks) {
        FUZZ_CHECK(block.line >= 1 && block.line <= lines && within(block.name, text) && within(block.letters, text));
        for (const TextField& field : block.fields) {
            FUZZ_CHECK(!field.lines.empty());
            for (const TextFieldLine& line : field.lines) {
                FUZZ_CHECK(line.line > block.line && line.line <= lines && within(line.whole(), text));
                FUZZ_CHECK(within(line.text(), line.whole()) &&
                           line.label().size() + line.text().size() == line.whole().size());
                if (is_translation_line(line, sources)) {
                    ++translations;
                    if (!line.text().empty()) translation_lines.insert(line.line);
                }
            }
        }
        for (const TextScriptLine& line : block.script_lines) {
            FUZZ_CHECK(line.line > block.line && line.line <= lines && within(line.text, line.whole));
        }
    }
    std::uint64_t counted = 0;
    for (const auto& [language, progress] : text_progress(text)) counted += progress.filled + progress.empty;
    FUZZ_CHECK(counted == translations);
    const std::vector<Finding> findings = check_translations(entries, sources, 0x3FF);
    for (const Finding& finding : findings) FUZZ_CHECK(translation_lines.count(finding.line) == 1);
    const std::string json = findings_json(findings);
    FUZZ_CHECK(json.front() == '[' && json.ends_with("]\n"));
    return 0;
}
