#include "app/cli.h"
#include "actions/actions.h"
#include "test_support.h"

#include <sstream>

using namespace modtext;
using namespace modtext::build;
using modtext::testing::read_text;
using modtext::testing::RecordingReporter;
using modtext::testing::write_text;

namespace {

using F = build::GffField;

Bytes named_gff(const std::string& text, std::string_view letters) {
    return gff_bytes(GffStruct{0, {F::loc_string("Name", 1, {{0, text}})}}, letters);
}

// One resource of every class, each with one English text naming its type.
std::vector<ModuleResource> one_of_each() {
    return {{"scr", restype::script, to_bytes("SpeakString(\"nss\");\r\n"), 0, 0},
            {"are", restype::area, named_gff("are", "ARE V3.2"), 0, 0},
            {"dlg", restype::conversation, named_gff("dlg", "DLG V3.2"), 0, 0},
            {"git", restype::game_instance, named_gff("git", "GIT V3.2"), 0, 0},
            {"ifo", restype::module_info, named_gff("ifo", "IFO V3.2"), 0, 0},
            {"jrl", restype::journal, named_gff("jrl", "JRL V3.2"), 0, 0},
            {"uti", restype::item_template, named_gff("uti", "UTI V3.2"), 0, 0},
            {"utc", restype::creature_template, named_gff("utc", "UTC V3.2"), 0, 0},
            {"what", restype::unknown, named_gff("unknown", "XXX V3.2"), 0, 0},
            {"ncs", restype::compiled_script, to_bytes("SpeakString"), 0, 0}};
}

// The names of the blocks a text holds, in order.
std::string block_names(const std::string& text) {
    std::string names;
    for (std::size_t at = text.find("#File:"); at != std::string::npos;
         at = text.find("#File:", at + 1)) {
        names += text.substr(at + 6, text.find('.', at) - at - 6) + ' ';
    }
    return names;
}

}  // namespace

TEST(ExportAction, PathsAreCheckedFirstAndNothingIsOpened) {
    const auto dir = modtext::testing::scratch_dir();
    const std::string text = (dir / "t.txt").string();
    RecordingReporter reporter;
    EXPECT_FALSE(export_module("", "", {1, 0, 0}, reporter));
    EXPECT_FALSE(export_module("", text, {1, 0, 0}, reporter));
    EXPECT_FALSE(export_module((dir / "m.mod").string(), "", {1, 0, 0}, reporter));
    EXPECT_EQ(reporter.error_boxes,
              (std::vector<std::string>{"Please give a source MOD file.", "Please give a source MOD file.",
                                        "Please give a text file to export to."}));
    EXPECT_EQ(reporter.problems, "");
    EXPECT_TRUE(modtext::testing::files_in(dir).empty());

    // A source that does not exist: no box, no text file.
    EXPECT_FALSE(export_module((dir / "none.mod").string(), text, {1, 0, 0}, reporter));
    EXPECT_EQ(reporter.error_boxes.size(), 3u);
    EXPECT_TRUE(reporter.info_boxes.empty());
    EXPECT_EQ(reporter.problems, "Error opening file: " + (dir / "none.mod").string() + "\n");
    EXPECT_TRUE(modtext::testing::files_in(dir).empty());
}

TEST(ExportAction, FilterSelectsClassesAndUnknownTypesAreReported) {
    const auto dir = modtext::testing::scratch_dir();
    modtext::testing::write_module(dir / "m.mod", one_of_each());
    const std::string source = (dir / "m.mod").string(), text = (dir / "t.txt").string();
    const std::vector<std::string> expected{
        "scr are dlg git ifo jrl uti utc ",  // 0: everything
        "are uti utc ", "dlg uti utc ", "git uti utc ", "ifo uti utc ", "jrl uti utc ",
        "scr uti utc ",
    };
    for (std::int32_t filter = -1; filter <= 6; ++filter) {
        RecordingReporter reporter;
        ASSERT_TRUE(export_module(source, text, {1, 0, filter}, reporter));
        EXPECT_EQ(reporter.info_boxes, std::vector<std::string>{"Export complete!"});
        // Resources of types export does not visit are progress, and counted.
        EXPECT_EQ(reporter.problems, "");
        EXPECT_NE(reporter.progress.find("ResID 2017 NYI\n"), std::string::npos);
        ASSERT_EQ(reporter.summaries.size(), 1u);
        EXPECT_NE(reporter.summaries[0].find(" Not visited: 1 of type 2017."), std::string::npos);
        EXPECT_EQ(block_names(read_text(text)),
                  filter < 0 ? "uti utc " : expected[static_cast<std::size_t>(filter)])
            << "filter " << filter;
    }
    // The same export twice writes the same text.
    RecordingReporter reporter;
    ASSERT_TRUE(export_module(source, text, {0x3FF, 0x3FF, 0}, reporter));
    const std::string first = read_text(text);
    ASSERT_TRUE(export_module(source, text, {0x3FF, 0x3FF, 0}, reporter));
    EXPECT_EQ(read_text(text), first);
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"m.mod", "t.txt"}));
}

TEST(ExportAction, EmptyModuleGivesEmptyTextAndBadResourcesAreSkipped) {
    const auto dir = modtext::testing::scratch_dir();
    modtext::testing::write_module(dir / "empty.mod", {});
    RecordingReporter reporter;
    write_text(dir / "t.txt", "old content");
    ASSERT_TRUE(export_module((dir / "empty.mod").string(), (dir / "t.txt").string(), {1, 0, 0}, reporter));
    EXPECT_EQ(read_text(dir / "t.txt"), "");

    // A malformed GFF and a resource past the end of the file are reported and
    // skipped; the resources after them are still exported.
    auto resources = one_of_each();
    resources[2].bytes.resize(20);  // dlg: header cut short
    Bytes file = module_bytes(resources);
    const std::uint32_t list = get_u32(file, 28);
    const std::uint32_t big = 0x7FFFFFF0u;
    for (int i = 0; i < 4; ++i) file[list + 3 * 8 + 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(big >> (8 * i));  // git's size
    write_file((dir / "m.mod").string(), file);
    RecordingReporter r;
    ASSERT_TRUE(export_module((dir / "m.mod").string(), (dir / "t.txt").string(), {1, 0, 0}, r));
    EXPECT_EQ(block_names(read_text(dir / "t.txt")), "scr are ifo jrl uti utc ");
    EXPECT_NE(r.problems.find("Error: resource 2 (dlg) is not a well-formed GFF (header cut short), skipped!\n"), std::string::npos);
    EXPECT_NE(r.problems.find("Error: resource 3 (git) lies outside the MOD file"), std::string::npos);
}

TEST(ExportAction, AFailedExportLeavesAnExistingTextUntouched) {
    const auto dir = modtext::testing::scratch_dir();
    modtext::testing::write_module(dir / "m.mod", one_of_each());
    // The target is a directory: the text cannot replace it.
    std::filesystem::create_directory(dir / "t.txt");
    RecordingReporter reporter;
    EXPECT_FALSE(export_module((dir / "m.mod").string(), (dir / "t.txt").string(), {1, 0, 0}, reporter));
    EXPECT_TRUE(reporter.info_boxes.empty());
    EXPECT_EQ(reporter.problems, "Error: " + (dir / "t.txt").string() + " is not a regular file!\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "t.txt"));
    EXPECT_EQ(modtext::testing::files_in(dir), (std::vector<std::string>{"m.mod", "t.txt"}));

    // A text path in a directory that does not exist cannot be created.
    RecordingReporter r;
    const std::string nowhere = (dir / "no" / "t.txt").string();
    EXPECT_FALSE(export_module((dir / "m.mod").string(), nowhere, {1, 0, 0}, r));
    EXPECT_EQ(r.problems, "Error opening file: " + nowhere + "\n");
}

TEST(Cli, ExportPrintsOutcomesAndExitsWithStatus) {
    const auto dir = modtext::testing::scratch_dir();
    modtext::testing::write_module(dir / "m.mod", one_of_each());
    const std::string source = (dir / "m.mod").string(), text = (dir / "t.txt").string();
    const auto run = [](std::vector<std::string> args, std::string& out, std::string& err) {
        std::ostringstream o, e;
        const int status = run_cli(args, o, e);
        out = o.str();
        err = e.str();
        return status;
    };
    std::string out, err;
    EXPECT_EQ(run({"export", "--from", "english,french", "--to=korean", "--filter", "nss", source, text}, out, err), 0);
    EXPECT_EQ(out, "Export complete!\nExported 3 resources: 2 strings and 1 script lines; "
                   "template lines: korean 4. Not visited: 1 of type 2017.\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(read_text(text),
              "#File:scr.NSS,0\n\n#0->SpeakString(\"nss\");\n\n////////////////////////////////\n\n"
              "#File:uti.UTI,6\n\n#0,english,male->uti\n#0,korean,male->\n#0,korean,female->\n\n"
              "////////////////////////////////\n\n"
              "#File:utc.UTC,7\n\n#0,english,male->utc\n#0,korean,male->\n#0,korean,female->\n\n"
              "////////////////////////////////\n\n");

    EXPECT_EQ(run({"export", "-v", "--filter", "5", "--to", "english", source, text}, out, err), 0);
    EXPECT_EQ(read_text(text),
              "#File:jrl.JRL,5\n\n#0,english,male->jrl\n#0,english,male->\n\n////////////////////////////////\n\n"
              "#File:uti.UTI,6\n\n#0,english,male->uti\n#0,english,male->\n\n////////////////////////////////\n\n"
              "#File:utc.UTC,7\n\n#0,english,male->utc\n#0,english,male->\n\n////////////////////////////////\n\n");
    EXPECT_EQ(err,
              "MOD Info:\n# resources: 10\n"
              "Exporting general GFF file: jrl.....complete!\n"
              "Exporting general GFF file: uti.....complete!\n"
              "Exporting general GFF file: utc.....complete!\n"
              "ResID 2017 NYI\n");

    EXPECT_EQ(run({"export", (dir / "none").string(), text}, out, err), 1);
    EXPECT_EQ(err, "Error opening file: " + (dir / "none").string() + "\n");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{}, {"export"}, {"export", source}, {"export", source, text, "x"},
          {"export", source, text, "--to"},
          {"export", "--filter", "7", source, text}, {"export", "--bogus", source, text},
          {"export", "", text}, {"export", source, ""},
          {"frobnicate"}}) {
        EXPECT_EQ(run(bad, out, err), 2);
        EXPECT_NE(err.find("Usage:"), std::string::npos);
    }
    // A key that is not one is named, with the keys there are.
    for (const auto& [option, key] : {std::pair<std::string, std::string>{"--to", "fr"}, {"--from", "English"}}) {
        EXPECT_EQ(run({"export", option, "english," + key, source, text}, out, err), 2);
        EXPECT_EQ(err, "modtext: unknown language key \"" + key + "\" in " + option +
                           "; the keys are english, french, german, italian, spanish, polish, korean, "
                           "chintrad, chinsimpl, japanese, all and none\n");
    }
    EXPECT_EQ(run({"--version"}, out, err), 0);
    EXPECT_EQ(out, std::string("modtext ") + MODTEXT_VERSION + "\n");
    EXPECT_EQ(run({"export", "--help"}, out, err), 0);
    EXPECT_NE(out.find("modtext export"), std::string::npos);
}

TEST(Cli, LanguageListsAndFilters) {
    EXPECT_EQ(parse_language_list("all"), 0x3FF);
    EXPECT_EQ(parse_language_list("none"), 0);
    EXPECT_EQ(parse_language_list("english"), 0x001);
    EXPECT_EQ(parse_language_list("polish,english,japanese"), 0x221);
    for (std::string_view bad : {"", "english,", ",english", "English", "all,english", "klingon"}) {
        EXPECT_FALSE(parse_language_list(bad)) << bad;
    }
    EXPECT_EQ(parse_filter("all"), 0);
    EXPECT_EQ(parse_filter("jrl"), 5);
    EXPECT_EQ(parse_filter("6"), 6);
    EXPECT_EQ(parse_filter("templates"), 7);  // the command line's own row
    for (std::string_view bad : {"", "7", "-1", "DLG", "06"}) EXPECT_FALSE(parse_filter(bad)) << bad;
}

// Counts worked out by hand: "Hello  big world" is 3 words of 16
// characters, "Grüße Welt" 2 of 10 in code page 1252, the four bytes of
// "你好" in 936 two characters and, in Chinese, two words, and the script
// line `SpeakString("Hi there");` 2 words of 24.
TEST(Cli, StatsCountWhatExportWritesAndHowFarATextHasGot) {
    const auto dir = modtext::testing::scratch_dir();
    const Bytes area = gff_bytes(
        GffStruct{0, {F::loc_string("Name", 1, {{0, "Hello  big world"}, {4, "Gr\xFC\xDF" "e Welt"},
                                                {260, "\xC4\xE3\xBA\xC3"}})}},
        "ARE V3.2");
    modtext::testing::write_module(
        dir / "m.mod", {{"scr", restype::script, to_bytes("SpeakString(\"Hi there\");\r\n"), 0, 0},
                        {"are", restype::area, area, 0, 0},
                        {"utc", restype::creature_template, named_gff("x", "UTC V3.2"), 0, 0},
                        {"st", 2051, named_gff("store", "UTM V3.2"), 0, 0}});
    const std::string source = (dir / "m.mod").string();
    const auto run = [](std::vector<std::string> args) {
        std::ostringstream o, e;
        EXPECT_EQ(run_cli(args, o, e), 0) << e.str();
        return o.str();
    };
    const std::string c = "{\"strings\": ";
    EXPECT_EQ(run({"stats", "--json", "--from", "all", source}),
              "{\"module\": \"m.mod\", \"languages\": {\"chinsimpl\": " + c + "1, \"words\": 2, \"characters\": 2}, "
              "\"english\": " + c + "2, \"words\": 4, \"characters\": 17}, \"german\": " + c + "1, \"words\": 2, "
              "\"characters\": 10}, \"scripts\": " + c + "1, \"words\": 2, \"characters\": 24}}, \"classes\": {"
              "\"areas\": {\"chinsimpl\": " + c + "1, \"words\": 2, \"characters\": 2}, \"english\": " + c +
              "1, \"words\": 3, \"characters\": 16}, \"german\": " + c + "1, \"words\": 2, \"characters\": 10}}, "
              "\"scripts\": {\"scripts\": " + c + "1, \"words\": 2, \"characters\": 24}}, "
              "\"other\": {\"english\": " + c + "1, \"words\": 1, \"characters\": 1}}}}\n");
    // Only the templates, with the two types every export visits.
    EXPECT_EQ(run({"stats", "--json", "--filter", "templates", source}),
              "{\"module\": \"m.mod\", \"languages\": {\"english\": " + c + "2, \"words\": 2, \"characters\": 6}}, "
              "\"classes\": {\"templates\": {\"english\": " + c + "1, \"words\": 1, \"characters\": 5}}, "
              "\"other\": {\"english\": " + c + "1, \"words\": 1, \"characters\": 1}}}}\n");

    // A text: the source language's lines and texts of no table language
    // are not counted; the settings line or --source names the source.
    const std::string lines = "#File:are.ARE,1\n\n#0,english,male->Hello\n#0,french,male->Salut\n"
                              "#0,french,female->\n#0,german,male->Hallo\n#0,lang40,male->x\n\n";
    write_text(dir / "t.txt", lines);
    write_text(dir / "f.txt", "\xEF\xBB\xBF//modtext: encoding=utf-8 from=french script=1252\n" + lines);
    const auto text_of = [&](std::vector<std::string> args) {
        const std::string out = run(args);
        return out.substr(out.find("\"text\""));
    };
    EXPECT_EQ(text_of({"stats", "--json", source, (dir / "t.txt").string()}),
              "\"text\": {\"french\": {\"filled\": 1, \"empty\": 1, \"fuzzy\": 0, \"done\": 50}, "
              "\"german\": {\"filled\": 1, \"empty\": 0, \"fuzzy\": 0, \"done\": 100}}}\n");
    const std::string from_french = "\"text\": {\"english\": {\"filled\": 1, \"empty\": 0, \"fuzzy\": 0, \"done\": 100}, "
                                    "\"german\": {\"filled\": 1, \"empty\": 0, \"fuzzy\": 0, \"done\": 100}}}\n";
    EXPECT_EQ(text_of({"stats", "--json", source, (dir / "f.txt").string()}), from_french);
    EXPECT_EQ(text_of({"stats", "--json", "--source", "french", source, (dir / "t.txt").string()}), from_french);
    // A catalogue: translated, fuzzy and untranslated entries.
    write_text(dir / "c.po", "msgid \"\"\nmsgstr \"Language: fr\\n\"\n\nmsgctxt \"a\"\nmsgid \"A\"\nmsgstr \"B\"\n\n"
                             "#, fuzzy\nmsgctxt \"b\"\nmsgid \"A\"\nmsgstr \"C\"\n\nmsgctxt \"c\"\nmsgid \"A\"\nmsgstr \"\"\n");
    const std::string catalogue = "\"text\": {\"french\": {\"filled\": 1, \"empty\": 1, \"fuzzy\": 1, \"done\": 33}}}\n";
    EXPECT_EQ(text_of({"stats", "--json", source, (dir / "c.po").string()}), catalogue);
    std::filesystem::copy_file(dir / "c.po", dir / "c.txt", std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(text_of({"stats", "--json", "--format", "po", source, (dir / "c.txt").string()}), catalogue);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"stats", "--female", source},
                                                {"stats", "--format", "po", source}, {"stats", "--to", "french", source}}) {
        std::ostringstream o, e;
        EXPECT_EQ(run_cli(bad, o, e), 2) << bad[1];
    }
    // The plain table.
    EXPECT_NE(run({"stats", source}).find("areas          english             1          3           16\n"),
              std::string::npos);
}

// What stats counts is what export writes: on every generated module, each
// language's strings are its entry lines, and the scripts' its script lines.
TEST(Cli, StatsCountTheLinesExportWrites) {
    const auto dir = modtext::testing::scratch_dir();
    for (const auto& [seed, edge] : {std::pair<std::uint64_t, bool>{1, false}, {3, false}, {2, true}}) {
        write_file((dir / "m.mod").string(), synthetic_module(seed, edge));
        std::ostringstream o, e, stats, e2;
        const std::string mod = (dir / "m.mod").string(), txt = (dir / "t.txt").string();
        ASSERT_EQ(run_cli({"export", "--from", "all", "--templates", mod, txt}, o, e), 0) << e.str();
        ASSERT_EQ(run_cli({"stats", "--json", "--from", "all", "--templates", mod}, stats, e2), 0) << e2.str();
        std::map<std::string, std::uint64_t> lines;
        std::istringstream text(read_text(txt));
        for (std::string line; std::getline(text, line);) {
            const std::size_t arrow = line.find("->");
            if (!line.starts_with('#') || line.starts_with("#File:") || arrow == std::string::npos) continue;
            const std::size_t comma = line.find(',');
            if (comma == std::string::npos || comma > arrow) {
                ++lines["scripts"];
            } else {
                ++lines[line.substr(comma + 1, line.find(',', comma + 1) - comma - 1)];
            }
        }
        const std::string json = stats.str();
        const std::string languages = json.substr(0, json.find("\"classes\""));
        std::size_t counted = 0;
        for (std::size_t at = languages.find("\"strings\": "); at != std::string::npos;
             at = languages.find("\"strings\": ", at + 1), ++counted) {
            const std::size_t key_end = languages.rfind("\": {", at);
            const std::string key = languages.substr(languages.rfind('"', key_end - 1) + 1,
                                                     key_end - languages.rfind('"', key_end - 1) - 1);
            EXPECT_EQ(std::stoull(languages.substr(at + 11)), lines[key]) << seed << ' ' << key;
        }
        EXPECT_EQ(counted, lines.size()) << seed << json;
        EXPECT_GT(lines.size(), 2u) << seed;
    }
}
