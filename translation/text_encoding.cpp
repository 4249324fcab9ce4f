#include "translation/text_encoding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "formats/plain_bytes.h"

namespace modtext {

namespace {

constexpr std::string_view settings_tag = "//modtext:";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The value of count hex digits at text[at], or -1.
long hex_at(std::string_view text, std::size_t at, std::size_t count) {
    if (text.size() < at + count) return -1;
    long value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int digit = hex_value(text[at + i]);
        if (digit < 0) return -1;
        value = value << 4 | digit;
    }
    return value;
}

// "<#XX>" at text[at]: the byte, or -1.
long byte_escape_at(std::string_view text, std::size_t at) {
    if (text.size() < at + 5 || text[at + 1] != '#' || text[at + 4] != '>') return -1;
    return hex_at(text, at + 2, 2);
}

// "<c#RRGGBB>" at text[at]: the colour, or -1.
long colour_form_at(std::string_view text, std::size_t at) {
    if (text.size() < at + 10 || text[at + 1] != 'c' || text[at + 2] != '#' || text[at + 9] != '>') return -1;
    return hex_at(text, at + 3, 6);
}

// A colour tag of the module's bytes at text[at]: "<c", three bytes none
// of which is zero, ">".
bool colour_tag_at(std::string_view text, std::size_t at) {
    return text.size() >= at + 6 && text[at + 1] == 'c' && text[at + 5] == '>' && text[at + 2] != '\0' &&
           text[at + 3] != '\0' && text[at + 4] != '\0';
}

constexpr char hex_digits[] = "0123456789ABCDEF";

char* write_escape(char* to, unsigned char byte) {
    to[0] = '<';
    to[1] = '#';
    to[2] = hex_digits[byte >> 4];
    to[3] = hex_digits[byte & 15];
    to[4] = '>';
    return to + 5;
}

void append_escape(std::string& out, unsigned char byte) {
    char escape[5];
    out.append(escape, static_cast<std::size_t>(write_escape(escape, byte) - escape));
}

// Writes what a "<" at text[at] of the module's bytes becomes, at most 10
// bytes, and moves at past what it took: a colour tag's readable form, the
// escape of a "<" the import would take for an escape or a colour, or "<".
char* write_angle(std::string_view text, std::size_t& at, char* to) {
    if (colour_tag_at(text, at)) {
        *to++ = '<';
        *to++ = 'c';
        *to++ = '#';
        for (std::size_t k = 2; k < 5; ++k) {
            const auto byte = static_cast<unsigned char>(text[at + k]);
            *to++ = hex_digits[byte >> 4];
            *to++ = hex_digits[byte & 15];
        }
        *to++ = '>';
        at += 6;
        return to;
    }
    const bool taken_for_escape = byte_escape_at(text, at) >= 0 || colour_form_at(text, at) >= 0;
    ++at;
    if (taken_for_escape) return write_escape(to, '<');
    *to++ = '<';
    return to;
}

// Whether a decoded character may stand in the text as itself: controls
// are lost or split by editors, and the platforms map the private-use area
// differently.
bool plain_character(char32_t c) {
    return !(c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF));
}

bool all_plain(std::string_view utf8) {
    for (std::size_t at = 0; at < utf8.size();) {
        const auto c = read_utf8(utf8, at);
        if (!c || !plain_character(c->code_point)) return false;
        at += c->length;
    }
    return true;
}

// Texts are scanned eight bytes at a time: most of them are ASCII.
constexpr std::uint64_t every_byte(unsigned char byte) { return 0x0101010101010101u * byte; }

std::uint64_t load_word(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// How many bytes from the start are below 0x80.
std::size_t ascii_prefix(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t high = load_word(text.data() + i) & every_byte(0x80);
        if (high == 0) continue;
        if constexpr (std::endian::native == std::endian::little) {
            return i + static_cast<std::size_t>(std::countr_zero(high)) / 8;
        }
        break;
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i;
}

bool all_ascii(std::string_view text) { return ascii_prefix(text) == text.size(); }

// Where a byte at or after from that is not plain (plain_byte) is: a byte
// from 0x80 on, a control byte, DEL or "<". The size when there is none.
std::size_t next_special(std::string_view text, std::size_t from) {
    std::size_t i = from;
    if constexpr (std::endian::native == std::endian::little) {
        // A flag in each byte that is one; the lowest flag is never false.
        for (; i + 8 <= text.size(); i += 8) {
            const std::uint64_t word = load_word(text.data() + i);
            const std::uint64_t angles = word ^ every_byte('<'), deletes = word ^ every_byte(0x7F);
            const std::uint64_t found = (word | ((word - every_byte(0x20)) & ~word) |
                                         ((angles - every_byte(1)) & ~angles) | ((deletes - every_byte(1)) & ~deletes)) &
                                        every_byte(0x80);
            if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        }
    }
    for (; i < text.size(); ++i) {
        if (!plain_byte(static_cast<unsigned char>(text[i]))) return i;
    }
    return i;
}

// Whether any byte is 0x80 or above, or a "<".
bool has_high_or_angle(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint64_t word = load_word(text.data() + i);
        const std::uint64_t angles = word ^ every_byte('<');  // a zero byte where a "<" was
        if ((word | ((angles - every_byte(1)) & ~angles)) & every_byte(0x80)) return true;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80 || text[i] == '<') return true;
    }
    return false;
}

bool is_double_byte(std::uint16_t number) {
    return number == 932 || number == 936 || number == 949 || number == 950;
}

std::optional<std::uint16_t> code_page_number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !is_code_page(value)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::uint16_t script_page(const std::array<std::uint16_t, language_count>& languages, std::uint16_t from_mask) {
    for (std::size_t row = 0; row < language_count; ++row) {
        if (from_mask & language_bit(row)) return languages[row];
    }
    return languages[0];
}

}  // namespace

CodePages resolve_code_pages(const CodePageChoices& choices, std::uint16_t from_mask) {
    CodePages pages;
    for (std::size_t row = 0; row < language_count; ++row) {
        pages.languages[row] = choices.languages[row].value_or(default_code_page(row));
    }
    pages.other = choices.other.value_or(default_other_code_page);
    pages.script = choices.script.value_or(script_page(pages.languages, from_mask));
    return pages;
}

std::string settings_line(const CodePages& pages, const CodePageChoices& choices,
                          const SelectionState& selection) {
    std::string line(settings_tag);
    line += " encoding=utf-8 from=";
    if (selection.from_mask == all_languages_mask) {
        line += "all";
    } else if (selection.from_mask == 0) {
        line += "none";
    } else {
        const char* between = "";
        for (std::size_t row = 0; row < language_count; ++row) {
            if ((selection.from_mask & language_bit(row)) == 0) continue;
            line += between;
            line += LanguageTable[row].key;
            between = ",";
        }
    }
    line += " script=" + std::to_string(pages.script);
    for (std::size_t row = 0; row < language_count; ++row) {
        if (((selection.from_mask | selection.to_mask) & language_bit(row)) == 0) continue;
        line += ' ';
        line += LanguageTable[row].key;
        line += '=' + std::to_string(pages.languages[row]);
    }
    if (choices.other) line += " other=" + std::to_string(pages.other);
    return line + '\n';
}

std::vector<SettingsItem> settings_items(std::string_view text) {
    if (text.substr(0, utf8_bom.size()) == utf8_bom) text.remove_prefix(utf8_bom.size());
    std::string_view line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<SettingsItem> items;
    if (line.substr(0, settings_tag.size()) != settings_tag) return items;
    line.remove_prefix(settings_tag.size());
    while (!line.empty()) {
        const std::size_t gap = line.find_first_of(" \t");
        const std::string_view item = line.substr(0, gap);
        line.remove_prefix(gap == std::string_view::npos ? line.size() : gap + 1);
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos) items.push_back({item.substr(0, equals), item.substr(equals + 1)});
    }
    return items;
}

std::optional<TextSettings> read_text_settings(std::string_view text, const TextEncodingOptions& options,
                                               std::uint16_t from_mask, std::string& problem) {
    const bool bom = text.substr(0, utf8_bom.size()) == utf8_bom;
    // What the settings line says, when the text has one.
    CodePageChoices said;
    bool says_utf8 = false;
    std::string said_problem;
    for (const auto& [name, value] : settings_items(text)) {
        if (!said_problem.empty()) break;
        if (name == "encoding") {
            if (value != "utf-8" && value != "raw") said_problem = "unknown encoding \"" + std::string(value) + "\"";
            says_utf8 = value == "utf-8";
            continue;
        }
        const auto row = language_row_of_key(name);
        if (!row && name != "script" && name != "other") continue;  // from=, and what later versions add
        const auto page = code_page_number(value);
        if (!page) {
            said_problem = "code page \"" + std::string(value) + "\" for " + std::string(name) + " is not one of " +
                           std::string(code_page_list);
        } else if (row) {
            said.languages[*row] = page;
        } else {
            (name == "script" ? said.script : said.other) = page;
        }
    }
    TextSettings settings;
    if (options.encoding == TextEncoding::raw) return settings;
    // A text that says what this program cannot follow is not guessed at.
    if (!said_problem.empty()) {
        problem = said_problem;
        return std::nullopt;
    }
    settings.encoding = options.encoding.value_or(bom || says_utf8 ? TextEncoding::utf8 : TextEncoding::raw);
    if (settings.encoding == TextEncoding::raw) return settings;
    const CodePageChoices& chosen = options.code_pages;
    CodePageChoices merged = said;
    for (std::size_t row = 0; row < language_count; ++row) {
        if (chosen.languages[row]) merged.languages[row] = chosen.languages[row];
    }
    if (chosen.script) merged.script = chosen.script;
    if (chosen.other) merged.other = chosen.other;
    settings.pages = resolve_code_pages(merged, from_mask);
    return settings;
}

std::string describe(const Refusal& refusal) {
    char text[160];
    switch (refusal.kind) {
    case Refusal::not_in_code_page:
        std::snprintf(text, sizeof text, "U+%04X is not in code page %u", static_cast<unsigned>(refusal.value),
                      static_cast<unsigned>(refusal.code_page));
        break;
    case Refusal::not_utf8:
        std::snprintf(text, sizeof text, "byte 0x%02X is not UTF-8", static_cast<unsigned>(refusal.value));
        break;
    case Refusal::zero_colour:
        std::snprintf(text, sizeof text, "<c#%06X> holds a zero byte, which would end the text",
                      static_cast<unsigned>(refusal.value));
        break;
    case Refusal::unstable:
        std::snprintf(text, sizeof text,
                      "U+%04X is a control or private-use character, which code pages map differently; "
                      "write its bytes as <#XX>",
                      static_cast<unsigned>(refusal.value));
        break;
    case Refusal::zero_byte: return "<#00> would end the text";
    case Refusal::feed_in_script: return "<#0A> would break the script line in two";
    case Refusal::longer:
        std::snprintf(text, sizeof text, "its bytes in code page %u would be longer than its line",
                      static_cast<unsigned>(refusal.code_page));
        break;
    case Refusal::no_converter:
        std::snprintf(text, sizeof text, "this system cannot convert code page %u",
                      static_cast<unsigned>(refusal.code_page));
        break;
    }
    return text;
}

// ---- one code page

CodePageCodec::CodePageCodec(std::uint16_t number)
    : converter_(number), ok_(converter_.ok()), double_byte_(is_double_byte(number)) {
    if (!ok_) return;
    std::string ascii(128, '\0');
    for (std::size_t b = 0; b < ascii.size(); ++b) ascii[b] = static_cast<char>(b);
    std::string decoded, encoded;
    ascii_identity_ = converter_.decode(ascii, decoded) && decoded == ascii && converter_.encode(ascii, encoded) &&
                      encoded == ascii;
    for (std::size_t b = 0; b < bytes_.size(); ++b) {
        const char byte = static_cast<char>(b);
        ByteForm& form = bytes_[b];
        const std::string_view one(&byte, 1);
        if (writable(one, decoded) && decoded.size() <= 4 && read_utf8(decoded, 0)->length == decoded.size()) {
            form.form = Form::character;
            form.length = static_cast<std::uint8_t>(decoded.size());
            std::copy(decoded.begin(), decoded.end(), form.text);
            continue;
        }
        // It may begin a pair; or else it is escaped.
        if (double_byte_ && !converter_.decode(one, decoded)) form.form = Form::partial;
        form.length = static_cast<std::uint8_t>(write_escape(form.text, static_cast<unsigned char>(b)) - form.text);
    }
}

bool CodePageCodec::writable(std::string_view bytes, std::string& decoded) {
    decoded.clear();
    back_.clear();
    return converter_.decode(bytes, decoded) && all_plain(decoded) && converter_.encode(decoded, back_) &&
           back_ == bytes;
}

void CodePageCodec::decode(std::string_view text, bool bars, std::string& out) {
    if (double_byte_) return decode_in_runs(text, bars, out);
    // A single-byte page: printable ASCII as it is, a span at a time, and
    // every other byte as its form says, written in room for the most a
    // byte can take (an escape's five bytes) and appended once.
    const std::size_t most = 5 * text.size() + sizeof(ByteForm::text);
    if (room_size_ < most) {
        room_size_ = std::max(most, 2 * room_size_);
        room_ = std::make_unique_for_overwrite<char[]>(room_size_);
    }
    char* to = room_.get();
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t plain = ascii_identity_ ? next_special(text, i) : i;
        if (plain > i) {
            std::memcpy(to, text.data() + i, plain - i);
            to += plain - i;
            i = plain;
            if (i == text.size()) break;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '<') {
            to = write_angle(text, i, to);
        } else if (byte == '\n' && bars) {
            *to++ = '|';
            ++i;
        } else {
            const ByteForm& form = bytes_[byte];
            std::memcpy(to, form.text, sizeof form.text);
            to += form.length;
            ++i;
        }
    }
    out.append(room_.get(), static_cast<std::size_t>(to - room_.get()));
}

bool CodePageCodec::decodes_as_itself(std::string_view text) const {
    if (!ascii_identity_) return false;
    std::size_t from = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: any that is not plain but a line feed.
    const __m128i feeds = _mm_set1_epi8('\n');
    for (; from + 16 <= text.size(); from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
        const auto feed = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feeds)));
        if ((odd_bytes(bytes) & ~feed) != 0) return false;
    }
#endif
    for (std::size_t i = next_special(text, from); i < text.size(); i = next_special(text, i + 1)) {
        if (text[i] != '\n') return false;
    }
    return true;
}

void CodePageCodec::decode_in_runs(std::string_view text, bool bars, std::string& out) {
    // A double-byte page: the runs between the bytes that are never part
    // of a pair ("<", line feeds and other controls) are decoded whole.
    std::size_t run = 0;
    const auto flush = [&](std::size_t end) {
        const std::string_view bytes = text.substr(run, end - run);
        if (ascii_identity_ && all_ascii(bytes)) out += bytes;
        else if (!bytes.empty()) decode_double_byte(bytes, out);
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != '<' && byte != 0x7F) {
            ++i;
            continue;
        }
        flush(i);
        char form[10];
        char* end = form;
        if (byte == '\n' && bars) {
            *end++ = '|';
            ++i;
        } else if (byte == '<') {
            end = write_angle(text, i, form);
        } else {
            end = write_escape(form, byte);
            ++i;
        }
        out.append(form, static_cast<std::size_t>(end - form));
        run = i;
    }
    flush(text.size());
}

void CodePageCodec::decode_double_byte(std::string_view run, std::string& out) {
    // The run whole, when it comes back whole.
    if (writable(run, scratch_)) {
        out += scratch_;
        return;
    }
    // Otherwise character by character. The characters between two escapes
    // are kept only when, together, they come back as their bytes, as the
    // import will encode them together.
    std::string characters;
    std::size_t from = 0;  // where the bytes of those characters start
    const auto flush = [&](std::size_t end) {
        const std::string_view bytes = run.substr(from, end - from);
        back_.clear();
        if (converter_.encode(characters, back_) && back_ == bytes) {
            out += characters;
        } else {
            for (const char byte : bytes) append_escape(out, static_cast<unsigned char>(byte));
        }
        characters.clear();
    };
    for (std::size_t i = 0; i < run.size();) {
        const auto byte = static_cast<unsigned char>(run[i]);
        const ByteForm& form = bytes_[byte];
        if (form.form == Form::character) {
            characters.append(form.text, form.length);
            ++i;
            continue;
        }
        if (form.form == Form::partial && i + 1 < run.size()) {
            const std::string_view pair = run.substr(i, 2);
            if (writable(pair, scratch_) && read_utf8(scratch_, 0)->length == scratch_.size()) {
                characters += scratch_;
                i += 2;
                continue;
            }
        }
        // A byte that begins no character that may stand is escaped alone,
        // and the byte after it is looked at anew: whether a platform
        // decodes the pair to the private-use area or not at all, the text
        // is the same.
        flush(i);
        append_escape(out, byte);
        from = ++i;
    }
    flush(run.size());
}

void CodePageCodec::build_reverse() {
    reverse_.assign(0x10000, 0);
    if (ascii_identity_) {
        for (std::uint16_t b = 0; b < 0x80; ++b) reverse_[b] = static_cast<std::uint16_t>(b + 1);
    }
    for (std::size_t b = 0; b < bytes_.size(); ++b) {
        const ByteForm& form = bytes_[b];
        if (form.form != Form::character) continue;
        const char32_t c = read_utf8(std::string_view(form.text, form.length), 0)->code_point;
        if (c < 0x10000) reverse_[c] = static_cast<std::uint16_t>(b + 1);
    }
}

bool CodePageCodec::encode_run(std::string_view run, std::string& out, Refusal& why) {
    if (double_byte_) return encode_double_byte(run, out, why);
    if (reverse_.empty()) build_reverse();
    // Character by character into room for a byte per byte of the run: a
    // character that one byte of the page decodes to never takes more.
    // ASCII, and characters of two or three bytes found through the bytes
    // found once, are the usual kinds and go first; a character found so
    // is valid UTF-8 and may stand. Others are checked, and go through the
    // converter, which makes room for what it writes.
    out.resize(out.size() + run.size());
    char* to = out.data() + out.size() - run.size();
    const auto* const begin = reinterpret_cast<const unsigned char*>(run.data());
    const auto* const end = begin + run.size();
    const std::uint16_t* const reverse = reverse_.data();
    const bool ascii_identity = ascii_identity_;  // not read again after every byte written
    for (const unsigned char* p = begin; p < end;) {
        const unsigned char lead = *p;
        if (lead < 0x80 && ascii_identity) {
            if (end - p < 8) {
                *to++ = static_cast<char>(lead);
                ++p;
                continue;
            }
            // Eight bytes copied at once while they are ASCII, and of a word
            // that holds a byte that is not, those before it: to never
            // passes p's place, so they fit.
            while (end - p >= 8) {
                const std::uint64_t word = load_word(reinterpret_cast<const char*>(p));
                std::memcpy(to, &word, sizeof word);
                const std::uint64_t high = word & every_byte(0x80);
                if (high == 0) {
                    to += 8;
                    p += 8;
                    continue;
                }
                // The first byte in memory that is not ASCII.
                const auto ascii = static_cast<std::size_t>(std::endian::native == std::endian::little
                                                                ? std::countr_zero(high)
                                                                : std::countl_zero(high)) / 8;
                to += ascii;
                p += ascii;
                break;
            }
            continue;
        }
        std::uint16_t single = 0;
        std::size_t length = 0;
        if (lead >= 0xC2 && lead <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            single = reverse[(lead & 0x1Fu) << 6 | (p[1] & 0x3Fu)];
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && end - p >= 3 && (p[1] & 0xC0) == 0x80 &&
                   (p[2] & 0xC0) == 0x80) {
            const char32_t c = (lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
            // Overlong forms and surrogates are no characters a byte decodes to.
            single = c >= 0x800 ? reverse[c] : 0;
            length = 3;
        }
        if (single != 0) {
            *to++ = static_cast<char>(single - 1);
            p += length;
            continue;
        }
        const auto at = static_cast<std::size_t>(p - begin);
        const auto c = read_utf8(run, at);
        if (!c) {
            why = {Refusal::not_utf8, lead, number()};
            return false;
        }
        p += c->length;
        if (!encodable(*c, why)) return false;
        out.resize(static_cast<std::size_t>(to - out.data()));
        if (!exact_encoding(run.substr(at, c->length), out)) {
            why = {Refusal::not_in_code_page, static_cast<std::uint32_t>(c->code_point), number()};
            return false;
        }
        const std::size_t written = out.size();
        out.resize(written + static_cast<std::size_t>(end - p));
        to = out.data() + written;
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
    return true;
}

bool CodePageCodec::encodable(const Utf8Char& c, Refusal& why) const {
    // What the platforms map differently would give another module on
    // another platform.
    if (c.code_point >= 0x80 && !plain_character(c.code_point)) {
        why = {Refusal::unstable, static_cast<std::uint32_t>(c.code_point), number()};
        return false;
    }
    return true;
}

bool CodePageCodec::encode_double_byte(std::string_view run, std::string& out, Refusal& why) {
    if (ascii_identity_ && all_ascii(run)) {
        out += run;
        return true;
    }
    for (std::size_t at = 0; at < run.size();) {
        const auto c = read_utf8(run, at);
        if (!c) {
            why = {Refusal::not_utf8, static_cast<unsigned char>(run[at]), number()};
            return false;
        }
        if (!encodable(*c, why)) return false;
        at += c->length;
    }
    // The run whole, or else the first character that does not go is told.
    if (exact_encoding(run, out)) return true;
    for (std::size_t at = 0; at < run.size();) {
        const Utf8Char c = *read_utf8(run, at);
        if (!exact_encoding(run.substr(at, c.length), out)) {
            why = {Refusal::not_in_code_page, static_cast<std::uint32_t>(c.code_point), number()};
            return false;
        }
        at += c.length;
    }
    return true;
}

bool CodePageCodec::exact_encoding(std::string_view text, std::string& out) {
    // Only what decodes back to the text itself: a converter may write a
    // near character that reads back as another (a yen sign as the
    // backslash byte, say).
    const std::size_t start = out.size();
    back_.clear();
    if (converter_.encode(text, out) && converter_.decode(std::string_view(out).substr(start), back_) &&
        back_ == text) {
        return true;
    }
    out.resize(start);
    return false;
}

// ---- the codecs of a text

CodePageCodec& CodecSet::page(std::uint16_t number) {
    for (const auto& codec : codecs_) {
        if (codec->number() == number) return *codec;
    }
    codecs_.push_back(std::make_unique<CodePageCodec>(number));
    return *codecs_.back();
}

CodePageCodec& CodecSet::of(std::optional<std::int32_t> string_id) {
    std::size_t kind = language_count + 1;  // a script line
    if (string_id) {
        // The table row, as language_row_of_id gives it, without its search:
        // ids 0 to 11 and 256 to 263, two a row.
        const std::int32_t id = *string_id;
        kind = id >= 0 && id < 12 ? static_cast<std::size_t>(id) >> 1
               : id >= 256 && id < 264 ? 6 + (static_cast<std::size_t>(id - 256) >> 1)
                                       : language_count;
    }
    CodePageCodec*& codec = by_kind_[kind];
    if (!codec) {
        codec = &page(kind < language_count ? pages_.languages[kind]
                      : kind == language_count ? pages_.other
                                               : pages_.script);
    }
    return *codec;
}

// ---- export

bool TextDecoder::open(std::uint16_t mask, std::uint16_t& missing) {
    const CodePages& pages = codecs_.pages();
    std::vector<std::uint16_t> wanted{pages.script, pages.other};
    for (std::size_t row = 0; row < language_count; ++row) {
        if (mask & language_bit(row)) wanted.push_back(pages.languages[row]);
    }
    for (const std::uint16_t number : wanted) {
        if (!codecs_.page(number).ok()) {
            missing = number;
            return false;
        }
    }
    return true;
}

void TextDecoder::append_localized(std::string& out, std::int32_t string_id, std::string_view text) {
    codecs_.of(string_id).decode(text, true, out);
}

void TextDecoder::append_script(std::string& out, std::string_view line) {
    codecs_.of(std::nullopt).decode(line, false, out);
}

// ---- import

TextEncoder::Result TextEncoder::encode(std::string_view text, std::optional<std::int32_t> string_id,
                                        std::string& out, Refusal& why, bool plain) {
    CodePageCodec& page = codecs_.of(string_id);
    // Most texts are ASCII without escapes: they are their own bytes.
    if (page.ascii_identity() && (plain || !has_high_or_angle(text))) return Result::as_is;
    return encode_into(page, text, !string_id, out, why) ? Result::written : Result::refused;
}

bool TextEncoder::encode_into(CodePageCodec& page, std::string_view text, bool script, std::string& out,
                              Refusal& why) {
    out.clear();
    if (!page.ok()) {
        why = {Refusal::no_converter, 0, page.number()};
        return false;
    }
    std::size_t run = 0;
    const auto flush = [&](std::size_t end) { return page.encode_run(text.substr(run, end - run), out, why); };
    for (std::size_t i = 0; i < text.size();) {
        const void* angle = std::memchr(text.data() + i, '<', text.size() - i);
        if (!angle) break;
        i = static_cast<std::size_t>(static_cast<const char*>(angle) - text.data());
        if (const long byte = byte_escape_at(text, i); byte >= 0) {
            if (!flush(i)) return false;
            if (byte == 0 && !script) {
                why = {Refusal::zero_byte, 0, page.number()};
                return false;
            }
            if (byte == '\n' && script) {
                why = {Refusal::feed_in_script, 0, page.number()};
                return false;
            }
            out += static_cast<char>(byte);
            i += 5;
        } else if (const long colour = colour_form_at(text, i); colour >= 0) {
            if (!flush(i)) return false;
            const unsigned char red = static_cast<unsigned char>(colour >> 16),
                                green = static_cast<unsigned char>(colour >> 8),
                                blue = static_cast<unsigned char>(colour);
            if (red == 0 || green == 0 || blue == 0) {
                why = {Refusal::zero_colour, static_cast<std::uint32_t>(colour), page.number()};
                return false;
            }
            out += "<c";
            out += static_cast<char>(red);
            out += static_cast<char>(green);
            out += static_cast<char>(blue);
            out += '>';
            i += 10;
        } else {
            ++i;
            continue;
        }
        run = i;
    }
    return flush(text.size());
}

}  // namespace modtext
