#include "actions/actions.h"
#include "app/cli.h"
#include "test_support.h"
#include "translation/text_update.h"

#include <cstring>
#include <map>
#include <span>
#include <sstream>

using namespace modtext;
using modtext::testing::read_text;
using modtext::testing::RecordingReporter;
using modtext::testing::write_text;

namespace {

using namespace std::string_literals;

constexpr std::string_view end_line = "////////////////////////////////\n\n";

// "#File:HEADER" and its entries, as export writes a GFF block.
std::string gff(std::string_view header, std::string_view entries) {
    return "#File:" + std::string(header) + "\n\n" + std::string(entries) + std::string(end_line);
}

std::string script(std::string_view header, std::string_view lines) {
    return "#File:" + std::string(header) + "\n\n" + std::string(lines) + "\n" + std::string(end_line);
}

struct MergeCase {
    const char* what;
    std::string old_text;
    std::string new_text;
    std::string expected;
    UpdateCounts counts;
    std::vector<std::string> sources = {};
};

const std::string hello_fr = "#4,english,male->Hello\n#4,french,male->Bonjour\n#4,french,female->\n\n";
const std::string hello_empty = "#4,english,male->Hello\n#4,french,male->\n#4,french,female->\n\n";

std::vector<MergeCase> merge_cases() {
    return {
        {"same resource, key and source; the block moved",
         gff("talk.DLG,0", hello_fr), gff("talk.DLG,5", hello_empty), gff("talk.DLG,5", hello_fr), {1, 0, 0, 0}},
        {"the field moved within its resource",
         gff("talk.DLG,0", hello_fr),
         gff("talk.DLG,0", "#9,english,male->Hello\n#9,french,male->\n#9,french,female->\n\n"),
         gff("talk.DLG,0", "#9,english,male->Hello\n#9,french,male->Bonjour\n#9,french,female->\n\n"),
         {0, 1, 0, 0}},
        {"the same text in another resource, every translation agreeing",
         gff("talk.DLG,0", hello_fr) + gff("inn.ARE,1", hello_fr),
         gff("lamp.UTI,0", "#2,english,male->Hello\n#2,french,male->\n#2,french,female->\n\n"),
         gff("lamp.UTI,0",
             "#2,english,male->Hello\n//CHECK: carried from talk.DLG #4\n#2,french,male->Bonjour\n"
             "#2,french,female->\n\n"),
         {0, 1, 0, 0}},
        {"the same text elsewhere, translated two ways: nothing carried",
         gff("talk.DLG,0", hello_fr) +
             gff("inn.ARE,1", "#4,english,male->Hello\n#4,french,male->Salut\n#4,french,female->\n\n"),
         gff("lamp.UTI,0", "#2,english,male->Hello\n#2,french,male->\n#2,french,female->\n\n"),
         gff("lamp.UTI,0", "#2,english,male->Hello\n#2,french,male->\n#2,french,female->\n\n"),
         {0, 0, 0, 1}},
        {"an untranslated field of the same key gives way to a translated one elsewhere",
         gff("talk.DLG,0", hello_empty) + gff("inn.ARE,1", hello_fr),
         gff("talk.DLG,0", hello_empty),
         gff("talk.DLG,0",
             "#4,english,male->Hello\n//CHECK: carried from inn.ARE #4\n#4,french,male->Bonjour\n"
             "#4,french,female->\n\n"),
         {0, 1, 0, 0}},
        {"the source changed: the old source and translation as comments",
         gff("talk.DLG,0",
             "#4,english,male->Hello\n#4,english,female->Hi\n#4,french,male->Bonjour\n#4,french,female->\n\n"),
         gff("talk.DLG,0", "#4,english,male->Hello there\n#4,french,male->\n#4,french,female->\n\n"),
         gff("talk.DLG,0",
             "#4,english,male->Hello there\n//OLD: #4,english,male->Hello\n//OLD: #4,english,female->Hi\n"
             "//OLD: #4,french,male->Bonjour\n#4,french,male->\n#4,french,female->\n\n"),
         {0, 0, 1, 0}},
        {"a new field, and a field with no template line, which is not counted",
         gff("talk.DLG,0", hello_fr),
         gff("talk.DLG,0", "#3,english,male->Bye\n#3,french,male->\n\n#5,english,male->Hello\n\n"),
         gff("talk.DLG,0", "#3,english,male->Bye\n#3,french,male->\n\n#5,english,male->Hello\n\n"),
         {0, 0, 0, 1}},
        {"the old filled text wins over a new one; an empty old line empties nothing",
         gff("talk.DLG,0", hello_fr),
         gff("talk.DLG,0", "#4,english,male->Hello\n#4,french,male->Salut\n#4,french,female->Salut toi\n\n"),
         gff("talk.DLG,0", "#4,english,male->Hello\n#4,french,male->Bonjour\n#4,french,female->Salut toi\n\n"),
         {1, 0, 0, 0}},
        {"only the lines of a language and gender the old field filled",
         gff("talk.DLG,0",
             "#4,english,male->Hello\n#4,french,female->Bonjour madame\n#4,german,male->Hallo\n\n"),
         gff("talk.DLG,0",
             "#4,english,male->Hello\n#4,french,male->\n#4,french,female->\n#4,german,male->\n"
             "#4,german,female->\n\n"),
         gff("talk.DLG,0",
             "#4,english,male->Hello\n#4,french,male->\n#4,french,female->Bonjour madame\n"
             "#4,german,male->Hallo\n#4,german,female->\n\n"),
         {1, 0, 0, 0}},
        {"script lines: literals translated, unchanged, code changed, new",
         script("guard.NSS,3",
                "#2->    SpeakString(\"Halte, \\\"toi\\\" !\", TALKVOLUME_TALK);\n#5->    SpeakString(s);\n"
                "#7->    SpeakString(\"Va.\");"),
         script("guard.NSS,4",
                "#2->    SpeakString(\"Halt, \\\"you\\\"!\", TALKVOLUME_TALK);\n#5->    SpeakString(s);\n"
                "#7->    SpeakString(\"Go.\" + s);\n#9->    SpeakString(\"New\");"),
         script("guard.NSS,4",
                "//CHECK: carried from guard.NSS #2\n"
                "#2->    SpeakString(\"Halte, \\\"toi\\\" !\", TALKVOLUME_TALK);\n#5->    SpeakString(s);\n"
                "//OLD: #7->    SpeakString(\"Va.\");\n#7->    SpeakString(\"Go.\" + s);\n"
                "#9->    SpeakString(\"New\");"),
         {1, 1, 1, 1}},
        {"a literal's quote inside a comment does not hide a code change",
         script("guard.NSS,0", "#2->SpeakString(\"A\"); // \"x\" y"),
         script("guard.NSS,0", "#2->SpeakString(\"B\"); // \"z\" w"),
         script("guard.NSS,0", "//OLD: #2->SpeakString(\"A\"); // \"x\" y\n#2->SpeakString(\"B\"); // \"z\" w"),
         {0, 0, 1, 0}},
        {"CR LF line ends kept, the inserted lines too",
         "#File:talk.DLG,0\r\n\r\n#4,english,male->Hello\r\n#4,french,male->Bonjour\r\n\r\n"
         "#5,english,male->Old\r\n#5,french,male->Vieux\r\n",
         "#File:talk.DLG,0\r\n\r\n#4,english,male->Hello\r\n#4,french,male->\r\n\r\n"
         "#5,english,male->New\r\n#5,french,male->",
         "#File:talk.DLG,0\r\n\r\n#4,english,male->Hello\r\n#4,french,male->Bonjour\r\n\r\n"
         "#5,english,male->New\r\n//OLD: #5,english,male->Old\r\n//OLD: #5,french,male->Vieux\r\n"
         "#5,french,male->",
         {1, 0, 1, 0}},
        {"a UTF-8 text whose settings line names French as the source",
         "\xEF\xBB\xBF//modtext: encoding=utf-8 from=french script=1252\n" +
             gff("talk.DLG,0", "#4,french,male->Caf\xC3\xA9\n#4,english,male->Coffee\n\n"),
         "\xEF\xBB\xBF//modtext: encoding=utf-8 from=french script=1252\n" +
             gff("talk.DLG,1", "#4,french,male->Caf\xC3\xA9\n#4,english,male->\n\n"),
         "\xEF\xBB\xBF//modtext: encoding=utf-8 from=french script=1252\n" +
             gff("talk.DLG,1", "#4,french,male->Caf\xC3\xA9\n#4,english,male->Coffee\n\n"),
         {1, 0, 0, 0}},
        {"the old block's keys in another order, each found",
         gff("talk.DLG,0", "#9,english,male->Bye\n#9,french,male->Salut\n\n" + hello_fr),
         gff("talk.DLG,0", hello_empty + "#9,english,male->Bye\n#9,french,male->\n\n"),
         gff("talk.DLG,0", hello_fr + "#9,english,male->Bye\n#9,french,male->Salut\n\n"),
         {2, 0, 0, 0}},
        {"a script line among the fields: the changes come out of order and are written in order",
         gff("talk.DLG,0", hello_fr + "#2->SpeakString(\"A\");\n#5,english,male->Bye\n#5,french,male->Salut\n"),
         gff("talk.DLG,0", hello_empty + "#2->SpeakString(\"B\");\n#5,english,male->Bye\n#5,french,male->\n"),
         gff("talk.DLG,0", hello_fr +
                               "//CHECK: carried from talk.DLG #2\n#2->SpeakString(\"A\");\n"
                               "#5,english,male->Bye\n#5,french,male->Salut\n"),
         {2, 1, 0, 0}},
        {"given sources win over the settings line",
         "//modtext: encoding=utf-8 from=french\n" + gff("talk.DLG,0", hello_fr),
         "//modtext: encoding=utf-8 from=french\n" + gff("talk.DLG,0", hello_empty),
         "//modtext: encoding=utf-8 from=french\n" + gff("talk.DLG,0", hello_fr),
         {1, 0, 0, 0},
         {"english"}},
    };
}

TEST(Update, EachKindOfMatchGivesTheTextBuiltByHand) {
    for (const MergeCase& c : merge_cases()) {
        RecordingReporter reporter;
        UpdateCounts counts;
        EXPECT_EQ(merge_update_texts(c.old_text, c.new_text, c.sources, counts, reporter), c.expected) << c.what;
        EXPECT_EQ(counts, c.counts) << c.what;
        EXPECT_EQ(reporter.problems, "") << c.what;
    }
}

TEST(Update, RepeatsInTheOldTextAreWarnedOfAndTheFirstCounts) {
    const std::string old_text =
        gff("talk.DLG,0", hello_fr + "#6,english,male->x\n\n" +
                              "#4,english,male->Hello\n#4,french,male->Salut\n\n") +
        gff("talk.DLG,1", "#4,english,male->Hello\n#4,french,male->Coucou\n\n");
    RecordingReporter reporter;
    UpdateCounts counts;
    EXPECT_EQ(merge_update_texts(old_text, gff("talk.DLG,0", hello_empty), {}, counts, reporter),
              gff("talk.DLG,0", hello_fr));
    EXPECT_EQ(reporter.problems,
              "Warning: OLD line 9: talk.DLG #4 appears again; the first one counts.\n"
              "Warning: OLD line 14: talk.DLG appears again; the first block counts.\n");
}

TEST(Update, DamagedTextsGiveNoCrashAndLeaveTheNewTextAsItIs) {
    const std::vector<std::string> damaged = {
        "",
        "no header at all\n#4,english,male->Hello\n#4,french,male->Bonjour\n",
        "#File:talk\n#4,english,male->Hello\n",
        "#File:talk.DLG,99999999999999999999\n#4,english,male->Hello\n#4,french,male->B\n",
        "#File:talk.DLG,0\n#99999999999999999999,english,male->Hello\n#4,french,male\n#4->\n#,->\n#4,->x\n",
        "#File:\0.\0,0\n#4,\xFF,\r->\n#-1,english,male->\n\x01\x02#\n#File:.,1"s,
    };
    const std::string fresh = gff("talk.DLG,0", hello_empty) + script("s.NSS,1", "#2->SpeakString(\"x\");");
    for (const std::string& text : damaged) {
        RecordingReporter reporter;
        UpdateCounts counts;
        EXPECT_EQ(merge_update_texts(text, fresh, {}, counts, reporter), fresh) << text;
        EXPECT_EQ(counts, (UpdateCounts{0, 0, 0, 2})) << text;
        // And as the new text: whatever is kept is kept byte for byte.
        EXPECT_EQ(merge_update_texts(gff("talk.DLG,0", hello_fr), text, {}, counts, reporter), text) << text;
    }
}

TEST(Update, TheLinesNoEntryIsReadFromAreNumberedFromOne) {
    const TextEntries entries = read_text_entries(
        "#4,english,male->before any block\n"      // 1
        "#File:talk.DLG\n"                         // 2: no index
        "#4,english,male->in no block\n"           // 3
        "#File:talk.DLG,0\r\n"                     // 4
        "// a comment, and a blank line\n\n"        // 5, 6
        "#4,english,male no arrow\n"               // 7
        "#4,english,mal->bad gender\n"             // 8
        "#-4,english,male->negative\n"             // 9
        "#4,english,male->read\n"                  // 10
        "#2->SpeakString(\"read\");\n"             // 11
        "#99999999999,english,male->too large");  // 12
    EXPECT_EQ(entries.unread_lines, (std::vector<std::size_t>{1, 2, 3, 7, 8, 9, 12}));
    ASSERT_EQ(entries.blocks.size(), 1u);
    EXPECT_EQ(entries.blocks[0].fields.size(), 1u);
    EXPECT_EQ(entries.blocks[0].script_lines.size(), 1u);
}

TEST(Update, AFieldLineGivesItsPartsAsWritten) {
    struct Case {
        const char* line;
        std::int64_t key;
        const char* language;
        const char* gender;
        const char* text;
    };
    const Case cases[] = {
        {"#4,english,male->Hello", 4, "english", "male", "Hello"},
        {"#4,french,female->", 4, "french", "female", ""},
        {"# +12,lang3,female->a->b,c", 12, "lang3", "female", "a->b,c"},
        {"#7,,male->x\r", 7, "", "male", "x"},
        {"#8,e,male,->x,female->y", 8, "", "", ""},  // more after the gender: unread
    };
    for (const Case& c : cases) {
        const std::string text = "#File:talk.DLG,0\n" + std::string(c.line) + "\n";
        const TextEntries entries = read_text_entries(text);
        ASSERT_EQ(entries.blocks.size(), 1u) << c.line;
        if (*c.gender == '\0') {
            EXPECT_TRUE(entries.blocks[0].fields.empty()) << c.line;
            EXPECT_EQ(entries.unread_lines, std::vector<std::size_t>{2}) << c.line;
            continue;
        }
        ASSERT_EQ(entries.blocks[0].fields.size(), 1u) << c.line;
        const TextField& field = entries.blocks[0].fields[0];
        ASSERT_EQ(field.lines.size(), 1u) << c.line;
        const TextFieldLine& line = field.lines[0];
        const std::string_view whole = std::string_view(c.line).substr(0, std::strcspn(c.line, "\r"));
        EXPECT_EQ(field.key, c.key) << c.line;
        EXPECT_EQ(line.line, 2u) << c.line;
        EXPECT_EQ(line.whole(), whole) << c.line;
        EXPECT_EQ(line.language(), c.language) << c.line;
        EXPECT_EQ(line.gender(), c.gender) << c.line;
        EXPECT_EQ(line.text(), c.text) << c.line;
        EXPECT_EQ(line.label(), whole.substr(0, whole.find("->") + 2)) << c.line;
        EXPECT_EQ(line.body(), whole.substr(whole.find(',') + 1)) << c.line;
    }
}

TEST(Update, FieldsAndBlocksViewTheirOwnLines) {
    const TextEntries entries = read_text_entries(
        "#File:a.DLG,0\n#4,english,male->A\n#4,french,male->\n#2->x\n#4,french,female->\n#5,english,male->B\n"
        "#File:b.NSS,1\n#1->y\n#File:c.DLG,2\n#5,english,male->C\n#5,english,male->D\n");
    const auto numbers = [](std::span<const TextFieldLine> lines) {
        std::vector<std::size_t> out;
        for (const TextFieldLine& line : lines) out.push_back(line.line);
        return out;
    };
    ASSERT_EQ(entries.blocks.size(), 3u);
    const TextBlock& a = entries.blocks[0];
    ASSERT_EQ(a.fields.size(), 2u);
    EXPECT_EQ(numbers(a.fields[0].lines), (std::vector<std::size_t>{2, 3, 5}));  // across the script line
    EXPECT_EQ(numbers(a.fields[1].lines), (std::vector<std::size_t>{6}));
    ASSERT_EQ(a.script_lines.size(), 1u);
    EXPECT_EQ(a.script_lines[0].line, 4u);
    EXPECT_TRUE(entries.blocks[1].fields.empty());
    ASSERT_EQ(entries.blocks[1].script_lines.size(), 1u);
    EXPECT_EQ(entries.blocks[1].script_lines[0].text, "y");
    ASSERT_EQ(entries.blocks[2].fields.size(), 1u);
    EXPECT_EQ(numbers(entries.blocks[2].fields[0].lines), (std::vector<std::size_t>{10, 11}));
    EXPECT_TRUE(entries.blocks[2].script_lines.empty());
}

// Files of one test, and the update action on them.
class UpdateFiles : public ::testing::Test {
protected:
    void SetUp() override { dir = modtext::testing::scratch_dir(); }
    std::string path(const char* name) const { return (dir / name).string(); }
    bool update(const char* old_name, const char* new_name, const char* out_name, const UpdateOptions& options = {}) {
        return update_text(path(old_name), path(new_name), path(out_name), options, reporter);
    }
    std::filesystem::path dir;
    RecordingReporter reporter;
};

TEST_F(UpdateFiles, TextsOfTwoEncodingsAreRefusedUnlessOneIsForced) {
    write_text(dir / "old.txt", "\xEF\xBB\xBF" + gff("talk.DLG,0", hello_fr));
    write_text(dir / "new.txt", gff("talk.DLG,0", hello_empty));
    EXPECT_FALSE(update("old.txt", "new.txt", "out.txt"));
    EXPECT_EQ(reporter.problems, "Error: " + path("old.txt") + " is in UTF-8 and " + path("new.txt") +
                                     " is raw; update needs both in one encoding!\n");
    EXPECT_FALSE(update("new.txt", "old.txt", "out.txt"));
    EXPECT_TRUE(reporter.problems.ends_with("Error: " + path("old.txt") + " is in UTF-8 and " + path("new.txt") +
                                            " is raw; update needs both in one encoding!\n"));
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"new.txt", "old.txt"}));

    EXPECT_TRUE(update("old.txt", "new.txt", "out.txt", {TextEncoding::raw, {}}));
    EXPECT_EQ(read_text(dir / "out.txt"), gff("talk.DLG,0", hello_fr));
}

TEST_F(UpdateFiles, TheOutputMayBeTheOldTextWhichIsReplacedWhole) {
    write_text(dir / "old.txt", gff("talk.DLG,0", hello_fr));
    write_text(dir / "new.txt", gff("talk.DLG,2", hello_empty + "#5,english,male->Bye\n#5,french,male->\n\n"));
    ASSERT_TRUE(update("old.txt", "new.txt", "old.txt"));
    EXPECT_EQ(read_text(dir / "old.txt"),
              gff("talk.DLG,2", hello_fr + "#5,english,male->Bye\n#5,french,male->\n\n"));
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"new.txt", "old.txt"}));
    EXPECT_EQ(reporter.info_boxes, std::vector<std::string>{"Update complete!"});
    EXPECT_EQ(reporter.summaries,
              std::vector<std::string>{"1 carried exactly, 0 carried by text, 0 source changed, 1 new."});
}

TEST_F(UpdateFiles, ATextWithNoBlockIsRefusedAndUnreadLinesAreToldByNumber) {
    write_text(dir / "old.txt", "just some notes\n#4,french,male->Bonjour\n");
    write_text(dir / "new.txt", gff("talk.DLG,0", hello_empty + "#5,english,male\n"));
    EXPECT_FALSE(update("old.txt", "new.txt", "out.txt"));
    EXPECT_EQ(reporter.problems,
              "Error: " + path("old.txt") + " has no \"#File:\" block; is it a translation text?\n");
    EXPECT_FALSE(update("missing.txt", "new.txt", "out.txt"));
    EXPECT_TRUE(reporter.problems.ends_with("Error opening file: " + path("missing.txt") + "\n"));
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"new.txt", "old.txt"}));

    write_text(dir / "old.txt", gff("talk.DLG,0", hello_fr));
    reporter.problems.clear();
    ASSERT_TRUE(update("old.txt", "new.txt", "out.txt"));
    EXPECT_EQ(reporter.problems,
              "Warning: " + path("new.txt") + " line 7 is no entry update can read; it is passed over.\n");
}

// A module whose resources and texts change between two versions.
struct ModuleVersion {
    std::string journal_text;
    bool journal_first;
    bool extra_field;
};

build::Bytes module_of(const ModuleVersion& version) {
    using F = build::GffField;
    std::vector<F> talk{F::loc_string("Greeting", 1, {{0, "Welcome, traveller."}}),
                        F::loc_string("Farewell", 2, {{0, "Safe roads."}})};
    if (version.extra_field) talk.insert(talk.begin(), F::loc_string("Warning", 3, {{0, "The bridge is out."}}));
    const build::ModuleResource journal{
        "quests", build::restype::journal,
        build::gff_bytes(build::GffStruct{0, {F::loc_string("Entry", 4, {{0, version.journal_text}}),
                                              F::loc_string("Also", 5, {{0, "Safe roads."}})}},
                         "JRL V3.2"),
        0, 0};
    std::vector<build::ModuleResource> resources{
        {"inn", build::restype::conversation, build::gff_bytes(build::GffStruct{0, talk}, "DLG V3.2"), 0, 0},
        {"guard", build::restype::script, build::to_bytes("void main()\r\n{\r\n    SpeakString(\"Halt!\");\r\n}"),
         0, 0}};
    resources.insert(version.journal_first ? resources.begin() : resources.end(), journal);
    return build::module_bytes(resources);
}

// Every french line's text, in order.
std::string french_texts(const std::string& text) {
    std::string found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(",french,male->");
        if (at != std::string::npos) found += line.substr(at + 14) + "|";
    }
    return found;
}

TEST_F(UpdateFiles, AcrossAChangedModuleTheImportTakesTheCarriedTexts) {
    build::write_file(path("old.mod"), module_of({"Find the ring.", false, false}));
    build::write_file(path("new.mod"), module_of({"Find the lost ring.", true, true}));
    const SelectionState to_french{0x001, 0x002, 0};
    ASSERT_TRUE(export_module(path("old.mod"), path("old.txt"), to_french, reporter));
    // The translator fills each masculine French line and a literal.
    std::string old_text;
    std::istringstream lines(read_text(dir / "old.txt"));
    const std::map<std::string, std::string> french{{"Welcome, traveller.", "Bienvenue, voyageur."},
                                                    {"Safe roads.", "Bonne route."},
                                                    {"Find the ring.", "Trouve l'anneau."}};
    std::string english;
    for (std::string line; std::getline(lines, line);) {
        if (const std::size_t at = line.find(",english,male->"); at != std::string::npos) english = line.substr(at + 15);
        if (line.ends_with(",french,male->")) line += french.at(english);
        if (const std::size_t at = line.find("\"Halt!\""); at != std::string::npos) line.replace(at, 7, "\"Halte !\"");
        old_text += line + '\n';
    }
    write_text(dir / "old.txt", old_text);
    ASSERT_TRUE(export_module(path("new.mod"), path("new.txt"), to_french, reporter));
    ASSERT_TRUE(update("old.txt", "new.txt", "out.txt"));
    // The greeting and farewell moved down a field, the new warning taking
    // the greeting's key; the journal's entry changed and its second field
    // is exact; the script line's literal is carried.
    EXPECT_EQ(reporter.summaries.back(), "1 carried exactly, 3 carried by text, 2 source changed, 0 new.");
    const std::string out = read_text(dir / "out.txt");
    EXPECT_NE(out.find("//OLD: #0,english,male->Find the ring.\n//OLD: #0,french,male->Trouve l'anneau.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("//CHECK: carried from guard.NSS #2"), std::string::npos) << out;

    ASSERT_TRUE(import_module(path("new.mod"), path("out.txt"), path("fr.mod"), {0x3FF, 0, 0}, reporter));
    ASSERT_TRUE(export_module(path("fr.mod"), path("check.txt"), {0x003, 0, 0}, reporter));
    const std::string check = read_text(dir / "check.txt");
    // What was not carried is imported as an empty line: the English text.
    EXPECT_EQ(french_texts(check),
              "Find the lost ring.|Bonne route.|The bridge is out.|Bienvenue, voyageur.|Bonne route.|")
        << check;
    EXPECT_NE(check.find("SpeakString(\"Halte !\")"), std::string::npos) << check;
}

TEST_F(UpdateFiles, TheCommandLineSumsUpAndExitsByOutcome) {
    write_text(dir / "old.txt", gff("talk.DLG,0", hello_fr));
    write_text(dir / "new.txt", gff("talk.DLG,0", hello_empty));
    write_text(dir / "utf8.txt", "\xEF\xBB\xBF" + gff("talk.DLG,0", hello_empty));
    struct Run {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err_start;
    };
    const std::string o = path("old.txt"), n = path("new.txt"), u = path("utf8.txt"), x = path("x.txt");
    const std::vector<Run> runs{
        {{"update", o, n, x}, 0, "Update complete!\n1 carried exactly, 0 carried by text, 0 source changed, 0 new.\n", ""},
        // French as the source: the English line is the one translated, and
        // the French source differs from the old one's.
        {{"update", "--from", "french", o, n, x}, 0,
         "Update complete!\n0 carried exactly, 0 carried by text, 1 source changed, 0 new.\n", ""},
        {{"update", "--source", "french", "--from", "english", o, n, x}, 0,
         "Update complete!\n1 carried exactly, 0 carried by text, 0 source changed, 0 new.\n", ""},
        {{"update", "--encoding", "utf-8", o, u, x}, 0,
         "Update complete!\n1 carried exactly, 0 carried by text, 0 source changed, 0 new.\n", ""},
        {{"update", o, u, x}, 1, "", "Error: " + u + " is in UTF-8"},
        {{"update", o, path("none.txt"), x}, 1, "", "Error opening file: "},
        {{"update", o, n}, 2, "", "modtext: update needs OLD.txt, NEW.txt and OUT.txt"},
        {{"update", o, n, ""}, 2, "", "modtext: an empty argument is not a path"},
        {{"update", "--to", "french", o, n, x}, 2, "", "modtext: update takes only"},
        {{"update", "--filter", "dlg", o, n, x}, 2, "", "modtext: unknown option --filter"},
        {{"update", "--from", "none", o, n, x}, 2, "", "modtext: update's --from needs a language"},
        {{"update", "--from", "klingon", o, n, x}, 2, "", "modtext: unknown language key \"klingon\""},
    };
    for (const Run& run : runs) {
        std::ostringstream out, err;
        EXPECT_EQ(run_cli(run.args, out, err), run.status) << run.args[1] << err.str();
        EXPECT_EQ(out.str(), run.out) << run.args[1];
        EXPECT_TRUE(err.str().starts_with(run.err_start)) << run.args[1] << ": " << err.str();
    }
}

}  // namespace
