#include <gtest/gtest.h>

#include "core/languages.h"
#include "translation/text_format.h"

using namespace modtext;

TEST(Languages, IdsMapToRowsAndGenders) {
    EXPECT_EQ(language_row_of_id(259), 7u);  // chintrad female
    EXPECT_EQ(gender_key(259), "female");
    EXPECT_EQ(language_row_of_id(260), 8u);  // chinsimpl male
    EXPECT_EQ(gender_key(260), "male");
    EXPECT_EQ(language_row_of_id(0), 0u);
    EXPECT_EQ(language_row_of_id(11), 5u);
    for (std::int32_t id : {-1, 12, 255, 264, 300}) EXPECT_FALSE(language_row_of_id(id)) << id;
}

TEST(Languages, KeysAreExactAndCaseSensitive) {
    EXPECT_EQ(language_row_of_key("korean"), 6u);
    EXPECT_EQ(language_row_of_key("japanese"), 9u);
    EXPECT_FALSE(language_row_of_key("Korean"));
    EXPECT_FALSE(language_row_of_key("englis"));
    EXPECT_FALSE(language_row_of_key(""));
}

TEST(Languages, MasksSelectByRowBit) {
    EXPECT_TRUE(id_passes_mask(263, 0x200));
    EXPECT_FALSE(id_passes_mask(263, 0x1FF));
    EXPECT_TRUE(id_passes_mask(3, 0x002));
    EXPECT_FALSE(id_passes_mask(3, 0x001));
    for (std::int32_t id : {0, 1, 10, 11, 256, 263}) EXPECT_FALSE(id_passes_mask(id, 0));
    for (std::int32_t id : {0, 5, 261}) EXPECT_TRUE(id_passes_mask(id, all_languages_mask));
    // Ids of no table language pass every mask, so their texts are never dropped.
    for (std::int32_t id : {12, 255, 264, -1}) EXPECT_TRUE(id_passes_mask(id, 0));

    std::array<bool, language_count> checks{};
    EXPECT_EQ(mask_from_checks(checks), 0);
    checks[0] = checks[5] = true;
    EXPECT_EQ(mask_from_checks(checks), 0x021);
    checks.fill(true);
    EXPECT_EQ(mask_from_checks(checks), 0x3FF);
}

TEST(TextFormat, LabelsOfTableAndOtherIds) {
    EXPECT_EQ(language_label(0), "english,male");
    EXPECT_EQ(language_label(261), "chinsimpl,female");
    EXPECT_EQ(language_label(12), "lang6,male");
    EXPECT_EQ(language_label(301), "lang150,female");
    EXPECT_EQ(language_label(-1), "lang2147483647,female");
}

TEST(TextFormat, TemplateLinesFollowTableOrderAndCarryTheTextsOfOtherLanguages) {
    // A field with English, French feminine (twice) and Korean masculine texts.
    const std::string english = "Inn", french = std::string("Auberge|\0x", 10), french2 = "Autre",
                      korean = "Jumak\nbar";
    const auto view = [](const std::string& text) {
        return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    LocString existing;
    existing.substrings = {{0, view(english)}, {3, view(french)}, {3, view(french2)}, {256, view(korean)}};
    struct Case {
        std::uint16_t to, from;
        std::uint32_t key;
        std::string lines;
        std::array<std::size_t, language_count> counted;
    };
    const std::vector<Case> cases{
        {0, 0x001, 7, "", {}},
        {0x001, 0x001, 7, "#7,english,male->\n", {1}},
        {0x001, 0, 7, "#7,english,male->Inn\n", {1}},
        // Languages among from keep empty lines: their texts were written above them.
        {0x042, 0x002, 41, "#41,french,male->\n#41,french,female->\n#41,korean,male->Jumak|bar\n#41,korean,female->\n",
         {0, 2, 0, 0, 0, 0, 2}},
        {0x042, 0x001, 41, "#41,french,male->\n#41,french,female->Auberge|\n#41,korean,male->Jumak|bar\n#41,korean,female->\n",
         {0, 2, 0, 0, 0, 0, 2}},
    };
    for (const Case& c : cases) {
        std::string out;
        std::array<std::size_t, language_count> counted{};
        TemplateLines(c.to, c.from).append(out, c.key, existing, counted);
        EXPECT_EQ(out, c.lines);
        EXPECT_EQ(counted, c.counted);
    }
}

TEST(TextFormat, BarLineFeedsReplacesEveryLineFeed) {
    std::string text = "kept:";
    bar_line_feeds(text, "\nA\n\nB|C\n");
    EXPECT_EQ(text, "kept:|A||B|C|");
    bar_line_feeds(text, "");
    bar_line_feeds(text, "plain");
    EXPECT_EQ(text, "kept:|A||B|C|plain");
}
