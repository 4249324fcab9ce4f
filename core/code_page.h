// The Windows code pages a module's texts are stored in, which code page
// each language uses, and the platform's converter between a code page and
// UTF-8: iconv on POSIX systems, the Windows API on Windows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/languages.h"

namespace modtext {

// The code pages a text may be declared in.
inline constexpr std::array<std::uint16_t, 14> code_pages{874,  932,  936,  949,  950,  1250, 1251,
                                                          1252, 1253, 1254, 1255, 1256, 1257, 1258};
bool is_code_page(std::uint64_t number);

// "874, 932, 936, 949, 950 or 1250 to 1258", for messages.
inline constexpr std::string_view code_page_list = "874, 932, 936, 949, 950 or 1250 to 1258";

// The code page a language's texts are stored in unless the user says
// otherwise, by table row.
std::uint16_t default_code_page(std::size_t row);

// The code page of texts of no table language, unless the user says otherwise.
inline constexpr std::uint16_t default_other_code_page = 1252;

// How the texts of a translation text are written: as the module stores
// them, or as UTF-8 decoded from each language's code page.
enum class TextEncoding { raw, utf8 };

// The code pages the user chose, each over its default: per language row,
// for script lines, and for texts of no table language.
struct CodePageChoices {
    std::array<std::optional<std::uint16_t>, language_count> languages{};
    std::optional<std::uint16_t> script;
    std::optional<std::uint16_t> other;
    bool operator==(const CodePageChoices&) const = default;
};

// How an action writes or reads the translation text's bytes. Export
// writes raw unless told utf8; import decides from the text unless told.
struct TextEncodingOptions {
    std::optional<TextEncoding> encoding;
    CodePageChoices code_pages;
};

// Reads "LANG=CP", a language key, "script" or "other" and a code page of
// the list, into the choices. Returns what is wrong with it, or none.
std::optional<std::string> add_code_page_choice(CodePageChoices& choices, std::string_view choice);

// One code page's converter. Neither direction substitutes a near
// character: a byte sequence that does not decode, or a character the code
// page cannot hold exactly, fails the call. Each call converts its input
// whole and stands alone: no state carries over from one call to the next.
// Not to be shared between threads.
class CodePageConverter {
public:
    // Opens the platform's converters of a code page; ok() tells whether the
    // platform has them.
    explicit CodePageConverter(std::uint16_t number);
    ~CodePageConverter();
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    bool ok() const;
    std::uint16_t number() const { return number_; }

    // Appends the bytes, decoded, to out as UTF-8. False, with out as it
    // was, when any sequence of them does not decode.
    bool decode(std::string_view bytes, std::string& out);
    // Appends valid UTF-8 text, encoded, to out. False, with out as it was,
    // when any character of it has no exact form in the code page.
    bool encode(std::string_view utf8, std::string& out);

private:
    struct Platform;
    std::uint16_t number_;
    std::unique_ptr<Platform> platform_;
};

// UTF-8 helpers shared by the back ends and the text conversion.

// Appends a code point as UTF-8.
void append_utf8(std::string& out, char32_t code_point);

// The code point of the valid UTF-8 sequence starting at text[at], and its
// length; none when the bytes there are not one (overlong forms and
// surrogates included).
struct Utf8Char {
    char32_t code_point;
    std::size_t length;
};
inline std::optional<Utf8Char> read_utf8(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return Utf8Char{lead, 1};
    std::size_t length = 0;
    char32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07u, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
        c = c << 6 | (byte(at + i) & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    return Utf8Char{c, length};
}

}  // namespace modtext
