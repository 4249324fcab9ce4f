// A module's text as a gettext PO catalogue for one target language: its
// export, its import, and the pieces both share (language codes, contexts,
// script string literals).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"
#include "core/languages.h"
#include "core/reporter.h"
#include "formats/module_archive.h"

namespace modtext {

// The ISO code a catalogue's Language header gives a table row: "fr",
// "zh_TW".
std::string_view po_language_code(std::size_t row);

// The table row of a Language header's code: by its primary subtag, any
// case, whatever region, script or variant follows ("fr_FR", "fr-CA",
// "fr"); for "zh", TW, HK, MO or Hant give chintrad, anything else
// chinsimpl.
std::optional<std::size_t> po_language_row(std::string_view code);

// The row of the language a catalogue's Language header names, when it is
// one of the ten.
template <class Catalogue>
std::optional<std::size_t> catalogue_language(const Catalogue& catalogue) {
    const std::optional<std::string_view> code = catalogue.header_field("Language");
    return code ? po_language_row(*code) : std::nullopt;
}

// A string literal of a script line: where its text lies between the
// quotes.
struct ScriptLiteral {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The string literals among the arguments of the speech calls of a line,
// outside comments, in order; in_comment when a block comment is open at
// its start. A literal that is not closed on its line is none.
std::vector<ScriptLiteral> speech_literals(std::string_view line, bool in_comment);

// Every string literal of a line, in order, whatever call it is an argument
// of: each quote opens one, read past backslash escapes, up to its closing
// quote; a line comment ends the search, and a literal not closed on its
// line is none.
std::vector<ScriptLiteral> script_literals(std::string_view line);

// A literal's text with the script escapes \" \\ \n \t undone; any other
// backslash stays as it is.
std::string unescape_script_literal(std::string_view literal);
// A text as a literal's inside: backslash, quote, line feed and tab escaped.
std::string escape_script_literal(std::string_view text);

class CodePageCodec;
struct LocString;

// A text of the module in UTF-8, its line feeds kept as line feeds (a
// catalogue escapes them itself): the text itself when it decodes to its
// own bytes, as most do, or else its decoding, held in room.
std::string_view decode_with_breaks(CodePageCodec& codec, std::string_view text, std::string& room);

// The text of a string's first substring of an id, if it has one: where a
// string holds two of one id, the first counts.
std::optional<std::string_view> first_text(const LocString& text, std::int32_t string_id);

// A context's parts: "NAME.XYZ[#INDEX]:FIELD[:female]" of a localized
// string, "NAME.NSS[#INDEX]:LINE:K" of a script literal.
struct PoContext {
    std::string_view header;  // "NAME.XYZ"
    std::optional<std::uint64_t> index;
    std::uint64_t key = 0;      // the field, or the script line
    std::uint64_t literal = 0;  // K
    bool female = false;
    bool script = false;
};
std::optional<PoContext> parse_po_context(std::string_view context);

// Reads a catalogue's contexts in turn, each as parse_po_context does. A
// resource's entries follow one another, and their contexts differ in
// their last number only: what comes before it is worked out once, for
// the male forms and for the female ones.
class PoContextReader {
public:
    std::optional<PoContext> read(std::string_view context);

private:
    struct Known {
        std::string stem;  // the context up to its last number
        PoContext parts;   // its header the context's first header_size bytes
        std::size_t header_size = 0;
        bool valid = false;
    };
    Known known_[2];  // male, female
};

struct PoExportOptions {
    std::size_t from_row = 0;              // the source language: its texts are the msgids
    std::optional<std::size_t> to_row;     // the target language; none for a template
    bool template_only = false;            // a .pot: no Language, every msgstr empty
    bool female = false;                   // a feminine entry for every field
    std::int32_t filter = 0;               // the export filter's row
    bool templates = false;                // the template resources too
    CodePageChoices code_pages;
};

struct PoImportOptions {
    std::optional<std::size_t> to_row;  // over the catalogue's Language header
    bool use_fuzzy = false;
    CodePageChoices code_pages;
    bool rehearse = false;  // tell every warning and error, write nothing
};

// Writes the catalogue of the loaded module to po_path, which it replaces
// only when the whole export succeeded. On success, summary tells what was
// written.
bool export_po(const ModuleArchive& archive, const std::string& po_path, const PoExportOptions& options,
               Reporter& reporter, std::string& summary);

// Writes a new module from the loaded module and the catalogue at po_path to
// output_path: each translated entry sets its target substring, and every
// other substring of the string, and its string reference, is kept. Nothing
// is written when the catalogue does not parse, names no language this
// program knows, or holds texts the target code page cannot store.
bool import_po(ModuleArchive& archive, const std::string& po_path, const std::string& output_path,
               const PoImportOptions& options, Reporter& reporter, std::string& summary);

}  // namespace modtext
