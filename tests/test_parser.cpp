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

std::string invalid_string(int line, const std::string& why) {
    return "WARNING: Invalid String on line " + std::to_string(line) + "! (" + why + ")\n";
}
std::string invalid_file_info(int line, const std::string& why) {
    return "WARNING: Invalid File Info on line " + std::to_string(line) + "! (" + why + ")\n";
}
const std::string no_arrow = "no \"->\"";

// Every header's and variant's line, as the table counts it, against the
// line feeds of the text before it.
void expect_lines_counted(const TranslationTable& table, std::string_view text, std::size_t stride = 1) {
    const auto line_at = [&](const char* at) {
        const auto offset = static_cast<std::size_t>(at - table.storage.data());
        return static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n')) + 1;
    };
    for (std::size_t i = 0; i < table.record_count(); ++i) {
        const FileRecord record = table.record(i);
        EXPECT_EQ(record.header_line(), line_at(record.name.data())) << record.name;
        for (std::size_t v = record.first; v < record.end; v += stride) {
            const VariantRun run(&table, v, 1);
            EXPECT_EQ(run.line(), line_at(run.front().text.data())) << record.name << " variant " << v;
        }
    }
}

}  // namespace

TEST(TranslationParser, AHeaderStartsItsLineAndNamesANumber) {
    struct Case {
        const char* line;
        std::optional<Record> header;  // none: the line is no header
        const char* why;               // an invalid header's reason
        const char* letters = "";
    };
    const Case cases[] = {
        {"#File:greeting.DLG,3", Record{"greeting", 3, {{1, {{-1, "b\n"}}}}}, nullptr, "DLG"},
        {"#File:ws.DLG, \t+42", Record{"ws", 42, {{1, {{-1, "b\n"}}}}}, nullptr, "DLG"},
        {"#File:mid.UTI, 7 tail", Record{"mid", 7, {{1, {{-1, "b\n"}}}}}, nullptr, "UTI"},
        {"#File:a,b.x.y,6", Record{"a,b", 6, {{1, {{-1, "b\n"}}}}}, nullptr, "x.y"},
        {"#File:.,0", Record{"", 0, {{1, {{-1, "b\n"}}}}}, nullptr, ""},
        {"#File:big.DLG,2147483648", Record{"big", no_text_number, {{1, {{-1, "b\n"}}}}}, nullptr, "DLG"},
        {"#File:nodot,4", {}, "no \".\" after the name"},
        {"#File:dot.only", {}, "no \",\" after the type"},
        {"#File:module.JRL,", {}, "no resource number after the comma"},
        {"#File:module.JRL,\r", {}, "no resource number after the comma"},
        {"#File:odd.NSS,abc", {}, "no resource number after the comma"},
        {"#File:odd.NSS,+", {}, "no resource number after the comma"},
        {"#File:neg.DLG,-3", {}, "negative resource number"},
        {"#File:neg.DLG, -0", {}, "negative resource number"},
        // Not at the line's start: a comment, an ignored line, an entry.
        {"//#File:hidden.DLG,1", {}, nullptr},
        {"x.y,5 #File:abc.DLG,5", {}, nullptr},
        {" #File:abc.DLG,5", {}, nullptr},
        {"#9->go #File:inner.NSS,8", {}, nullptr},
    };
    for (const Case& c : cases) {
        TranslationTable table;
        RecordingReporter reporter;
        parse_translation_lines(table, "#File:first.DLG,1\n#0->a\n"s + c.line + "\n#1->b\n", reporter);
        Table expected{{"first", 1, {{0, {{-1, "a\n"}}}}}};
        if (c.header) {
            expected.push_back(*c.header);
        } else if (!c.why) {
            // Not a header: the entry after it stays in the block before.
            expected[0].entries.push_back({1, {{-1, "b\n"}}});
            if (c.line[0] == '#') expected[0].entries.push_back({9, {{-1, "go #File:inner.NSS,8\n"}}});
        }
        // The entries after an invalid header go with it, unwarned.
        EXPECT_EQ(contents(table), expected) << c.line;
        EXPECT_EQ(reporter.problems, c.why ? invalid_file_info(3, c.why) : "") << c.line;
        if (c.header) {
            EXPECT_EQ(table.record(1).letters, c.letters) << c.line;
            EXPECT_EQ(table.record(1).header_line(), 3u) << c.line;
            EXPECT_EQ(table.record(1).ordinal, 1u) << c.line;
        }
        EXPECT_EQ(table.record(0).letters, "DLG");
        EXPECT_EQ(table.record(0).header_line(), 1u);
    }
}

TEST(TranslationParser, RecordsAreFoundByTheirFirstIndex) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table,
                            "#File:greeting.DLG,3\n#0->first\n#File:odd.NSS,0\n#File:inner.txt,8\n"
                            "#File:greeting.DLG,3\n#0->second\n",
                            reporter);
    ASSERT_EQ(table.record_count(), 4u);
    EXPECT_EQ(found(table, 3), 0);
    EXPECT_EQ(found(table, 8), 2);
    EXPECT_EQ(found(table, 0), 1);
    EXPECT_EQ(found(table, 1), -1);
    EXPECT_EQ(found(TranslationTable{}, 0), -1);
}

TEST(TranslationParser, BarsAreFoundAmongCrowdsOfThem) {
    const std::string text = "#File:a.DLG,1\n"                           // 1
                             "#0,english,male->a:b::c:|x\n"              // 2
                             "#1,english,male->File: #File no colon|y\n"  // 3
                             "// c|d #File:x.DLG,9\n"                    // 4: a comment
                             "#2->s|t\n"                                 // 5: bars of scripts stay
                             "#3,english,male->|\n"                      // 6
                             "|||#4,english,male->|";                    // 7: no line end
    const Table expected{{"a", 1, {{0, {{0, "a:b::c:\nx"}}}, {1, {{0, "File: #File no colon\ny"}}},
                                   {2, {{-1, "s|t\n"}}}, {3, {{0, "\n"}}}}}};
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
    EXPECT_EQ(parsed.problems, invalid_string(1, "no #File: line before it") + invalid_string(3, no_arrow) +
                                   invalid_string(4, "no gender key") + invalid_string(5, "no gender key"));
    // The same wherever the commas and the arrow fall among the bytes looked
    // at together: the key's leading zeros move them on.
    for (std::size_t zeros = 0; zeros < 34; ++zeros) {
        std::string key(zeros + 1, '0');
        key[0] = '#';
        std::string text = "#File:s.NSS,2\n";
        text.append(key).append("8,french,female->a, b -> c,d\n").append(key).append("5,english->x,male\n");
        const Parsed moved = parse(text.append(key).append("6->Speak(a, b -> c);\n"));
        EXPECT_EQ(moved.table, (Table{{"s", 2, {{6, {{-1, "Speak(a, b -> c);\n"}}}, {8, {{3, "a, b -> c,d"}}}}}}))
            << zeros;
        EXPECT_EQ(moved.problems, invalid_string(3, "no gender key")) << zeros;
    }
}

TEST(TranslationParser, LocalizedTextsLoseTheirLineEnd) {
    const Parsed lf = parse("#File:t.DLG,0\n"
                            "#1,english,male->\n"
                            "#1,french,male->A\n"
                            "#1,french,female->A|B\n"
                            "#2,german,male->|\n"
                            "#2,german,female->||x|\n"
                            "#3,italian,male-> \n"
                            "#3,italian,female->\r\n"  // a CR the text holds
                            "#4,polish,male->last");
    EXPECT_EQ(lf.table, (Table{{"t",
                                0,
                                {{1, {{0, ""}, {2, "A"}, {3, "A\nB"}}},
                                 {2, {{4, "\n"}, {5, "\n\nx\n"}}},
                                 {3, {{6, " "}, {7, "\r"}}},
                                 {4, {{10, "last"}}}}}}));
    EXPECT_EQ(lf.problems, "");

    // A last line without a line feed, empty text or not.
    EXPECT_EQ(parse("#File:s.NSS,1\n#0->end").table, (Table{{"s", 1, {{0, {{-1, "end"}}}}}}));
    EXPECT_EQ(parse("#File:t.DLG,1\n#0,english,male->").table,
              (Table{{"t", 1, {{0, {{0, ""}}}}}}));
    EXPECT_EQ(parse("#File:t.DLG,1\n#0,english,male->x").table,
              (Table{{"t", 1, {{0, {{0, "x"}}}}}}));
}

namespace {

std::string with_crlf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

TEST(TranslationParser, CrLfAndByteOrderMarkedTextsParseAsTheLfText) {
    const std::string lf = "// comment\n"
                           "\n"
                           "#File:t.DLG,10\n"
                           "#1,english,male->\n"
                           "#1,french,male->Hi|there\n"
                           "#10,german,male->x\n"
                           "#bad\n"
                           "#File:s.NSS,2\n"
                           "#2->Speak(x);\n"
                           "#->\n"
                           "#3,franch,male->y\n"
                           "#File:u.DLG,\n"
                           "#4->skipped\n"
                           "#File:v.DLG,1\n"
                           "#0,polish,female->end\n";
    const std::string bom = "\xEF\xBB\xBF";
    const Parsed expected = parse(lf);
    EXPECT_EQ(expected.table, (Table{{"t", 10, {{1, {{0, ""}, {2, "Hi\nthere"}}}, {10, {{4, "x"}}}}},
                                     {"s", 2, {{0, {{-1, "\n"}}}, {2, {{-1, "Speak(x);\n"}}}}},
                                     {"v", 1, {{0, {{11, "end"}}}}}}));
    EXPECT_EQ(expected.problems, invalid_string(7, no_arrow) +
                                     invalid_string(11, "unknown language key \"franch\"") +
                                     invalid_file_info(12, "no resource number after the comma"));
    for (const std::string& text : {with_crlf(lf), bom + lf, bom + with_crlf(lf)}) {
        for (std::size_t halves_from : {std::size_t{0}, text.size() + 1}) {
            TranslationTable table;
            RecordingReporter reporter;
            parse_translation_lines(table, text, reporter, halves_from);
            EXPECT_EQ(contents(table), expected.table) << ::testing::PrintToString(text);
            EXPECT_EQ(reporter.problems, expected.problems);
            expect_lines_counted(table, text);
        }
    }
    // A byte order mark counts only at the start.
    EXPECT_EQ(parse("\n" + bom + "#File:t.DLG,1\n").table, Table{});

    // The first header line decides, valid or not; a CR before another line
    // feed then is the text's own.
    EXPECT_EQ(parse("#File:bad\r\n#File:t.DLG,0\n#0->a\r\n#1,english,male->b\r\n").table,
              (Table{{"t", 0, {{0, {{-1, "a\n"}}}, {1, {{0, "b"}}}}}}));
    EXPECT_EQ(parse("//\r\n#File:t.DLG,0\n#0->a\r\n#1,english,male->b\r\n").table,
              (Table{{"t", 0, {{0, {{-1, "a\r\n"}}}, {1, {{0, "b\r"}}}}}}));
    // Only a CR before a line feed goes: one ending the text stays.
    EXPECT_EQ(parse("#File:t.DLG,0\r\n#0,english,male->\r\r\n#1,english,male->b\r").table,
              (Table{{"t", 0, {{0, {{0, "\r"}}}, {1, {{0, "b\r"}}}}}}));
}

TEST(TranslationParser, UnicodeAndCrOnlyTextsAreRefused) {
    const std::string utf16 =
        "Error: the text is a UTF-16 (\"Unicode\") text; save it as UTF-8 or ANSI and import it again!\n";
    const std::string cr_only = "Error: the text is a text whose lines end in CR alone; save it with CR LF or "
                                "LF line ends and import it again!\n";
    const struct {
        std::string text;
        const std::string* refusal;
    } cases[] = {
        {"\xFF\xFE#\0F\0"s, &utf16},
        {"\xFE\xFF\0#\0F"s, &utf16},
        {"#\0F\0i\0l\0e\0:\0"s, &utf16},
        {"#\0F\0\n\0"s, &utf16},
        {"\0#\0F\0i\0l\0e\0:"s, &utf16},
        {"#File:t.DLG,0\r#0->x\r"s, &cr_only},
        {"\r"s, &cr_only},
        // Taken: NULs in no pattern, or too few; a CR beside a line feed.
        {"/\0/\0i\0le\n"s, nullptr},
        {"/\0\n#File:t.DLG,0\n"s, nullptr},
        {"#File:t.DLG,0\r#0->x\r\n"s, nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        TranslationTable table;
        RecordingReporter reporter;
        EXPECT_EQ(parse_translation_lines(table, c.text, reporter), c.refusal == nullptr)
            << ::testing::PrintToString(c.text);
        EXPECT_EQ(reporter.problems, c.refusal ? *c.refusal : "") << ::testing::PrintToString(c.text);
        if (c.refusal) {
            EXPECT_EQ(table.storage.size(), 0u);
        }
    }
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

    // Keys match exactly, capitals included.
    const struct {
        const char* keys;
        std::optional<std::int32_t> id;
        const char* why;
    } cases[] = {
        {"lang6,male", 12, nullptr},
        {"lang150,female", 301, nullptr},
        {"lang0,female", 1, nullptr},
        {"lang2147483647,male", -2, nullptr},
        {"french,Female", {}, "unknown gender key \"Female\""},
        {"french,FEMALE", {}, "unknown gender key \"FEMALE\""},
        {"french,", {}, "unknown gender key \"\""},
        {"french,female ", {}, "unknown gender key \"female \""},
        {"french,m", {}, "unknown gender key \"m\""},
        {"Korean,male", {}, "unknown language key \"Korean\""},
        {"english ,male", {}, "unknown language key \"english \""},
        {"franch,female", {}, "unknown language key \"franch\""},
        {"lang01,male", {}, "unknown language key \"lang01\""},
        {"lang-1,male", {}, "unknown language key \"lang-1\""},
        {"lang2147483648,male", {}, "unknown language key \"lang2147483648\""},
        {"lang,male", {}, "unknown language key \"lang\""},
        {"lang+5,male", {}, "unknown language key \"lang+5\""},
        {"lang7x,male", {}, "unknown language key \"lang7x\""},
        {",", {}, "unknown language key \"\""},
        {"english", {}, "no gender key"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse("#File:l.DLG,0\n#2,"s + c.keys + "->text\n");
        EXPECT_EQ(parsed.table, (Table{{"l", 0, c.id ? std::vector<Entry>{{2, {{*c.id, "text"}}}}
                                                     : std::vector<Entry>{}}}))
            << c.keys;
        EXPECT_EQ(parsed.problems, c.why ? invalid_string(2, c.why) : "") << c.keys;
    }
    // A language key is quoted up to 40 bytes.
    EXPECT_EQ(parse("#File:l.DLG,0\n#2," + std::string(50, 'x') + ",male->\n").problems,
              invalid_string(2, "unknown language key \"" + std::string(40, 'x') + "...\""));
}

TEST(TranslationParser, KeysBeyond32BitsOrNegativeAreRefused) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table,
                            "#File:n.DLG,2147483647\n"              // 1
                            "#-5,english,male->neg\n"               // 2
                            "#2147483647->max\n"                    // 3
                            "#2147483648->over\n"                   // 4
                            "#99999999999,english,male->far\n"      // 5
                            "#-1->neg\n"                            // 6
                            "# \t+7,english,male->signed\n"         // 7
                            "#abc->zero\n"                          // 8
                            "#File:big.DLG,2147483648\n"            // 9
                            "#File:huge.DLG,99999999999\n",         // 10
                            reporter);
    EXPECT_EQ(contents(table), (Table{{"n",
                                       2147483647,
                                       {{0, {{-1, "zero\n"}}},
                                        {7, {{0, "signed"}}},
                                        {2147483647, {{-1, "max\n"}}}}},
                                      {"big", no_text_number, {}},
                                      {"huge", no_text_number, {}}}));
    EXPECT_EQ(reporter.problems, invalid_string(2, "negative key") + invalid_string(4, "key beyond 2147483647") +
                                     invalid_string(5, "key beyond 2147483647") + invalid_string(6, "negative key"));

    ASSERT_EQ(table.record_count(), 3u);
    EXPECT_EQ(found(table, 2147483647), 0);
    EXPECT_EQ(found(table, no_text_number), 1);
    // Nothing under the low 32 bits of the numbers written.
    for (TextNumber wrapped : {TextNumber{-2147483648LL}, TextNumber{1215752191}}) {
        EXPECT_EQ(found(table, wrapped), -1) << wrapped;
    }
}

TEST(TranslationParser, EntriesGatherByKeyUnderTheLatestAcceptedHeader) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table,
                            "// comment\n"                   // 1
                            "\n"                             // 2
                            "#File:g.DLG,1\n"                // 3
                            "#10,english,male->one\n"        // 4
                            "#20,english,male->two\n"        // 5
                            "//NPC->PLAYER\n"                // 6
                            "#10,french,male->un\r\n"        // 7
                            "a\rb #bad\r\n"                  // 8: a lone CR ends no line
                            "#bad\n"                         // 9
                            "#File:broken\n"                 // 10
                            "#10,french,female->une\n"       // 11: skipped with it
                            "#20,Korean,male->x\n"           // 12: skipped with it
                            "#File:h.NSS,2\n"                // 13
                            "#10->other record\n"            // 14
                            "#File:empty.DLG,3\n"            // 15
                            "#30\n",                         // 16
                            reporter);
    EXPECT_EQ(contents(table),
              (Table{{"g", 1, {{10, {{0, "one"}, {2, "un\r"}}}, {20, {{0, "two"}}}}},
                     {"h", 2, {{10, {{-1, "other record\n"}}}}},
                     {"empty", 3, {}}}));
    EXPECT_EQ(reporter.problems, invalid_string(9, no_arrow) + invalid_file_info(10, "no \".\" after the name") +
                                     invalid_string(16, no_arrow));

    ASSERT_EQ(table.record_count(), 3u);
    const FileRecord g = table.record(0);
    EXPECT_EQ(variants_of(g.find(10)), (std::vector<Variant>{{0, "one"}, {2, "un\r"}}));
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
    EXPECT_EQ(localized.problems, invalid_string(4, no_arrow));

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
    const std::string head = "#File:a.DLG,10\n"          // 1
                             "#1,english,male->o|n|e\n"  // 2: bars become line feeds
                             "#2->line two\n"            // 3
                             "#1,french,male->un\n"      // 4: back to key 1
                             "#bad\n"                    // 5
                             "#File:b.DLG,2\n"           // 6
                             "#5,english,male->five\n";  // 7
    std::string padding;
    for (int i = 0; i < 40; ++i) padding += "// padding padding padding\n";  // 8 to 47
    // Past the middle: the first header line, a refused one, where the
    // second half starts: the line after it goes with it.
    const std::string refused = "#File:broken\n"         // 48
                                "#5,french,male->cinq\n"  // 49
                                "#5,franch,male->cinq\n";  // 50
    const std::string tail = "#File:a.DLG,10\n"          // 51: index 10 again
                             "#9,english,male->nine\n"   // 52
                             "#10,english,male->seven\n"  // 53
                             "#9,french,male->neuf\n"    // 54: back to key 9
                             "#bad\n"                    // 55
                             "#9,franch,male->neuf\n"    // 56
                             "#10,french,female->sept";   // 57, no line end
    const std::string text = head + padding + refused + tail;
    ASSERT_LT(text.size() / 2, head.size() + padding.size());
    EXPECT_EQ(translation_second_half(text), text.size() - tail.size() - refused.size());
    EXPECT_EQ(translation_second_half(head + padding), (head + padding).size());

    const Table expected{{"a", 10, {{1, {{0, "o\nn\ne"}, {2, "un"}}}, {2, {{-1, "line two\n"}}}}},
                         {"b", 2, {{5, {{0, "five"}}}}},
                         {"a", 10, {{9, {{0, "nine"}, {2, "neuf"}}}, {10, {{0, "seven"}, {3, "sept"}}}}}};
    const std::string problems = invalid_string(5, no_arrow) + invalid_file_info(48, "no \".\" after the name") +
                                 invalid_string(55, no_arrow) +
                                 invalid_string(56, "unknown language key \"franch\"");
    for (std::size_t halves_from : {std::size_t{0}, text.size(), text.size() + 1}) {
        TranslationTable table;
        RecordingReporter reporter;
        parse_translation_lines(table, text, reporter, halves_from);
        EXPECT_EQ(contents(table), expected) << halves_from;
        EXPECT_EQ(reporter.problems, problems) << halves_from;
        ASSERT_EQ(table.record_count(), 3u);
        EXPECT_EQ(found(table, 10), 0);
        EXPECT_EQ(found(table, 2), 1);
        EXPECT_EQ(variants_of(table.record(2).find(9)), (std::vector<Variant>{{0, "nine"}, {2, "neuf"}}));
        expect_lines_counted(table, text);
        EXPECT_EQ(table.record(2).find(10).line(1), 57u);
    }
}

TEST(TranslationParser, LinesAreCountedAsTheTextHadThem) {
    // Key 10, index 10 and bars write line feeds over the text; records
    // longer than 64 KB, one of them sorted; the second half starts inside.
    std::string lf = "#File:sorted.DLG,10\n";
    for (int key = 2000; key > 0; --key) {
        lf.append("#").append(std::to_string(key % 20)).append(",english,male->a|b||padding padding padding ");
        lf.append(std::to_string(key)).append("\n");
        if (key % 7 == 0) lf += "// |\n\n#bad\n";
        if (key % 5 == 0) lf += "#10->|\n";
    }
    lf += "#File:ascending.NSS,10\n";
    for (int key = 0; key < 5000; ++key) {
        lf.append("#").append(std::to_string(key)).append(key % 3 ? "->x|padding\n" : "->x|padding\n\n");
        if (key % 11 == 0) lf += "#10,lang5,female->|\n";
    }
    // A UTF-8 text: its texts shrink as they are encoded in place.
    std::string utf8 = "\xEF\xBB\xBF" + lf;
    for (std::size_t at = 0; (at = utf8.find("->", at)) != std::string::npos; at += 2) {
        if (utf8[at + 2] != '|') utf8.insert(at + 2, "\xC3\xA9<c#010203><#41>");
    }
    for (const std::string& text : {lf, with_crlf(lf), "\xEF\xBB\xBF" + lf, utf8, with_crlf(utf8)}) {
        ASSERT_GT(text.size(), std::size_t{3} << 16);
        for (std::size_t halves_from : {std::size_t{0}, text.size() + 1}) {
            TranslationTable table;
            RecordingReporter reporter;
            ASSERT_TRUE(parse_translation_lines(table, text, reporter, halves_from));
            ASSERT_EQ(table.record_count(), 2u);
            expect_lines_counted(table, text, 23);
            if (text.find("<c#") != std::string::npos) {
                EXPECT_EQ(table.record(0).find(1)[0].text, "\xE9<c\x01\x02\x03>Aa\nb\n\npadding padding padding 1981"s);
            }
        }
    }
}

TEST(TranslationParser, LinesAreCountedByLanguageAndKind) {
    TranslationTable table;
    RecordingReporter reporter;
    const std::string text = "#File:t.DLG,0\n"
                             "#0,english,male->Hi\n#0,english,female->\n#0,french,male->\r\n"
                             "#0,french,female->?\n#0,japanese,female-> \n#0,lang7,male->x\n"
                             "#0,lang7,female->\n#0,franch,male->dropped\n"
                             "#File:s.NSS,1\n#0->x\n#1->\n"
                             "#File:u.DLG\n#0,english,male->skipped\n";
    parse_translation_lines(table, text, reporter);
    TextCounts expected;
    expected.languages[0] = {1, 1};
    expected.languages[1] = {1, 1};
    expected.languages[9] = {1, 0};
    expected.other_languages = {1, 1};
    expected.script_lines = 2;
    EXPECT_EQ(table.counts(), expected);
    // The halves add up.
    TranslationTable halves;
    const std::string twice = text + "#File:t.DLG,0\n" + text;
    parse_translation_lines(halves, twice, reporter, 0);
    for (LineCounts* counts : {&expected.languages[0], &expected.languages[1], &expected.languages[9],
                               &expected.other_languages}) {
        counts->filled *= 2;
        counts->empty *= 2;
    }
    expected.script_lines *= 2;
    EXPECT_EQ(halves.counts(), expected);
}

TEST(TranslationParserFile, ReadsRawBytesAndReportsAMissingFile) {
    const auto dir = modtext::testing::scratch_dir();
    RecordingReporter reporter;
    TranslationTable table;

    const std::string text_path = (dir / "edited.txt").string();
    modtext::testing::write_text(text_path, "#File:f.DLG,5\r\n#0,english,male->Hi\r\n#1->x\r\n");
    EXPECT_TRUE(parse_translation_text(table, text_path, reporter));
    EXPECT_EQ(contents(table), (Table{{"f", 5, {{0, {{0, "Hi"}}}, {1, {{-1, "x\n"}}}}}}));

    // A text no line of which would import is refused, naming its file.
    const std::string unicode = (dir / "unicode.txt").string();
    modtext::testing::write_text(unicode, "\xFF\xFE#\0F\0"s);
    EXPECT_FALSE(parse_translation_text(table, unicode, reporter));
    EXPECT_EQ(contents(table), Table{});
    EXPECT_EQ(reporter.problems, "Error: " + unicode +
                                     " is a UTF-16 (\"Unicode\") text; save it as UTF-8 or ANSI and import it again!\n");
    reporter.problems.clear();

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
    const char* text;          // of an entry line
    bool header;
};
std::string keyed(const char* head, std::optional<std::size_t> key, const char* tail) {
    std::string line = head;
    if (key) line += std::to_string(*key);
    return line += tail;
}
const LineKind line_kinds[] = {
    {"header", [](auto k) { return keyed("#File:.,", k ? k : 0, "\n"); }, 0, 0, "", true},
    {"script", [](auto k) { return keyed("#", k, "->\n"); }, 0, -1, "\n", false},
    {"script 7", [](auto k) { return keyed("#", k ? k : 7, "->\n"); }, 7, -1, "\n", false},
    {"localized", [](auto k) { return keyed("#", k, ",lang0,male->\n"); }, 0, 0, "", false},
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
            const std::vector<Variant> one{{kind.string_id, kind.text}};
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
