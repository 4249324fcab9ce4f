#include "app/cli.h"
#include "test_support.h"
#include "translation/text_checks.h"

#include <sstream>

using namespace modtext;
using namespace modtext::build;
using modtext::testing::write_text;

namespace {

using F = build::GffField;

struct Outcome {
    int status;
    std::string out, err;
};
Outcome cli(std::vector<std::string> args) {
    std::ostringstream o, e;
    const int status = run_cli(args, o, e);
    return {status, o.str(), e.str()};
}

// An area whose five fields hold what a translator can break: a token, a
// line break, spaces at both ends, a raw colour tag, and a plain word.
class Check : public ::testing::Test {
protected:
    void SetUp() override {
        const Bytes area = gff_bytes(
            GffStruct{0, {F::loc_string("A", 1, {{0, "Hello <Name>."}}), F::loc_string("B", 1, {{0, "One\nTwo"}}),
                          F::loc_string("C", 1, {{0, " Padded "}}),
                          F::loc_string("D", 1, {{0, "<c\x01\x02\x03>Red</c> text"}}),
                          F::loc_string("E", 1, {{0, "Same"}})}},
            "ARE V3.2");
        modtext::testing::write_module(dir / "m.mod", {{"are", restype::area, area, 0, 0}});
    }
    std::string path(const char* name) const { return (dir / name).string(); }

    const std::filesystem::path dir = modtext::testing::scratch_dir();
};

// Each kind of finding, on the line it is about.
TEST_F(Check, FindsEachKindOnItsLineAndTheImportsOwnWarnings) {
    write_text(dir / "t.txt",
               "#File:are.ARE,0\n\n"
               "#0,english,male->Hello <Name>.\n"
               "#0,french,male->Bonjour.\n"                 // 4: <Name> missing
               "#0,french,female->Salut <Nom> <Name>.\n\n"  // 5: <Nom> added
               "#1,english,male->One|Two\n"
               "#1,french,male->Une\n\n"  // 8: a line break less
               "#2,english,male-> Padded \n"
               "#2,french,male->Rembourre\n\n"  // 11: both ends
               "#3,english,male-><c\x01\x02\x03>Red</c> text\n"
               "#3,french,male->Texte rouge</c>\n\n"  // 14: the colour tag missing
               "#4,english,male->Same\n"
               "#4,french,male->Same\n"  // 17: a note
               "#4,german,male->Gleich\n"
               "#4,lang40,male->Same\n"
               "#4,klingon,male->Same\n\n"  // 20: the import's warning
               "////////////////////////////////\n\n");
    const Outcome run = cli({"check", path("m.mod"), path("t.txt")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "warning: line 4: are.ARE #0 french: the source's <Name> is missing\n"
              "warning: line 5: are.ARE #0 french: <Nom> is not in the source\n"
              "warning: line 8: are.ARE #1 french: 0 line breaks (|), the source has 1\n"
              "warning: line 11: are.ARE #2 french: 0 leading spaces, the source has 1\n"
              "warning: line 11: are.ARE #2 french: 0 trailing spaces, the source has 1\n"
              "warning: line 14: are.ARE #3 french: the source's <c\\x01\\x02\\x03> is missing\n"
              "note: line 17: are.ARE #4 french: the translation repeats its source text\n"
              "0 errors, 7 warnings, 1 note.\n");
    EXPECT_EQ(run.err, "WARNING: Invalid String on line 20! (unknown language key \"klingon\")\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "m.mod.tmp"));

    const Outcome json = cli({"check", "--json", path("m.mod"), path("t.txt")});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(json.out.substr(0, json.out.find('\n', 2) + 1),
              "[\n{\"severity\": \"warning\", \"line\": 20, \"resource\": null, \"field\": null, \"language\": null, "
              "\"kind\": \"import\", \"message\": \"WARNING: Invalid String on line 20! (unknown language key "
              "\\\"klingon\\\")\"},\n");
    EXPECT_NE(json.out.find("{\"severity\": \"warning\", \"line\": 14, \"resource\": \"are.ARE\", \"field\": 3, "
                            "\"language\": \"french\", \"kind\": \"colour-tag\", \"message\": \"the source's "
                            "<c\\\\x01\\\\x02\\\\x03> is missing\"}"),
              std::string::npos);
}

// Notes alone are clean; the source language is the settings line's, or
// the one named; nothing is ever written.
TEST_F(Check, NotesAloneAreCleanAndTheSourceIsTheOneNamed) {
    const std::string lines = "#File:are.ARE,0\n\n#4,french,male->Same\n#4,english,male->Same <X>\n\n";
    write_text(dir / "f.txt", "\xEF\xBB\xBF//modtext: encoding=utf-8 from=french script=1252\n" + lines);
    write_text(dir / "e.txt", lines);
    const auto before = std::filesystem::last_write_time(dir / "m.mod");
    for (const auto& [args, status, out] : std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"check", "--json", path("m.mod"), path("e.txt")}, 1, "\"kind\": \"token\""},
             {{"check", "--source", "french", path("m.mod"), path("e.txt")}, 1, "<X> is not in the source"},
             {{"check", path("m.mod"), path("f.txt")}, 1, "<X> is not in the source"},
             // French does not survive: only the import's word that its lines are left out.
             {{"check", "--from", "english", path("m.mod"), path("e.txt")}, 1, "0 errors, 1 warning, 0 notes."},
         }) {
        const Outcome run = cli(args);
        EXPECT_EQ(run.status, status) << args.back() << run.err;
        EXPECT_NE(run.out.find(out), std::string::npos) << run.out;
        if (args[1] == "--from") {
            EXPECT_EQ(run.out, out + "\n");
        }
    }
    write_text(dir / "same.txt", "#File:are.ARE,0\n\n#4,english,male->Same\n#4,french,male->Same\n\n");
    const Outcome clean = cli({"check", "--json", path("m.mod"), path("same.txt")});
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, "[\n{\"severity\": \"note\", \"line\": 4, \"resource\": \"are.ARE\", \"field\": 4, "
                         "\"language\": \"french\", \"kind\": \"same-as-source\", \"message\": \"the translation "
                         "repeats its source text\"}\n]\n");
    EXPECT_EQ(std::filesystem::last_write_time(dir / "m.mod"), before);
    EXPECT_EQ(cli({"check", path("m.mod")}).status, 2);
    EXPECT_EQ(cli({"check", "--to", "french", path("m.mod"), path("e.txt")}).status, 2);
    EXPECT_EQ(cli({"check", path("m.mod"), path("none.txt")}).status, 1);
}

// A catalogue's msgid is its entries' source; its lines are the msgids'.
TEST_F(Check, ACatalogueIsCheckedEntryByEntry) {
    write_text(dir / "c.po",
               "msgid \"\"\nmsgstr \"Language: fr\\nX-Source-Language: english\\n\"\n\n"
               "msgctxt \"are.ARE#0:0\"\nmsgid \"Hello <Name>.\"\nmsgstr \"Bonjour.\"\n\n"
               "msgctxt \"are.ARE#0:1\"\nmsgid \"\"\n\"One\\n\"\n\"Two\"\nmsgstr \"Un\"\n");
    const Outcome run = cli({"check", path("m.mod"), path("c.po")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out,
              "warning: line 5: are.ARE #0 french: the source's <Name> is missing\n"
              "warning: line 9: are.ARE #1 french: 0 line breaks, the source has 1\n"
              "0 errors, 2 warnings, 0 notes.\n");
}

TEST(CheckTokens, AngleRunsWithoutSpacesAndColourTags) {
    using V = std::vector<std::string_view>;
    for (const auto& [text, tokens] : std::vector<std::pair<std::string_view, V>>{
             {"a <Name> b <TOKEN12>", {"<Name>", "<TOKEN12>"}},
             {"1 < 2 > 0, <> and <a b>", {}},
             {"<c\x20>\xFF>red</c>", {"<c\x20>\xFF>", "</c>"}},
             {"<c#FF0000>red</c>", {"<c#FF0000>", "</c>"}},
             {"<<Name>>", {"<Name>"}},
             {"<c", {}},
         }) {
        EXPECT_EQ(text_tokens(text), tokens) << text;
    }
}

}  // namespace
