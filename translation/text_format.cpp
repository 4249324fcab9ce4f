#include "translation/text_format.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace modtext {

namespace {

void append_header_part(std::string& out, std::string_view part, TextEncoding encoding) {
    const bool ascii = encoding == TextEncoding::utf8;
    for (char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x20 || c == ',' || (ascii && byte >= 0x80) ? '_' : c;
    }
}

}  // namespace

std::string header_part(std::string_view part, TextEncoding encoding) {
    std::string out;
    append_header_part(out, part, encoding);
    return out;
}

void append_header_line(std::string& out, std::string_view name, std::string_view letters,
                        std::size_t index, TextEncoding encoding) {
    out += "#File:";
    append_header_part(out, name, encoding);
    out += '.';
    append_header_part(out, letters, encoding);
    out += ',';
    out += std::to_string(index);
    out += "\n\n";
}

std::string language_label(std::int32_t string_id) {
    std::string label;
    if (const auto row = language_row_of_id(string_id)) {
        label = LanguageTable[*row].key;
    } else {
        label = "lang" + std::to_string(static_cast<std::uint32_t>(string_id) >> 1);
    }
    label += ',';
    label += gender_key(string_id);
    return label;
}

namespace {

// "#<key>", written into a buffer of 24 bytes; its length.
std::size_t key_text(char* to, std::uint64_t key) {
    to[0] = '#';
    return static_cast<std::size_t>(std::to_chars(to + 1, to + 24, key).ptr - to);
}

void append_key(std::string& out, std::uint64_t key) {
    char text[24];
    out.append(text, key_text(text, key));
}

// The labels of the table's twenty ids, made once.
const std::string* table_label(std::int32_t string_id) {
    static const std::array<std::string, 2 * language_count> labels = [] {
        std::array<std::string, 2 * language_count> made;
        for (std::size_t row = 0; row < language_count; ++row) {
            made[2 * row] = language_label(LanguageTable[row].male_id);
            made[2 * row + 1] = language_label(LanguageTable[row].female_id);
        }
        return made;
    }();
    const auto row = language_row_of_id(string_id);
    return row ? &labels[2 * *row + (static_cast<std::uint32_t>(string_id) & 1u)] : nullptr;
}

}  // namespace

void append_localized_entry(std::string& out, std::uint32_t key, std::int32_t string_id,
                            std::string_view text, TextDecoder* utf8) {
    append_key(out, key);
    out += ',';
    if (const std::string* label = table_label(string_id)) out += *label;
    else out += language_label(string_id);
    out += "->";
    if (utf8) utf8->append_localized(out, string_id, text);
    else bar_line_feeds(out, text);
    out += '\n';
}

TemplateLines::TemplateLines(std::uint16_t to_mask, std::uint16_t from_mask) {
    for (std::size_t row = 0; row < LanguageTable.size(); ++row) {
        if ((to_mask & language_bit(row)) == 0) continue;
        const bool carries = (from_mask & language_bit(row)) == 0;
        for (const std::int32_t id : {LanguageTable[row].male_id, LanguageTable[row].female_id}) {
            lines_.push_back({',' + language_label(id) + "->", id, row, carries});
            if (row == 0) break;  // English has one template line only
        }
    }
}

void TemplateLines::append(std::string& out, std::uint32_t key, const LocString& existing,
                           std::span<std::size_t, language_count> lines_written, TextDecoder* utf8) const {
    // The key is the same on every line.
    char key_form[24];
    const std::string_view key_line(key_form, key_text(key_form, key));
    for (const Line& line : lines_) {
        out += key_line;
        out += line.label;
        if (line.carries_existing) {
            for (const LocSubstring& substring : existing.substrings) {
                if (substring.string_id != line.string_id) continue;
                if (utf8) utf8->append_localized(out, substring.string_id, substring_text(substring));
                else bar_line_feeds(out, substring_text(substring));
                break;
            }
        }
        out += '\n';
        ++lines_written[line.row];
    }
}

void append_script_entry(std::string& out, std::size_t line, std::string_view text, TextDecoder* utf8) {
    out += '#';
    out += std::to_string(line);
    out += "->";
    if (utf8) utf8->append_script(out, text);
    else out += text;
    out += '\n';
}

std::string_view substring_text(const LocSubstring& substring) {
    const std::string_view text(reinterpret_cast<const char*>(substring.text.data()), substring.text.size());
    return text.substr(0, text.find('\0'));
}

void bar_line_feeds(std::string& out, std::string_view text) {
    // A run of text at a time, up to each line feed.
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t feed = text.find('\n', from);
        out.append(text, from, feed == std::string_view::npos ? std::string_view::npos : feed - from);
        if (feed == std::string_view::npos) break;
        out += '|';
        from = feed + 1;
    }
}

}  // namespace modtext
