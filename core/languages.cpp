#include "core/languages.h"

namespace modtext {

std::optional<std::size_t> language_row_of_id(std::int32_t string_id) {
    for (std::size_t row = 0; row < LanguageTable.size(); ++row) {
        const Language& lang = LanguageTable[row];
        if (string_id == lang.male_id || string_id == lang.female_id) return row;
    }
    return std::nullopt;
}

std::optional<std::size_t> language_row_of_key(std::string_view key) {
    for (std::size_t row = 0; row < LanguageTable.size(); ++row) {
        if (LanguageTable[row].key == key) return row;
    }
    return std::nullopt;
}

std::string_view gender_key(std::int32_t string_id) {
    return (static_cast<std::uint32_t>(string_id) & 1u) ? "female" : "male";
}

bool id_passes_mask(std::int32_t string_id, std::uint16_t mask) {
    const auto row = language_row_of_id(string_id);
    return !row || (mask & language_bit(*row)) != 0;
}

std::uint16_t mask_from_checks(const std::array<bool, language_count>& checked) {
    std::uint16_t mask = 0;
    for (std::size_t row = 0; row < checked.size(); ++row) {
        if (checked[row]) mask = static_cast<std::uint16_t>(mask | language_bit(row));
    }
    return mask;
}

}  // namespace modtext
