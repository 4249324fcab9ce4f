// The ten languages of the translation text, their keys, string ids and
// selection bits, and the user's choices that travel to the actions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace modtext {

struct Language {
    std::string_view caption;  // check box caption in the main window
    std::string_view key;      // language key in the translation text
    std::int32_t male_id;
    std::int32_t female_id;
};

inline constexpr std::size_t language_count = 10;

inline constexpr std::array<Language, language_count> LanguageTable{{
    {"English", "english", 0, 1},
    {"French", "french", 2, 3},
    {"German", "german", 4, 5},
    {"Italian", "italian", 6, 7},
    {"Spanish", "spanish", 8, 9},
    {"Polish", "polish", 10, 11},
    {"Korean", "korean", 256, 257},
    {"Chinese Trad.", "chintrad", 258, 259},
    {"Chinese Simpl.", "chinsimpl", 260, 261},
    {"Japanese", "japanese", 262, 263},
}};

inline constexpr std::uint16_t all_languages_mask = 0x3FF;

constexpr std::uint16_t language_bit(std::size_t row) {
    return static_cast<std::uint16_t>(1u << row);
}

// The table row of a string id, or none for an id of no table language.
std::optional<std::size_t> language_row_of_id(std::int32_t string_id);

// The table row of an exact, case-sensitive language key.
std::optional<std::size_t> language_row_of_key(std::string_view key);

// Gender key of a string id: "male" for even ids, "female" for odd ones.
std::string_view gender_key(std::int32_t string_id);

// Whether a string id passes a language mask: ids of a table language need
// their row's bit; ids of no table language always pass, so that no text is
// dropped for want of a key.
bool id_passes_mask(std::int32_t string_id, std::uint16_t mask);

// Mask of the rows whose box is checked.
std::uint16_t mask_from_checks(const std::array<bool, language_count>& checked);

// The export filter rows, in list order.
inline constexpr std::array<std::string_view, 7> filter_captions{
    "All files in the MOD",      "Area files (are)",  "Conversation files (dlg)",
    "Game instance files (git)", "Info files (ifo)",  "Journal files (jrl)",
    "Scripts (nss)",
};

// The filter row past the window's seven that selects only the template
// resources (and the two types every export visits); the command line's.
inline constexpr std::int32_t templates_filter = 7;

struct SelectionState {
    std::uint16_t from_mask = 0;
    std::uint16_t to_mask = 0;
    std::int32_t filter = -1;  // selected filter row, -1 when none
    // Template resources are visited too (the command line's --templates).
    bool templates = false;
};

}  // namespace modtext
