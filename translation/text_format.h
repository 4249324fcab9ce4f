// The lines of the translation text, written in one place so that every
// writer produces them alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/languages.h"

namespace modtext {

inline constexpr std::string_view block_end_gff = "////////////////////////////////\n\n";
inline constexpr std::string_view block_end_script = "\n////////////////////////////////\n\n";
inline constexpr std::string_view npc_to_player = "//NPC->PLAYER\n";
inline constexpr std::string_view player_to_npc = "//PLAYER->NPC\n";

// "#File:<name>.<letters>,<index>\n\n"
void append_header_line(std::string& out, std::string_view name, std::string_view letters,
                        std::size_t index);

// The language label of a string id: "<key>,<gender>", where the key of an id
// of no table language is "lang<id shifted right by one>".
std::string language_label(std::int32_t string_id);

// "#<key>,<label>-><text>\n", the text's line feeds written as "|".
void append_localized_entry(std::string& out, std::uint32_t key, std::int32_t string_id,
                            std::string_view text);

// The empty template lines of a field for the languages of to_mask, in
// table order: English one "male" line, every other language "male" then
// "female". Made once per mask, written for many fields.
class TemplateLines {
public:
    explicit TemplateLines(std::uint16_t to_mask);
    void append(std::string& out, std::uint32_t key) const;

private:
    std::string lines_;  // each line after its key, back to back
    std::vector<std::size_t> ends_;
};


// "#<line>-><text>\n"
void append_script_entry(std::string& out, std::size_t line, std::string_view text);

// Appends a localized text with every line feed written as "|".
void bar_line_feeds(std::string& out, std::string_view text);

}  // namespace modtext
