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

TEST(TextFormat, TemplateLinesFollowTableOrder) {
    std::string out;
    TemplateLines(0).append(out, 7);
    EXPECT_EQ(out, "");
    TemplateLines(0x001).append(out, 7);
    EXPECT_EQ(out, "#7,english,male->\n");
    out.clear();
    TemplateLines(0x042).append(out, 41);  // French and Korean
    EXPECT_EQ(out,
              "#41,french,male->\n#41,french,female->\n"
              "#41,korean,male->\n#41,korean,female->\n");
}

TEST(TextFormat, BarLineFeedsReplacesEveryLineFeed) {
    std::string text = "kept:";
    bar_line_feeds(text, "\nA\n\nB|C\n");
    EXPECT_EQ(text, "kept:|A||B|C|");
    bar_line_feeds(text, "");
    bar_line_feeds(text, "plain");
    EXPECT_EQ(text, "kept:|A||B|C|plain");
}
