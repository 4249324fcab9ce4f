#include <algorithm>
#include <cstring>
#include <future>
#include <limits>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/languages.h"
#include "formats/files.h"
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

// The string id of a language key and gender key: a table key, or "lang<N>"
// as export writes it for an id of no table language. None for other keys.
std::optional<std::int32_t> string_id_of(std::string_view language, std::string_view gender) {
    const std::uint32_t female = gender == "female" ? 1u : 0u;
    if (const auto row = language_row_of_key(language)) {
        return LanguageTable[*row].male_id + static_cast<std::int32_t>(female);
    }
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
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n << 1) | female);
}

constexpr std::string_view file_tag = "#File:";

// Where the next file tag and the next bar of a part of the text lie. Both
// are rare: one search over the part finds them for many lines at a time,
// where a search of each line would cost a call per line.
class RareBytes {
public:
    RareBytes(char* begin, std::size_t size) : end_(begin + size) {}

    // The first file tag starting at or after from, or the part's end.
    const char* tag_from(const char* from) {
        if (tag_ && tag_ >= from) return tag_;
        tag_ = end_;
        // Found by its colon, the rarer byte: the five before it must match.
        const std::size_t before = file_tag.size() - 1;
        for (const char* at = from + std::min<std::size_t>(before, static_cast<std::size_t>(end_ - from));
             at < end_; ++at) {
            at = static_cast<const char*>(std::memchr(at, ':', static_cast<std::size_t>(end_ - at)));
            if (!at) break;
            if (std::memcmp(at - before, file_tag.data(), before) == 0) {
                tag_ = at - before;
                break;
            }
        }
        return tag_;
    }

    // The first bar at or after from, or the part's end.
    char* bar_from(char* from) {
        if (bar_ && bar_ >= from) return bar_;
        bar_ = static_cast<char*>(std::memchr(from, '|', static_cast<std::size_t>(end_ - from)));
        if (!bar_) bar_ = end_;
        return bar_;
    }

private:
    char* end_;
    const char* tag_ = nullptr;
    char* bar_ = nullptr;
};

// Turns the bars of a localized text back into line feeds, in place.
void unbar(char* text, std::size_t size, RareBytes& rare) {
    for (char* bar = rare.bar_from(text); bar < text + size; bar = rare.bar_from(bar + 1)) *bar = '\n';
}

// Where a part of the text's warnings go: straight to the reporter, or, for
// a part parsed on another thread, held until the lines before it are
// counted. Held warnings take a byte or so each, the distance from the one
// before and which of the two messages, so that a text of bad lines costs
// less than itself.
class Warnings {
public:
    static constexpr const char* invalid_string = "WARNING: Invalid String on line %d!\n";
    static constexpr const char* invalid_file_info = "WARNING: Invalid File Info on line %d!\n";

    explicit Warnings(Reporter* reporter) : reporter_(reporter) {}

    void warn(const char* format, std::size_t line_number) {
        if (reporter_) {
            report(*reporter_, Severity::warning, format, static_cast<int>(line_number));
            return;
        }
        // Seven bits a byte, the high bit set on all bytes but the last.
        std::uint64_t value = (line_number - last_line_) << 1 | (format == invalid_file_info);
        last_line_ = line_number;
        for (; value >= 0x80; value >>= 7) held_.push_back(static_cast<std::uint8_t>(value | 0x80));
        held_.push_back(static_cast<std::uint8_t>(value));
    }
    void pass_on(Reporter& to, std::size_t lines_before) const {
        std::size_t line = lines_before;
        for (std::size_t i = 0; i < held_.size();) {
            std::uint64_t value = 0;
            for (unsigned shift = 0;; shift += 7) {
                const std::uint8_t byte = held_[i++];
                value |= std::uint64_t{byte & 0x7Fu} << shift;
                if (byte < 0x80) break;
            }
            line += static_cast<std::size_t>(value >> 1);
            report(to, Severity::warning, value & 1 ? invalid_file_info : invalid_string,
                   static_cast<int>(line));
        }
    }

private:
    Reporter* reporter_;
    ChunkedList<std::uint8_t, 16> held_;
    std::size_t last_line_ = 0;
};

struct Header {
    std::string_view name;
    std::string_view number;
};

// The parts of a header line whose tag is at `tag`: the name up to the first
// dot after it, the number after the first comma after that dot.
std::optional<Header> header_of(std::string_view line, std::size_t tag) {
    const std::size_t name_start = tag + file_tag.size();
    const std::size_t dot = line.find('.', name_start);
    const std::size_t comma = dot == npos ? npos : line.find(',', dot);
    if (comma == npos) return std::nullopt;
    return Header{line.substr(name_start, dot - name_start), line.substr(comma + 1)};
}

// One line of the table's storage, its line feed included when it has one.
void parse_line(TableBuilder& table, char* start, std::size_t size, std::size_t line_number,
                RareBytes& rare, Warnings& warnings) {
    const std::string_view line(start, size);
    if (line.substr(0, 2) == "//") return;

    // A tag has no line feed: one starting within the line lies within it.
    if (const char* tag = rare.tag_from(start); tag < start + size) {
        if (const std::optional<Header> header = header_of(line, static_cast<std::size_t>(tag - start))) {
            table.add_record(start + (header->name.data() - start), read_number(header->number));
        } else {
            warnings.warn(Warnings::invalid_file_info, line_number);
        }
        return;
    }
    if (line.empty() || line[0] != '#') return;

    const std::size_t arrow = line.find("->");
    if (arrow == npos || !table.has_record()) {
        warnings.warn(Warnings::invalid_string, line_number);
        return;
    }
    const TextNumber key = read_number(line.substr(1));
    const std::string_view text = line.substr(arrow + 2);
    const std::size_t comma = line.find(',');
    if (comma == npos || arrow < comma) {
        // A script entry keeps its line end; the rebuild writes it as it stands.
        table.add_variant(start + arrow + 2, text.size(), arrow + 2, key, -1);
        return;
    }
    const std::size_t second = line.find(',', comma + 1);
    const std::size_t gender_end = second == npos ? npos : line.find("->", second);
    const auto id = gender_end == npos
                        ? std::nullopt
                        : string_id_of(line.substr(comma + 1, second - comma - 1),
                                       line.substr(second + 1, gender_end - second - 1));
    if (!id) {
        warnings.warn(Warnings::invalid_string, line_number);
        return;
    }
    std::size_t length = text.size();
    if (length >= 2 && text.back() == '\n') --length;
    unbar(start + arrow + 2, length, rare);
    table.add_variant(start + arrow + 2, length, arrow + 2, key, *id);
}

// Parses the lines of text into table's records, the variants viewing the
// text, and tells how many lines there were.
std::size_t parse_lines(TableBuilder& table, char* text, std::size_t size, Warnings& warnings) {
    std::size_t line_number = 0;
    RareBytes rare(text, size);
    for (std::size_t rest = size; rest > 0; ++line_number) {
        const void* feed = std::memchr(text, '\n', rest);
        const std::size_t length = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - text) + 1 : rest;
        parse_line(table, text, length, line_number, rare, warnings);
        text += length;
        rest -= length;
    }
    table.finish_record();
    return line_number;
}

}  // namespace

std::size_t translation_second_half(std::string_view text) {
    for (std::size_t feed = text.find("\n#File:", text.size() / 2); feed != npos;
         feed = text.find("\n#File:", feed + 1)) {
        const std::string_view line = text.substr(feed + 1, text.find('\n', feed + 1) - feed);
        if (header_of(line, 0)) return feed + 1;
    }
    return text.size();
}

namespace {

// Parses the table's storage, whose texts the variants then view. A text of
// at least halves_from bytes is parsed in two halves, one on another thread;
// the second half's diagnostics follow the first's.
void parse_storage(TranslationTable& table, Reporter& reporter, std::size_t halves_from) {
    char* text = table.storage.data();
    const std::size_t size = table.storage.size();
    const std::size_t split = size >= halves_from ? translation_second_half({text, size}) : size;
    Warnings first_warnings(&reporter);
    TableBuilder first(table, text);
    if (split == size) {
        parse_lines(first, text, size, first_warnings);
        return;
    }
    TranslationTable second;
    Warnings second_warnings(nullptr);
    std::future<std::size_t> second_done = std::async(std::launch::async, [&] {
        TableBuilder builder(second, text);
        return parse_lines(builder, text + split, size - split, second_warnings);
    });
    const std::size_t first_lines = parse_lines(first, text, split, first_warnings);
    second_done.get();
    second_warnings.pass_on(reporter, first_lines);
    first.append(second);
}

}  // namespace

void parse_translation_lines(TranslationTable& table, std::string_view text, Reporter& reporter,
                             std::size_t halves_from) {
    table = TranslationTable{};
    table.storage = BulkBuffer(text.size());
    std::copy(text.begin(), text.end(), table.storage.data());
    parse_storage(table, reporter, halves_from);
}

bool parse_translation_text(TranslationTable& table, const std::string& path, Reporter& reporter) {
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
    table.storage = BulkBuffer(static_cast<std::size_t>(file.size()));
    if (!file.read_into(0, file.size(), reinterpret_cast<std::uint8_t*>(table.storage.data()))) {
        report(reporter, Severity::error, "Error opening file: %s\n", path.c_str());
        table = TranslationTable{};
        return false;
    }
    // One core gains nothing from halves.
    parse_storage(table, reporter,
                  std::thread::hardware_concurrency() == 1 ? std::numeric_limits<std::size_t>::max()
                                                           : parse_in_halves_from);
    return true;
}

}  // namespace modtext
