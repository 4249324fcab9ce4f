// Translation text parser: line kinds, text conversions, string ids, numbers,
// line numbers in warnings and the lookups the rebuild relies on.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"
#include "translation/translation_table.h"

using namespace modtext;
using namespace std::string_literals;
using modtext::testing::RecordingReporter;

namespace {

// A table as plain values, so that whole tables compare and print.
struct Variant {
    std::int32_t id;
    std::string text;
    bool operator==(const Variant&) const = default;
};
struct Entry {
    TextNumber key;
    std::vector<Variant> variants;
    bool operator==(const Entry&) const = default;
};
struct Record {
    std::string name;
    TextNumber index;
    std::vector<Entry> entries;
    bool operator==(const Record&) const = default;
};
using Table = std::vector<Record>;

std::ostream& operator<<(std::ostream& out, const Variant& v) {
    return out << "{" << v.id << ", " << ::testing::PrintToString(v.text) << "}";
}
std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "{#" << e.key << " " << ::testing::PrintToString(e.variants) << "}";
}
std::ostream& operator<<(std::ostream& out, const Record& r) {
    return out << "{" << ::testing::PrintToString(r.name) << " ," << r.index << " "
               << ::testing::PrintToString(r.entries) << "}";
}

std::vector<Variant> variants_of(const VariantRun& run) {
    std::vector<Variant> out;
    for (const TextVariant variant : run) out.push_back(Variant{variant.string_id, std::string(variant.text)});
    return out;
}

Table contents(const TranslationTable& table) {
    Table out;
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const FileRecord record = table.record(i);
        Record& r = out.emplace_back(Record{std::string(record.name), record.resource_index, {}});
        for (const VariantRun& run : record.runs()) r.entries.push_back(Entry{run.key(), variants_of(run)});
    }
    return out;
}

// The ordinal of the record found for an index, or -1; both lookups must
// agree.
int found(const TranslationTable& table, TextNumber index) {
    const std::optional<FileRecord> record = find_file_record(table, index);
    const std::optional<FileRecord> by_index = RecordsByIndex(table, 1000).find(index);
    if (index >= 0 && index < 1000) {
        EXPECT_EQ(by_index.has_value(), record.has_value()) << index;
        if (record && by_index) {
            EXPECT_EQ(by_index->name.data(), record->name.data()) << index;
        }
    } else {
        EXPECT_FALSE(by_index.has_value()) << index;
    }
    if (!record) return -1;
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        if (table.record(i).name.data() == record->name.data()) return static_cast<int>(i);
    }
    return -2;
}

struct Parsed {
    Table table;
    std::string problems;
};

Parsed parse(std::string_view text) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table, text, reporter);
    return {contents(table), reporter.problems};
}

std::string invalid_string(int line) {
    return "WARNING: Invalid String on line " + std::to_string(line) + "!\n";
}
std::string invalid_file_info(int line) {
    return "WARNING: Invalid File Info on line " + std::to_string(line) + "!\n";
}

}  // namespace

TEST(TranslationParser, CommentsAndHeaderLines) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table,
                            "//#File:hidden.DLG,1\n"                     // 0: comment
                            "#File:greeting.DLG,3\n"                     // 1
                            "#0->first\n"                                // 2
                            "\n"                                         // 3
                            "#File:nodot,4\n"                            // 4: no "."
                            "#File:dot.only\n"                           // 5: no "," after "."
                            "x.y,5 #File:abc\n"                          // 6: "." only before
                            "#File:odd.NSS,abc\n"                        // 7: index 0
                            "  see #File:mid.UTI, 7 tail\n"              // 8
                            "/#File:a,b.DLG,6\n"                         // 9: one slash
                            "#1,english,male->go #File:inner.txt,8 now\n"  // 10: a header
                            "#2,english,male->kept\n"                    // 11
                            "#File:greeting.DLG,3\n"                     // 12: same index
                            "#0->second\n",                              // 13
                            reporter);
    EXPECT_EQ(contents(table),
              (Table{{"greeting", 3, {{0, {{-1, "first\n"}}}}},
                     {"odd", 0, {}},
                     {"mid", 7, {}},
                     {"a,b", 6, {}},
                     {"inner", 8, {{2, {{0, "kept"}}}}},
                     {"greeting", 3, {{0, {{-1, "second\n"}}}}}}));
    EXPECT_EQ(reporter.problems, invalid_file_info(4) + invalid_file_info(5) + invalid_file_info(6));

    ASSERT_EQ(table.record_count(), 6u);
    EXPECT_EQ(found(table, 3), 0);
    EXPECT_EQ(found(table, 8), 4);
    EXPECT_EQ(found(table, 0), 1);
    EXPECT_EQ(found(table, 1), -1);
    EXPECT_EQ(found(table, 4), -1);
    EXPECT_EQ(found(TranslationTable{}, 0), -1);
}

TEST(TranslationParser, TagsAndBarsAreFoundAmongCrowdsOfColonsAndBars) {
    const std::string text = "#File:a.DLG,1\n"                           // 0
                             "#0,english,male->a:b::c:|x\n"              // 1
                             "#1,english,male->File: #File no colon|y\n"  // 2
                             "// c|d #File:x.DLG,9\n"                    // 3: a comment
                             "#2->s|t\n"                                 // 4: bars of scripts stay
                             "#3,english,male->|\n"                      // 5
                             ":#File#File::::#File:b.DLG,2";             // 6: no line end
    const Table expected{{"a", 1, {{0, {{0, "a:b::c:\nx"}}}, {1, {{0, "File: #File no colon\ny"}}},
                                   {2, {{-1, "s|t\n"}}}, {3, {{0, "\n"}}}}},
                         {":::#File:b", 2, {}}};  // the first tag counts
    for (std::size_t halves_from : {std::size_t{0}, text.size() + 1}) {
        TranslationTable table;
        RecordingReporter reporter;
        parse_translation_lines(table, text, reporter, halves_from);
        EXPECT_EQ(contents(table), expected) << halves_from;
        EXPECT_EQ(reporter.problems, "");
    }
}

TEST(TranslationParser, EntryLinesAreClassifiedByCommaAndArrow) {
    const Parsed parsed = parse("#1,english,male->before any header\n"  // 0
                                "#File:s.NSS,2\n"                       // 1
                                "#3 no arrow, at all\n"                 // 2
                                "#4,english->single comma\n"            // 3
                                "#5,english->x,male\n"                  // 4: no "->" after 2nd ","
                                "#6->Speak(a, b -> c);\n"               // 5
                                "#7->|bar stays|\r\n"                   // 6
                                "#8,french,female->a, b -> c,d|e\n"     // 7
                                "#->no key\n"                           // 8
                                "not an entry -> x\n"                   // 9
                                " #10->leading space\n"                 // 10
                                "#11->\n");                             // 11
    EXPECT_EQ(parsed.table, (Table{{"s",
                                    2,
                                    {{0, {{-1, "no key\n"}}},
                                     {6, {{-1, "Speak(a, b -> c);\n"}}},
                                     {7, {{-1, "|bar stays|\r\n"}}},
                                     {8, {{3, "a, b -> c,d\ne"}}},
                                     {11, {{-1, "\n"}}}}}}));
    EXPECT_EQ(parsed.problems,
              invalid_string(0) + invalid_string(2) + invalid_string(3) + invalid_string(4));
}

TEST(TranslationParser, LocalizedTextConversions) {
    const Parsed lf = parse("#File:t.DLG,0\n"
                            "#1,english,male->\n"
                            "#1,french,male->A\n"
                            "#1,french,female->A|B\n"
                            "#2,german,male->|\n"
                            "#2,german,female->||x|\n"
                            "#3,italian,male->last");
    EXPECT_EQ(lf.table, (Table{{"t",
                                0,
                                {{1, {{0, "\n"}, {2, "A"}, {3, "A\nB"}}},
                                 {2, {{4, "\n"}, {5, "\n\nx\n"}}},
                                 {3, {{6, "last"}}}}}}));
    EXPECT_EQ(lf.problems, "");

    const Parsed crlf = parse("#File:t.DLG,0\r\n"
                              "\r\n"
                              "#1,english,male->\r\n"
                              "#1,french,male->Hi|there\r\n"
                              "#2->Speak(x);\r\n"
                              "#3,polish,female->end\r");
    EXPECT_EQ(crlf.table, (Table{{"t",
                                  0,
                                  {{1, {{0, "\r"}, {2, "Hi\nthere\r"}}},
                                   {2, {{-1, "Speak(x);\r\n"}}},
                                   {3, {{11, "end\r"}}}}}}));
    EXPECT_EQ(crlf.problems, "");

    // A last line without a line feed, empty text or not.
    EXPECT_EQ(parse("#File:s.NSS,1\n#0->end").table, (Table{{"s", 1, {{0, {{-1, "end"}}}}}}));
    EXPECT_EQ(parse("#File:t.DLG,1\n#0,english,male->").table,
              (Table{{"t", 1, {{0, {{0, ""}}}}}}));
    EXPECT_EQ(parse("#File:t.DLG,1\n#0,english,male->x").table,
              (Table{{"t", 1, {{0, {{0, "x"}}}}}}));
}

TEST(TranslationParser, LanguageAndGenderKeysGiveStringIds) {
    const Parsed all = parse("#File:l.DLG,0\n"
                             "#0,english,male->a\n#0,english,female->b\n"
                             "#1,french,male->a\n#1,french,female->b\n"
                             "#2,german,male->a\n#2,german,female->b\n"
                             "#3,italian,male->a\n#3,italian,female->b\n"
                             "#4,spanish,male->a\n#4,spanish,female->b\n"
                             "#5,polish,male->a\n#5,polish,female->b\n"
                             "#6,korean,male->a\n#6,korean,female->b\n"
                             "#7,chintrad,male->a\n#7,chintrad,female->b\n"
                             "#8,chinsimpl,male->a\n#8,chinsimpl,female->b\n"
                             "#9,japanese,male->a\n#9,japanese,female->b\n");
    EXPECT_EQ(all.table, (Table{{"l",
                                 0,
                                 {{0, {{0, "a"}, {1, "b"}}},
                                  {1, {{2, "a"}, {3, "b"}}},
                                  {2, {{4, "a"}, {5, "b"}}},
                                  {3, {{6, "a"}, {7, "b"}}},
                                  {4, {{8, "a"}, {9, "b"}}},
                                  {5, {{10, "a"}, {11, "b"}}},
                                  {6, {{256, "a"}, {257, "b"}}},
                                  {7, {{258, "a"}, {259, "b"}}},
                                  {8, {{260, "a"}, {261, "b"}}},
                                  {9, {{262, "a"}, {263, "b"}}}}}}));
    EXPECT_EQ(all.problems, "");

    const Parsed odd = parse("#File:l.DLG,0\n"                  // 0
                             "#0,french,Female->capital\n"      // 1
                             "#0,french,FEMALE->upper\n"        // 2
                             "#0,french,->empty gender\n"       // 3
                             "#0,french,female ->space\n"       // 4
                             "#1,Korean,male->x\n"              // 5: invalid
                             "#1,english ,male->x\n"            // 6: invalid
                             "#2,lang6,male->six\n"             // 7
                             "#2,lang150,female->many\n"        // 8
                             "#2,lang0,female->zero\n"          // 9
                             "#3,lang01,male->x\n"              // 10: invalid
                             "#3,lang-1,male->x\n"              // 11: invalid
                             "#3,lang2147483648,male->x\n"      // 12: invalid
                             "#3,lang,male->x\n"                // 13: invalid
                             "#3,lang+5,male->x\n"              // 14: invalid
                             "#3,lang7x,male->x\n");            // 15: invalid
    EXPECT_EQ(odd.table, (Table{{"l",
                                 0,
                                 {{0, {{2, "capital"}, {2, "upper"}, {2, "empty gender"}, {2, "space"}}},
                                  {2, {{12, "six"}, {301, "many"}, {1, "zero"}}}}}}));
    std::string warnings;
    for (int line : {5, 6, 10, 11, 12, 13, 14, 15}) warnings += invalid_string(line);
    EXPECT_EQ(odd.problems, warnings);
}

TEST(TranslationParser, KeysAndIndicesBeyond32BitsNameNothing) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table,
                            "#File:n.DLG,2147483647\n"
                            "#-5,english,male->neg\n"
                            "#2147483647->max\n"
                            "#2147483648->over\n"
                            "#99999999999->far\n"
                            "# \t+7,english,male->signed\n"
                            "#abc->zero\n"
                            "#File:big.DLG,2147483648\n"
                            "#File:huge.DLG,99999999999\n"
                            "#File:ws.DLG, \t+42\n"
                            "#File:neg.DLG,-3\n",
                            reporter);
    EXPECT_EQ(contents(table), (Table{{"n",
                                       2147483647,
                                       {{no_text_number, {{-1, "over\n"}, {-1, "far\n"}}},
                                        {-5, {{0, "neg"}}},
                                        {0, {{-1, "zero\n"}}},
                                        {7, {{0, "signed"}}},
                                        {2147483647, {{-1, "max\n"}}}}},
                                      {"big", no_text_number, {}},
                                      {"huge", no_text_number, {}},
                                      {"ws", 42, {}},
                                      {"neg", -3, {}}}));
    EXPECT_EQ(reporter.problems, "");

    ASSERT_EQ(table.record_count(), 5u);
    EXPECT_EQ(found(table, 2147483647), 0);
    EXPECT_EQ(found(table, no_text_number), 1);
    // Nothing under the low 32 bits of the numbers written.
    const FileRecord n = table.record(0);
    EXPECT_EQ(n.find(no_text_number).size(), 2u);
    for (TextNumber wrapped : {TextNumber{-2147483648LL}, TextNumber{1215752191}}) {
        EXPECT_EQ(found(table, wrapped), -1) << wrapped;
        EXPECT_TRUE(n.find(wrapped).empty()) << wrapped;
    }
}

TEST(TranslationParser, EntriesGatherByKeyUnderTheLatestAcceptedHeader) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table,
                            "// comment\n"                   // 0
                            "\n"                             // 1
                            "#File:g.DLG,1\n"                // 2
                            "#10,english,male->one\n"        // 3
                            "#20,english,male->two\n"        // 4
                            "//NPC->PLAYER\n"                // 5
                            "#10,french,male->un\r\n"        // 6
                            "a\rb #bad\r\n"                  // 7: a lone CR ends no line
                            "#bad\n"                         // 8
                            "#File:broken\n"                 // 9
                            "#10,french,female->une\n"       // 10
                            "#20,Korean,male->x\n"           // 11
                            "#File:h.NSS,2\n"                // 12
                            "#10->other record\n"            // 13
                            "#File:empty.DLG,3\n"            // 14
                            "#30\n",                         // 15
                            reporter);
    EXPECT_EQ(contents(table),
              (Table{{"g", 1, {{10, {{0, "one"}, {2, "un\r"}, {3, "une"}}}, {20, {{0, "two"}}}}},
                     {"h", 2, {{10, {{-1, "other record\n"}}}}},
                     {"empty", 3, {}}}));
    EXPECT_EQ(reporter.problems,
              invalid_string(8) + invalid_file_info(9) + invalid_string(11) + invalid_string(15));

    ASSERT_EQ(table.record_count(), 3u);
    const FileRecord g = table.record(0);
    EXPECT_EQ(variants_of(g.find(10)), (std::vector<Variant>{{0, "one"}, {2, "un\r"}, {3, "une"}}));
    EXPECT_EQ(variants_of(g.find(20)), (std::vector<Variant>{{0, "two"}}));
    EXPECT_TRUE(g.find(30).empty());
    EXPECT_EQ(variants_of(table.record(1).find(10)), (std::vector<Variant>{{-1, "other record\n"}}));
    EXPECT_TRUE(table.record(1).find(20).empty());
    EXPECT_TRUE(table.record(2).find(10).empty());

    // Keys that do not ascend are found all the same, before and after the
    // first key below another.
    parse_translation_lines(table,
                            "#File:q.DLG,4\n#5,english,male->a\n#5,french,male->b\n#9,english,male->c\n"
                            "#3,english,male->d\n#9,french,male->e\n#7,english,male->f\n",
                            reporter);
    ASSERT_EQ(table.record_count(), 1u);
    const FileRecord q = table.record(0);
    EXPECT_EQ(contents(table), (Table{{"q", 4, {{3, {{0, "d"}}}, {5, {{0, "a"}, {2, "b"}}},
                                                {7, {{0, "f"}}}, {9, {{0, "c"}, {2, "e"}}}}}}));
    for (const VariantRun& run : q.runs()) EXPECT_EQ(q.find(run.key()).first(), run.first());
    EXPECT_TRUE(q.find(4).empty());
    EntryWalk walk(q);
    EXPECT_EQ(variants_of(walk.find(3)), (std::vector<Variant>{{0, "d"}}));
    EXPECT_TRUE(walk.find(4).empty());
    EXPECT_EQ(variants_of(walk.find(9)), (std::vector<Variant>{{0, "c"}, {2, "e"}}));

    // Each parse starts from an empty table.
    parse_translation_lines(table, "#File:z.NSS,9\n", reporter);
    EXPECT_EQ(contents(table), (Table{{"z", 9, {}}}));
    EXPECT_EQ(found(table, 1), -1);
}

TEST(TranslationParser, LongLinesAndRawBytesStayWhole) {
    // Markers where a cut into pieces of 10239 bytes would start a new line.
    std::string text(1 << 20, 'x');
    text[100] = '|';
    text.replace(10222, 4, "#2->");
    text.replace(10235, 6, "#3->,|");
    std::string expected = text;
    expected[100] = '\n';
    expected[10240] = '\n';
    const Parsed localized =
        parse("#File:big.DLG,0\n#0,english,male->" + text + "\n#1->" + text + "\n#bad\n");
    EXPECT_EQ(localized.table,
              (Table{{"big", 0, {{0, {{0, expected}}}, {1, {{-1, text + "\n"}}}}}}));
    EXPECT_EQ(localized.problems, invalid_string(3));

    const Parsed bytes = parse("#File:bin.DLG,0\n"
                               "#0,english,male->a\0b\xC3\xA9|\xFF\n"
                               "#1->\0\x80|\r\n"
                               "#2,japanese,female->\0\n"s);
    EXPECT_EQ(bytes.table, (Table{{"bin",
                                   0,
                                   {{0, {{0, "a\0b\xC3\xA9\n\xFF"s}}},
                                    {1, {{-1, "\0\x80|\r\n"s}}},
                                    {2, {{263, "\0"s}}}}}}));
    EXPECT_EQ(bytes.problems, "");
}

TEST(TranslationParser, TwoHalvesParseAsTheWholeText) {
    const std::string head = "#File:a.DLG,1\n"          // 0
                             "#1,english,male->o|n|e\n"  // 1: bars become line feeds
                             "#2->line two\n"            // 2
                             "#1,french,male->un\n"      // 3: back to key 1
                             "#bad\n"                    // 4
                             "#File:b.DLG,2\n"           // 5
                             "#5,english,male->five\n";  // 6
    std::string padding;
    for (int i = 0; i < 40; ++i) padding += "// padding padding padding\n";  // 7 to 46
    // Past the middle: a header the parse refuses, whose next line stays in
    // record b, then the header the second half starts at.
    const std::string refused = "#File:broken\n"         // 47
                                "#5,french,male->cinq\n";  // 48
    const std::string tail = "#File:a.DLG,1\n"          // 49: index 1 again
                             "#9,english,male->nine\n"   // 50
                             "#7,english,male->seven\n"  // 51
                             "#9,french,male->neuf\n"    // 52: back to key 9
                             "#bad\n"                    // 53
                             "#7,french,female->sept";   // 54, no line end
    const std::string text = head + padding + refused + tail;
    ASSERT_LT(text.size() / 2, head.size() + padding.size());
    EXPECT_EQ(translation_second_half(text), text.size() - tail.size());
    EXPECT_EQ(translation_second_half(head + padding + refused), (head + padding + refused).size());

    const Table expected{{"a", 1, {{1, {{0, "o\nn\ne"}, {2, "un"}}}, {2, {{-1, "line two\n"}}}}},
                         {"b", 2, {{5, {{0, "five"}, {2, "cinq"}}}}},
                         {"a", 1, {{7, {{0, "seven"}, {3, "sept"}}}, {9, {{0, "nine"}, {2, "neuf"}}}}}};
    const std::string problems =
        invalid_string(4) + invalid_file_info(47) + invalid_string(53);
    for (std::size_t halves_from : {std::size_t{0}, text.size(), text.size() + 1}) {
        TranslationTable table;
        RecordingReporter reporter;
        parse_translation_lines(table, text, reporter, halves_from);
        EXPECT_EQ(contents(table), expected) << halves_from;
        EXPECT_EQ(reporter.problems, problems) << halves_from;
        ASSERT_EQ(table.record_count(), 3u);
        EXPECT_EQ(found(table, 1), 0);
        EXPECT_EQ(found(table, 2), 1);
        EXPECT_EQ(variants_of(table.record(2).find(9)), (std::vector<Variant>{{0, "nine"}, {2, "neuf"}}));
    }
}

TEST(TranslationParserFile, ReadsRawBytesAndReportsAMissingFile) {
    const auto dir = modtext::testing::scratch_dir();
    RecordingReporter reporter;
    TranslationTable table;

    const std::string text_path = (dir / "edited.txt").string();
    modtext::testing::write_text(text_path, "#File:f.DLG,5\r\n#0,english,male->Hi\r\n#1->x\r\n");
    EXPECT_TRUE(parse_translation_text(table, text_path, reporter));
    EXPECT_EQ(contents(table), (Table{{"f", 5, {{0, {{0, "Hi\r"}}}, {1, {{-1, "x\r\n"}}}}}}));

    const std::string missing = (dir / "missing.txt").string();
    EXPECT_FALSE(parse_translation_text(table, missing, reporter));
    EXPECT_EQ(contents(table), Table{});
    EXPECT_EQ(reporter.problems, "Error opening file: " + missing + "\n");

    reporter.problems.clear();
    const std::string empty = (dir / "empty.txt").string();
    modtext::testing::write_text(empty, "");
    ASSERT_TRUE(parse_translation_text(table, text_path, reporter));
    EXPECT_TRUE(parse_translation_text(table, empty, reporter));
    EXPECT_EQ(contents(table), Table{});

    const std::string comments = (dir / "comments.txt").string();
    modtext::testing::write_text(comments, "// one\n\n////////////////////////////////\n\n"
                                           "//#File:x.DLG,1\r\n\r\n");
    EXPECT_TRUE(parse_translation_text(table, comments, reporter));
    EXPECT_EQ(contents(table), Table{});
    EXPECT_EQ(reporter.problems, "");
}

TEST(TranslationParserFile, ALargeTextParsesAsTheSameTextInMemoryAndSurvivesAMove) {
    // Several megabytes: read into memory of its own kind and parsed in
    // halves, which must change nothing.
    std::string text;
    for (int record = 0; text.size() < (std::size_t{6} << 20); ++record) {
        text += "#File:area" + std::to_string(record) + ".DLG," + std::to_string(record) + "\n";
        for (int key = 0; key < 200; ++key) {
            const std::string k = std::to_string(key);
            text += "#" + k + ",english,male->line " + k + " of " + std::to_string(record) + "|more\n";
            if (key % 50 == 7) text += "#bad line\n";
            text += "#" + k + ",french,female->ligne " + k + "\n";
        }
    }
    text += "#0,german,male->no line end";
    const std::string path = (modtext::testing::scratch_dir() / "large.txt").string();
    modtext::testing::write_text(path, text);

    TranslationTable whole;
    RecordingReporter whole_reporter;
    parse_translation_lines(whole, text, whole_reporter, text.size() + 1);
    TranslationTable read;
    RecordingReporter read_reporter;
    ASSERT_TRUE(parse_translation_text(read, path, read_reporter));
    const Table expected = contents(whole);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(contents(read), expected);
    EXPECT_EQ(read_reporter.problems, whole_reporter.problems);
    EXPECT_NE(read_reporter.problems, "");

    TranslationTable moved = std::move(read);
    EXPECT_EQ(contents(moved), expected);
    read = std::move(moved);
    EXPECT_EQ(contents(read), expected);
}

namespace {

// The shortest line of each kind the parse takes, with key k when keyed.
struct LineKind {
    const char* name;
    std::string (*line)(std::optional<std::size_t> key);
    TextNumber unkeyed;        // the key of the line without one
    std::int32_t string_id;    // of an entry line
    bool header;
};
std::string keyed(const char* head, std::optional<std::size_t> key, const char* tail) {
    std::string line = head;
    if (key) line += std::to_string(*key);
    return line += tail;
}
const LineKind line_kinds[] = {
    {"header", [](auto k) { return keyed("#File:.,", k, "\n"); }, 0, 0, true},
    {"script", [](auto k) { return keyed("#", k, "->\n"); }, 0, -1, false},
    {"script 7", [](auto k) { return keyed("#", k ? k : 7, "->\n"); }, 7, -1, false},
    {"localized", [](auto k) { return keyed("#", k, ",lang0,->\n"); }, 0, 0, false},
};

enum class Keys { same, ascending, scattered };

// Whatever a text repeats, the table's lists hold at most twice its bytes,
// give or take a few chunks.
constexpr std::size_t chunks_aside = std::size_t{256} << 10;

}  // namespace

TEST(TranslationParserMemory, EachLineKindCostsAtMostTwiceItsBytes) {
    constexpr std::size_t lines = 300000;  // megabytes of text: parsed in halves
    for (const LineKind& kind : line_kinds) {
        for (Keys keys : {Keys::same, Keys::ascending, Keys::scattered}) {
            // Scattered: a step prime to the count walks every key once, out of order.
            const auto key_of_line = [keys](std::size_t i) -> std::optional<std::size_t> {
                if (keys == Keys::same) return std::nullopt;
                return keys == Keys::ascending ? i : i * 7919 % lines;
            };
            std::string text = kind.header ? "" : "#File:s.NSS,0\n";
            for (std::size_t i = 0; i < lines; ++i) text += kind.line(key_of_line(i));
            const std::string what = std::string(kind.name) + " keys " + std::to_string(int(keys));
            TranslationTable table;
            RecordingReporter reporter;
            parse_translation_lines(table, text, reporter);
            ASSERT_EQ(reporter.problems, "") << what;
            EXPECT_LE(table.held_bytes(), 2 * text.size() + chunks_aside) << what;

            const auto key = [&](std::size_t i) {
                return keys == Keys::same ? kind.unkeyed : static_cast<TextNumber>(*key_of_line(i));
            };
            if (kind.header) {
                ASSERT_EQ(table.record_count(), lines) << what;
                const RecordsByIndex by_index(table, lines);
                for (std::size_t i : {std::size_t{0}, lines / 3, lines - 1}) {
                    EXPECT_EQ(table.resource_index(i), key(i)) << what;
                    // The first record of an index counts.
                    const std::size_t first = keys == Keys::same ? 0 : i;
                    EXPECT_EQ(by_index.find(key(i))->name.data(), table.record(first).name.data()) << what;
                }
                EXPECT_FALSE(by_index.find(keys == Keys::same ? 1 : lines).has_value()) << what;
                continue;
            }
            ASSERT_EQ(table.record_count(), 1u) << what;
            ASSERT_EQ(table.variant_count(), lines) << what;
            const FileRecord record = table.record(0);
            const std::vector<Variant> one{{kind.string_id, "\n"}};
            const std::size_t per_key = keys == Keys::same ? lines : 1;
            // Every key found by a walk in ascending order, and by a search.
            EntryWalk walk(record);
            std::size_t walked = 0;
            for (TextNumber k = -1; k <= static_cast<TextNumber>(lines); ++k) {
                const VariantRun run = walk.find(k);
                if (run.empty()) continue;
                walked += run.size();
                ASSERT_EQ(run.size(), per_key) << what << " key " << k;
                EXPECT_EQ(variants_of(VariantRun(&table, run.first(), 1)), one) << what;
            }
            EXPECT_EQ(walked, lines) << what;
            for (std::size_t i : {std::size_t{0}, lines / 3, lines - 1}) {
                EXPECT_EQ(record.find(key(i)).size(), per_key) << what << " key " << key(i);
            }
            EXPECT_TRUE(record.find(static_cast<TextNumber>(lines) + 7).empty()) << what;
        }
    }
}

TEST(TranslationParserMemory, LinesThatNameNothingHoldNothing) {
    std::string text = "#File:a.DLG,0\n";
    while (text.size() < (std::size_t{2} << 20)) text += "//\n#\n\n#x\n#1,xx,->\n";
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table, text, reporter);
    EXPECT_EQ(table.record_count(), 1u);
    EXPECT_EQ(table.variant_count(), 0u);
    EXPECT_LE(table.held_bytes(), chunks_aside);
}
