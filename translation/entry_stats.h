// How much there is to translate: strings, words and characters of a
// module's entries by resource class and language, and how far a text or
// catalogue has got, for the stats command.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/code_page.h"
#include "core/languages.h"
#include "translation/module_entries.h"
#include "translation/text_encoding.h"

namespace modtext {

struct TextCount {
    std::uint64_t strings = 0;
    std::uint64_t words = 0;
    std::uint64_t characters = 0;
};

// The resource classes, as the stats name them; "other" holds the two
// types every export visits.
inline constexpr std::array<std::string_view, 8> resource_classes{
    "areas", "conversations", "instances", "module", "journals", "scripts", "templates", "other"};
std::string_view resource_class_of(std::uint16_t type, bool script);

// Script lines are counted under this key, not under a language.
inline constexpr std::string_view script_lines_key = "scripts";

struct ModuleStats {
    std::map<std::string, TextCount> languages;  // by language key
    std::map<std::string, std::map<std::string, TextCount>> classes;
};

// Counts entries as export writes them: each substring of a language of
// from_mask is one string, male and female apart; words are runs of
// non-space characters (in Chinese and Japanese, which write no spaces,
// every character); characters are counted after decoding with the
// language's code page, a byte that does not decode counting as one.
class StatsCounter {
public:
    StatsCounter(std::uint16_t from_mask, const CodePages& pages);
    ~StatsCounter();
    void add(const ResourceEntries& resource);
    const ModuleStats& stats() const { return stats_; }

private:
    void count(std::string_view class_name, const std::string& language, std::uint16_t code_page,
               bool spaceless, std::string_view text);

    std::uint16_t from_mask_;
    CodePages pages_;
    std::map<std::uint16_t, std::unique_ptr<CodePageConverter>> converters_;
    std::string decoded_;
    ModuleStats stats_;
};

// A text's or catalogue's progress in one target language.
struct Progress {
    std::uint64_t filled = 0;
    std::uint64_t empty = 0;
    std::uint64_t fuzzy = 0;
    // Whole percent done, rounded down.
    std::uint64_t done() const;
};

// The template lines of a translation text: every line of a language
// other than the source one is filled or empty. The source defaults to the
// settings line's from languages, then english.
std::map<std::string, Progress> text_progress(std::string_view text,
                                              std::string_view source_language = {});
// A PO catalogue's entries in its Language: translated, fuzzy, untranslated.
// None, with the reader's error, when it does not parse.
std::optional<std::map<std::string, Progress>> catalogue_progress(std::string_view text,
                                                                  std::string& error);

// The counts as the command prints them: a plain table, or one JSON object.
std::string stats_table(const ModuleStats& stats, const std::map<std::string, Progress>* text);
std::string stats_json(std::string_view module, const ModuleStats& stats,
                       const std::map<std::string, Progress>* text);

}  // namespace modtext
