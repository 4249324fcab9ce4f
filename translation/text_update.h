// Carrying a translator's filled text from the text of an old version of a
// module onto a fresh export of the new version, line by line, so that only
// what is new or changed is left to translate.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"
#include "core/reporter.h"
#include "translation/text_entries.h"

namespace modtext {

struct UpdateOptions {
    // Forces how both texts are read; by default each says it itself, and
    // two that differ are refused.
    std::optional<TextEncoding> encoding;
    // The languages whose lines are the source texts; empty for the new
    // text's settings line's, else english.
    std::vector<std::string> sources;
};

struct UpdateCounts {
    std::size_t exact = 0;           // same resource, key and source; script lines unchanged
    std::size_t by_text = 0;         // same source elsewhere; script lines whose literals differ
    std::size_t source_changed = 0;  // and script lines whose code changed
    std::size_t fresh = 0;           // to translate from scratch
    bool operator==(const UpdateCounts&) const = default;
};

// "N carried exactly, N carried by text, N source changed, N new."
std::string update_summary(const UpdateCounts& counts);

// Where the merged text goes, piece by piece.
using TextSink = std::function<void(std::string_view)>;

// Writes new_text to out with the translations of old_entries carried onto
// its template lines and script lines, and the comments that tell the
// translator what to check. new_entries must be new_text's, and old_entries'
// text must outlive the call. What repeats in the old text is warned of,
// under old_name; its first occurrence counts.
UpdateCounts merge_update(const TextEntries& old_entries, std::string_view old_name, std::string_view new_text,
                          const TextEntries& new_entries, const std::vector<std::string>& sources,
                          const TextSink& out, Reporter& reporter);

// The same on two whole texts, the sources as source_languages gives them
// for the new text, the result returned, repeats warned of under the name
// "OLD": for tests and fuzzing.
std::string merge_update_texts(std::string_view old_text, std::string_view new_text,
                               const std::vector<std::string>& given_sources, UpdateCounts& counts,
                               Reporter& reporter);

}  // namespace modtext
