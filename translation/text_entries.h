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
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace modtext {

// "#KEY,LANGUAGE,GENDER->TEXT" of a GFF block. A text holds millions of
// these: each keeps where its line is and offsets within it, and gives its
// parts when asked.
class TextFieldLine {
public:
    // The offsets are within whole: of the language, after the key's comma,
    // and of the text, after "->".
    TextFieldLine(std::size_t number, std::string_view whole, std::size_t language_at, std::size_t text_at)
        : line(static_cast<std::uint32_t>(number)), size_(static_cast<std::uint32_t>(whole.size())),
          start_(whole.data()), language_at_(static_cast<std::uint32_t>(language_at)),
          text_at_(static_cast<std::uint32_t>(text_at)) {}

    std::string_view whole() const { return {start_, size_}; }  // the line without its end
    // As written: a table key or "langN".
    std::string_view language() const { return {start_ + language_at_, text_at_ - 3 - gender_size() - language_at_}; }
    std::string_view gender() const { return female() ? "female" : "male"; }
    std::string_view text() const { return {start_ + text_at_, size_ - text_at_}; }  // after "->", bars as written
    std::string_view label() const { return {start_, text_at_}; }
    // "LANGUAGE,GENDER->TEXT": the line without its key.
    std::string_view body() const { return {start_ + language_at_, size_ - language_at_}; }

    std::uint32_t line;  // counted from 1

private:
    // The reader takes only "male" and "female", so where the comma before
    // it stands tells which: "e" comes five before "->" only in "female".
    bool female() const { return start_[text_at_ - 7] != ','; }
    std::uint32_t gender_size() const { return female() ? 6 : 4; }

    std::uint32_t size_;
    const char* start_;
    std::uint32_t language_at_;
    std::uint32_t text_at_;
};

// The lines of one key that follow each other: a field's entries and
// template lines.
struct TextField {
    std::int64_t key = 0;
    std::span<const TextFieldLine> lines;
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
    std::span<const TextField> fields;
    std::span<const TextScriptLine> script_lines;
};

// The blocks view their fields and lines in the arrays below, one of each
// per text rather than one per field: a large text's entries then take a
// few times less memory. Moving keeps the views; copying would not.
struct TextEntries {
    TextEntries() = default;
    TextEntries(const TextEntries&) = delete;
    TextEntries& operator=(const TextEntries&) = delete;
    TextEntries(TextEntries&&) = default;
    TextEntries& operator=(TextEntries&&) = default;

    bool utf8 = false;  // a byte order mark, or a settings line saying so
    // The settings line's languages translated from, in its order.
    std::vector<std::string> settings_from;
    std::vector<TextBlock> blocks;
    // Lines starting with "#" it could not follow, for a command that tells
    // of them: a damaged header, and entries that are none or lie outside
    // any block.
    std::vector<std::size_t> unread_lines;
    // Every block's fields, field lines and script lines, in the text's order.
    std::vector<TextField> fields;
    std::vector<TextFieldLine> field_lines;
    std::vector<TextScriptLine> script_lines;
};

// The views point into text, which must outlive the result.
TextEntries read_text_entries(std::string_view text);

// The languages whose lines are a text's source texts: those given, else
// the settings line's, else english. Every other table language's lines are
// translations; lines of no table language are neither.
std::vector<std::string> source_languages(const TextEntries& entries, const std::vector<std::string>& given);

// Whether a field line is of a source language.
bool is_source_line(const TextFieldLine& line, const std::vector<std::string>& sources);

// Whether a field line is a translation: of a table language that is no
// source.
bool is_translation_line(const TextFieldLine& line, const std::vector<std::string>& sources);

// Whether a field line is a filled translation: one with a text.
bool is_filled_line(const TextFieldLine& line, const std::vector<std::string>& sources);

}  // namespace modtext
