// The translation text in UTF-8: each text decoded from its language's code
// page on export and encoded back on import, exactly.
//
// What a UTF-8 text cannot carry as characters is written in escapes:
//   <#XX>        the byte XX (two hex digits): a byte the code page does not
//                define, a broken double-byte sequence, a control byte, or
//                the "<" of a literal escape or colour form in the source;
//   <c#RRGGBB>   a colour tag: "<c", the three bytes red, green and blue,
//                and ">".
// A sequence of the code page is written as a character only when it
// decodes, is no control (U+0000 to U+001F, U+007F to U+009F) nor in the
// private-use area (U+E000 to U+F8FF), and encodes back to the same bytes
// on this platform. Everything else is escaped, so the bytes come back
// exactly wherever the text is imported.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"
#include "core/languages.h"

namespace modtext {

inline constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// The code page of each kind of text.
struct CodePages {
    std::array<std::uint16_t, language_count> languages{};  // by table row
    std::uint16_t script = 1252;
    std::uint16_t other = default_other_code_page;
    bool operator==(const CodePages&) const = default;
};

// The defaults under the choices. Script lines take the choice for
// scripts, or else the code page of the first language of from_mask in
// table order (English's when it has none).
CodePages resolve_code_pages(const CodePageChoices& choices, std::uint16_t from_mask);

// The line a UTF-8 export starts with, after its byte order mark: the
// encoding, the languages translated from, the scripts' code page, each
// language of from_mask and to_mask with its code page, and other's when
// chosen. "//modtext: encoding=utf-8 from=polish script=1250 polish=1250\n"
std::string settings_line(const CodePages& pages, const CodePageChoices& choices,
                          const SelectionState& selection);

// One "name=value" item of a text's settings line.
struct SettingsItem {
    std::string_view name, value;
};
// The items of the text's settings line (its first, "//modtext: ...", after
// any UTF-8 byte order mark), in order; none when it has none. Blanks part
// the items; a word without "=" is none.
std::vector<SettingsItem> settings_items(std::string_view text);

// How an import reads a text, decided from the text itself: UTF-8 when it
// starts with a byte order mark or its settings line says utf-8, raw
// otherwise, unless the options force one. The settings line's code pages
// apply under the options' choices; what neither gives is the default, and
// script lines take the code page of the first language of from_mask.
struct TextSettings {
    TextEncoding encoding = TextEncoding::raw;
    CodePages pages;
};
// Fails, with the problem told, when the settings line holds what this
// program cannot follow (an unknown encoding, a code page not in the list).
std::optional<TextSettings> read_text_settings(std::string_view text, const TextEncodingOptions& options,
                                               std::uint16_t from_mask, std::string& problem);

// Why a UTF-8 text cannot be stored as it is.
struct Refusal {
    enum Kind : std::uint8_t {
        not_in_code_page,  // value: the character
        not_utf8,          // value: the byte
        unstable,          // value: a C1 control or private-use character
        zero_colour,       // value: the colour, 0xRRGGBB
        zero_byte,         // a "<#00>" in a localized text
        feed_in_script,    // a "<#0A>" in a script line
        no_converter,      // this system cannot convert the code page
        longer,            // its bytes would be longer than its line
    };
    Kind kind = not_in_code_page;
    std::uint32_t value = 0;
    std::uint16_t code_page = 0;
};
// "U+0142 is not in code page 1252", and the like.
std::string describe(const Refusal& refusal);

// One code page's conversion of texts, with what the platform's converter
// makes of each single byte found once, so that single-byte texts need no
// call per text.
class CodePageCodec {
public:
    explicit CodePageCodec(std::uint16_t number);
    bool ok() const { return ok_; }
    std::uint16_t number() const { return converter_.number(); }
    // Whether the bytes 0 to 127 are those characters both ways.
    bool ascii_identity() const { return ascii_identity_; }

    // Appends a text of the module as UTF-8 and escapes; with bars, its
    // line feeds as "|".
    void decode(std::string_view text, bool bars, std::string& out);
    // Whether a text, its line feeds left as they are, decodes to its own
    // bytes: printable ASCII but "<", in a page whose ASCII is its own.
    bool decodes_as_itself(std::string_view text) const;
    // Appends a run of typed text, holding no escape, in the code page.
    bool encode_run(std::string_view run, std::string& out, Refusal& why);

private:
    enum class Form : std::uint8_t { character, escaped, partial };
    // What a byte alone is written as: its character in UTF-8, or its
    // escape.
    struct ByteForm {
        Form form = Form::escaped;
        std::uint8_t length = 0;
        char text[8] = {};
    };
    // Whether bytes decode to characters that may stand, which encode back
    // to the bytes.
    bool writable(std::string_view bytes, std::string& decoded);
    // Appends the text encoded, when it decodes back to itself.
    bool exact_encoding(std::string_view text, std::string& out);
    void decode_in_runs(std::string_view text, bool bars, std::string& out);
    void decode_double_byte(std::string_view run, std::string& out);
    void build_reverse();
    // Whether a typed character may be encoded at all: not one the
    // platforms map differently.
    bool encodable(const Utf8Char& c, Refusal& why) const;
    bool encode_double_byte(std::string_view run, std::string& out, Refusal& why);

    CodePageConverter converter_;
    bool ok_ = false;
    bool double_byte_ = false;
    bool ascii_identity_ = false;
    std::array<ByteForm, 256> bytes_{};
    // Single-byte pages, once encoding is asked for: the byte of each code
    // point below 0x10000 that one byte decodes to, plus one; 0 for none.
    std::vector<std::uint16_t> reverse_;
    std::string scratch_, back_;
    // Where a text is decoded before it is appended, never cleared.
    std::unique_ptr<char[]> room_;
    std::size_t room_size_ = 0;
};

// The codecs of the code pages a text's kinds are in, each made once, and
// found by a text's string id (none for a script line) without a search.
class CodecSet {
public:
    explicit CodecSet(const CodePages& pages) : pages_(pages) {}
    CodePageCodec& of(std::optional<std::int32_t> string_id);
    CodePageCodec& page(std::uint16_t number);
    const CodePages& pages() const { return pages_; }

private:
    CodePages pages_;
    std::vector<std::unique_ptr<CodePageCodec>> codecs_;
    // By language row, then other languages, then script lines.
    std::array<CodePageCodec*, language_count + 2> by_kind_{};
};

// Export: appends the module's texts to a UTF-8 translation text.
class TextDecoder {
public:
    explicit TextDecoder(const CodePages& pages) : codecs_(pages) {}
    // Opens the converters of every code page a text may need: those of
    // the languages of mask, of script lines and of other languages. False,
    // with the first missing one in missing, when this system lacks one.
    bool open(std::uint16_t mask, std::uint16_t& missing);

    // A localized text of string_id, its line feeds written as bars.
    void append_localized(std::string& out, std::int32_t string_id, std::string_view text);
    // A script line.
    void append_script(std::string& out, std::string_view line);
    const CodePages& pages() const { return codecs_.pages(); }

private:
    CodecSet codecs_;
};

// Import: encodes the typed texts into their code pages.
class TextEncoder {
public:
    explicit TextEncoder(const CodePages& pages) : codecs_(pages) {}
    // The text of string_id (none: a script line) in its code page: as it
    // is, when it is ASCII without escapes in a page where ASCII is itself
    // (out untouched); or written to out, replacing what out held; or
    // refused, with why.
    enum class Result { as_is, written, refused };
    // A text known to hold no byte of 0x80 or above and no "<" (plain) is
    // not looked through again for them.
    Result encode(std::string_view text, std::optional<std::int32_t> string_id, std::string& out, Refusal& why,
                  bool plain = false);
    std::uint16_t code_page(std::optional<std::int32_t> string_id) {
        return codecs_.of(string_id).number();
    }

private:
    bool encode_into(CodePageCodec& page, std::string_view text, bool script, std::string& out, Refusal& why);

    CodecSet codecs_;
};

}  // namespace modtext
