// PO catalogues: the reader's grammar and errors, the writer's layout built
// by hand, round trips, and the GNU gettext tools and library as judges
// where they are installed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "formats/files.h"
#include "formats/po_file.h"
#include "po_judge.h"
#include "test_support.h"
#include "tools/splitmix.h"

#if MODTEXT_GETTEXTPO
#include <gettext-po.h>

// The library keeps some of what it reads past po_file_free; a leak of the
// judge, not of the code it judges.
extern "C" const char* __lsan_default_suppressions() { return "leak:libgettextpo\n"; }
#endif

using namespace modtext;
using namespace std::string_literals;
using modtext::testing::read_text;
using modtext::testing::write_text;
using Opt = std::optional<std::string>;

namespace {

// An entry as plain values, to build, compare and print.
struct Msg {
    Opt ctxt{};
    std::string id{};
    Opt plural{};
    std::string str{};
    std::string translator{}, extracted{}, references{}, flags{};
    Opt prev_ctxt{}, prev_id{}, prev_plural{};
    bool obsolete = false;
    bool operator==(const Msg&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Msg& m) {
    using ::testing::PrintToString;
    return out << "{ctxt " << PrintToString(m.ctxt) << " id " << PrintToString(m.id) << " plural "
               << PrintToString(m.plural) << " str " << PrintToString(m.str) << " # "
               << PrintToString(m.translator) << " #. " << PrintToString(m.extracted) << " #: "
               << PrintToString(m.references) << " #, " << PrintToString(m.flags) << " #| "
               << PrintToString(m.prev_ctxt) << PrintToString(m.prev_id) << PrintToString(m.prev_plural)
               << (m.obsolete ? " obsolete}" : "}");
}

Opt text_of(const std::optional<std::string_view>& view) { return view ? Opt(std::string(*view)) : std::nullopt; }
std::optional<std::string_view> view_of(const Opt& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

Msg msg_of(const PoEntry& e) {
    return {text_of(e.msgctxt), std::string(e.msgid), text_of(e.msgid_plural), std::string(e.msgstr),
            std::string(e.translator_comments), std::string(e.extracted_comments), std::string(e.references),
            std::string(e.flags), text_of(e.previous_msgctxt), text_of(e.previous_msgid),
            text_of(e.previous_msgid_plural), e.obsolete};
}

// Views of the messages, which must outlive them.
std::vector<PoEntry> entries_of(const std::vector<Msg>& msgs) {
    std::vector<PoEntry> entries;
    for (const Msg& m : msgs) {
        entries.push_back({view_of(m.ctxt), m.id, view_of(m.plural), m.str, m.translator, m.extracted,
                           m.references, m.flags, view_of(m.prev_ctxt), view_of(m.prev_id),
                           view_of(m.prev_plural), m.obsolete, 0});
    }
    return entries;
}

std::vector<Msg> read_all(std::string_view bytes) {
    PoCatalogue catalogue;
    const std::optional<PoError> error = read_po(bytes, catalogue);
    EXPECT_FALSE(error) << error->text();
    std::vector<Msg> msgs;
    for (const PoEntry& entry : catalogue.entries) msgs.push_back(msg_of(entry));
    return msgs;
}

std::string written(const std::vector<Msg>& msgs, int width = po_default_width) {
    std::string out;
    write_po(entries_of(msgs), out, width);
    return out;
}

const std::string header_text =
    "Project-Id-Version: demo.mod\nPO-Revision-Date: 2024-01-01 00:00+0000\nLast-Translator: Tester\n"
    "Language-Team: French\nLanguage: fr\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
    "Content-Transfer-Encoding: 8bit\nPlural-Forms: nplurals=2; plural=(n > 1);\nX-Source-Language: english\n";

// Texts of every kind the writer wraps: words, punctuation, escapes,
// line breaks, wide and accented characters, from a fixed seed.
std::string random_text(build::SplitMix64& random) {
    static const char* const words[] = {
        "the", "quick", "brown", "fox", "jumps", "Über", "naïve", "café", "well-known", "(aside)", "end.",
        "yes,", "no!", "what?", "\"quoted\"", "it's", "tab\there", "back\\slash", "日本語の", "テキスト。",
        "「かっこ」", "한국어", "텍스트", "中文", "文本，", "100%", "1-2", "ok;", "a:b", "ellipsis...",
        "supercalifragilisticexpialidocious-and-then-some-more-letters-to-pass-a-line", "x)y", "a;b", "a}5",
        "a|b", "a/5", "5.a", "x(y", "a—b", "«a»", "¿a?", "a…b", "$5", "3.5", "a!5"};
    std::string text;
    const std::uint32_t count = random.range(0, 40);
    for (std::uint32_t i = 0; i < count; ++i) {
        text += words[random.below(std::size(words))];
        text += random.chance(8) ? "\n" : random.chance(5) ? "  " : " ";
    }
    if (random.chance(20)) text = "\n" + text;
    if (random.chance(50) && !text.empty()) text.pop_back();
    return text;
}

// A catalogue with a header and entries the gettext tools keep as they are:
// fuzzy and obsolete only where translated, and the translation shaped as
// its source.
std::vector<Msg> judged_catalogue(std::uint64_t seed, std::size_t count) {
    std::vector<Msg> msgs{{.id = "", .str = header_text}};
    build::SplitMix64 random(seed);
    for (std::size_t i = 0; i < count; ++i) {
        Msg m{.ctxt = "talk.DLG:" + std::to_string(i), .id = random_text(random)};
        if (m.id.empty()) m.id = "x";
        if (random.chance(60)) m.str = m.id;
        if (random.chance(40)) m.extracted = "NPC to the player\n";
        if (random.chance(30)) m.translator = "check this\n";
        if (random.chance(50)) m.references = "talk.DLG resource_" + std::to_string(i) + ".UTI:" + std::to_string(i);
        if (!m.str.empty() && random.chance(30)) m.flags = "fuzzy";
        if (random.chance(10)) m.prev_id = random_text(random);
        m.obsolete = !m.str.empty() && random.chance(8);
        msgs.push_back(std::move(m));
    }
    msgs.push_back({.id = "one file", .plural = "%d files", .str = "un fichier\0%d fichiers\0"s, .flags = "c-format"});
    return msgs;
}

}  // namespace

TEST(PoRead, TakesTheWholeGrammar) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Msg> expected;
    };
    const std::vector<Case> cases = {
        {"every comment kind, in any order",
         "# first note\n#second\n#\n#. label one\n#.label two\n#: a.dlg b.dlg:3\n#:\tc\n#, fuzzy, c-format\n"
         "#,no-wrap\n#| msgctxt \"old ctx\"\n#| msgid \"old\"\n#| \"er\"\nmsgctxt \"ctx\"\nmsgid \"id\"\nmsgstr \"s\"\n",
         {{.ctxt = "ctx", .id = "id", .str = "s", .translator = "first note\nsecond\n\n",
           .extracted = "label one\nlabel two\n", .references = "a.dlg b.dlg:3 c", .flags = "fuzzy,c-format,no-wrap",
           .prev_ctxt = "old ctx", .prev_id = "older"}}},
        {"strings over lines, several to a line, and an empty context",
         "msgid \"\"\n\"one \"\n  \"two\" \"three\"\nmsgstr\n\"x\"\n\nmsgctxt \"\"\nmsgid \"one two\"\nmsgstr \"\"\n",
         {{.id = "one twothree", .str = "x"}, {.ctxt = "", .id = "one two"}}},
        {"every escape",
         R"(msgid "\a\b\f\n\r\t\v\\\"\?\'")" "\n" R"(msgstr "\101\7x\0101\x41\x4a\x0041g\377")",
         {{.id = "\a\b\f\n\r\t\v\\\"?'", .str = "A\x07x\x08" "1AJAg\xFF"}}},
        {"CR LF line ends and a byte order mark",
         "\xEF\xBB\xBF# note\r\nmsgid \"a\"\r\nmsgstr \"b\\r\"\r\n\r\n#~ msgid \"c\"\r\n#~ msgstr \"d\"",
         {{.id = "a", .str = "b\r", .translator = "note\n"}, {.id = "c", .str = "d", .obsolete = true}}},
        {"obsolete entries with previous strings",
         "#, fuzzy\n#~| msgid \"was\"\n#~ msgctxt \"c\"\n#~ msgid \"a\"\n#~ msgstr \"b\"\n#~ \"c\"\n",
         {{.ctxt = "c", .id = "a", .str = "bc", .flags = "fuzzy", .prev_id = "was", .obsolete = true}}},
        {"plural forms",
         "#| msgid \"o\"\n#| msgid_plural \"m\"\nmsgid \"one\"\nmsgid_plural \"many\"\nmsgstr[0] \"un\"\n"
         "msgstr [ 1 ] \"des\"\n\"s\"\n",
         {{.id = "one", .plural = "many", .str = "un\0dess\0"s, .prev_id = "o", .prev_plural = "m"}}},
        {"blank lines inside, trailing comments dropped, entries on one line",
         "\n\n  msgid \"a\"\n\n\tmsgstr \"b\" msgid \"c\" msgstr \"\"\n\n# dropped\n#. too",
         {{.id = "a", .str = "b"}, {.id = "c"}}},
        {"an escaped quote before a \"#\", in the last word of a line and before it",
         "msgid \"a\\\"#?\"\nmsgstr \"x\\\"#y and more text\"\n",
         {{.id = "a\"#?", .str = "x\"#y and more text"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read_all(c.bytes), c.expected);
    }
}

// A string is read a block of sixteen bytes at a time as far as it can be,
// and the full way from where it cannot: every escape, line end and error
// comes out the same wherever it falls in a block, whether the texts are
// written over the catalogue's bytes or into room of their own.
TEST(PoRead, StringsReadAlikeWhereverTheirBytesFall) {
    struct Case {
        std::string string;  // a msgstr from its opening quote to the end
        std::string text;    // what it reads as, after the filler
        std::string error{};  // or the error it makes on line 2
    };
    const std::string escape_error =
        R"(expected \a \b \f \n \r \t \v \\ \" \? \' \NNN or \xHH after the backslash, found )";
    const std::string unclosed = "expected a closing double quote before the end of the line";
    const std::vector<Case> cases = {
        {R"("x\ny\t\"\\")" "\n", "x\ny\t\"\\"},
        {R"("\101\x41\a\?")" "\r\n", "AA\a?"},
        {"\"x\ry\"  \n", "x\ry"},
        {"\"x\" \"y\"\t\r\r\n", "xy"},
        {"\"x\"\n\"y\"\n", "xy"},
        {"\"\xC3\xA9\"", "\xC3\xA9"},
        {R"("x\q")" "\n", "", escape_error + R"("\q")"},
        {"\"x\\\r\n", "", escape_error + "the end of the line"},
        {"\"x\n\"y\"\n", "", unclosed},
        {"\"x\r\n", "", unclosed},
        {"\"x\0\"\n"s, "", "expected text in a string, found a NUL byte"},
        {"\"x\" y\n", "", R"(expected a string or the next entry, found "y")"},
    };
    for (std::size_t filler = 0; filler < 34; ++filler) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::PrintToString(c.string) + " after " + std::to_string(filler));
            const std::string bytes = "msgid \"k\"\nmsgstr \"" + std::string(filler, 'a') + c.string.substr(1);
            const std::string text = std::string(filler, 'a') + c.text;
            PoCatalogue over;
            const std::optional<PoError> error = read_po(bytes, over);
            InputFile file;
            file.open_memory({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
            PoTranslations apart;
            std::optional<PoError> apart_error;
            ASSERT_TRUE(read_po_file(file, apart, apart_error));
            if (!c.error.empty()) {
                for (const std::optional<PoError>& e : {error, apart_error}) {
                    ASSERT_TRUE(e);
                    EXPECT_EQ(e->line, 2u);
                    EXPECT_EQ(e->message, c.error);
                }
                continue;
            }
            ASSERT_FALSE(error) << error->text();
            ASSERT_FALSE(apart_error) << apart_error->text();
            ASSERT_EQ(over.entries.size(), 1u);
            ASSERT_EQ(apart.entries.size(), 1u);
            EXPECT_EQ(over.entries[0].msgstr, text);
            EXPECT_EQ(apart.entries[0].msgstr, text);
        }
    }
}

TEST(PoRead, HeaderFieldsAndPluralForms) {
    PoCatalogue catalogue;
    const std::string bytes = "msgid \"\"\nmsgstr \"\"\n\"Language:  fr_CA\\n\"\n\"X-Source-Language: english\\n\"\n"
                              "\"no colon\\n\"\n\nmsgid \"a\"\nmsgid_plural \"b\"\nmsgstr[0] \"x\"\nmsgstr[1] \"\"\n";
    ASSERT_FALSE(read_po(bytes, catalogue));
    ASSERT_NE(catalogue.header(), nullptr);
    EXPECT_EQ(catalogue.header_field("Language"), "fr_CA");
    EXPECT_EQ(catalogue.header_field("X-Source-Language"), "english");
    EXPECT_EQ(catalogue.header_field("language"), std::nullopt);
    const std::vector<PoHeaderField> fields = po_header_fields(catalogue.header()->msgstr);
    EXPECT_EQ(po_header_text(fields), "Language: fr_CA\nX-Source-Language: english\n");
    const PoEntry& plural = catalogue.entries[1];
    EXPECT_EQ(plural.line, 7u);
    ASSERT_EQ(plural.msgstr_count(), 2u);
    EXPECT_EQ(plural.msgstr_form(0), "x");
    EXPECT_EQ(plural.msgstr_form(1), "");
    EXPECT_EQ(plural.msgstr_form(2), "");
}

TEST(PoRead, RefusesWhatDoesNotParseNamingTheLine) {
    struct Case {
        std::string bytes;
        std::size_t line;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"msgid \"a\"\n", 1, "expected a string, msgid_plural or msgstr, found the end of the file"},
        {"msgid \"a\"\nmsgstr\n\n", 3, "expected a string after msgstr, found the end of the file"},
        {"#| msgid \"a\"\n", 1, "expected a string, \"#| msgid_plural\", msgctxt or msgid, found the end of the file"},
        {"\n\"a\"", 2, "expected msgctxt, msgid or a comment, found a string"},
        {"msgstr \"b\"", 1, "expected msgctxt, msgid or a comment, found msgstr"},
        {"msgid \"a\nmsgstr \"b\"", 1, "expected a closing double quote before the end of the line"},
        {"msgid \"a\\q\"", 1, R"(expected \a \b \f \n \r \t \v \\ \" \? \' \NNN or \xHH after the backslash, found "\q")"},
        {"msgid \"a\\", 1, R"(expected \a \b \f \n \r \t \v \\ \" \? \' \NNN or \xHH after the backslash, found the end of the line)"},
        {"msgid \"a\\x\"", 1, R"(expected \a \b \f \n \r \t \v \\ \" \? \' \NNN or \xHH after the backslash, found "\x")"},
        {"msgid \"\\00\"", 1, R"(expected text in a string, found a NUL byte "\00")"},
        {"msgid \"a\0\""s, 1, "expected text in a string, found a NUL byte"},
        {"msgid \"\\400\"", 1, R"(expected an escape of one byte (at most \377 or \xFF), found "\400")"},
        {"msgid \"\\x100\"", 1, R"(expected an escape of one byte (at most \377 or \xFF), found "\x100")"},
        {"msgid \"a\"\n# c\nmsgstr \"b\"", 2, "expected a string, msgid_plural or msgstr, found a comment"},
        {"foo \"a\"", 1, R"(expected msgctxt, msgid or a comment, found "foo")"},
        {"msgid \"a\" x", 1, R"(expected a string, msgid_plural or msgstr, found "x")"},
        {"msgid \"a\"\nmsgid_plural \"b\"\nmsgstr \"c\"", 3, "expected a string or msgstr[0], found msgstr"},
        {"msgid \"a\"\nmsgid_plural \"b\"\nmsgstr[0] \"c\"\nmsgstr[2] \"d\"", 4, "expected msgstr[1], found msgstr[2]"},
        {"msgid \"a\"\nmsgid_plural \"b\"\nmsgstr[x] \"c\"", 3,
         R"(expected a plural form's number and "]" after "msgstr[", found "x] "c"")"},
        {"msgid \"a\"\nmsgstr[0] \"c\"", 2, "expected a string, msgid_plural or msgstr, found msgstr[0]"},
        {"#~ msgid \"a\"\nmsgstr \"b\"", 2, R"(expected "#~" at the start of this line, as on line 1 of the same entry)"},
        {"msgid \"a\"\n#~ msgstr \"b\"", 2, R"(expected no "#~" at the start of this line, as on line 1 of the same entry)"},
        {"#| msgid \"a\"\n# c\nmsgid \"b\"\nmsgstr \"\"", 2,
         R"(expected a string, "#| msgid_plural", msgctxt or msgid, found a comment)"},
        {"msgid \"a\"\n#| \"b\"", 2, R"(expected a string, msgid_plural or msgstr, found a string after "#|")"},
        {"msgid \"a\"\nmsgstr \"b\"\n\nmsgctxt \"c\"\nmsgid \"a\"\nmsgstr \"\"\n#~ msgid \"a\"\n#~ msgstr \"c\"", 7,
         "expected an entry of its own, found the msgctxt and msgid of line 1 again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        PoCatalogue catalogue;
        catalogue.entries.emplace_back();
        const std::optional<PoError> error = read_po(c.bytes, catalogue);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->line, c.line);
        EXPECT_EQ(error->message, c.message);
        EXPECT_TRUE(catalogue.entries.empty());
    }
}

// Of many repeated entries, the first to repeat one is named, in a
// catalogue read whole or in halves, wherever the entries' hashes fall.
TEST(PoRead, NamesTheFirstEntryThatRepeatsAnother) {
    constexpr std::size_t count = 64;
    const auto entry = [](std::size_t k) {
        std::string text = "msgctxt \"c";
        return text.append(std::to_string(k)).append("\"\nmsgid \"a\"\nmsgstr \"\"\n\n");
    };
    for (std::size_t first = 0; first < 8; ++first) {
        SCOPED_TRACE(first);
        std::string bytes;
        for (std::size_t k = 0; k < count; ++k) bytes += entry(k);
        for (std::size_t k = 0; k < count; ++k) bytes += entry((first + k) % count);
        for (const std::size_t halves_from : {std::numeric_limits<std::size_t>::max(), std::size_t{1}}) {
            PoCatalogue catalogue;
            const std::optional<PoError> error = read_po(bytes, catalogue, halves_from);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->line, 4 * count + 2);
            EXPECT_EQ(error->message, "expected an entry of its own, found the msgctxt and msgid of line " +
                                          std::to_string(4 * first + 2) + " again");
        }
    }
}

// What an import keeps of an entry, to compare the two readers: of its
// msgid, the digest, and the text only when it has no msgctxt.
struct Kept {
    Opt ctxt;
    std::string id;
    std::uint64_t id_digest;
    std::string str;
    std::size_t line;
    bool plural, obsolete, fuzzy;
    bool operator==(const Kept&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Kept& k) {
    using ::testing::PrintToString;
    // The filler and the longest lines are shown by their start and size.
    const std::string str = k.str.size() > 40 ? k.str.substr(0, 40) + "... (" + std::to_string(k.str.size()) + ")" : k.str;
    return out << "{ctxt " << PrintToString(k.ctxt) << " id " << PrintToString(k.id) << " digest " << k.id_digest << " str "
               << PrintToString(str) << " line " << k.line << (k.plural ? " plural" : "")
               << (k.obsolete ? " obsolete" : "") << (k.fuzzy ? " fuzzy}" : "}");
}

// A catalogue's entries with their lines, or its error.
struct Outcome {
    std::vector<Msg> msgs;
    std::vector<Kept> kept;
    std::optional<std::pair<std::size_t, std::string>> error;
};

Outcome outcome_of(const PoCatalogue& catalogue, const std::optional<PoError>& error) {
    Outcome o;
    for (const PoEntry& e : catalogue.entries) {
        o.msgs.push_back(msg_of(e));
        o.kept.push_back({text_of(e.msgctxt), e.msgctxt ? std::string() : std::string(e.msgid), po_msgid_digest(e.msgid),
                          std::string(e.msgstr), e.line, e.msgid_plural.has_value(), e.obsolete, e.fuzzy()});
    }
    if (error) o.error = {error->line, error->message};
    return o;
}

Outcome outcome_of(const PoTranslations& catalogue, const std::optional<PoError>& error) {
    Outcome o;
    for (std::size_t i = 0; i < catalogue.entries.size(); ++i) {
        const PoTranslationEntry& e = catalogue.entries[i];
        o.kept.push_back({e.has_msgctxt ? Opt(std::string(e.msgctxt)) : std::nullopt, std::string(e.msgid),
                          e.msgid_digest, std::string(e.msgstr), e.line, e.plural, e.obsolete, e.fuzzy});
    }
    if (error) o.error = {error->line, error->message};
    return o;
}

TEST(PoRead, InTwoHalvesAsWhole) {
    struct Case {
        const char* name;
        std::string first, second;  // the second starts where the halves split
        bool error;
        bool crlf = false;
    };
    const std::string long_text(read_piece_size + 4321, 'L');
    const std::vector<Case> cases = {
        {"entries of every kind on both sides",
         "msgid \"\"\nmsgstr \"Language: fr\\n\"\n\n#, fuzzy\nmsgctxt \"a\"\nmsgid \"x\"\nmsgstr \"y\"\n",
         "# note\n#. label\nmsgctxt \"b\"\nmsgid \"x\"\nmsgid_plural \"xs\"\nmsgstr[0] \"y\"\nmsgstr[1] \"ys\"\n\n"
         "#, fuzzy\n#~ msgid \"gone\"\n#~ msgstr \"parti\"\n",
         false},
        {"an error in the second half, on its line of the whole",
         "msgid \"a\"\nmsgstr \"b\"\n", "# note\nmsgid \"c\"\nmsgstr \"d\"\n\nmsgid \"e\"\nmsgstr \"f\\q\"\n", true},
        {"an error in each half: the first's",
         "msgid \"a\"\nmsgstr \"b\" x\n", "# note\nmsgid \"c\"\nmsgstr \"d\\q\"\n", true},
        {"a context and msgid in both halves",
         "msgctxt \"c\"\nmsgid \"a\"\nmsgstr \"b\"\n", "#. again\nmsgctxt \"c\"\nmsgid \"a\"\nmsgstr \"\"\n", true},
        {"CR LF line ends and a byte order mark",
         "\xEF\xBB\xBFmsgid \"a\"\nmsgstr \"b\\r\"\n", "# note\nmsgid \"c\"\nmsgstr \"d\"\n\n#~ msgid \"e\"\n#~ msgstr \"f\"",
         false, true},
        {"a line longer than a piece of the file in the second half",
         "msgid \"a\"\nmsgstr \"b\"\n", "#, fuzzy\nmsgid \"c\"\nmsgstr \"" + long_text + "\"\n\nmsgid \"d\"\nmsgstr \"e\"\n",
         false},
    };
    const auto dir = modtext::testing::scratch_dir();
    constexpr std::size_t whole = std::numeric_limits<std::size_t>::max();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A last entry of the first half that takes its middle, so that the
        // halves split where the second starts.
        std::string bytes = c.first + "\nmsgctxt \"filler\"\nmsgid \"f\"\nmsgstr \"" +
                            std::string(c.first.size() + c.second.size(), 'f') + "\"\n\n";
        const std::size_t feeds = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        const std::size_t split = bytes.size() + (c.crlf ? feeds : 0);
        bytes += c.second;
        if (c.crlf) {
            std::string with_cr;
            for (const char ch : bytes) with_cr += ch == '\n' ? "\r\n" : std::string(1, ch);
            bytes = with_cr;
        }
        ASSERT_EQ(bytes.find("\n#", bytes.size() / 2), split - 1);

        PoCatalogue catalogue;
        const std::optional<PoError> error = read_po(bytes, catalogue, whole);
        const Outcome expected = outcome_of(catalogue, error);
        EXPECT_EQ(expected.error.has_value(), c.error);
        EXPECT_EQ(expected.msgs.empty(), c.error);

        PoCatalogue halves;
        const std::optional<PoError> halves_error = read_po(bytes, halves, 1);
        const Outcome in_halves = outcome_of(halves, halves_error);
        EXPECT_EQ(in_halves.msgs, expected.msgs);
        EXPECT_EQ(in_halves.kept, expected.kept);
        EXPECT_EQ(in_halves.error, expected.error);

        const auto path = dir / "halves.po";
        write_text(path, bytes);
        for (const std::size_t halves_from : {whole, std::size_t{1}}) {
            SCOPED_TRACE(halves_from);
            InputFile file;
            ASSERT_TRUE(file.open(path.string()));
            PoTranslations translations;
            std::optional<PoError> file_error;
            ASSERT_TRUE(read_po_file(file, translations, file_error, halves_from));
            const Outcome from_file = outcome_of(translations, file_error);
            EXPECT_EQ(from_file.kept, expected.kept);
            EXPECT_EQ(from_file.error, expected.error);
        }
    }
}

TEST(PoWrite, LaysOutEntriesAsGettextDoes) {
    struct Case {
        const char* name;
        std::vector<Msg> msgs;
        int width;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"comments in gettext's order, fuzzy first, escapes",
         {{.ctxt = "ctx", .id = "tab\there \"q\" back\\slash\a", .str = "x", .translator = "note\n\n",
           .extracted = "label\n", .references = "a.dlg:1 b.dlg", .flags = "c-format,fuzzy",
           .prev_ctxt = "was", .prev_id = "old"}},
         79,
         "# note\n#\n#. label\n#: a.dlg:1 b.dlg\n#, fuzzy, c-format\n#| msgctxt \"was\"\n#| msgid \"old\"\n"
         "msgctxt \"ctx\"\nmsgid \"tab\\there \\\"q\\\" back\\\\slash\\a\"\nmsgstr \"x\"\n"},
        {"a long string starts on the next line and breaks after spaces",
         {{.id = "Hello world this is long"}}, 20, "msgid \"\"\n\"Hello world this \"\n\"is long\"\nmsgstr \"\"\n"},
        {"split after each line feed, a final one kept on its line",
         {{.id = "one\ntwo\n", .str = "a\n"}}, 79, "msgid \"\"\n\"one\\n\"\n\"two\\n\"\nmsgstr \"a\\n\"\n"},
        {"no wrap but at line feeds",
         {{.id = std::string(100, 'w') + " " + std::string(100, 'v'), .str = "a\nb"}}, 0,
         "msgid \"" + std::string(100, 'w') + " " + std::string(100, 'v') + "\"\nmsgstr \"\"\n\"a\\n\"\n\"b\"\n"},
        {"obsolete entries last, prefixed on every line",
         {{.id = "gone away now, for good", .str = "x", .obsolete = true}, {.id = "a", .plural = "b", .str = "c\0d\0"s}},
         20,
         "msgid \"a\"\nmsgid_plural \"b\"\nmsgstr[0] \"c\"\nmsgstr[1] \"d\"\n\n"
         "#~ msgid \"\"\n#~ \"gone away now, \"\n#~ \"for good\"\n#~ msgstr \"x\"\n"},
        {"references wrap at the width",
         {{.id = "a", .references = "aaaa.dlg:1 bbbb.dlg:22 cc"}}, 20,
         "#: aaaa.dlg:1\n#: bbbb.dlg:22 cc\nmsgid \"a\"\nmsgstr \"\"\n"},
        {"wide characters take two columns, and break between them",
         {{.id = "日本語のテキストは、スペース"}}, 20,
         "msgid \"\"\n\"日本語のテキスト\"\n\"は、スペース\"\nmsgstr \"\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(written(c.msgs, c.width), c.expected);
    }
}

TEST(PoWrite, RoundTripsThroughTheReader) {
    const std::vector<Msg> msgs = judged_catalogue(7, 300);
    std::vector<Msg> in_file_order;
    for (const bool obsolete : {false, true}) {
        for (const Msg& m : msgs) {
            if (m.obsolete == obsolete) in_file_order.push_back(m);
        }
    }
    for (const int width : {79, 20, 1, 0}) {
        SCOPED_TRACE(width);
        const std::string bytes = written(msgs, width);
        EXPECT_EQ(read_all(bytes), in_file_order);
        EXPECT_EQ(written(read_all(bytes), width), bytes);
    }
}

// ---------------------------------------------------------------------------
// The GNU gettext tools and library as judges

using modtext::testing::have_tool;
using modtext::testing::run;

TEST(PoJudges, GettextToolsAcceptAndKeepWhatTheWriterWrote) {
    if (!have_tool("msgcat") || !have_tool("msgfmt")) GTEST_SKIP() << "the gettext tools are not installed";
    const auto dir = modtext::testing::scratch_dir();
    const std::vector<Msg> msgs = judged_catalogue(11, 400);
    struct Width {
        int ours;
        std::string option;
    };
    for (const Width& width : {Width{79, ""}, Width{20, "--width=20"}, Width{0, "--no-wrap"}}) {
        SCOPED_TRACE(width.ours);
        const std::string ours = written(msgs, width.ours);
        const auto path = dir / ("ours-" + std::to_string(width.ours) + ".po");
        const auto theirs = dir / ("theirs-" + std::to_string(width.ours) + ".po");
        write_text(path, ours);
        EXPECT_EQ(run("msgfmt --check -o /dev/null '" + path.string() + "'"), 0);
        ASSERT_EQ(run("msgcat " + width.option + " -o '" + theirs.string() + "' '" + path.string() + "'"), 0);
        EXPECT_EQ(read_all(read_text(theirs)), read_all(ours));
        EXPECT_EQ(read_text(theirs), ours);
    }
}

TEST(PoJudges, LibgettextpoReadsWhatOurReaderReads) {
    if (!modtext::testing::have_libgettextpo()) GTEST_SKIP() << "libgettextpo is not installed";
    const auto dir = modtext::testing::scratch_dir();
    // What the writer writes, and catalogues written by hand.
    const std::vector<std::string> catalogues = {
        written(judged_catalogue(13, 200)),
        "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\nPlural-Forms: nplurals=2; plural=n>1;\\n\"\n\n"
        "# first note\n#second\n#. label one\n#.label two\n#: a.dlg b.dlg:3\n#:\tc\n#, fuzzy, c-format\n"
        "#| msgctxt \"old ctx\"\n#| msgid \"old\"\n#| \"er\"\nmsgctxt \"ctx\"\nmsgid \"\" \"%d id\"\n\nmsgstr \"%d\"\n"
        "\nmsgid \"\\a\\b\\f\\n\\r\\t\\v\\\\\\\"\\101\\7x\\0101\\x41\\x4a\"\n msgstr \"\"\n\n"
        "msgid \"one\"\nmsgid_plural \"many\"\nmsgstr[0] \"un\"\nmsgstr [ 1 ] \"des\"\n\"s\"\n"
        "#~| msgid \"was\"\n#~ msgctxt \"c\"\n#~ msgid \"a\"\n#~ msgstr \"b\"\n#~ \"c\"\n# trailing\n"};
    for (const std::string& bytes : catalogues) EXPECT_TRUE(modtext::testing::libgettextpo_agrees(dir, bytes));
}

namespace modtext::testing {

bool have_libgettextpo() {
#if MODTEXT_GETTEXTPO
    return true;
#else
    return false;
#endif
}

::testing::AssertionResult libgettextpo_agrees(const std::filesystem::path& dir, const std::string& bytes) {
#if !MODTEXT_GETTEXTPO
    (void)dir;
    (void)bytes;
    return ::testing::AssertionFailure() << "libgettextpo is not installed";
#else
    po_xerror_handler handler{
        [](int severity, po_message_t, const char* file, std::size_t line, std::size_t, int, const char* text) {
            if (severity == PO_SEVERITY_WARNING) return;
            std::fprintf(stderr, "libgettextpo: %s:%zu: %s\n", file ? file : "", line, text);
            std::abort();
        },
        [](int, po_message_t, const char*, std::size_t, std::size_t, int, const char* text, po_message_t,
           const char*, std::size_t, std::size_t, int, const char*) {
            std::fprintf(stderr, "libgettextpo: %s\n", text);
            std::abort();
        }};
    const auto text = [](const char* s) { return s ? Opt(s) : std::nullopt; };
    const auto path = dir / "judged.po";
    write_text(path, bytes);
    po_file_t file = po_file_read(path.string().c_str(), &handler);
    if (!file) return ::testing::AssertionFailure() << "libgettextpo could not read it";
    po_message_iterator_t iterator = po_message_iterator(file, nullptr);
    std::vector<Msg> theirs;
    while (po_message_t message = po_next_message(iterator)) {
        Msg& m = theirs.emplace_back(Msg{text(po_message_msgctxt(message)), po_message_msgid(message),
                                         text(po_message_msgid_plural(message))});
        if (m.plural) {
            for (int k = 0; const char* form = po_message_msgstr_plural(message, k); ++k) m.str += form + "\0"s;
        } else {
            m.str = po_message_msgstr(message);
        }
        m.translator = po_message_comments(message);
        m.extracted = po_message_extracted_comments(message);
        for (int k = 0; po_filepos_t position = po_message_filepos(message, k); ++k) {
            if (k > 0) m.references += ' ';
            m.references += po_filepos_file(position);
            if (po_filepos_start_line(position) != static_cast<std::size_t>(-1)) {
                m.references.append(1, ':').append(std::to_string(po_filepos_start_line(position)));
            }
        }
        m.flags = po_message_is_fuzzy(message) ? "fuzzy" : "";
        m.prev_ctxt = text(po_message_prev_msgctxt(message));
        m.prev_id = text(po_message_prev_msgid(message));
        m.prev_plural = text(po_message_prev_msgid_plural(message));
        m.obsolete = po_message_is_obsolete(message) != 0;
    }
    po_message_iterator_free(iterator);
    po_file_free(file);
    // Its flags are the fuzzy one alone; the format flags it parses.
    std::vector<Msg> ours = read_all(bytes);
    for (Msg& m : ours) m.flags = PoEntry{.flags = m.flags}.fuzzy() ? "fuzzy" : "";
    if (ours == theirs) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ours " << ::testing::PrintToString(ours) << "\ntheirs "
                                         << ::testing::PrintToString(theirs);
#endif
}

}  // namespace modtext::testing
