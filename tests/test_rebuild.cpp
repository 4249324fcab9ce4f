#include <deque>

#include "formats/gff_image.h"
#include "formats/locstring.h"
#include "test_support.h"
#include "translation/rebuild.h"

using namespace modtext;
using namespace modtext::build;
using modtext::testing::bytes_of;
using modtext::testing::RecordingReporter;

namespace {

using F = build::GffField;

Bytes le(std::initializer_list<std::uint32_t> words) {
    Bytes out;
    for (std::uint32_t w : words) append_u32(out, w);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes text_bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The table holds the texts its records view, so it is what a test keeps.
TranslationTable table_of(std::string_view text) {
    TranslationTable table;
    RecordingReporter reporter;
    parse_translation_lines(table, text, reporter);
    EXPECT_EQ(reporter.problems, "");
    EXPECT_EQ(table.record_count(), 1u);
    return table;
}

// The variants of key 0 in a record of these lines, held by table.
VariantRun entry_of(TranslationTable& table, const std::string& lines) {
    table = table_of("#File:t.DLG,0\n" + lines);
    return table.record(0).find(0);
}

}  // namespace

TEST(RebuildLocstring, RecordLayoutAndLanguageSelection) {
    RecordingReporter reporter;
    TranslationTable table;
    EXPECT_EQ(rebuild_locstring(entry_of(table, "#0,english,male->Hello"), 0x002, reporter),
              le({8, 0xFFFFFFFFu, 0}));
    EXPECT_EQ(rebuild_locstring(entry_of(table, "#0,french,male->Salut"), 0x002, reporter),
              cat({le({22, 0xFFFFFFFFu, 1, 2, 6}), text_bytes(std::string("Salut") + '\0')}));
    // The skipped English text still supplies the fallback of the empty French one.
    EXPECT_EQ(rebuild_locstring(entry_of(table, "#0,english,male->Hello\n#0,french,male->"), 0x002, reporter),
              cat({le({22, 0xFFFFFFFFu, 1, 2, 6}), text_bytes(std::string("Hello") + '\0')}));
    // Ids of no table language always pass.
    EXPECT_EQ(rebuild_locstring(entry_of(table, "#0,lang6,male->xy\n#0->zw"), 0, reporter),
              cat({le({30, 0xFFFFFFFFu, 2, 12, 3}), text_bytes(std::string("xy") + '\0'),
                   le({0xFFFFFFFFu, 3}), text_bytes(std::string("zw") + '\0')}));
    EXPECT_EQ(reporter.kept, (std::vector<std::string>{"Salut", "", "xy", "zw"}));
}

// A localized-string record as the rebuild writes it, from its substrings.
Bytes locstring_record(const std::vector<std::pair<std::int32_t, std::string>>& subs) {
    Bytes body;
    for (const auto& [id, text] : subs) {
        body = cat({body, le({static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(text.size() + 1)}),
                    text_bytes(text + '\0')});
    }
    return cat({le({static_cast<std::uint32_t>(8 + body.size()), 0xFFFFFFFFu,
                    static_cast<std::uint32_t>(subs.size())}),
                body});
}

TEST(RebuildLocstring, EmptyLinesTakeTheLastTextAndUneditedLinesKeepTheirSource) {
    // The field in the module: a literal bar in English, a lone space and an
    // empty French text, a lone CR in German, an Italian text with bytes
    // after its zero.
    const std::vector<std::pair<std::int32_t, std::string>> stored{
        {0, "A|B"}, {2, " "}, {3, ""}, {4, "\r"}, {6, std::string("x\0junk", 6)}};
    LocString source;
    for (const auto& [id, text] : stored) {
        source.substrings.push_back({id, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())});
    }
    struct Case {
        const char* name;
        std::string lines;
        bool with_source;
        std::vector<std::pair<std::int32_t, std::string>> expected;
    };
    const std::vector<Case> cases{
        // Empty is nothing, or a lone CR, after the arrow: it takes the last
        // text before it. One character is a text.
        {"empty and one-character lines",
         "#0,french,female->\n#0,english,male->Hi\n#0,french,male->x\n#0,german,male->\r\n#0,italian,male->Ok!\n"
         "#0,italian,female->\n#0,spanish,male->|",
         false, {{3, ""}, {0, "Hi"}, {2, "x"}, {4, "x"}, {6, "Ok!"}, {7, "Ok!"}, {8, "\n"}}},
        // Lines as export wrote them keep the source's bytes: the bar stays a
        // bar, the space and the lone CR stay, the empty text stays empty.
        {"unedited lines", "#0,english,male->A|B\n#0,french,male-> \n#0,french,female->\n#0,german,male->\r\n"
                           "#0,italian,male->x\n",
         true, {{0, "A|B"}, {2, " "}, {3, ""}, {4, "\r"}, {6, "x"}}},
        // An edited line turns its bars into line breaks; an empty source
        // text kept never becomes the fallback, a kept text does.
        {"edited lines", "#0,english,male->A|C\n#0,french,female->\n#0,spanish,male->\n#0,german,female->\n",
         true, {{0, "A\nC"}, {3, ""}, {8, "A\nC"}, {5, "A\nC"}}},
        {"kept source as fallback", "#0,english,male->A|B\n#0,spanish,male->\n", true, {{0, "A|B"}, {8, "A|B"}}},
    };
    for (const Case& c : cases) {
        RecordingReporter reporter;
        TranslationTable table;
        const VariantRun entry = entry_of(table, c.lines);
        EXPECT_EQ(rebuild_locstring(entry, 0x3FF, reporter, c.with_source ? &source : nullptr),
                  locstring_record(c.expected))
            << c.name;
    }

    // A string of many substrings is searched by key, not scanned per line:
    // the same answers, the first equal substring winning.
    std::vector<std::string> many;
    std::string lines;
    std::vector<std::pair<std::int32_t, std::string>> expected;
    for (int i = 0; i < 40; ++i) {
        std::string text = i % 10 == 3 ? "same|text" : "t";
        if (i % 10 != 3) text += std::to_string(i);
        many.push_back(text);
    }
    LocString big;
    for (const std::string& text : many) {
        big.substrings.push_back({0, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())});
        lines += "#0,english,male->" + text + "\n";
        expected.emplace_back(0, text);
    }
    lines += "#0,english,male->same|text!\n";  // edited: its bar is a line break
    expected.emplace_back(0, "same\ntext!");
    RecordingReporter reporter;
    TranslationTable table;
    EXPECT_EQ(rebuild_locstring(entry_of(table, lines), 0x3FF, reporter, &big), locstring_record(expected));
}

TEST(SpliceFieldData, MovesOffsetsBehindTheSplice) {
    GffImage image;
    Bytes block(100, 0xAB);
    store_u32(&block[40], 16);  // old record: 20 bytes at 40
    image.set_field_data(block);
    image.header.set_word(36, 100);
    image.fields = {{12, 0, 40}, {10, 1, 60}, {13, 2, 30}, {8, 3, 90}, {15, 4, 70}, {7, 5, 41}};
    const Bytes record = cat({le({22, 0xFFFFFFFFu, 1, 2, 6}), text_bytes(std::string("Salut") + '\0')});
    ASSERT_TRUE(splice_field_data(image, {{0, 40, 20, record}}));
    // Field 5's offset lies inside the old record: the record is shared and
    // goes to the end, the old bytes stay for field 5.
    EXPECT_EQ(image.field_data.size(), 126u);
    EXPECT_EQ(image.fields[0].data, 100u);
    EXPECT_EQ(image.fields[5].data, 41u);
    EXPECT_EQ(Bytes(image.field_data.begin() + 100, image.field_data.end()), record);

    image.set_field_data(block);
    image.fields = {{12, 0, 40}, {10, 1, 60}, {13, 2, 30}, {8, 3, 90}, {15, 4, 70}, {7, 5, 95}};
    ASSERT_TRUE(splice_field_data(image, {{0, 40, 20, record}}));
    EXPECT_EQ(image.field_data.size(), 106u);
    EXPECT_EQ(image.header.field_data_size(), 106u);
    EXPECT_EQ(Bytes(image.field_data.begin() + 40, image.field_data.begin() + 66), record);
    EXPECT_EQ(Bytes(image.field_data.begin() + 66, image.field_data.end()), Bytes(40, 0xAB));
    EXPECT_EQ(image.fields[0].data, 40u);  // the owner stays
    EXPECT_EQ(image.fields[1].data, 66u);  // a string behind it moves
    EXPECT_EQ(image.fields[2].data, 30u);  // before it: stays
    EXPECT_EQ(image.fields[3].data, 90u);  // a float's word is no offset
    EXPECT_EQ(image.fields[4].data, 70u);  // nor is a list's
    EXPECT_EQ(image.fields[5].data, 101u);
}

// The reference: one splice at a time, each moving every offset strictly
// behind its current position, as a field-by-field rebuild does.
void splice_one_by_one(GffImage& image, const std::vector<FieldSplice>& splices) {
    for (const FieldSplice& s : splices) {
        const auto at = static_cast<std::ptrdiff_t>(image.fields[s.field].data);
        Bytes block(image.field_data.begin(), image.field_data.begin() + at);
        block.insert(block.end(), s.record.begin(), s.record.end());
        block.insert(block.end(), image.field_data.begin() + at + static_cast<std::ptrdiff_t>(s.old_length),
                     image.field_data.end());
        for (modtext::GffField& f : image.fields) {
            if (has_data_offset(f.type) && f.data > static_cast<std::uint32_t>(at)) f.data += static_cast<std::uint32_t>(s.record.size()) - s.old_length;
        }
        image.set_field_data(std::move(block));
    }
    image.header.set_word(36, static_cast<std::uint32_t>(image.field_data.size()));
}

TEST(SpliceFieldData, OnePassEqualsFieldByFieldSplices) {
    // Records of growing and shrinking length, stored out of field order,
    // with other data between them.
    std::vector<std::uint32_t> lengths{20, 12, 40, 16, 64, 13};
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        GffImage image;
        Bytes data;
        std::deque<Bytes> records;
        std::vector<FieldSplice> splices;
        std::uint32_t at = 0;
        const std::size_t n = lengths.size();
        image.fields.resize(2 * n);
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t field = (k * 7 + seed) % n;  // storage order differs from field order
            data.resize(at + 5, static_cast<std::uint8_t>(k));
            at += 5;
            // More fields' data between two records than a search steps over one by one.
            for (std::uint32_t j = 0; j < seed % 24; ++j) {
                image.fields.push_back({6, 0, at});
                data.resize(at + 8, static_cast<std::uint8_t>(0x20 + j));
                at += 8;
            }
            image.fields[field] = {12, 0, at};
            image.fields[n + k] = {k % 2 ? 10u : 4u, 0, at + 1000};
            data.resize(at + lengths[k], static_cast<std::uint8_t>(0x40 + k));
            if ((seed >> (k % 5)) & 1) {
                const std::size_t new_length = (seed * 13 + k * 29) % 70;
                records.emplace_back(new_length, static_cast<std::uint8_t>(0x80 + k));
                splices.push_back({field, at, lengths[k], records.back()});
            }
            at += lengths[k];
        }
        data.resize(data.size() + 1200, 0x11);
        image.set_field_data(data);
        image.header.set_word(36, static_cast<std::uint32_t>(data.size()));
        std::sort(splices.begin(), splices.end(), [](auto& a, auto& b) { return a.field < b.field; });
        GffImage expected = image;
        splice_one_by_one(expected, splices);
        ASSERT_TRUE(splice_field_data(image, splices));
        EXPECT_EQ(bytes_of(image.field_data), bytes_of(expected.field_data)) << seed;
        EXPECT_EQ(field_array_bytes(image.fields), field_array_bytes(expected.fields)) << seed;
        EXPECT_EQ(image.header.field_data_size(), expected.field_data.size());
    }
}

TEST(SpliceFieldData, SharedRecordsAreAppendedAndTheOthersKeepTheOldBytes) {
    GffImage image;
    image.set_field_data(Bytes(50, 0x22));
    // Fields 0 and 2 share the record at 10; field 1's own record at 30.
    image.fields = {{12, 0, 10}, {12, 0, 30}, {12, 0, 10}, {10, 0, 40}};
    const Bytes a(8, 0xA0), b(4, 0xB0);
    ASSERT_TRUE(splice_field_data(image, {{0, 10, 12, a}, {1, 30, 8, b}}));
    // Field 1 in place (8 -> 4 bytes), then field 0's record appended.
    EXPECT_EQ(bytes_of(image.field_data), cat({Bytes(30, 0x22), b, Bytes(12, 0x22), a}));
    EXPECT_EQ(image.fields[0].data, 46u);
    EXPECT_EQ(image.fields[1].data, 30u);
    EXPECT_EQ(image.fields[2].data, 10u);
    EXPECT_EQ(image.fields[3].data, 36u);
    EXPECT_EQ(image.header.field_data_size(), 54u);
}

// Found by fuzzing: a string whose data spans over a rebuilt record shares
// it as much as a field that points into it.
TEST(SpliceFieldData, ARecordInsideAnotherFieldsDataIsAppended) {
    GffImage image;
    image.set_field_data(cat({le({30}), Bytes(6, 0x33), le({16, 0xFFFFFFFFu, 0, 0, 0}), Bytes(4, 0x33)}));
    image.fields = {{10, 0, 0}, {12, 0, 10}};
    const Bytes record = le({8, 0xFFFFFFFFu, 0});
    const Bytes old = bytes_of(image.field_data);
    ASSERT_TRUE(splice_field_data(image, {{1, 10, 20, record}}));
    EXPECT_EQ(bytes_of(image.field_data), cat({old, record}));
    EXPECT_EQ(image.fields[0].data, 0u);
    EXPECT_EQ(image.fields[1].data, 34u);
    std::string why;
    const Bytes labels(16, 0);
    image.labels = labels;
    image.fields[0].label_index = image.fields[1].label_index = 0;
    EXPECT_TRUE(check_gff(image, why)) << why;
}

TEST(RebuildScript, ReplacesNamedLinesAndEndsEveryLineWithALineFeed) {
    const TranslationTable one = table_of("#File:s.NSS,0\n#1->XY\n");
    const FileRecord record = one.record(0);
    EXPECT_EQ(rebuild_script(text_bytes("abc\r\nde\r\nfgh\r\n"), record), text_bytes("abc\nXY\nfgh\n"));
    // Named, but no line matches: still rewritten with bare line feeds.
    const TranslationTable never = table_of("#File:s.NSS,0\n#40->never\n");
    const FileRecord none = never.record(0);
    EXPECT_EQ(rebuild_script(text_bytes("a\r\nb\n\r\n}"), none), text_bytes("a\nb\n\n}\n"));
    EXPECT_EQ(rebuild_script({}, record), Bytes{});
    // A replacement without a line end gets one; its own CR LF is kept; only
    // the first entry of a line counts; NUL bytes in lines are kept.
    const TranslationTable several = table_of("#File:s.NSS,0\n#0->one\r\n#2->last\n#2->ignored\n#3->no end");
    const FileRecord more = several.record(0);
    EXPECT_EQ(rebuild_script(text_bytes(std::string("a\r\nb\0c\r\nd\r\ne\r\n", 13)), more),
              text_bytes(std::string("one\r\nb\0c\nlast\nno end\n", 21)));
    // Lines named out of order reach the same lines.
    const TranslationTable shuffled = table_of("#File:s.NSS,0\n#3->no end\n#0->one\r\n#2->last\n#2->ignored");
    EXPECT_EQ(rebuild_script(text_bytes(std::string("a\r\nb\0c\r\nd\r\ne\r\n", 13)), shuffled.record(0)),
              text_bytes(std::string("one\r\nb\0c\nlast\nno end\n", 21)));
}
