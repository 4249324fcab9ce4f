#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <future>
#include <limits>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/languages.h"
#include "formats/files.h"
#include "translation/text_encoding.h"
#include "translation/text_format.h"
#include "translation/translation_table.h"

namespace modtext {

namespace {

constexpr auto npos = std::string_view::npos;

// A decimal number: white space skipped, an optional sign, digits up to the
// first non-digit, 0 without digits. A value beyond 32 signed bits becomes
// one that names nothing.
TextNumber read_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr TextNumber limit = TextNumber{1} << 40;
    TextNumber value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < limit) value = value * 10 + (text[i] - '0');
    }
    if (value > std::numeric_limits<std::int32_t>::max()) return no_text_number;
    return negative ? -value : value;
}

// The male string id of a language key: a table key, or "lang<N>" as
// export writes it for an id of no table language. None for other keys.
std::optional<std::int32_t> string_id_of(std::string_view language) {
    if (const auto row = language_row_of_key(language)) return LanguageTable[*row].male_id;
    constexpr std::string_view prefix = "lang";
    if (language.size() <= prefix.size() || language.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::string_view digits = language.substr(prefix.size());
    if (digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n > std::numeric_limits<std::uint32_t>::max() >> 1) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n << 1));
}

constexpr std::string_view file_tag = "#File:";

bool is_header(std::string_view line) { return line.substr(0, file_tag.size()) == file_tag; }

// Where the next bar of a part of the text lies. Bars are rare: one search
// over the part finds them for many lines at a time, where a search of each
// line would cost a call per line.
class RareBytes {
public:
    RareBytes(char* begin, std::size_t size) : end_(begin + size) {}

    // The first bar at or after from, or the part's end.
    char* bar_from(char* from) {
        if (bar_ && bar_ >= from) return bar_;
        bar_ = static_cast<char*>(std::memchr(from, '|', static_cast<std::size_t>(end_ - from)));
        if (!bar_) bar_ = end_;
        return bar_;
    }

private:
    char* end_;
    char* bar_ = nullptr;
};

// Turns the bars of a localized text back into line feeds, in place.
void unbar(char* text, std::size_t size, RareBytes& rare) {
    for (char* bar = rare.bar_from(text); bar < text + size; bar = rare.bar_from(bar + 1)) *bar = '\n';
}

// Why a line is skipped: an entry line's reasons, then a header's.
enum class Why : std::uint8_t {
    no_arrow,
    no_header,
    no_gender,
    language,
    gender,
    negative_key,
    large_key,
    no_dot,
    no_comma,
    no_number,
    negative_index,
};
constexpr unsigned why_bits = 4;

constexpr const char* invalid_string = "WARNING: Invalid String on line %d! (%s)\n";
constexpr const char* invalid_file_info = "WARNING: Invalid File Info on line %d! (%s)\n";

// The fields of a localized entry line: what lies between its first comma,
// its second and its first "->".
struct EntryFields {
    std::size_t comma, second, arrow;
    std::string_view language(std::string_view line) const { return line.substr(comma + 1, second - comma - 1); }
    std::string_view gender(std::string_view line) const { return line.substr(second + 1, arrow - second - 1); }
};
// One pass up to the arrow, a short way into the line: a comma after the
// arrow is the text's, and counts as none. Sixteen bytes a step where the
// processor allows, while the step and the byte after it lie in the line.
EntryFields entry_fields(std::string_view line) {
    std::size_t comma = npos, second = npos;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i commas = _mm_set1_epi8(','), dashes = _mm_set1_epi8('-'), angles = _mm_set1_epi8('>');
    for (; i + 17 <= line.size(); i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + i));
        const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + i + 1));
        const auto arrows = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(bytes, dashes), _mm_cmpeq_epi8(after, angles))));
        auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas)));
        const unsigned arrow = arrows != 0 ? static_cast<unsigned>(std::countr_zero(arrows)) : 16;
        found &= (1u << arrow) - 1;  // only those before the arrow
        for (; found != 0 && second == npos; found &= found - 1) {
            (comma == npos ? comma : second) = i + static_cast<std::size_t>(std::countr_zero(found));
        }
        if (arrows != 0) return {comma, second, i + arrow};
    }
#endif
    for (; i + 1 < line.size(); ++i) {
        const char c = line[i];
        if (c == '-' && line[i + 1] == '>') return {comma, second, i};
        if (c != ',') continue;
        if (comma == npos) comma = i;
        else if (second == npos) second = i;
    }
    return {comma, second, npos};
}

// A key as the reason quotes it: at most 40 bytes.
std::string quoted(std::string_view key) {
    constexpr std::size_t shown = 40;
    return '"' + std::string(key.substr(0, shown)) + (key.size() > shown ? "...\"" : "\"");
}

// The reason a warning gives for the line, which the parse left as it was.
std::string reason(Why why, std::string_view line) {
    switch (why) {
    case Why::no_arrow: return "no \"->\"";
    case Why::no_header: return "no #File: line before it";
    case Why::no_gender: return "no gender key";
    case Why::language: return "unknown language key " + quoted(entry_fields(line).language(line));
    case Why::gender: return "unknown gender key " + quoted(entry_fields(line).gender(line));
    case Why::negative_key: return "negative key";
    case Why::large_key: return "key beyond 2147483647";
    case Why::no_dot: return "no \".\" after the name";
    case Why::no_comma: return "no \",\" after the type";
    case Why::no_number: return "no resource number after the comma";
    case Why::negative_index: return "negative resource number";
    }
    return {};
}

// Where a part of the text's warnings go: straight to the reporter, or, for
// a part parsed on another thread, held until the lines before it are
// counted. Held warnings take a byte or so each: the distance from the one
// before and why, and for a reason that quotes the line, how far on in the
// text the line starts; so that a text of bad lines costs less than itself.
class Warnings {
public:
    Warnings(Reporter* reporter, const char* base) : reporter_(reporter), base_(base) {}

    void warn(Why why, std::size_t line_number, std::string_view line) {
        if (reporter_) {
            tell(*reporter_, why, line_number, line);
            return;
        }
        put((line_number - last_line_) << why_bits | static_cast<unsigned>(why));
        last_line_ = line_number;
        if (why == Why::language || why == Why::gender) {
            const auto offset = static_cast<std::uint64_t>(line.data() - base_);
            put(offset - last_offset_);
            last_offset_ = offset;
        }
    }
    // text: the whole text, its skipped lines still as read.
    void pass_on(Reporter& to, std::size_t lines_before, std::string_view text) const {
        std::size_t line = lines_before;
        std::uint64_t offset = 0;
        for (std::size_t i = 0; i < held_.size();) {
            const std::uint64_t value = take(i);
            line += static_cast<std::size_t>(value >> why_bits);
            const auto why = static_cast<Why>(value & ((1u << why_bits) - 1));
            std::string_view quoted_line;
            if (why == Why::language || why == Why::gender) {
                offset += take(i);
                quoted_line = text.substr(static_cast<std::size_t>(offset));
                quoted_line = quoted_line.substr(0, quoted_line.find('\n'));
            }
            tell(to, why, line, quoted_line);
        }
    }

private:
    static void tell(Reporter& to, Why why, std::size_t line_number, std::string_view line) {
        report(to, Severity::warning, why >= Why::no_dot ? invalid_file_info : invalid_string,
               static_cast<int>(line_number + 1), reason(why, line).c_str());
    }
    // Seven bits a byte, the high bit set on all bytes but the last.
    void put(std::uint64_t value) {
        for (; value >= 0x80; value >>= 7) held_.push_back(static_cast<std::uint8_t>(value | 0x80));
        held_.push_back(static_cast<std::uint8_t>(value));
    }
    std::uint64_t take(std::size_t& i) const {
        std::uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t byte = held_[i++];
            value |= std::uint64_t{byte & 0x7Fu} << shift;
            if (byte < 0x80) return value;
        }
    }

    Reporter* reporter_;
    const char* base_;
    ChunkedList<std::uint8_t, 16> held_;
    std::size_t last_line_ = 0;
    std::uint64_t last_offset_ = 0;
};

struct Header {
    std::string_view name;
    std::string_view number;
};

// The parts of a header line: the name up to the first dot after the tag,
// and the number after the first comma after that dot; or why there are
// none. A number is digits after blanks and an optional "+".
std::optional<Header> header_of(std::string_view line, Why& why) {
    const std::size_t dot = line.find('.', file_tag.size());
    const std::size_t comma = dot == npos ? npos : line.find(',', dot);
    if (comma == npos) {
        why = dot == npos ? Why::no_dot : Why::no_comma;
        return std::nullopt;
    }
    std::size_t i = comma + 1;
    while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r'))) ++i;
    if (i < line.size() && line[i] == '-') {
        why = Why::negative_index;
        return std::nullopt;
    }
    if (i < line.size() && line[i] == '+') ++i;
    if (i == line.size() || line[i] < '0' || line[i] > '9') {
        why = Why::no_number;
        return std::nullopt;
    }
    return Header{line.substr(file_tag.size(), dot - file_tag.size()), line.substr(comma + 1)};
}

// A line of a UTF-8 text whose text cannot be stored, and why.
struct LineRefusal {
    std::size_t line;  // counted from 0 in its part of the text
    std::optional<std::int32_t> string_id;  // none for a script line
    Refusal why;
};

// Where a part of a UTF-8 text goes through its code pages, and what was
// refused on the way.
struct PartEncoding {
    TextEncoder encoder;
    std::vector<LineRefusal> refusals;
    std::string encoded;  // a text's bytes, before they go back into the line
};

// Parses the lines of one part of the text into its table.
class PartParser {
public:
    PartParser(TableBuilder& table, char* text, std::size_t size, bool crlf, Warnings& warnings,
               PartEncoding* encoding)
        : table_(table), rare_(text, size), crlf_(crlf), warnings_(warnings), encoding_(encoding) {}

    // One line, its line feed included when it has one.
    // Plain: the line holds no byte of 0x80 or above and no "<".
    void line(char* start, std::size_t size, std::size_t line_number, bool plain) {
        std::string_view line(start, size);
        if (line.empty() || line[0] != '#') return;
        if (is_header(line)) {
            Why why{};
            if (const std::optional<Header> header = header_of(line, why)) {
                table_.add_record(start + file_tag.size(), read_number(header->number), line_number + 1);
                skipping_ = false;
            } else {
                // Its entries go with it: none is given to the block before.
                warnings_.warn(why, line_number, line);
                skipping_ = true;
            }
            return;
        }
        if (skipping_) return;
        entry(start, line, line_number, plain);
    }

private:
    void entry(char* start, std::string_view line, std::size_t line_number, bool plain) {
        const EntryFields fields = entry_fields(line);
        const std::size_t arrow = fields.arrow;
        if (arrow == npos) return warnings_.warn(Why::no_arrow, line_number, line);
        if (!table_.has_record()) return warnings_.warn(Why::no_header, line_number, line);
        const TextNumber key = read_number(line.substr(1));
        if (key < 0) {
            return warnings_.warn(key == no_text_number ? Why::large_key : Why::negative_key, line_number, line);
        }
        // The line end: a line feed, and in a text of CR LF ends the CR before it.
        std::size_t end = line.size();
        std::size_t feed = 0;
        if (end != 0 && line[end - 1] == '\n') {
            feed = 1;
            if (crlf_ && end >= 2 && line[end - 2] == '\r') feed = 2;
        }
        char* text = start + arrow + 2;
        std::size_t length = end - feed - (arrow + 2);
        if (fields.comma == npos || arrow < fields.comma) {
            if (encoding_ && encoded(text, length, feed, arrow + 2, key, std::nullopt, line_number, plain)) return;
            // A script entry keeps its line feed: the text, moved on over
            // its CR, ends with it.
            if (feed == 2) {
                std::memmove(text + 1, text, length);
                return table_.add_variant(text + 1, length + 1, arrow + 3, key, std::nullopt);
            }
            return table_.add_variant(text, length + feed, arrow + 2, key, std::nullopt);
        }
        if (fields.second == npos || fields.second > arrow) {
            return warnings_.warn(Why::no_gender, line_number, line);
        }
        const std::optional<std::int32_t> id = language_id(fields.language(line));
        if (!id) return warnings_.warn(Why::language, line_number, line);
        const std::string_view gender = fields.gender(line);
        if (gender != "male" && gender != "female") return warnings_.warn(Why::gender, line_number, line);
        unbar(text, length, rare_);
        const std::int32_t string_id = *id | (gender.size() == 6 ? 1 : 0);
        if (encoding_ && encoded(text, length, 0, arrow + 2, key, string_id, line_number, plain)) return;
        table_.add_variant(text, length, arrow + 2, key, string_id);
    }

    // A typed text, encoded into its code page, goes back into its line,
    // which it never outgrows: its last byte where the text's was, a script
    // line's line feed after it, and zeros before it. So the line still
    // holds one line feed, and the variant's prefix grows by what the text
    // shrank. False when the text is its own bytes and stays as it is.
    bool encoded(char* text, std::size_t length, std::size_t feed, std::size_t prefix, TextNumber key,
                 std::optional<std::int32_t> string_id, std::size_t line_number, bool plain) {
        std::string& encoded = encoding_->encoded;
        Refusal why;
        switch (encoding_->encoder.encode({text, length}, string_id, encoded, why, plain)) {
        case TextEncoder::Result::as_is: return false;
        case TextEncoder::Result::refused: encoding_->refusals.push_back({line_number, string_id, why}); return true;
        case TextEncoder::Result::written: break;
        }
        // The line feed stays where it is; for a script line, the text ends
        // right before it, over a CR of a CR LF text.
        const std::size_t room = string_id ? length : length + (feed == 2 ? 1 : 0);
        if (encoded.size() > room) {
            // No code page of the list writes a character in more bytes
            // than UTF-8 does; a converter that did is not followed.
            encoding_->refusals.push_back(
                {line_number, string_id, {Refusal::longer, 0, encoding_->encoder.code_page(string_id)}});
            return true;
        }
        char* at = text + (room - encoded.size());
        std::memset(text, 0, room - encoded.size());
        std::memcpy(at, encoded.data(), encoded.size());
        const std::size_t kept = encoded.size() + (string_id || feed == 0 ? 0 : 1);
        table_.add_variant(at, kept, prefix + static_cast<std::size_t>(at - text), key, string_id);
        return true;
    }

    // The string id of a language key, the last two keys' remembered: a
    // text's lines take turns between a language or two. Copied, as a
    // line's prefix is written over once it is parsed.
    std::optional<std::int32_t> language_id(std::string_view key) {
        for (Known& known : known_) {
            if (known.size == key.size() && std::memcmp(known.key, key.data(), key.size()) == 0) return known.id;
        }
        const std::optional<std::int32_t> id = string_id_of(key);
        if (id && key.size() <= sizeof(Known::key)) {
            known_[1] = known_[0];
            known_[0] = {{}, key.size(), *id};
            std::memcpy(known_[0].key, key.data(), key.size());
        }
        return id;
    }

    struct Known {
        char key[16];
        std::size_t size = sizeof(key) + 1;  // none yet
        std::int32_t id = 0;
    };
    Known known_[2];
    TableBuilder& table_;
    RareBytes rare_;
    const bool crlf_;
    Warnings& warnings_;
    PartEncoding* encoding_;  // none for a raw text
    bool skipping_ = false;  // the entries of an invalid header
};

// The line that starts at text: its length, its line feed included, and
// whether it holds no byte of 0x80 or above and no "<" before it. One pass
// finds both, sixteen bytes at a time where the processor allows, so that
// the encoder of a UTF-8 text need not look through a plain line again.
struct LineScan {
    std::size_t length;
    bool plain;
};
LineScan scan_line(const char* text, std::size_t rest) {
#if defined(__SSE2__)
    const __m128i feeds = _mm_set1_epi8('\n'), angles = _mm_set1_epi8('<');
    bool plain = true;
    std::size_t i = 0;
    for (; i + 16 <= rest; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const auto feed = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feeds)));
        const auto odd = static_cast<unsigned>(_mm_movemask_epi8(bytes) | _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, angles)));
        if (feed != 0) {
            const auto at = static_cast<unsigned>(std::countr_zero(feed));
            return {i + at + 1, plain && (odd & ((1u << at) - 1)) == 0};
        }
        plain = plain && odd == 0;
    }
    for (; i < rest; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') return {i + 1, plain};
        plain = plain && byte < 0x80 && byte != '<';
    }
    return {rest, plain};
#else
    // Without it, the encoder looks for itself.
    const void* feed = std::memchr(text, '\n', rest);
    return {feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - text) + 1 : rest, false};
#endif
}

// Parses the lines of text into table's records, the variants viewing the
// text, and tells how many lines there were. The part starts at part, which
// is before text by a byte order mark that is no line's.
std::size_t parse_lines(TableBuilder& table, const char* part, char* text, std::size_t size, bool crlf,
                        Warnings& warnings, PartEncoding* encoding) {
    std::size_t line_number = 0;
    PartParser parser(table, text, size, crlf, warnings, encoding);
    table.start_at(part);
    for (std::size_t rest = size; rest > 0; ++line_number) {
        const LineScan scan = scan_line(text, rest);
        const std::size_t length = scan.length;
        table.note_lines(text + length, line_number);
        parser.line(text, length, line_number, scan.plain);
        text += length;
        rest -= length;
    }
    table.finish_record();
    return line_number;
}

// Whether the text is read with CR LF line ends: whether its first header
// line, valid or not, ends with CR LF.
bool crlf_line_ends(std::string_view text) {
    if (text.substr(0, utf8_bom.size()) == utf8_bom) text.remove_prefix(utf8_bom.size());
    std::size_t at = 0;
    if (!is_header(text)) {
        at = text.find("\n#File:");
        if (at == npos) return false;
        ++at;
    }
    const std::size_t feed = text.find('\n', at);
    return feed != npos && text[feed - 1] == '\r';
}

// What the text is, when it is a text no line of which would import: one
// of UTF-16, by its byte order mark or by NULs in every other byte of its
// first line, or one whose lines end in CR alone.
const char* refusal(std::string_view text) {
    constexpr const char* utf16 =
        "Error: %s is a UTF-16 (\"Unicode\") text; save it as UTF-8 or ANSI and import it again!\n";
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") return utf16;
    const std::string_view first = text.substr(0, std::min<std::size_t>(text.find('\n'), 256));
    const std::size_t pairs = first.size() / 2;
    bool little = pairs >= 2, big = pairs >= 2;
    for (std::size_t i = 0; i < pairs && (little || big); ++i) {
        const bool low_nul = first[2 * i] == '\0', high_nul = first[2 * i + 1] == '\0';
        little = little && !low_nul && high_nul;
        big = big && low_nul && !high_nul;
    }
    if (little || big) return utf16;
    if (text.find('\n') == npos && text.find('\r') != npos) {
        return "Error: %s is a text whose lines end in CR alone; save it with CR LF or LF line ends "
               "and import it again!\n";
    }
    return nullptr;
}

}  // namespace

std::size_t translation_second_half(std::string_view text) {
    const std::size_t feed = text.find("\n#File:", text.size() / 2);
    return feed == npos ? text.size() : feed + 1;
}

namespace {

// The language a refused line is told by: its key, "lang<N>" for an id of
// no table language, or "script".
std::string refused_language(const std::optional<std::int32_t>& string_id) {
    if (!string_id) return "script";
    const std::string label = language_label(*string_id);
    return label.substr(0, label.find(','));
}

// Tells the refused lines of both parts, each within the cap of its kind,
// and that the text is refused for them. False when there were any.
bool tell_refusals(Reporter& reporter, const std::string& name, const std::vector<LineRefusal>& first,
                   const std::vector<LineRefusal>& second, std::size_t first_lines) {
    const std::size_t count = first.size() + second.size();
    if (count == 0) return true;
    const auto tell = [&reporter](const LineRefusal& refused, std::size_t lines_before) {
        report_each(reporter, "Error: line %zu (%s): %s!\n", refused.line + lines_before + 1,
                    refused_language(refused.string_id).c_str(), describe(refused.why).c_str());
    };
    for (const LineRefusal& refused : first) tell(refused, 0);
    for (const LineRefusal& refused : second) tell(refused, first_lines);
    report_left_out_warnings(reporter);
    report(reporter, Severity::error, "Error: %zu %s of %s cannot be imported; nothing was written!\n", count,
           count == 1 ? "line" : "lines", name.c_str());
    return false;
}

// Parses the table's storage, whose texts the variants then view. A text of
// at least halves_from bytes is parsed in two halves, one on another thread;
// the second half's diagnostics follow the first's. Whether lines end in
// CR LF, and how the text is encoded, is decided once, for both. False when
// a UTF-8 text holds lines that cannot be stored.
bool parse_storage(TranslationTable& table, Reporter& reporter, std::size_t halves_from,
                   const TextReading& reading, const std::string& name) {
    char* text = table.storage.data();
    const std::size_t size = table.storage.size();
    const std::string_view whole(text, size);
    std::string problem;
    const std::optional<TextSettings> settings = read_text_settings(whole, reading.options, reading.from_mask, problem);
    if (!settings) {
        report(reporter, Severity::error, "Error: the settings line of %s cannot be followed (%s); nothing was written!\n",
               name.c_str(), problem.c_str());
        return false;
    }
    table.encoding = settings->encoding;
    // What the second half's thread writes lies on cache lines of its own:
    // were one shared with the first half's, each thread's writes would
    // stall the other's.
    struct alignas(64) SecondHalf {
        TranslationTable table;
        Warnings warnings;
        std::optional<PartEncoding> encoding;
    };
    SecondHalf second_half{{}, Warnings(nullptr, text), {}};
    std::optional<PartEncoding> first_encoding;
    if (settings->encoding == TextEncoding::utf8) {
        first_encoding.emplace(PartEncoding{TextEncoder(settings->pages), {}, {}});
        second_half.encoding.emplace(PartEncoding{TextEncoder(settings->pages), {}, {}});
    }
    const bool crlf = crlf_line_ends(whole);
    const std::size_t split = size >= halves_from ? translation_second_half(whole) : size;
    // A byte order mark counts only at the very start, before the first line.
    const std::size_t bom = whole.substr(0, utf8_bom.size()) == utf8_bom ? utf8_bom.size() : 0;
    Warnings first_warnings(&reporter, text);
    TableBuilder first(table, text);
    PartEncoding* first_part = first_encoding ? &*first_encoding : nullptr;
    if (split == size) {
        parse_lines(first, text, text + bom, size - bom, crlf, first_warnings, first_part);
        return !first_part || tell_refusals(reporter, name, first_part->refusals, {}, 0);
    }
    PartEncoding* second_part = second_half.encoding ? &*second_half.encoding : nullptr;
    std::future<std::size_t> second_done = std::async(std::launch::async, [&] {
        TableBuilder builder(second_half.table, text);
        return parse_lines(builder, text + split, text + split, size - split, crlf, second_half.warnings, second_part);
    });
    const std::size_t first_lines =
        parse_lines(first, text, text + bom, split - bom, crlf, first_warnings, first_part);
    second_done.get();
    second_half.warnings.pass_on(reporter, first_lines, whole);
    first.append(second_half.table, first_lines);
    return !first_part || tell_refusals(reporter, name, first_part->refusals, second_part->refusals, first_lines);
}

bool refuse(std::string_view text, Reporter& reporter, const std::string& name) {
    const char* why = refusal(text);
    if (why) report(reporter, Severity::error, why, name.c_str());
    return why != nullptr;
}

}  // namespace

bool parse_translation_lines(TranslationTable& table, std::string_view text, Reporter& reporter,
                             std::size_t halves_from, const std::string& name, const TextReading& reading) {
    table = TranslationTable{};
    if (refuse(text, reporter, name)) return false;
    table.storage = BulkBuffer(text.size());
    std::copy(text.begin(), text.end(), table.storage.data());
    if (parse_storage(table, reporter, halves_from, reading, name)) return true;
    table = TranslationTable{};
    return false;
}

namespace {

// Reads the whole file into out: a large one in two halves at once, so that
// the copy and the first touch of the fresh memory are shared by two cores.
bool read_whole_file(InputFile& file, char* out, std::size_t halves_from) {
    const std::uint64_t size = file.size();
    auto* const to = reinterpret_cast<std::uint8_t*>(out);
    if (size < halves_from) return file.read_into(0, size, to);
    const std::uint64_t half = size / 2;
    std::future<bool> second = std::async(std::launch::async, [&] { return file.read_into(half, size - half, to + half); });
    const bool first = file.read_into(0, half, to);
    return second.get() && first;
}

}  // namespace

bool parse_translation_text(TranslationTable& table, const std::string& path, Reporter& reporter,
                            const TextReading& reading) {
    table = TranslationTable{};
    InputFile file;
    // Offsets into the text are packed with a text's length: a text of a
    // terabyte or more is refused as one that cannot be read.
    if (!file.open(path)) {
        report_file_problem(reporter, file.problem(), path);
        return false;
    }
    if (file.size() > std::numeric_limits<std::size_t>::max() ||
        file.size() >= TranslationTable::offset_limit) {
        report(reporter, Severity::error, "Error opening file: %s\n", path.c_str());
        return false;
    }
    // One core gains nothing from halves.
    const std::size_t halves_from =
        std::thread::hardware_concurrency() == 1 ? std::numeric_limits<std::size_t>::max() : parse_in_halves_from;
    table.storage = BulkBuffer(static_cast<std::size_t>(file.size()));
    if (!read_whole_file(file, table.storage.data(), halves_from)) {
        report(reporter, Severity::error, "Error opening file: %s\n", path.c_str());
        table = TranslationTable{};
        return false;
    }
    if (refuse({table.storage.data(), table.storage.size()}, reporter, path)) {
        table = TranslationTable{};
        return false;
    }
    if (parse_storage(table, reporter, halves_from, reading, path)) {
        return true;
    }
    table = TranslationTable{};
    return false;
}

}  // namespace modtext
