#include "formats/po_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/byte_reader.h"
#include "formats/checksum.h"
#include "formats/files.h"
#include "formats/plain_bytes.h"

namespace modtext {

namespace {

constexpr auto npos = std::string_view::npos;

// White space between the tokens of a line, as gettext's reader takes it.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// The first double quote, backslash or NUL byte at or after i, or the end:
// eight bytes at a time while none of them is one. Of the flags a word
// raises, the lowest is never a false one.
std::size_t string_stop(std::string_view text, std::size_t i) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    const auto zeros = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t v;
            std::memcpy(&v, text.data() + i, 8);
            const std::uint64_t found = zeros(v) | zeros(v ^ (ones * '"')) | zeros(v ^ (ones * '\\'));
            if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        }
        // The last eight bytes, shifted down to start at i: a flag below i
        // could raise false ones above it. The NUL bytes shifted in past
        // the end always raise one.
        if (i < text.size() && text.size() >= 8) {
            const std::size_t last = text.size() - 8;
            std::uint64_t v;
            std::memcpy(&v, text.data() + last, 8);
            v >>= 8 * (i - last);
            const std::uint64_t found = zeros(v) | zeros(v ^ (ones * '"')) | zeros(v ^ (ones * '\\'));
            return std::min(text.size(), i + static_cast<std::size_t>(std::countr_zero(found)) / 8);
        }
    }
    while (i < text.size() && text[i] != '"' && text[i] != '\\' && text[i] != '\0') ++i;
    return i;
}

// Copies a string's plain bytes from `from` on to `to`, up to the first
// byte that is not one (a double quote, a backslash, a NUL, a carriage
// return or a line feed) or to `end`: where it stopped, in both. Sixteen
// bytes at a time where the processor allows; and whether all were plain
// (plain_byte). `to` is never further into
// its room than `from` into the bytes read, and may be those bytes, behind
// `from`: a block is stored only once it is loaded, and whole only when it
// is all plain, or when `apart`, the room is not the bytes read (the bytes
// past the plain ones are then written over later, or never used).
struct Copied {
    const char* from;
    char* to;
    bool plain;
};
Copied copy_plain(const char* from, const char* end, char* to, [[maybe_unused]] bool apart) {
#if defined(__SSE2__)
    const __m128i quotes = _mm_set1_epi8('"'), backslashes = _mm_set1_epi8('\\'), returns = _mm_set1_epi8('\r'),
                  feeds = _mm_set1_epi8('\n'), zeros = _mm_setzero_si128();
    bool plain = true;
    while (end - from >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i stops = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, backslashes)),
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, returns), _mm_cmpeq_epi8(bytes, feeds)),
                         _mm_cmpeq_epi8(bytes, zeros)));
        const auto found = static_cast<unsigned>(_mm_movemask_epi8(stops));
        const unsigned odd = odd_bytes(bytes);
        if (found != 0) {
            const auto copied = static_cast<std::size_t>(std::countr_zero(found));
            if (apart) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
            } else {
                std::memmove(to, from, copied);
            }
            return {from + copied, to + copied, plain && (odd & ((1u << copied) - 1)) == 0};
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
        plain = plain && odd == 0;
        from += 16;
        to += 16;
    }
#else
    bool plain = true;
#endif
    for (; from != end; ++from, ++to) {
        const char c = *from;
        if (c == '"' || c == '\\' || c == '\r' || c == '\n' || c == '\0') break;
        plain = plain && plain_byte(static_cast<unsigned char>(c));
        *to = c;
    }
    return {from, to, plain};
}

// Where the line at `from` ends: its line feed, or `end`.
const char* line_end(const char* from, const char* end) {
    const void* feed = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
    return feed ? static_cast<const char*>(feed) : end;
}

// A piece of the catalogue as an error quotes it: at most 24 bytes.
std::string quoted(std::string_view text) {
    constexpr std::size_t shown = 24;
    return '"' + std::string(text.substr(0, shown)) + (text.size() > shown ? "...\"" : "\"");
}

}  // namespace

// ---------------------------------------------------------------------------
// The model

bool PoEntry::has_flag(std::string_view flag) const {
    std::string_view rest = flags;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        if (rest.substr(0, comma) == flag) return true;
        if (comma == npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

std::size_t PoEntry::msgstr_count() const {
    if (!msgid_plural) return 1;
    return static_cast<std::size_t>(std::count(msgstr.begin(), msgstr.end(), '\0'));
}

std::string_view PoEntry::msgstr_form(std::size_t index) const {
    if (!msgid_plural) return index == 0 ? msgstr : std::string_view{};
    std::string_view rest = msgstr;
    for (;;) {
        const std::size_t end = rest.find('\0');
        if (end == npos) return {};
        if (index-- == 0) return rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
}

std::vector<PoHeaderField> po_header_fields(std::string_view header_msgstr) {
    std::vector<PoHeaderField> fields;
    std::string_view rest = header_msgstr;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == npos ? std::string_view{} : rest.substr(end + 1);
        const std::size_t colon = line.find(':');
        if (colon == npos) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        fields.push_back({line.substr(0, colon), value});
    }
    return fields;
}

std::optional<std::string_view> po_header_field(std::string_view header_msgstr, std::string_view key) {
    for (const PoHeaderField& field : po_header_fields(header_msgstr)) {
        if (field.key == key) return field.value;
    }
    return std::nullopt;
}

std::string po_header_text(std::span<const PoHeaderField> fields) {
    std::string text;
    for (const PoHeaderField& field : fields) {
        text.append(field.key).append(": ").append(field.value).push_back('\n');
    }
    return text;
}

std::uint64_t po_msgid_digest(std::string_view msgid) {
    return Checksum::of_short(ByteView(reinterpret_cast<const std::uint8_t*>(msgid.data()), msgid.size()));
}

const PoEntry* PoCatalogue::header() const {
    return !entries.empty() && entries.front().is_header() ? &entries.front() : nullptr;
}

std::optional<std::string_view> PoCatalogue::header_field(std::string_view key) const {
    const PoEntry* entry = header();
    return entry ? po_header_field(entry->msgstr, key) : std::nullopt;
}

std::optional<std::string_view> PoTranslations::header_field(std::string_view key) const {
    if (entries.empty() || !entries.front().is_header()) return std::nullopt;
    return po_header_field(entries.front().msgstr, key);
}

char* PoStorage::hold(BulkBuffer bytes) {
    return blocks_.emplace_back(std::move(bytes)).data();
}

std::string_view PoStorage::replace(std::string_view kept, std::string_view text) {
    if (text.size() > kept.size()) return keep(text);
    for (BulkBuffer& block : blocks_) {
        // Compared as addresses: kept may lie in any block, or in none.
        const auto begin = reinterpret_cast<std::uintptr_t>(block.data());
        const auto at = reinterpret_cast<std::uintptr_t>(kept.data());
        if (at >= begin && at - begin <= block.size() && block.size() - (at - begin) >= kept.size()) {
            char* const place = block.data() + (at - begin);
            if (!text.empty()) std::memmove(place, text.data(), text.size());
            return {place, text.size()};
        }
    }
    return keep(text);
}

char* PoStorage::reserve(std::size_t size) {
    return blocks_.emplace_back(std::max<std::size_t>(size, 1)).data();
}

// Texts are kept in blocks of 64 KB, or one of their own when larger.
std::string_view PoStorage::keep(std::string_view text) {
    constexpr std::size_t block = std::size_t{64} << 10;
    if (text.size() > left_) {
        if (text.size() >= block / 4) {
            return {static_cast<const char*>(std::memcpy(reserve(text.size()), text.data(), text.size())),
                    text.size()};
        }
        free_ = reserve(block);
        left_ = block;
    }
    if (!text.empty()) std::memcpy(free_, text.data(), text.size());
    const std::string_view kept(free_, text.size());
    free_ += text.size();
    left_ -= text.size();
    return kept;
}

// ---------------------------------------------------------------------------
// The reader

namespace {

enum class Word : std::uint8_t { msgctxt, msgid, msgid_plural, msgstr };

// What a line's "#~" and "#|" markers make of its tokens.
struct Marks {
    bool obsolete = false;
    bool previous = false;
};

// The part of an entry its strings are going to.
enum class Field : std::uint8_t { none, prev_ctxt, prev_id, prev_plural, ctxt, id, plural, str, forms };

std::string describe(Word word, long index, Marks marks) {
    static constexpr std::string_view names[] = {"msgctxt", "msgid", "msgid_plural", "msgstr"};
    const std::string_view marker = marks.obsolete ? (marks.previous ? "#~| " : "#~ ") : (marks.previous ? "#| " : "");
    std::string text = std::string(marker).append(names[static_cast<int>(word)]);
    if (index >= 0) text.append(1, '[').append(std::to_string(index)).append(1, ']');
    return text;
}

// What a parser that keeps no msgid (but an entry's without msgctxt) notes
// of each entry: its msgid's digest, and whether its msgid and its msgstr
// are plain, as PoTranslationEntry tells.
struct EntryFacts {
    std::uint64_t msgid_digest = 0;
    bool msgid_plain = false;
    bool msgstr_plain = false;
};

// Where the parser puts each entry it ends.
class EntrySink {
public:
    virtual void add(const PoEntry& entry, const EntryFacts& facts) = 0;

protected:
    ~EntrySink() = default;
};

template <class Entry>
Entry kept_of(const PoEntry& entry, const EntryFacts& facts);
template <>
PoEntry kept_of(const PoEntry& entry, const EntryFacts&) {
    return entry;
}
template <>
PoTranslationEntry kept_of(const PoEntry& entry, const EntryFacts& facts) {
    return {entry.msgctxt.value_or(std::string_view{}),
            entry.msgid,
            facts.msgid_digest,
            entry.msgstr,
            entry.line,
            entry.msgctxt.has_value(),
            entry.msgid_plural.has_value(),
            entry.obsolete,
            entry.fuzzy(),
            facts.msgid_plain,
            facts.msgstr_plain};
}

std::optional<std::string_view> context_of(const PoEntry& entry) { return entry.msgctxt; }
std::optional<std::string_view> context_of(const PoTranslationEntry& entry) {
    return entry.has_msgctxt ? std::optional<std::string_view>(entry.msgctxt) : std::nullopt;
}
// What stands for the msgid in the hash of an entry with a context.
std::uint64_t msgid_key(const PoEntry& entry) { return entry.msgid.size(); }
std::uint64_t msgid_key(const PoTranslationEntry& entry) { return entry.msgid_digest; }
bool same_msgid(const PoEntry& a, const PoEntry& b) { return a.msgid == b.msgid; }
bool same_msgid(const PoTranslationEntry& a, const PoTranslationEntry& b) {
    return a.msgid_digest == b.msgid_digest && a.msgid == b.msgid;
}

template <class Entry>
std::uint64_t duplicate_hash(const Entry& entry) {
    const std::hash<std::string_view> hash;
    const std::optional<std::string_view> msgctxt = context_of(entry);
    // Contexts seldom repeat: an entry with one is hashed by it and its
    // msgid's length or digest, sparing the longer msgid.
    return (msgctxt ? hash(*msgctxt) * 31 + 1 + msgid_key(entry) : hash(entry.msgid)) * 0x9E3779B97F4A7C15ull;
}

// The entries of a part of a catalogue, and the hash of each that the
// search for duplicates goes by, taken while its texts are at hand.
template <class Entry>
struct alignas(64) EntryList final : public EntrySink {
    void add(const PoEntry& entry, const EntryFacts& facts) override {
        list.push_back(kept_of<Entry>(entry, facts));
        hashes.push_back(duplicate_hash(list.back()));
    }

    std::vector<Entry> list;
    std::vector<std::uint64_t> hashes;
};

// Parses the lines of a catalogue one by one, unescaping its strings over
// the catalogue's own bytes: every text is no longer than the bytes it came
// from, quotes, markers and escapes dropped, so what is written never passes
// what is still to be read.
class alignas(64) Parser {
public:
    // The texts are written from storage on: over the bytes read, unless
    // `apart`. Without keep_comments, an entry's comments are not kept but for its
    // "fuzzy" flag, nor its msgid but as its digest where it has a msgctxt,
    // and no line need stay in memory once it is read.
    Parser(EntrySink& entries, char* storage, bool apart, bool keep_comments)
        : entries_(entries), at_(storage), apart_(apart), keep_comments_(keep_comments) {}

    bool line(std::string_view text, std::size_t number);
    // Takes the commonest lines at once, without looking for their end
    // first: a blank line, a comment that is not kept, a keyword and its
    // string, a string alone. Where the next line starts, with `ok` false
    // when this one does not parse; nothing, with nothing done, when the
    // line is none of those or asks for more than they do. What it takes,
    // it takes as line() does.
    const char* quick_line(const char* from, const char* end, std::size_t number, bool& ok);
    // A comment line follows: what it would find wrong, without its text.
    bool before_comment(std::size_t line);
    bool finish(std::size_t last_line);
    // The error, its lines counted after `lines_before` others.
    PoError take_error(std::size_t lines_before = 0);

private:
    bool fail(std::size_t line, std::string message) {
        error_ = PoError{line, std::move(message)};
        return false;
    }
    bool comment(std::string_view text, std::size_t line);
    // From text[i] on.
    bool tokens(std::string_view text, Marks marks, std::size_t line, std::size_t i = 0);
    bool keyword(Word word, long index, Marks marks, std::size_t line);
    bool string(std::string_view text, std::size_t& i, Marks marks, std::size_t line);
    // From the opening quote at text[i]; the rest of a string, from
    // within it.
    bool unescape(std::string_view text, std::size_t& i, std::size_t line);
    bool unescape_rest(std::string_view text, std::size_t& i, std::size_t line);
    // A string's plain bytes and its commonest escapes from its opening
    // quote on: where they stop, past the closing quote when `closed`.
    const char* quick_string(const char* from, const char* end, bool& closed);
    bool same_marks(Marks marks, std::size_t line);
    std::string marks_message(std::size_t entry_line) const;

    // What the state wants next, for errors.
    std::string expected() const;
    bool complete() const { return (field_ == Field::str || field_ == Field::forms) && has_string_; }
    // Whether the field is a previous string's, of "#|".
    bool in_previous() const {
        return field_ == Field::prev_ctxt || field_ == Field::prev_id || field_ == Field::prev_plural;
    }
    void start_entry(Marks marks, std::size_t line);
    void open(Field field, std::size_t line);
    void close_field();
    void end_entry();
    std::size_t put_lines(const std::vector<std::string_view>& lines);
    std::size_t put_joined(const std::vector<std::string_view>& words, char separator);
    void put(std::string_view text) {
        // An empty view may have no bytes at all to copy from.
        if (!text.empty()) std::memmove(at_, text.data(), text.size());
        at_ += text.size();
    }

    EntrySink& entries_;
    char* at_;
    bool apart_;
    bool keep_comments_;
    bool fuzzy_ = false;  // without keep_comments: a "fuzzy" flag before the next entry
    EntryFacts facts_;  // without keep_comments: the entry's
    PoError error_;
    bool marks_error_ = false;  // the error names entry_line_

    // The comments before the next entry, as views of the catalogue's bytes.
    std::vector<std::string_view> translator_, extracted_, references_, flags_;
    std::string comments_;  // theirs, gathered before they are written over
    PoEntry entry_;
    bool in_entry_ = false;
    std::size_t entry_line_ = 0;  // its first keyword's line, for the "#~" check
    Field field_ = Field::none;
    char* field_start_ = nullptr;
    bool field_plain_ = true;  // what the field has of strings holds only line feeds and plain bytes
    bool has_string_ = false;
    long forms_ = 0;
};

PoError Parser::take_error(std::size_t lines_before) {
    PoError error = std::move(error_);
    error.line += lines_before;
    if (marks_error_) error.message = marks_message(entry_line_ + lines_before);
    return error;
}

bool Parser::line(std::string_view text, std::size_t number) {
    // Every carriage return before the line end, so that no comment ends in one.
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    if (text.empty()) return true;
    if (text[0] != '#') return tokens(text, {}, number);
    if (text.size() > 1 && text[1] == '~') {
        const bool previous = text.size() > 2 && text[2] == '|';
        return tokens(text.substr(previous ? 3 : 2), {true, previous}, number);
    }
    if (text.size() > 1 && text[1] == '|') return tokens(text.substr(2), {false, true}, number);
    return comment(text.substr(1), number);
}

const char* Parser::quick_line(const char* from, const char* end, std::size_t number, bool& ok) {
    ok = true;
    const auto rest = static_cast<std::size_t>(end - from);
    std::size_t quote = 0;  // where the string starts
    switch (*from) {
        case '\n': return from + 1;
        case '#': {
            // Any comment but a flag, unless comments are kept.
            if (keep_comments_ || rest < 2 || (from[1] != '.' && from[1] != ':' && from[1] != ' ')) return nullptr;
            ok = before_comment(number);
            const char* const feed = line_end(from, end);
            return feed == end ? end : feed + 1;
        }
        case '"':
            // A string where one may go: as string() would find it.
            if (field_ == Field::none || in_previous() || entry_.obsolete) return nullptr;
            break;
        case 'm': {
            const auto starts = [&](std::string_view text) {
                return rest >= text.size() && std::memcmp(from, text.data(), text.size()) == 0;
            };
            Word word;
            if (starts("msgid \"")) {
                word = Word::msgid;
                quote = 6;
            } else if (starts("msgstr \"")) {
                word = Word::msgstr;
                quote = 7;
            } else if (starts("msgctxt \"")) {
                word = Word::msgctxt;
                quote = 8;
            } else {
                return nullptr;
            }
            if (!keyword(word, -1, {}, number)) {
                ok = false;
                return end;
            }
            break;
        }
        default: return nullptr;
    }
    has_string_ = true;
    bool closed = false;
    const char* const stop = quick_string(from + quote, end, closed);
    if (closed && stop == end) return end;
    if (closed && *stop == '\n') return stop + 1;
    // The rest of the line as line() takes it.
    const char* const feed = line_end(stop, end);
    std::string_view text(from, static_cast<std::size_t>(feed - from));
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    std::size_t i = static_cast<std::size_t>(stop - from);
    ok = (closed || unescape_rest(text, i, number)) && tokens(text, {}, number, i);
    return feed == end ? end : feed + 1;
}

const char* Parser::quick_string(const char* from, const char* end, bool& closed) {
    ++from;  // the opening quote
    for (;;) {
        const Copied copied = copy_plain(from, end, at_, apart_);
        from = copied.from;
        at_ = copied.to;
        field_plain_ = field_plain_ && copied.plain;
        closed = from != end && *from == '"';
        if (closed) return from + 1;
        if (from == end || *from != '\\' || end - from < 2) return from;
        const char c = from[1];
        if (c == 'n') {
            *at_++ = '\n';
        } else if (c == '"' || c == '\\') {
            *at_++ = c;
        } else if (c == 't') {
            *at_++ = '\t';
            field_plain_ = false;
        } else {
            return from;
        }
        from += 2;
    }
}

bool Parser::before_comment(std::size_t line) {
    if (complete()) end_entry();
    if (in_entry_) return fail(line, "expected " + expected() + ", found a comment");
    return true;
}

bool Parser::comment(std::string_view text, std::size_t line) {
    if (!before_comment(line)) return false;
    const char kind = text.empty() ? ' ' : text[0];
    if (!keep_comments_ && kind != ',' && kind != '!') return true;
    if (kind == ':') {
        std::string_view rest = text.substr(1);
        for (;;) {
            while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
            if (rest.empty()) break;
            std::size_t end = 0;
            while (end < rest.size() && !is_blank(rest[end])) ++end;
            references_.push_back(rest.substr(0, end));
            rest.remove_prefix(end);
        }
    } else if (kind == ',' || kind == '!') {
        std::string_view rest = text.substr(1);
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view flag = trim_blanks(rest.substr(0, comma));
            if (!keep_comments_) fuzzy_ = fuzzy_ || flag == "fuzzy";
            else if (!flag.empty()) flags_.push_back(flag);
            rest = comma == npos ? std::string_view{} : rest.substr(comma + 1);
        }
    } else {
        // One blank after the marker is the marker's; gettext drops it too.
        const bool dot = kind == '.';
        std::string_view body = text.substr(dot ? 1 : 0);
        if (!body.empty() && body.front() == ' ') body.remove_prefix(1);
        (dot ? extracted_ : translator_).push_back(body);
    }
    return true;
}

bool Parser::tokens(std::string_view text, Marks marks, std::size_t line, std::size_t i) {
    for (;;) {
        while (i < text.size() && is_blank(text[i])) ++i;
        if (i == text.size()) return true;
        const char c = text[i];
        if (c == '"') {
            if (!string(text, i, marks, line)) return false;
            continue;
        }
        if (!is_word_char(c) || (c >= '0' && c <= '9')) {
            return fail(line, "expected " + expected() + ", found " + quoted(text.substr(i)));
        }
        std::size_t end = i;
        while (end < text.size() && is_word_char(text[end])) ++end;
        const std::string_view name = text.substr(i, end - i);
        i = end;
        Word word;
        if (name == "msgctxt") {
            word = Word::msgctxt;
        } else if (name == "msgid") {
            word = Word::msgid;
        } else if (name == "msgid_plural") {
            word = Word::msgid_plural;
        } else if (name == "msgstr") {
            word = Word::msgstr;
        } else {
            return fail(line, "expected " + expected() + ", found " + quoted(name));
        }
        long index = -1;
        std::size_t j = i;
        while (j < text.size() && is_blank(text[j])) ++j;
        if (word == Word::msgstr && j < text.size() && text[j] == '[') {
            ++j;
            while (j < text.size() && is_blank(text[j])) ++j;
            const std::size_t digits = j;
            index = 0;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9' && index < 1000000) {
                index = index * 10 + (text[j++] - '0');
            }
            while (j < text.size() && is_blank(text[j])) ++j;
            if (j == digits || j == text.size() || text[j] != ']') {
                return fail(line, "expected a plural form's number and \"]\" after \"msgstr[\", found " +
                                      quoted(text.substr(digits)));
            }
            i = j + 1;
        }
        if (!keyword(word, index, marks, line)) return false;
    }
}

bool Parser::same_marks(Marks marks, std::size_t line) {
    if (marks.obsolete == entry_.obsolete) return true;
    marks_error_ = true;
    return fail(line, marks_message(entry_line_));
}

std::string Parser::marks_message(std::size_t entry_line) const {
    return std::string(entry_.obsolete ? "expected \"#~\"" : "expected no \"#~\"") +
           " at the start of this line, as on line " + std::to_string(entry_line) + " of the same entry";
}

bool Parser::keyword(Word word, long index, Marks marks, std::size_t line) {
    const auto found = [&] { return describe(word, index, marks); };
    if (complete()) {
        // Another plural form, or the next entry.
        if (field_ == Field::forms && word == Word::msgstr && !marks.previous) {
            if (!same_marks(marks, line)) return false;
            if (index != forms_) {
                return fail(line, "expected msgstr[" + std::to_string(forms_) + "], found " + found());
            }
            *at_++ = '\0';  // the forms are one text, each ended by a NUL
            ++forms_;
            has_string_ = false;
            return true;
        }
        end_entry();
    }
    if (in_entry_ && !has_string_) return fail(line, "expected " + expected() + ", found " + found());
    if (in_entry_ && !same_marks(marks, line)) return false;

    if (marks.previous) {
        if (field_ == Field::none && (word == Word::msgctxt || word == Word::msgid)) {
            start_entry(marks, line);
            open(word == Word::msgctxt ? Field::prev_ctxt : Field::prev_id, line);
            return true;
        }
        if ((field_ == Field::prev_ctxt && word == Word::msgid) ||
            (field_ == Field::prev_id && word == Word::msgid_plural)) {
            open(word == Word::msgid ? Field::prev_id : Field::prev_plural, line);
            return true;
        }
    } else if ((field_ == Field::none || in_previous()) && (word == Word::msgctxt || word == Word::msgid)) {
        if (field_ == Field::none) start_entry(marks, line);
        open(word == Word::msgctxt ? Field::ctxt : Field::id, line);
        return true;
    } else if ((field_ == Field::ctxt && word == Word::msgid) ||
               (field_ == Field::id && word == Word::msgid_plural)) {
        open(word == Word::msgid ? Field::id : Field::plural, line);
        return true;
    } else if (field_ == Field::id && word == Word::msgstr && index < 0) {
        open(Field::str, line);
        return true;
    } else if (field_ == Field::plural && word == Word::msgstr && index == 0) {
        forms_ = 1;
        open(Field::forms, line);
        return true;
    }
    return fail(line, "expected " + expected() + ", found " + found());
}

std::string Parser::expected() const {
    if (field_ == Field::none) return "msgctxt, msgid or a comment";
    if (!has_string_) {
        static constexpr std::string_view names[] = {
            "", "#| msgctxt", "#| msgid", "#| msgid_plural", "msgctxt", "msgid", "msgid_plural", "msgstr", "msgstr[N]"};
        return "a string after " + std::string(names[static_cast<int>(field_)]);
    }
    switch (field_) {
        case Field::prev_ctxt: return "a string or \"#| msgid\"";
        case Field::prev_id: return "a string, \"#| msgid_plural\", msgctxt or msgid";
        case Field::prev_plural: return "a string, msgctxt or msgid";
        case Field::ctxt: return "a string or msgid";
        case Field::id: return "a string, msgid_plural or msgstr";
        case Field::plural: return "a string or msgstr[0]";
        default: return "a string or the next entry";
    }
}

bool Parser::string(std::string_view text, std::size_t& i, Marks marks, std::size_t line) {
    if (field_ == Field::none || in_previous() != marks.previous) {
        return fail(line, "expected " + expected() + ", found a string" + (marks.previous ? " after \"#|\"" : ""));
    }
    if (!same_marks(marks, line)) return false;
    has_string_ = true;
    return unescape(text, i, line);
}

bool Parser::unescape(std::string_view text, std::size_t& i, std::size_t line) {
    ++i;  // the opening quote
    return unescape_rest(text, i, line);
}

bool Parser::unescape_rest(std::string_view text, std::size_t& i, std::size_t line) {
    field_plain_ = false;  // not looked at the full way
    constexpr std::string_view escapes =
        "expected \\a \\b \\f \\n \\r \\t \\v \\\\ \\\" \\? \\' \\NNN or \\xHH after the backslash, found ";
    for (;;) {
        const std::size_t j = string_stop(text, i);
        put(text.substr(i, j - i));
        if (j == text.size()) return fail(line, "expected a closing double quote before the end of the line");
        if (text[j] == '"') {
            i = j + 1;
            return true;
        }
        if (text[j] == '\0') return fail(line, "expected text in a string, found a NUL byte");
        if (j + 1 == text.size()) return fail(line, std::string(escapes) + "the end of the line");
        const char c = text[j + 1];
        i = j + 2;
        char value = 0;
        switch (c) {
            case 'a': value = '\a'; break;
            case 'b': value = '\b'; break;
            case 'f': value = '\f'; break;
            case 'n': value = '\n'; break;
            case 'r': value = '\r'; break;
            case 't': value = '\t'; break;
            case 'v': value = '\v'; break;
            case '\\':
            case '"':
            case '?':
            case '\'': value = c; break;
            default: {
                unsigned number = 0;
                if (c >= '0' && c <= '7') {
                    number = static_cast<unsigned>(c - '0');
                    for (int digits = 1; digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++digits) {
                        number = number * 8 + static_cast<unsigned>(text[i++] - '0');
                    }
                } else if (c == 'x' && i < text.size() && is_hex_digit(text[i])) {
                    // As in C, every hex digit that follows counts.
                    while (i < text.size() && is_hex_digit(text[i])) {
                        const char d = text[i++];
                        const unsigned digit = static_cast<unsigned>(
                            d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
                        number = number < 0x1000 ? number * 16 + digit : 0x1000;
                    }
                } else {
                    return fail(line, std::string(escapes) + quoted(text.substr(j, 2)));
                }
                if (number == 0) return fail(line, "expected text in a string, found a NUL byte " +
                                                       quoted(text.substr(j, i - j)));
                if (number > 0xFF) {
                    return fail(line, "expected an escape of one byte (at most \\377 or \\xFF), found " +
                                          quoted(text.substr(j, i - j)));
                }
                value = static_cast<char>(number);
            }
        }
        *at_++ = value;
    }
}

void Parser::start_entry(Marks marks, std::size_t line) {
    entry_ = PoEntry{};
    facts_ = EntryFacts{};
    entry_.obsolete = marks.obsolete;
    entry_line_ = line;
    in_entry_ = true;
    if (!keep_comments_) {
        entry_.flags = fuzzy_ ? "fuzzy" : "";
        fuzzy_ = false;
        return;
    }
    // The comments' lines may stand in any order of kinds: each is copied
    // aside before any is written over.
    comments_.clear();
    const std::size_t ends[] = {put_lines(translator_), put_lines(extracted_), put_joined(references_, ' '),
                                put_joined(flags_, ',')};
    const char* start = at_;
    put(comments_);
    entry_.translator_comments = {start, ends[0]};
    entry_.extracted_comments = {start + ends[0], ends[1] - ends[0]};
    entry_.references = {start + ends[1], ends[2] - ends[1]};
    entry_.flags = {start + ends[2], ends[3] - ends[2]};
    translator_.clear();
    extracted_.clear();
    references_.clear();
    flags_.clear();
}

// Each line with its line feed: never longer than the line with its marker.
// Where its text ends among the comments.
std::size_t Parser::put_lines(const std::vector<std::string_view>& lines) {
    for (const std::string_view line : lines) comments_.append(line).push_back('\n');
    return comments_.size();
}

// Never longer than the words with the markers and blanks between them.
std::size_t Parser::put_joined(const std::vector<std::string_view>& words, char separator) {
    const std::size_t start = comments_.size();
    for (const std::string_view word : words) {
        if (comments_.size() != start) comments_.push_back(separator);
        comments_.append(word);
    }
    return comments_.size();
}

void Parser::open(Field field, std::size_t line) {
    close_field();
    field_ = field;
    field_start_ = at_;
    field_plain_ = true;
    has_string_ = false;
    if (field == Field::id) entry_.line = line;
}

void Parser::close_field() {
    if (!field_start_) return;
    const std::string_view text(field_start_, static_cast<std::size_t>(at_ - field_start_));
    switch (field_) {
        case Field::prev_ctxt: entry_.previous_msgctxt = text; break;
        case Field::prev_id: entry_.previous_msgid = text; break;
        case Field::prev_plural: entry_.previous_msgid_plural = text; break;
        case Field::ctxt: entry_.msgctxt = text; break;
        case Field::id:
            entry_.msgid = text;
            if (!keep_comments_) {
                facts_.msgid_digest = po_msgid_digest(text);
                facts_.msgid_plain = field_plain_;
                // The next field is written over it.
                if (entry_.msgctxt) {
                    entry_.msgid = {};
                    at_ = field_start_;
                }
            }
            break;
        case Field::plural: entry_.msgid_plural = text; break;
        case Field::str:
            entry_.msgstr = text;
            facts_.msgstr_plain = field_plain_;
            break;
        case Field::forms:
            entry_.msgstr = text;
            facts_.msgstr_plain = false;
            break;
        case Field::none: break;
    }
}

void Parser::end_entry() {
    if (field_ == Field::forms) {
        *at_++ = '\0';
    }
    close_field();
    entries_.add(entry_, facts_);
    field_ = Field::none;
    field_start_ = nullptr;
    in_entry_ = false;
}

bool Parser::finish(std::size_t last_line) {
    if (complete()) end_entry();
    if (in_entry_) return fail(last_line, "expected " + expected() + ", found the end of the file");
    return true;
}

// Two entries of one context and msgid: found through a table of twice
// as many slots as entries, each holding an entry's ordinal and the high
// half of its hash, so that only an entry of the same hash is looked at.
// The hashes are taken as the entries are read, so that each slot can be
// fetched ahead of its use: the table is larger than the caches. The
// entries of either value of the hash's top bit are looked for in a table
// of their own, each on its own thread. (An ordinal takes 32 bits: a
// catalogue of more entries would be over 60 GB.)
struct Duplicate {
    std::size_t entry;  // the first entry that repeats one before it
    std::size_t other;  // the one it repeats
};

// The first duplicate among the entries whose hash has `top` as its top
// bit, through a table of `slots` slots.
template <class List>
std::optional<Duplicate> first_duplicate(const List& entries, const std::vector<std::uint64_t>& hashes,
                                         std::uint64_t top, std::size_t slots) {
    const auto slot_of = [&](std::uint64_t mixed) { return static_cast<std::size_t>(mixed >> 32) & (slots - 1); };
    // In huge pages: it is touched all over, once.
    BulkBuffer table_room(slots * sizeof(std::uint64_t));
    auto* const table = reinterpret_cast<std::uint64_t*>(table_room.data());
    std::fill(table, table + slots, std::uint64_t{0});  // the high half of a hash, and an ordinal + 1
    constexpr std::size_t ahead = 16;
    const std::size_t count = entries.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i + ahead < count && hashes[i + ahead] >> 63 == top) __builtin_prefetch(&table[slot_of(hashes[i + ahead])], 1);
        if (hashes[i] >> 63 != top) continue;
        const std::uint64_t tag = hashes[i] & 0xFFFFFFFF00000000ull;
        std::size_t slot = slot_of(hashes[i]);
        for (; table[slot] != 0; slot = (slot + 1) & (slots - 1)) {
            if ((table[slot] & 0xFFFFFFFF00000000ull) != tag) continue;
            const std::size_t other = static_cast<std::size_t>(table[slot] & 0xFFFFFFFFu) - 1;
            if (same_msgid(entries[other], entries[i]) && context_of(entries[other]) == context_of(entries[i])) {
                return Duplicate{i, other};
            }
        }
        table[slot] = tag | (i + 1);
    }
    return std::nullopt;
}

// hashes: each entry's duplicate_hash, in order. The two tables are
// searched at once when there are threads to spare.
template <class List>
std::optional<PoError> find_duplicate(const List& entries, const std::vector<std::uint64_t>& hashes, bool threads) {
    const std::size_t slots = std::bit_ceil(std::max<std::size_t>(entries.size(), 2));
    const auto search = [&](std::uint64_t top) { return first_duplicate(entries, hashes, top, slots); };
    std::optional<Duplicate> first, second;
    if (threads) {
        std::future<std::optional<Duplicate>> other = std::async(std::launch::async, search, 1);
        first = search(0);
        second = other.get();
    } else {
        first = search(0);
        second = search(1);
    }
    if (!first || (second && second->entry < first->entry)) first = second;
    if (!first) return std::nullopt;
    return PoError{entries[first->entry].line, "expected an entry of its own, found the msgctxt and msgid of line " +
                                                   std::to_string(entries[first->other].line) + " again"};
}

// A catalogue's entries: the first part's, and the second's after them.
void put_entries(std::vector<PoEntry>& entries, std::vector<PoEntry>& first, std::vector<PoEntry>& later) {
    entries = std::move(first);
    entries.insert(entries.end(), later.begin(), later.end());
}
void put_entries(PoTranslationList& entries, std::vector<PoTranslationEntry>& first,
                 std::vector<PoTranslationEntry>& later) {
    entries.first = std::move(first);
    entries.second = std::move(later);
}

struct PartRead {
    bool ok = true;
    std::size_t lines = 0;
};

// Reads lines from bytes, counting on from `read`.
PartRead read_lines(Parser& parser, const char* begin, std::size_t size, PartRead read) {
    const char* const end = begin + size;
    for (const char* at = begin; read.ok && at != end;) {
        ++read.lines;
        const char* const next = parser.quick_line(at, end, read.lines, read.ok);
        if (next) {
            at = next;
            continue;
        }
        const char* const feed = line_end(at, end);
        read.ok = parser.line({at, static_cast<std::size_t>(feed - at)}, read.lines);
        at = feed == end ? end : feed + 1;
    }
    return read;
}

bool comment_line(std::string_view line) {
    line = trim_blanks(line);
    return !line.empty() && line[0] == '#' && !(line.size() > 1 && (line[1] == '~' || line[1] == '|'));
}

// The bytes around the middle of a file in which its split is looked for.
constexpr std::size_t window_before = std::size_t{64} << 10;
constexpr std::size_t window_after = std::size_t{1} << 20;

// Where a second half may start, at or after `from`: a comment line after a
// blank line, which follows a line of keywords or strings. The reader meets
// it between two entries, with no comment waiting for the next: it may
// start there afresh. The size when there is none.
std::size_t second_half(std::string_view text, std::size_t from) {
    for (std::size_t at = text.find("\n#", from); at != npos; at = text.find("\n#", at + 1)) {
        const std::size_t start = at + 1;
        if (at == 0 || !comment_line(text.substr(start, text.find('\n', start) - start))) continue;
        // The blank line before it, and the line before that.
        const std::size_t blank = text.rfind('\n', at - 1);
        if (blank == npos || !trim_blanks(text.substr(blank + 1, at - blank - 1)).empty()) continue;
        if (blank == 0) continue;
        // The line before must be whole: it starts after a line feed.
        const std::size_t before = text.rfind('\n', blank - 1);
        if (before == npos) continue;
        const std::size_t first = before + 1;
        const std::string_view previous = trim_blanks(text.substr(first, blank - first));
        if (previous.empty() || comment_line(previous)) continue;
        return start;
    }
    return text.size();
}

// Reads the lines of part of a file, [begin, end), a piece at a time into
// room of its own: only the texts the parser keeps take memory as large as
// the file. Nothing when the file could not be read.
std::optional<PartRead> read_file_lines(Parser& parser, InputFile& file, std::uint64_t begin, std::uint64_t end) {
    std::vector<char> piece(static_cast<std::size_t>(read_piece_size));
    std::size_t held = 0;  // the start of a line the piece before ended in
    PartRead read;
    for (std::uint64_t offset = begin; offset < end;) {
        if (held == piece.size()) piece.resize(2 * piece.size());
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size() - held, end - offset));
        if (!file.read_into(offset, count, reinterpret_cast<std::uint8_t*>(piece.data() + held))) return std::nullopt;
        offset += count;
        const std::size_t filled = held + count;
        std::size_t start = 0;
        constexpr std::string_view bom = "\xEF\xBB\xBF";
        if (offset - filled == 0 && std::string_view(piece.data(), filled).substr(0, bom.size()) == bom) start = bom.size();
        // Whole lines only, but at the part's end.
        std::size_t stop = filled;
        if (offset < end) {
            const std::size_t feed = std::string_view(piece.data(), filled).rfind('\n');
            stop = feed == npos || feed < start ? start : feed + 1;
        }
        if (stop > start) {
            read = read_lines(parser, piece.data() + start, stop - start, read);
            if (!read.ok) return read;
        }
        held = filled - stop;
        std::memmove(piece.data(), piece.data() + stop, held);
    }
    return read;
}

// Reads a catalogue in two parts, split at `split`, each on its own thread
// when split is not the end: `part(parser, begin, end)` reads the lines of
// one, nothing when it could not. The parsers write their texts from
// `storage` and `storage + split` on: over the bytes they read, unless
// `apart`. False when a part could not be read.
template <class Catalogue, class Part>
bool read_parts(Catalogue& out, char* storage, std::size_t size, std::size_t split, std::optional<PoError>& error,
                bool apart, bool keep_comments, Part part) {
    using Entry = typename decltype(out.entries)::value_type;
    error.reset();
    // Room for twice as many entries as exported texts make of the bytes
    // (some 250 bytes an entry), so that the list seldom grows while it is
    // read: growing it would copy it all. Room left unused is never touched;
    // what is used is taken in huge pages, as the texts' room is.
    const auto make_room = [](EntryList<Entry>& entries, std::size_t bytes) {
        entries.list.reserve(bytes / 128);
        advise_huge_pages(entries.list.data(), entries.list.capacity() * sizeof(Entry));
        entries.hashes.reserve(bytes / 128);
        advise_huge_pages(entries.hashes.data(), entries.hashes.capacity() * sizeof(std::uint64_t));
    };
    EntryList<Entry> first_list, second_list;
    make_room(first_list, split);
    Parser first(first_list, storage, apart, keep_comments);
    if (split == size) {
        const std::optional<PartRead> read = part(first, 0, size);
        if (!read) {
            out = Catalogue{};
            return false;
        }
        if (!read->ok || !first.finish(std::max<std::size_t>(read->lines, 1))) error = first.take_error();
    } else {
        // The second half on another thread. Its lines are counted from its
        // start until the first half's are known.
        make_room(second_list, size - split);
        Parser second(second_list, storage + split, apart, keep_comments);
        std::future<std::optional<PartRead>> second_read = std::async(std::launch::async, [&] {
            std::optional<PartRead> read = part(second, split, size);
            if (read) read->ok = read->ok && second.finish(std::max<std::size_t>(read->lines, 1));
            return read;
        });
        std::optional<PartRead> read = part(first, 0, split);
        // The first half ends where the second's first comment is met.
        if (read) read->ok = read->ok && first.before_comment(read->lines + 1);
        const std::optional<PartRead> next = second_read.get();
        if (!read || !next) {
            out = Catalogue{};
            return false;
        }
        if (!read->ok) {
            error = first.take_error();
        } else if (!next->ok) {
            error = second.take_error(read->lines);
        } else {
            for (Entry& entry : second_list.list) entry.line += read->lines;
            first_list.hashes.insert(first_list.hashes.end(), second_list.hashes.begin(), second_list.hashes.end());
        }
    }
    if (!error) {
        put_entries(out.entries, first_list.list, second_list.list);
        error = find_duplicate(out.entries, first_list.hashes, split != size);
    }
    if (error) out = Catalogue{};
    return true;
}

// The texts unescaped over the catalogue's own bytes.
template <class Catalogue>
std::optional<PoError> read_catalogue(BulkBuffer bytes, Catalogue& out, std::size_t halves_from) {
    out = Catalogue{};
    const std::size_t size = bytes.size();
    char* const data = out.hold(std::move(bytes));
    const std::string_view text(data, size);
    const std::size_t split = size >= halves_from ? second_half(text, size / 2) : size;
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    std::optional<PoError> error;
    (void)read_parts(out, data, size, split, error, false, true, [&](Parser& parser, std::size_t begin, std::size_t end) {
        const std::size_t skip = begin == 0 && text.substr(0, bom.size()) == bom ? bom.size() : 0;
        return std::optional<PartRead>(read_lines(parser, data + begin + skip, end - begin - skip, PartRead{}));
    });
    return error;
}

}  // namespace

bool read_po_file(InputFile& file, PoTranslations& out, std::optional<PoError>& error, std::size_t halves_from) {
    out = PoTranslations{};
    if (file.size() > std::numeric_limits<std::size_t>::max()) return false;
    const auto size = static_cast<std::size_t>(file.size());
    // The split is looked for in the middle's bytes, read first.
    std::size_t split = size;
    if (size >= halves_from) {
        const std::size_t from = size / 2;
        const std::size_t window_start = from - std::min<std::size_t>(from, window_before);
        const std::size_t window_end = std::min(size, from + window_after);
        std::vector<char> window(window_end - window_start);
        if (!file.read_into(window_start, window.size(), reinterpret_cast<std::uint8_t*>(window.data()))) return false;
        const std::size_t found = second_half({window.data(), window.size()}, from - window_start);
        if (found < window.size()) split = window_start + found;
    }
    // Room for the texts, as large as the file; the parts of it the texts
    // do not reach are never touched.
    char* const storage = out.hold(BulkBuffer(size));
    return read_parts(out, storage, size, split, error, true, false,
                      [&](Parser& parser, std::size_t begin, std::size_t end) {
                          return read_file_lines(parser, file, begin, end);
                      });
}

std::optional<PoError> read_po(BulkBuffer bytes, PoCatalogue& out, std::size_t halves_from) {
    return read_catalogue(std::move(bytes), out, halves_from);
}

std::optional<PoError> read_po(std::string_view bytes, PoCatalogue& out, std::size_t halves_from) {
    BulkBuffer copy(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.data());
    return read_po(std::move(copy), out, halves_from);
}

// ---------------------------------------------------------------------------
// The writer

namespace {

// How a character takes part in line breaking: a few classes of the Unicode
// line breaking rules as gettext's writer applies them, for the characters
// that catalogues of game texts hold.
enum Trait : std::uint16_t {
    space = 1,            // a break may follow
    closing = 2,          // no break before, even after a space: ) ] } ! ? , . : ; / and wide forms
    opening = 4,          // no break after, even before spaces: ( [ { and wide forms
    quote = 8,            // no break before or after, but after a space; none before an opening after one
    glued = 16,           // no break before, but after a space: hyphens, dashes, bars, small kana
    hyphen = 32,          // a break may follow, unless a digit does: - , . : ; /
    breaks_after = 64,    // a break may follow: ! ? } | dashes and ellipses
    breaks_before = 128,  // a break may come before: the em dash
    ideograph = 256,      // a break may come before and after
    digit = 512,
};

constexpr bool in(char32_t c, std::u32string_view set) { return set.find(c) != std::u32string_view::npos; }

constexpr bool is_wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

bool is_zero_width(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0x20D0 && c <= 0x20FF);
}

// Wide punctuation: no break before, no break after, no break before but
// after a space.
constexpr std::u32string_view wide_closing = U"、。，．！？）」』】〉》〕〗〙〛｝］｠";
constexpr std::u32string_view wide_opening = U"（「『【〈《〔〖〘〚［｛｟";
constexpr std::u32string_view wide_glued = U"ーゝゞヽヾ々〻・゠：；ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶ";

constexpr std::uint16_t traits_of(char32_t c) {
    switch (c) {
        case ' ': return space;
        case ')': case ']': return closing;
        case ',': case '.': case ':': case ';': case '/': return closing | hyphen;
        case '}': case '!': case '?': return closing | breaks_after;
        case '(': case '[': case '{': case 0xA1: case 0xBF: return opening;
        case '"': case '\'': case 0xAB: case 0xBB: return quote;
        case '-': return glued | hyphen;
        case '|': case 0x2013: case 0x2026: return glued | breaks_after;
        case 0x2014: return breaks_before | breaks_after;
        default: break;
    }
    if (c >= '0' && c <= '9') return digit;
    if (!is_wide(c)) return 0;
    if (in(c, wide_closing)) return ideograph | closing;
    if (in(c, wide_opening)) return ideograph | opening;
    if (in(c, wide_glued)) return ideograph | glued;
    return ideograph;
}

// The traits of the ASCII characters, looked up rather than worked out:
// most characters of most catalogues are ASCII.
constexpr auto ascii_traits = [] {
    std::array<std::uint16_t, 128> table{};
    for (char32_t c = 0; c < 128; ++c) table[c] = traits_of(c);
    return table;
}();

// Whether a line may break between two characters, by their traits;
// `settled` is the last character before them that is not a space.
bool break_between(std::uint16_t settled, std::uint16_t before, std::uint16_t after) {
    if (after & (space | closing)) return false;
    if ((settled & opening) || ((settled & quote) && (after & opening))) return false;
    if (before & space) return true;
    if (((before | after) & quote) || (after & glued)) return false;
    if (before & hyphen) return !(after & digit);
    if ((before & breaks_after) || (after & breaks_before)) return true;
    return ((before | after) & ideograph) != 0;
}

// The code point of the UTF-8 sequence at text[i], and its length; a byte
// that starts no valid sequence stands for itself.
char32_t decode(std::string_view text, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    length = 1;
    if (lead < 0x80) return lead;
    const std::size_t need = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (need == 0 || i + need > text.size()) return lead;
    char32_t c = lead & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < need; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return lead;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if ((need == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (need == 4 && (c < 0x10000 || c > 0x10FFFF))) {
        return lead;
    }
    length = need;
    return c;
}

// The escape letter of each byte that gettext writes as one, or 0.
constexpr auto escape_letters = [] {
    std::array<char, 256> table{};
    table['\a'] = 'a';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['\v'] = 'v';
    table['\\'] = '\\';
    table['"'] = '"';
    return table;
}();
char escape_letter(char c) { return escape_letters[static_cast<unsigned char>(c)]; }

// A character of a string as it is written: escaped or not, its width in
// columns, and its traits for a break before it and for one after it (an
// escape's backslash, and its letter).
struct Unit {
    std::uint16_t first;
    std::uint16_t last;
    std::uint8_t width;
    std::uint8_t length;  // in the string
};

Unit unit_at(std::string_view text, std::size_t i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (const char letter = escape_letter(c)) return {0, ascii_traits[static_cast<unsigned char>(letter)], 2, 1};
    // No catalogue text holds one; written so that a reader refuses it.
    if (c == '\0') return {0, digit, 4, 1};
    if (byte < 0x80) {
        const std::uint8_t width = byte < 0x20 || byte == 0x7F ? 0 : 1;
        return {ascii_traits[byte], ascii_traits[byte], width, 1};
    }
    std::size_t length = 1;
    const char32_t code = decode(text, i, length);
    const std::uint16_t traits = traits_of(code);
    const std::uint8_t width = is_zero_width(code) ? 0 : is_wide(code) ? 2 : 1;
    return {traits, traits, width, static_cast<std::uint8_t>(length)};
}

// The first byte at or after i that may need an escape: a control byte, a
// quote or a backslash; or the end. Sixteen bytes at a time where the
// processor allows, then eight: of the flags a word raises, the lowest is
// never a false one.
std::size_t escape_stop(std::string_view text, std::size_t i) {
#if defined(__SSE2__)
    const __m128i controls = _mm_set1_epi8(0x1F), quotes = _mm_set1_epi8('"'), backslashes = _mm_set1_epi8('\\');
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        // A byte no larger than 0x1F is its minimum with 0x1F.
        const __m128i stops =
            _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(bytes, controls), bytes),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, backslashes)));
        const auto found = static_cast<unsigned>(_mm_movemask_epi8(stops));
        if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found));
    }
#endif
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    const auto zeros = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            const std::uint64_t found =
                ((word - ones * 0x20) & ~word & highs) | zeros(word ^ (ones * '"')) | zeros(word ^ (ones * '\\'));
            if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        }
        // The last eight bytes, shifted down to start at i, as string_stop
        // takes them.
        if (i < text.size() && text.size() >= 8) {
            const std::size_t last = text.size() - 8;
            std::uint64_t word;
            std::memcpy(&word, text.data() + last, sizeof word);
            word >>= 8 * (i - last);
            const std::uint64_t found =
                ((word - ones * 0x20) & ~word & highs) | zeros(word ^ (ones * '"')) | zeros(word ^ (ones * '\\'));
            return std::min(text.size(), i + static_cast<std::size_t>(std::countr_zero(found)) / 8);
        }
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x20 && text[i] != '"' && text[i] != '\\') ++i;
    return i;
}

// Appends text with gettext's escapes, a span at a time between them.
void append_escaped(std::string& out, std::string_view text) {
    std::size_t run = 0;
    for (std::size_t i = escape_stop(text, 0); i < text.size(); i = escape_stop(text, i + 1)) {
        const char letter = escape_letter(text[i]);
        if (!letter && text[i] != '\0') continue;
        out.append(text.data() + run, i - run);
        if (letter) {
            const char escape[2] = {'\\', letter};
            out.append(escape, 2);
        } else {
            out.append("\\000", 4);
        }
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

// The comment lines the two writers below write alike, each piece (a
// string or a character) handed to put.

// Each line of lines after marker, and a space when it is not empty.
template <class Put>
void put_comment_lines(std::string_view marker, std::string_view lines, Put put) {
    while (!lines.empty()) {
        const std::size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        put(marker);
        if (!line.empty()) {
            put(' ');
            put(line);
        }
        put('\n');
        if (end == npos) break;
        lines.remove_prefix(end + 1);
    }
}

// "#:" and the words, a new "#:" line before a word that would pass width.
template <class Put>
void put_references(std::string_view words, std::size_t width, Put put) {
    put(std::string_view("#:"));
    std::size_t column = 2;
    while (!words.empty()) {
        const std::size_t end = words.find(' ');
        const std::string_view word = words.substr(0, end);
        words = end == npos ? std::string_view{} : words.substr(end + 1);
        if (word.empty()) continue;
        if (column > 2 && column + word.size() + 1 > width) {
            put(std::string_view("\n#:"));
            column = 2;
        }
        put(' ');
        put(word);
        column += word.size() + 1;
    }
    put('\n');
}

// An entry's flags line, "#, fuzzy, c-format": "fuzzy" first, then the
// others as they are held.
template <class Put>
void put_flags(const PoEntry& entry, Put put) {
    put(std::string_view("#,"));
    std::string_view separator = " ";
    if (entry.fuzzy()) {
        put(std::string_view(" fuzzy"));
        separator = ", ";
    }
    std::string_view rest = entry.flags;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view flag = rest.substr(0, comma);
        rest = comma == npos ? std::string_view{} : rest.substr(comma + 1);
        if (flag.empty() || flag == "fuzzy") continue;
        put(separator);
        put(flag);
        separator = ", ";
    }
    put('\n');
}

// Writes entries without a width, as Writer would, each into room of its
// own and appended at once: most catalogues a program writes are written
// so, entry by entry, and their small pieces cost more than their bytes.
class PlainWriter {
public:
    void entry(const PoEntry& entry, std::string& out);

private:
    void put(std::string_view text) {
        // An empty view may have no bytes at all to copy from.
        if (!text.empty()) std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
    }
    void put(char c) { *at_++ = c; }
    // From `stop`, the first byte at or after which an escape may be needed.
    void put_escaped(std::string_view text, std::size_t stop);
    void comment_lines(std::string_view marker, std::string_view lines);
    void references(std::string_view words);
    void flags(const PoEntry& entry);
    void string(std::string_view prefix, std::string_view name, std::string_view value);

    std::unique_ptr<char[]> room_;
    std::size_t room_size_ = 0;
    char* at_ = nullptr;
};

void PlainWriter::entry(const PoEntry& entry, std::string& out) {
    // The most an entry takes: a text's byte at most four ("\000"), or a
    // line feed's two and the next line's quotes and prefix; a comment's
    // byte, a line of its own with its marker; and each string's name,
    // prefix and quotes.
    const auto size = [](const std::optional<std::string_view>& text) { return text ? text->size() : 0; };
    const std::size_t texts = entry.translator_comments.size() + entry.extracted_comments.size() +
                              entry.references.size() + entry.flags.size() + size(entry.msgctxt) + entry.msgid.size() +
                              size(entry.msgid_plural) + entry.msgstr.size() + size(entry.previous_msgctxt) +
                              size(entry.previous_msgid) + size(entry.previous_msgid_plural);
    const std::size_t most = 10 * texts + 64 * (entry.msgstr.size() + 16);
    if (room_size_ < most) {
        room_size_ = std::max(most, 2 * room_size_);
        room_ = std::make_unique_for_overwrite<char[]>(room_size_);
    }
    at_ = room_.get();
    comment_lines("#", entry.translator_comments);
    comment_lines("#.", entry.extracted_comments);
    if (!entry.references.empty()) references(entry.references);
    if (!entry.flags.empty()) flags(entry);
    const std::string_view previous = entry.obsolete ? "#~| " : "#| ";
    if (entry.previous_msgctxt) string(previous, "msgctxt", *entry.previous_msgctxt);
    if (entry.previous_msgid) string(previous, "msgid", *entry.previous_msgid);
    if (entry.previous_msgid_plural) string(previous, "msgid_plural", *entry.previous_msgid_plural);
    const std::string_view prefix = entry.obsolete ? "#~ " : "";
    if (entry.msgctxt) string(prefix, "msgctxt", *entry.msgctxt);
    string(prefix, "msgid", entry.msgid);
    if (!entry.msgid_plural) {
        string(prefix, "msgstr", entry.msgstr);
    } else {
        string(prefix, "msgid_plural", *entry.msgid_plural);
        const std::size_t forms = entry.msgstr_count();
        char name[32] = "msgstr[";
        for (std::size_t k = 0; k < forms; ++k) {
            char* end = std::to_chars(name + 7, name + sizeof name - 1, k).ptr;
            *end++ = ']';
            string(prefix, {name, static_cast<std::size_t>(end - name)}, entry.msgstr_form(k));
        }
    }
    out.append(room_.get(), static_cast<std::size_t>(at_ - room_.get()));
}

void PlainWriter::put_escaped(std::string_view text, std::size_t stop) {
    std::size_t run = 0;
    for (std::size_t i = stop; i < text.size(); i = escape_stop(text, i + 1)) {
        const char letter = escape_letter(text[i]);
        if (!letter && text[i] != '\0') continue;
        put(text.substr(run, i - run));
        put('\\');
        if (letter) {
            put(letter);
        } else {
            put("000");
        }
        run = i + 1;
    }
    put(text.substr(run));
}

void PlainWriter::comment_lines(std::string_view marker, std::string_view lines) {
    put_comment_lines(marker, lines, [this](auto piece) { put(piece); });
}

// Split at the width msgcat gives references without one.
void PlainWriter::references(std::string_view words) {
    put_references(words, static_cast<std::size_t>(po_default_width), [this](auto piece) { put(piece); });
}

void PlainWriter::flags(const PoEntry& entry) {
    put_flags(entry, [this](auto piece) { put(piece); });
}

// Split only after each line feed; a string of more than one line starts on
// the next.
void PlainWriter::string(std::string_view prefix, std::string_view name, std::string_view value) {
    // A line feed is a byte to escape: none comes before the first of them.
    const std::size_t stop = escape_stop(value, 0);
    std::size_t feed = stop == value.size() ? npos : value.find('\n', stop);
    put(prefix);
    put(name);
    if (feed == npos || feed + 1 == value.size()) {
        put(" \"");
        put_escaped(value, stop);
        put("\"\n");
        return;
    }
    put(" \"\"\n");
    std::size_t start = 0;
    while (start < value.size()) {
        const std::size_t end = feed == npos ? value.size() : feed + 1;
        put(prefix);
        put('"');
        const std::string_view line = value.substr(start, end - start);
        put_escaped(line, escape_stop(line, 0));
        put("\"\n");
        start = end;
        feed = value.find('\n', start);
    }
}

class Writer {
public:
    explicit Writer(int width)
        : page_width_(width > 0 ? width : std::numeric_limits<int>::max()),
          reference_width_(static_cast<std::size_t>(width > 0 ? width : po_default_width)) {}

    void entry(const PoEntry& entry, std::string& out);

private:
    void comment_lines(std::string& out, std::string_view marker, std::string_view lines);
    void references(std::string& out, std::string_view words);
    void flags(std::string& out, const PoEntry& entry);
    void string(std::string& out, std::string_view prefix, std::string_view name, std::string_view value);
    bool break_lines(std::string_view portion, long long start_column, long long width, bool first_break_only);

    long long page_width_;
    std::size_t reference_width_;
    std::vector<std::size_t> breaks_;  // where the lines of a portion start, but its first
};

void Writer::entry(const PoEntry& entry, std::string& out) {
    comment_lines(out, "#", entry.translator_comments);
    comment_lines(out, "#.", entry.extracted_comments);
    if (!entry.references.empty()) references(out, entry.references);
    if (!entry.flags.empty()) flags(out, entry);
    const std::string_view previous = entry.obsolete ? "#~| " : "#| ";
    if (entry.previous_msgctxt) string(out, previous, "msgctxt", *entry.previous_msgctxt);
    if (entry.previous_msgid) string(out, previous, "msgid", *entry.previous_msgid);
    if (entry.previous_msgid_plural) string(out, previous, "msgid_plural", *entry.previous_msgid_plural);
    const std::string_view prefix = entry.obsolete ? "#~ " : "";
    if (entry.msgctxt) string(out, prefix, "msgctxt", *entry.msgctxt);
    string(out, prefix, "msgid", entry.msgid);
    if (!entry.msgid_plural) {
        string(out, prefix, "msgstr", entry.msgstr);
        return;
    }
    string(out, prefix, "msgid_plural", *entry.msgid_plural);
    const std::size_t forms = entry.msgstr_count();
    for (std::size_t k = 0; k < forms; ++k) {
        string(out, prefix, "msgstr[" + std::to_string(k) + "]", entry.msgstr_form(k));
    }
}

void Writer::comment_lines(std::string& out, std::string_view marker, std::string_view lines) {
    put_comment_lines(marker, lines, [&out](auto piece) { out += piece; });
}

void Writer::references(std::string& out, std::string_view words) {
    put_references(words, reference_width_, [&out](auto piece) { out += piece; });
}

void Writer::flags(std::string& out, const PoEntry& entry) {
    put_flags(entry, [&out](auto piece) { out += piece; });
}

// Where the lines of a portion break: where a piece between two break
// opportunities would pass the width, the break before the piece is taken.
// Whether any is.
bool Writer::break_lines(std::string_view portion, long long start_column, long long width, bool first_break_only) {
    breaks_.clear();
    // gettext keeps a final "\n" on the line before it.
    const std::size_t final_feed = !portion.empty() && portion.back() == '\n' ? portion.size() - 1 : npos;
    std::size_t last = npos;
    long long column = start_column;
    long long piece = 0;
    std::uint16_t before = 0;
    std::uint16_t settled = 0;
    for (std::size_t i = 0; i < portion.size();) {
        const Unit unit = unit_at(portion, i);
        // Between two letters, as between most characters, no break.
        if (i > 0 && (before | unit.first) != 0) {
            if (!(before & space)) settled = before;
            if (i != final_feed && break_between(settled, before, unit.first)) {
                if (last != npos && column + piece > width) {
                    breaks_.push_back(last);
                    if (first_break_only) return true;
                    column = 0;
                }
                last = i;
                column += piece;
                piece = 0;
            }
        }
        piece += unit.width;
        before = unit.last;
        i += unit.length;
    }
    if (last != npos && column + piece > width) breaks_.push_back(last);
    return !breaks_.empty();
}

void Writer::string(std::string& out, std::string_view prefix, std::string_view name, std::string_view value) {
    // Columns are counted after the prefix and an opening quote, as gettext
    // counts them; a line leaves room for its closing quote.
    const long long after_break = static_cast<long long>(prefix.size()) + 1;
    const long long width = page_width_ - 1 - after_break;
    const auto first_column = static_cast<long long>(name.size()) + 1;
    // Most strings fit on their first line: a character takes no more
    // columns than its bytes, and an escape two.
    long long columns = first_column + static_cast<long long>(value.size());
    bool feed = false;
    // Without a width, only line feeds split a string: nothing else need be
    // measured.
    const bool unlimited = page_width_ == std::numeric_limits<int>::max();
    if (unlimited) {
        feed = value.find('\n') != npos;
    } else {
        for (std::size_t i = 0; i < value.size() && columns <= width; ++i) {
            if (escape_letter(value[i])) ++columns;
            if (value[i] == '\0') columns += 3;
            feed |= value[i] == '\n';
        }
    }
    if (!feed && (unlimited || columns <= width)) {
        out.append(prefix).append(name).append(" \"", 2);
        append_escaped(out, value);
        out.append("\"\n", 2);
        return;
    }
    bool first_line = true;
    std::size_t start = 0;
    do {
        const std::size_t line_feed = value.find('\n', start);
        const std::size_t end = line_feed == npos ? value.size() : line_feed + 1;
        const std::string_view portion = value.substr(start, end - start);
        // A string that takes more than one line starts on the next.
        if (first_line && !portion.empty() &&
            (end < value.size() || first_column > width ||
             (!unlimited && break_lines(portion, first_column, width, true)))) {
            out.append(prefix).append(name).append(" \"\"\n");
            first_line = false;
        }
        if (unlimited) breaks_.clear();
        else break_lines(portion, first_line ? first_column : 0, width, false);
        out.append(prefix);
        if (first_line) out.append(name).append(" ");
        out += '"';
        std::size_t run = 0;
        for (const std::size_t at : breaks_) {
            append_escaped(out, portion.substr(run, at - run));
            out.append("\"\n").append(prefix).append("\"");
            run = at;
        }
        append_escaped(out, portion.substr(run));
        out += "\"\n";
        first_line = false;
        start = end;
    } while (start < value.size());
}

}  // namespace

void write_po_entry(const PoEntry& entry, std::string& out, int width) {
    if (width <= 0) PlainWriter().entry(entry, out);
    else Writer(width).entry(entry, out);
}

void write_po(std::span<const PoEntry> entries, std::string& out, int width) {
    Writer writer(width);
    PlainWriter plain;
    bool first = true;
    for (const bool obsolete : {false, true}) {
        for (const PoEntry& entry : entries) {
            if (entry.obsolete != obsolete) continue;
            if (!first) out += '\n';
            first = false;
            if (width <= 0) plain.entry(entry, out);
            else writer.entry(entry, out);
        }
    }
}

struct PoEntryWriter::Room {
    PlainWriter plain;
};

PoEntryWriter::PoEntryWriter(int width) : width_(width) {
    if (width <= 0) room_ = std::make_unique<Room>();
}

PoEntryWriter::~PoEntryWriter() = default;

void PoEntryWriter::write(const PoEntry& entry, std::string& out) {
    if (room_) room_->plain.entry(entry, out);
    else write_po_entry(entry, out, width_);
}

}  // namespace modtext
