// What a translator may have broken in a filled line, found by comparing it
// with its source text: the tokens the game replaces (angle-bracket tokens
// and colour tags), the line breaks, the spaces at either end; and lines
// that merely repeat their source, which are noted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/po_file.h"
#include "translation/text_entries.h"

namespace modtext {

struct Finding {
    std::string severity;  // "error", "warning" or "note"
    std::size_t line = 0;  // counted from 1; 0 when the finding has none
    std::string resource;  // "NAME.XYZ", or empty
    std::optional<std::int64_t> field;
    std::string language;
    std::string kind;  // "token", "colour-tag", "line-breaks", "spaces", "same-as-source", or "import"
    std::string message;
};

// The tokens of a text: each "<...>" run without spaces, and each colour
// tag, "<c" with three colour bytes and ">" (in a UTF-8 text "<c#RRGGBB>")
// or "</c>", in order.
std::vector<std::string_view> text_tokens(std::string_view text);

// The findings of each filled translation line of a language of
// languages_mask against its source line: the source languages' line of the
// same gender, or else their male line.
std::vector<Finding> check_translations(const TextEntries& entries, const std::vector<std::string>& sources,
                                        std::uint16_t languages_mask);

// The same of each translated entry of a catalogue, its msgid the source;
// fuzzy entries only when the import would take them.
std::vector<Finding> check_catalogue(const PoCatalogue& catalogue, std::string_view language, bool use_fuzzy);

// "warning: line 14: module.IFO #4 french: ..." one per line, and a count.
std::string findings_table(const std::vector<Finding>& findings);
// A JSON array, one object per finding.
std::string findings_json(const std::vector<Finding>& findings);

// Whether any finding is an error or a warning.
bool has_problems(const std::vector<Finding>& findings);

}  // namespace modtext
