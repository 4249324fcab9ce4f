#include "translation/text_format.h"

#include <algorithm>

namespace modtext {

void append_header_line(std::string& out, std::string_view name, std::string_view letters,
                        std::size_t index) {
    out += "#File:";
    out += name;
    out += '.';
    out += letters;
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

void append_localized_entry(std::string& out, std::uint32_t key, std::string_view label,
                            std::string_view text) {
    out += '#';
    out += std::to_string(key);
    out += ',';
    out += label;
    out += "->";
    out += text;
    out += '\n';
}

void append_template_lines(std::string& out, std::uint32_t key, std::uint16_t to_mask) {
    const std::string prefix = '#' + std::to_string(key) + ',';
    for (std::size_t row = 0; row < LanguageTable.size(); ++row) {
        if ((to_mask & language_bit(row)) == 0) continue;
        const std::string_view lang = LanguageTable[row].key;
        out += prefix;
        out += lang;
        out += ",male->\n";
        if (row == 0) continue;  // English has one template line only
        out += prefix;
        out += lang;
        out += ",female->\n";
    }
}

void append_script_entry(std::string& out, std::size_t line, std::string_view text) {
    out += '#';
    out += std::to_string(line);
    out += "->";
    out += text;
    out += '\n';
}

void bar_line_feeds(std::string& text) { std::replace(text.begin(), text.end(), '\n', '|'); }

}  // namespace modtext
