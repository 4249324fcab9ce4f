// UTF-8 translation texts: each code page's bytes to UTF-8 and back, the
// escapes, what the import refuses, how it tells a UTF-8 text, and the exact
// round trip of every generated module. The same cases run on both back ends.
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "actions/actions.h"
#include "core/code_page.h"
#include "test_support.h"
#include "translation/text_encoding.h"
#include "translation/translation_table.h"

using namespace modtext;
using namespace std::string_literals;
using modtext::testing::read_text;
using modtext::testing::RecordingReporter;
using modtext::testing::write_text;

namespace {

namespace fs = std::filesystem;

CodePages all_in(std::uint16_t page) {
    CodePages pages;
    pages.languages.fill(page);
    pages.script = pages.other = page;
    return pages;
}

CodePageChoices all_chosen(std::uint16_t page) {
    CodePageChoices choices;
    choices.languages.fill(page);
    choices.script = choices.other = page;
    return choices;
}

struct Parse {
    bool taken = false;
    std::vector<std::string> texts;  // every variant's, in table order
    std::string problems;
};

Parse parse(const std::string& text, const TextReading& reading = {}) {
    TranslationTable table;
    RecordingReporter reporter;
    Parse out;
    out.taken = parse_translation_lines(table, text, reporter, parse_in_halves_from, "t.txt", reading);
    for (std::size_t r = 0; r < table.record_count(); ++r) {
        const FileRecord record = table.record(r);
        for (std::size_t v = record.first; v < record.end; ++v) out.texts.emplace_back(table.resolve(table.variant(v)).text);
    }
    out.problems = reporter.problems;
    return out;
}

TextReading utf8_reading(const CodePageChoices& choices = {}, std::uint16_t from_mask = all_languages_mask) {
    return {{TextEncoding::utf8, choices}, from_mask};
}

}  // namespace

TEST(CodePageConverter, ConvertsExactlyOrNotAtAll) {
    for (const std::uint16_t page : code_pages) EXPECT_TRUE(CodePageConverter(page).ok()) << page;
    EXPECT_FALSE(CodePageConverter(437).ok());
    CodePageConverter japanese(932), western(1252);
    std::string out = "kept";
    EXPECT_TRUE(japanese.decode("\x82\xA0", out));
    EXPECT_EQ(out, "kept\xE3\x81\x82");  // あ
    EXPECT_FALSE(japanese.decode("\x82", out));  // a lead byte alone
    EXPECT_TRUE(japanese.encode("\xE3\x81\x82", out));
    EXPECT_EQ(out, "kept\xE3\x81\x82\x82\xA0");
    // No near character: "ł" is not written as "l".
    EXPECT_FALSE(western.encode("a\xC5\x82", out));
    EXPECT_EQ(out, "kept\xE3\x81\x82\x82\xA0");
}

// Per code page: a typed word lands as its bytes, a character the page
// lacks is refused with its line, and the module's bytes, colour tags and
// undefined bytes among them, are written as the table gives and come back
// exactly.
TEST(Utf8Text, EveryCodePageWritesAndReadsItsOwnBytes) {
    struct Case {
        std::uint16_t page;
        std::string typed, bytes;  // a word, in UTF-8 and in the page
        std::string outside;       // a character the page lacks, and its U+ number
        std::string module, written;  // the module's bytes, and the text export writes
    };
    const std::vector<Case> cases = {
        {1252, "é’", "\xE9\x92", "ł|U+0142", "caf\xE9 <c\xFF\x80\x01>x</c>\x81<#41>\r\t",
         "café <c#FF8001>x</c><#81><#3C>#41><#0D><#09>"},
        {1250, "ł", "\xB3", "ñ|U+00F1", "\xB3\x81\x98", "ł<#81><#98>"},
        {932, "日本語", "\x93\xFA\x96\x7B\x8C\xEA", "ก|U+0E01", "\x82\xA0\x81\x7C\x81 \xF0\x40\x82",
         "あ－<#81> <#F0>@<#82>"},
        {949, "한국어", "\xC7\xD1\xB1\xB9\xBE\xEE", "ก|U+0E01", "\xB0\xED\x81 \xC9\xA1<c\xB0\xED\x7C>",
         "고<#81> <#C9><#A1><c#B0ED7C>"},
        {936, "中文", "\xD6\xD0\xCE\xC4", "ก|U+0E01", "\xD0\xA1\xFF\xAA\xA1", "小<#FF><#AA><#A1>"},
        {950, "中文", "\xA4\xA4\xA4\xE5", "ก|U+0E01", "\xA4p\x80\xFA\x40", "小<#80><#FA>@"},
        {874, "สวัสดี", "\xCA\xC7\xD1\xCA\xB4\xD5", "é|U+00E9", "\xCA\xC7\x81\xFF", "สว<#81><#FF>"},
        {1251, "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2", "é|U+00E9", "\xCF\x98", "П<#98>"},
        {1253, "Γειά", "\xC3\xE5\xE9\xDC", "é|U+00E9", "\xC3\xAA\xD2", "Γ<#AA><#D2>"},
        {1254, "ş", "\xFE", "ł|U+0142", "\xFE\x81", "ş<#81>"},
        {1255, "שלום", "\xF9\xEC\xE5\xED", "é|U+00E9", "\xF9\xD9\xFB", "ש<#D9><#FB>"},
        {1256, "مرحبا", "\xE3\xD1\xCD\xC8\xC7", "ł|U+0142", "\xE3<c\xE3\xD1\xCD>", "م<c#E3D1CD>"},
        {1257, "ā", "\xE2", "ñ|U+00F1", "\xE2\xA1", "ā<#A1>"},
        // A combining mark is written as it is stored, after its letter.
        {1258, "đ", "\xF0", "ł|U+0142", "a\xEC\x8A", "a\xCC\x81<#8A>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        CodePageChoices french;
        french.languages[1] = c.page;
        const std::string outside = c.outside.substr(0, c.outside.find('|'));
        const std::string head = "#File:t.DLG,0\n#0,french,male->" + c.typed + "\n";
        const Parse typed = parse(head, utf8_reading(french));
        EXPECT_EQ(typed.texts, std::vector<std::string>{c.bytes});
        const Parse refused = parse(head + "#0,french,female->a" + outside + "b\n", utf8_reading(french));
        EXPECT_FALSE(refused.taken);
        EXPECT_EQ(refused.problems, "Error: line 3 (french): " + c.outside.substr(c.outside.find('|') + 1) +
                                        " is not in code page " + std::to_string(c.page) +
                                        "!\nError: 1 line of t.txt cannot be imported; nothing was written!\n");

        TextDecoder decoder(all_in(c.page));
        std::uint16_t missing = 0;
        ASSERT_TRUE(decoder.open(all_languages_mask, missing));
        std::string written;
        decoder.append_localized(written, 2, c.module);
        EXPECT_EQ(written, c.written);
        std::string script;
        decoder.append_script(script, c.module);
        EXPECT_EQ(script, c.written);
        const Parse back = parse("#File:t.DLG,0\n#0,french,male->" + written + "\n#File:s.NSS,1\n#0->" + written,
                                 utf8_reading(all_chosen(c.page)));
        EXPECT_EQ(back.texts, (std::vector<std::string>{c.module, c.module}));
    }
}

// ASCII goes eight bytes at a time: a character lands right at every
// place among it, and at either end, both ways.
TEST(Utf8Text, CharactersLandWhereverTheyStandAmongAscii) {
    TextEncoder encoder(all_in(1252));
    TextDecoder decoder(all_in(1252));
    std::uint16_t missing = 0;
    ASSERT_TRUE(decoder.open(all_languages_mask, missing));
    // A stored byte, and what a UTF-8 text writes of it.
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"\xE9", "é"}, {"\x81", "<#81>"}, {"\x01", "<#01>"}, {"\x7F", "<#7F>"}, {"\r", "<#0D>"}};
    for (std::size_t size = 0; size < 36; ++size) {
        for (std::size_t at = 0; at <= size; ++at) {
            const std::string before(at, 'a'), after(size - at, 'b');
            std::string out;
            Refusal why;
            ASSERT_EQ(encoder.encode(before + "é" + after + "’", LanguageTable[1].male_id, out, why),
                      TextEncoder::Result::written);
            EXPECT_EQ(out, before + "\xE9" + after + "\x92") << size << ' ' << at;
            for (const auto& [stored, written] : forms) {
                std::string text;
                decoder.append_localized(text, 2, before + stored + after);
                EXPECT_EQ(text, before + written + after) << size << ' ' << at;
            }
        }
    }
}

TEST(Utf8Text, LinesThatCannotBeStoredAreEachToldAndNothingIsKept) {
    std::string text = "\xEF\xBB\xBF#File:t.DLG,0\n"
                       "#0,english,male->caf\xE9\n"                // 2: a byte of 1252, not UTF-8
                       "#0,french,male-><c#FF0080>red</c>\n"       // 3: a zero in a colour
                       "#0,german,male->a<#00>b\n"                 // 4: a zero byte
                       "#0,lang9,male->\xEE\x80\x80\n"             // 5: private use
                       "#0,polish,female->\xC2\x81\n"              // 6: a C1 control
                       "#0,english,male->fine <#00 <c#FF00>\n"     // 7: no escapes at all
                       "#File:s.NSS,1\n#0->a<#0A>b\n"              // 9: a line feed in a script line
                       "#1->Привет\n";                              // 10: not in 1252
    const std::string told =
        "Error: line 2 (english): byte 0xE9 is not UTF-8!\n"
        "Error: line 3 (french): <c#FF0080> holds a zero byte, which would end the text!\n"
        "Error: line 4 (german): <#00> would end the text!\n"
        "Error: line 5 (lang9): U+E000 is a control or private-use character, which code pages map "
        "differently; write its bytes as <#XX>!\n"
        "Error: line 6 (polish): U+0081 is a control or private-use character, which code pages map "
        "differently; write its bytes as <#XX>!\n"
        "Error: line 9 (script): <#0A> would break the script line in two!\n"
        "Error: line 10 (script): U+041F is not in code page 1252!\n";
    const Parse parsed = parse(text);
    EXPECT_FALSE(parsed.taken);
    EXPECT_EQ(parsed.texts, std::vector<std::string>{});
    EXPECT_EQ(parsed.problems, told + "Error: 7 lines of t.txt cannot be imported; nothing was written!\n");

    // Many more, in two halves: the first 20 of the kind are told, in line
    // order, and how many more there were.
    for (int i = 0; i < 20; ++i) text.append("#").append(std::to_string(i)).append("->\xC5\x82\n");
    TranslationTable table;
    RecordingReporter reporter;
    EXPECT_FALSE(parse_translation_lines(table, text, reporter, 0, "t.txt"));
    std::string capped = told;
    for (int line = 11; line < 24; ++line) {
        capped.append("Error: line ").append(std::to_string(line)).append(" (script): U+0142 is not in code page 1252!\n");
    }
    EXPECT_EQ(reporter.problems, capped + "Error: 7 more errors like \"line %zu (%s): %s!\" were left out.\n"
                                          "Error: 27 lines of t.txt cannot be imported; nothing was written!\n");
    EXPECT_EQ(table.record_count(), 0u);
}

// Without --encoding, a byte order mark or a settings line that says utf-8
// makes a text UTF-8, and its code pages apply under the user's choices.
TEST(Utf8Text, TheTextSaysHowItIsReadUnlessTheUserDoes) {
    CodePageChoices baltic;
    baltic.languages[1] = 1257;
    struct Case {
        const char* what;
        std::string head;  // before the header line
        TextReading reading;
        std::string typed, stored;  // a French text as typed and as stored
    };
    const std::string bom = "\xEF\xBB\xBF";
    const std::vector<Case> cases = {
        {"nothing: raw", "", {}, "é", "é"},
        {"a byte order mark", bom, {}, "é", "\xE9"},
        {"a settings line", "//modtext: encoding=utf-8 from=english\n", {}, "é", "\xE9"},
        {"a settings line of CR LF after a mark", bom + "//modtext: encoding=utf-8\r\n", {}, "é", "\xE9"},
        {"a settings line that says raw", "//modtext: encoding=raw\n", {}, "é", "é"},
        {"a mark, told raw", bom, {{TextEncoding::raw, {}}}, "é", "é"},
        {"nothing, told utf-8", "", {{TextEncoding::utf8, {}}}, "é", "\xE9"},
        {"the settings line's code page", "//modtext: encoding=utf-8 french=1250 future=1\n", {}, "ł", "\xB3"},
        {"a choice over it", "//modtext: encoding=utf-8 french=1250\n", {{std::nullopt, baltic}}, "ł", "\xF9"},
        {"a settings line not at the start", "#File:x.DLG,9\n//modtext: encoding=utf-8\n", {}, "é", "é"},
    };
    for (const Case& c : cases) {
        const Parse parsed = parse(c.head + "#File:t.DLG,0\n#0,french,male->" + c.typed + "\n", c.reading);
        EXPECT_TRUE(parsed.taken) << c.what;
        EXPECT_EQ(parsed.texts, std::vector<std::string>{c.stored}) << c.what;
    }
    // Script lines: the settings line's page, or the first --from language's.
    const std::string script = "#File:s.NSS,0\n#0->Łódź\n";
    EXPECT_EQ(parse("//modtext: encoding=utf-8 script=1257\n" + script).texts,
              std::vector<std::string>{"\xD9\xF3" "d\xEA\n"});
    EXPECT_EQ(parse(bom + script, {{}, 0x020}).texts, std::vector<std::string>{"\xA3\xF3" "d\x9F\n"});
    EXPECT_FALSE(parse(bom + script, {{}, 0x001}).taken);
    // In a CR LF text, a script line ends with its line feed alone.
    EXPECT_EQ(parse(bom + "#File:s.NSS,0\r\n#0->Łódź<#0D>\r\n#1->a\r\n", {{}, 0x020}).texts,
              (std::vector<std::string>{"\xA3\xF3" "d\x9F\r\n", "a\n"}));
    // A settings line this program cannot follow is refused, unless the text is read raw.
    for (const auto& [line, why] : {std::pair<std::string, std::string>{"encoding=utf-16", "unknown encoding \"utf-16\""},
                                    {"encoding=utf-8 polish=1200", "code page \"1200\" for polish is not one of 874, "
                                                                   "932, 936, 949, 950 or 1250 to 1258"}}) {
        const std::string text = "//modtext: " + line + "\n#File:t.DLG,0\n";
        const Parse refused = parse(text);
        EXPECT_FALSE(refused.taken) << line;
        EXPECT_EQ(refused.problems, "Error: the settings line of t.txt cannot be followed (" + why +
                                        "); nothing was written!\n");
        EXPECT_TRUE(parse(text, {{TextEncoding::raw, {}}}).taken) << line;
    }
}

TEST(Utf8Text, ExportStartsWithAMarkAndItsSettings) {
    const auto dir = modtext::testing::scratch_dir();
    modtext::testing::write_module(
        dir / "m.mod", {{"caf\xE9", build::restype::journal,
                         build::gff_bytes({0xFFFFFFFFu, {build::GffField::loc_string("Name", 1, {{10, "\xB3\x61"}})}},
                                          "JRL V3.2"),
                         0, 0}});
    const auto export_text = [&](const SelectionState& selection, const TextEncodingOptions& options) {
        RecordingReporter reporter;
        EXPECT_TRUE(export_module((dir / "m.mod").string(), (dir / "t.txt").string(), selection, reporter, options));
        return read_text(dir / "t.txt");
    };
    const std::string raw = "#File:caf\xE9.JRL,0\n\n#0,polish,male->\xB3" "a\n\n////////////////////////////////\n\n";
    EXPECT_EQ(export_text({0x020, 0, 0}, {}), raw);
    EXPECT_EQ(export_text({0x020, 0, 0}, {TextEncoding::raw, {}}), raw);
    EXPECT_EQ(export_text({0x020, 0, 0}, {TextEncoding::utf8, {}}),
              "\xEF\xBB\xBF//modtext: encoding=utf-8 from=polish script=1250 polish=1250\n"
              "#File:caf_.JRL,0\n\n#0,polish,male->ła\n\n////////////////////////////////\n\n");
    CodePageChoices chosen;
    chosen.languages[5] = 1257;
    chosen.script = 874;
    chosen.other = 1251;
    const std::string chosen_text = export_text({0x021, 0x3FF, 0}, {TextEncoding::utf8, chosen});
    EXPECT_EQ(chosen_text.substr(0, chosen_text.find('\n') + 1),
              "\xEF\xBB\xBF//modtext: encoding=utf-8 from=english,polish script=874 english=1252 french=1252 "
              "german=1252 italian=1252 spanish=1252 polish=1257 korean=949 chintrad=950 chinsimpl=936 "
              "japanese=932 other=1251\n");

    // A resource name export wrote with "_" binds on import.
    RecordingReporter reporter;
    write_text(dir / "t.txt", "\xEF\xBB\xBF#File:caf_.JRL,0\n#0,polish,male->łódź\n");
    EXPECT_TRUE(import_module((dir / "m.mod").string(), (dir / "t.txt").string(), (dir / "o.mod").string(),
                              {0x3FF, 0, 0}, reporter));
    EXPECT_EQ(reporter.problems, "");
    EXPECT_NE(read_text(dir / "o.mod").find("\xB3\xF3" "d\x9F"), std::string::npos);
}

// A UTF-8 export, imported unedited with every language, gives the module
// the raw export gives, on every generated module, and on edge modules with
// every code page given to every text; a file this tool wrote needs no flag
// on its way back.
TEST(Utf8RoundTrip, GivesExactlyTheModuleTheRawTextGives) {
    const auto dir = modtext::testing::scratch_dir();
    const auto path = [&dir](const char* name) { return (dir / name).string(); };
    const SelectionState all{0x3FF, 0x3FF, 0};
    struct Module {
        std::uint64_t seed;
        bool edge;
    };
    for (const Module m : {Module{1, false}, {2, false}, {7, false}, {1, true}, {2, true}, {5, true}, {0, false}}) {
        SCOPED_TRACE(std::to_string(m.seed) + (m.edge ? " edge" : ""));
        build::write_file(path("m.mod"), m.seed == 0 ? build::large_module(3, 1, build::Density::dense)
                                                     : build::synthetic_module(m.seed, m.edge));
        RecordingReporter reporter;
        ASSERT_TRUE(export_module(path("m.mod"), path("raw.txt"), all, reporter));
        ASSERT_TRUE(import_module(path("m.mod"), path("raw.txt"), path("raw.mod"), all, reporter));
        const std::string expected = read_text(dir / "raw.mod");
        std::vector<std::optional<std::uint16_t>> pages{std::nullopt};
        if (m.edge) pages.insert(pages.end(), code_pages.begin(), code_pages.end());
        for (const std::optional<std::uint16_t> page : pages) {
            SCOPED_TRACE(page ? std::to_string(*page) : "default code pages");
            const TextEncodingOptions utf8{TextEncoding::utf8, page ? all_chosen(*page) : CodePageChoices{}};
            ASSERT_TRUE(export_module(path("m.mod"), path("u.txt"), all, reporter, utf8));
            ASSERT_TRUE(import_module(path("m.mod"), path("u.txt"), path("u.mod"), all, reporter));
            EXPECT_TRUE(read_text(dir / "u.mod") == expected);
        }
        EXPECT_EQ(reporter.problems, "");
    }
}

TEST(Cli, EncodingAndCodePageOptions) {
    const auto dir = modtext::testing::scratch_dir();
    build::write_file((dir / "m.mod").string(), build::synthetic_module(1));
    const std::string mod = (dir / "m.mod").string(), txt = (dir / "t.txt").string(), out = (dir / "o.mod").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string error;  // the start of what standard error shows
    };
    const std::vector<Case> cases = {
        {{"export", "--encoding", "utf-8", "--codepage", "polish=1257", "--codepage=script=874", mod, txt}, 0, ""},
        {{"import", "--codepage", "polish=1257", mod, txt, out}, 0, ""},
        {{"import", "--encoding=utf-8", mod, txt, out}, 0, ""},
        {{"export", "--encoding", "latin1", mod, txt}, 2, "modtext: --encoding needs raw or utf-8\n"},
        {{"export", "--codepage", "polish=1250", mod, txt}, 2, "modtext: --codepage needs --encoding utf-8\n"},
        {{"import", "--encoding", "raw", "--codepage", "polish=1250", mod, txt, out}, 2,
         "modtext: --codepage does not apply with --encoding raw\n"},
        {{"export", "--encoding", "utf-8", "--codepage", "polish=1200", mod, txt}, 2,
         "modtext: code page \"1200\" for polish is not one of 874, 932, 936, 949, 950 or 1250 to 1258\n"},
        {{"export", "--encoding", "utf-8", "--codepage", "klingon=1252", mod, txt}, 2,
         "modtext: unknown language key \"klingon\" in --codepage; the keys are english, french, german, "
         "italian, spanish, polish, korean, chintrad, chinsimpl, japanese, script and other\n"},
        {{"export", "--encoding", "utf-8", "--codepage", "polish", mod, txt}, 2,
         "modtext: --codepage needs LANG=CP, such as polish=1250\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream o, e;
        EXPECT_EQ(run_cli(c.args, o, e), c.status) << c.args[1];
        EXPECT_EQ(e.str().substr(0, c.error.size()), c.error) << c.args[1];
        if (c.status == 0) {
            EXPECT_EQ(e.str(), "");
        }
    }
    const std::string start = "\xEF\xBB\xBF//modtext: encoding=utf-8 from=english script=874 english=1252\n";
    EXPECT_EQ(read_text(txt).substr(0, start.size()), start);
}
