// Any bytes as two translation texts, an old one before the first zero byte
// and a new one after it (or the same text twice), through the update's
// merge: the merged text must read as the new one's entries, with a count
// for each of them.
#include <string_view>

#include "fuzz_support.h"
#include "translation/text_update.h"

using namespace modtext;

namespace {

// The entries' places: blocks, field keys and line counts, script line
// numbers. Carried texts and inserted comments leave them as they are.
std::string shape(const TextEntries& entries) {
    std::string out;
    for (const TextBlock& block : entries.blocks) {
        out += "F" + block.resource() + "," + std::to_string(block.index) + "\n";
        for (const TextField& field : block.fields) {
            out += "K" + std::to_string(field.key) + "x" + std::to_string(field.lines.size()) + "\n";
        }
        for (const TextScriptLine& line : block.script_lines) out += "S" + std::to_string(line.number) + "\n";
    }
    return out;
}

std::size_t to_translate(const TextEntries& entries, const std::vector<std::string>& sources) {
    std::size_t count = 0;
    for (const TextBlock& block : entries.blocks) {
        count += block.script_lines.size();
        for (const TextField& field : block.fields) {
            for (const TextFieldLine& line : field.lines) {
                if (is_translation_line(line, sources)) {
                    ++count;
                    break;
                }
            }
        }
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string_view old_text = input.substr(0, zero);
    const std::string_view new_text = zero == std::string_view::npos ? input : input.substr(zero + 1);
    fuzzing::RecordingReporter reporter;
    UpdateCounts counts;
    const std::string merged = merge_update_texts(old_text, new_text, {}, counts, reporter);

    const TextEntries fresh = read_text_entries(new_text);
    const TextEntries result = read_text_entries(merged);
    FUZZ_CHECK(shape(result) == shape(fresh));
    FUZZ_CHECK(result.utf8 == fresh.utf8);
    FUZZ_CHECK(counts.exact + counts.by_text + counts.source_changed + counts.fresh ==
               to_translate(fresh, source_languages(fresh, {})));
    return 0;
}
