// The lines of the translation text, written in one place so that every
// writer produces them alike.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/languages.h"
#include "formats/locstring.h"
#include "translation/text_encoding.h"

namespace modtext {

inline constexpr std::string_view block_end_gff = "////////////////////////////////\n\n";
inline constexpr std::string_view block_end_script = "\n////////////////////////////////\n\n";
inline constexpr std::string_view npc_to_player = "//NPC->PLAYER\n";
inline constexpr std::string_view player_to_npc = "//PLAYER->NPC\n";

// A resource's name or type letters as a header line writes them: a line
// feed would break the line and a comma would move where the index is read,
// so such bytes of a damaged resource are written as "_"; in a UTF-8 text,
// so are bytes from 0x80 on, which are no UTF-8 there. The import binds a
// block by them too.
std::string header_part(std::string_view part, TextEncoding encoding = TextEncoding::raw);

// "#File:<name>.<letters>,<index>\n\n"
void append_header_line(std::string& out, std::string_view name, std::string_view letters,
                        std::size_t index, TextEncoding encoding = TextEncoding::raw);

// The language label of a string id: "<key>,<gender>", where the key of an id
// of no table language is "lang<id shifted right by one>".
std::string language_label(std::int32_t string_id);

// "#<key>,<label>-><text>\n", the text's line feeds written as "|". With
// a decoder, the text is written in UTF-8.
void append_localized_entry(std::string& out, std::uint32_t key, std::int32_t string_id,
                            std::string_view text, TextDecoder* utf8 = nullptr);

// The template lines of a field for the languages of to_mask, in table
// order: English one "male" line, every other language "male" then
// "female". A line of a language not among from_mask carries the field's
// existing text of that language and gender, so that a translation already
// in the module is kept; the others are empty. Made once per mask, written
// for many fields.
class TemplateLines {
public:
    TemplateLines(std::uint16_t to_mask, std::uint16_t from_mask);
    // Appends the lines of field key, whose existing substrings are given;
    // adds one to lines_written[row] for each line of a language row.
    void append(std::string& out, std::uint32_t key, const LocString& existing,
                std::span<std::size_t, language_count> lines_written, TextDecoder* utf8 = nullptr) const;

private:
    struct Line {
        std::string label;   // ",<language>,<gender>->"
        std::int32_t string_id = 0;
        std::size_t row = 0;
        bool carries_existing = false;
    };
    std::vector<Line> lines_;
};


// "#<line>-><text>\n"
void append_script_entry(std::string& out, std::size_t line, std::string_view text,
                         TextDecoder* utf8 = nullptr);

// Appends a localized text with every line feed written as "|".
void bar_line_feeds(std::string& out, std::string_view text);

// A substring's text as the game reads it: up to its first zero byte.
std::string_view substring_text(const LocSubstring& substring);

}  // namespace modtext
