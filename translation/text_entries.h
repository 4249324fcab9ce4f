// A translation text's entries as the translator left them: its resource
// blocks, each field's lines and each script line, every one with its line
// number and its bytes in the text. The commands that read a text without
// importing it (stats, check, update) all read this one representation;
// lines it cannot follow are left out here, and the import's parser is the
// one that tells of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modtext {

// "#KEY,LANGUAGE,GENDER->TEXT" of a GFF block.
struct TextFieldLine {
    std::size_t line = 0;           // counted from 1
    std::string_view whole;         // the line without its end
    std::string_view language;      // as written: a table key or "langN"
    std::string_view gender;        // "male" or "female"
    std::string_view text;          // after "->", bars as written
    std::string_view label() const { return whole.substr(0, whole.size() - text.size()); }
};

// The lines of one key that follow each other: a field's entries and
// template lines.
struct TextField {
    std::int64_t key = 0;
    std::vector<TextFieldLine> lines;
};

// "#NUMBER->TEXT" of a script block.
struct TextScriptLine {
    std::size_t line = 0;
    std::string_view whole;
    std::int64_t number = 0;  // the script's line, from 0
    std::string_view text;
};

struct TextBlock {
    std::size_t line = 0;  // of its "#File:" header
    std::string_view name;
    std::string_view letters;  // "NSS" for a script
    std::int64_t index = 0;
    bool script() const { return letters == "NSS"; }
    std::string resource() const { return std::string(name) + '.' + std::string(letters); }
    std::vector<TextField> fields;
    std::vector<TextScriptLine> script_lines;
};

struct TextEntries {
    bool utf8 = false;  // a byte order mark, or a settings line saying so
    // The settings line's languages translated from, in its order.
    std::vector<std::string> settings_from;
    std::vector<TextBlock> blocks;
    // Lines starting with "#" it could not follow, for a command that tells
    // of them: a damaged header, and entries that are none or lie outside
    // any block.
    std::vector<std::size_t> unread_lines;
};

// The views point into text, which must outlive the result.
TextEntries read_text_entries(std::string_view text);

// The languages whose lines are a text's source texts: those given, else
// the settings line's, else english. Every other table language's lines are
// translations; lines of no table language are neither.
std::vector<std::string> source_languages(const TextEntries& entries, const std::vector<std::string>& given);

// A field's source text: its lines of the source languages, each as
// "LANGUAGE,GENDER->TEXT", one after another.
std::string field_source(const TextField& field, const std::vector<std::string>& sources);

// Whether a field line is a translation: of a table language that is no
// source.
bool is_translation_line(const TextFieldLine& line, const std::vector<std::string>& sources);

}  // namespace modtext
