#include "core/code_page.h"

#include <algorithm>
#include <charconv>

namespace modtext {

bool is_code_page(std::uint64_t number) {
    return std::find(code_pages.begin(), code_pages.end(), number) != code_pages.end();
}

std::uint16_t default_code_page(std::size_t row) {
    static constexpr std::array<std::uint16_t, language_count> defaults{1252, 1252, 1252, 1252, 1252,
                                                                        1250, 949,  950,  936,  932};
    return defaults[row];
}

std::optional<std::string> add_code_page_choice(CodePageChoices& choices, std::string_view choice) {
    const std::size_t equals = choice.find('=');
    if (equals == std::string_view::npos) return "--codepage needs LANG=CP, such as polish=1250";
    const std::string_view name = choice.substr(0, equals);
    const std::string_view number = choice.substr(equals + 1);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() || !is_code_page(value)) {
        return "code page \"" + std::string(number) + "\" for " + std::string(name) + " is not one of " +
               std::string(code_page_list);
    }
    const auto page = static_cast<std::uint16_t>(value);
    if (name == "script") {
        choices.script = page;
    } else if (name == "other") {
        choices.other = page;
    } else if (const auto row = language_row_of_key(name)) {
        choices.languages[*row] = page;
    } else {
        std::string keys;
        for (const Language& language : LanguageTable) keys += std::string(language.key) + ", ";
        return "unknown language key \"" + std::string(name) + "\" in --codepage; the keys are " + keys +
               "script and other";
    }
    return std::nullopt;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace modtext
