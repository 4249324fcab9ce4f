// The PO commands: a catalogue exported from every generated module and
// judged by the GNU gettext tools and library, its round trip through them,
// and each rule of export and import with an exact expectation.
#include <map>
#include <sstream>
#include <tuple>

#include "app/cli.h"
#include "formats/po_file.h"
#include "po_judge.h"
#include "test_support.h"
#include "translation/module_entries.h"
#include "translation/po_catalogue.h"

using namespace modtext;
using namespace modtext::build;
using modtext::testing::have_tool;
using modtext::testing::read_text;
using modtext::testing::run;
using modtext::testing::write_text;
namespace fs = std::filesystem;
using F = build::GffField;

namespace {

// A localized string as stored: its reference and its substrings' bytes.
struct Stored {
    std::uint32_t strref = 0;
    std::vector<std::pair<std::int32_t, std::string>> subs;
    bool operator==(const Stored&) const = default;
};

// Every localized string of a module, by "resource:field", and every
// script, by resource.
struct ModuleTexts {
    std::map<std::string, Stored> strings;
    std::map<std::size_t, std::vector<std::string>> script_lines;
};

ModuleTexts texts_of(const fs::path& path) {
    ModuleArchive archive;
    InputFile source;
    modtext::testing::RecordingReporter reporter;
    ModuleTexts out;
    EXPECT_TRUE(open_module(archive, path.string(), reporter) && source.open(path.string()));
    EXPECT_TRUE(walk_module_entries(archive, source, {0x3FF, 0, 0, true}, reporter, [&](const ResourceEntries& r) {
        for (const StringFieldEntry& f : r.strings) {
            Stored& s = out.strings[std::to_string(r.index) + ':' + std::to_string(f.field)];
            s.strref = f.text.string_ref;
            for (const LocSubstring& sub : f.text.substrings) {
                s.subs.emplace_back(sub.string_id, std::string(sub.text.begin(), sub.text.end()));
            }
        }
        for (const ScriptLineEntry& l : r.lines) out.script_lines[r.index].emplace_back(l.text);
    }));
    return out;
}

// An entry as plain values.
struct Entry {
    std::string msgid, msgstr;
    bool fuzzy = false;
    bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << ::testing::PrintToString(e.msgid) << " -> " << ::testing::PrintToString(e.msgstr)
               << (e.fuzzy ? " (fuzzy)" : "");
}

// A catalogue's entries by context; the header under "".
std::map<std::string, Entry> entries_of(const std::string& bytes) {
    PoCatalogue catalogue;
    const std::optional<PoError> error = read_po(bytes, catalogue);
    EXPECT_FALSE(error) << error->text();
    std::map<std::string, Entry> out;
    for (const PoEntry& e : catalogue.entries) {
        if (e.obsolete) continue;
        const std::string context(e.msgctxt.value_or(""));
        EXPECT_EQ(out.count(context), 0u) << context;
        EXPECT_TRUE(e.is_header() || !e.msgid.empty()) << context;
        out[context] = {std::string(e.msgid), std::string(e.msgstr), e.fuzzy()};
    }
    return out;
}

class PoCommands : public ::testing::Test {
protected:
    void SetUp() override { dir = modtext::testing::scratch_dir(); }

    // Runs the tool; its exit status, with what it printed kept.
    int cli(std::vector<std::string> args) {
        for (std::string& arg : args) {
            if (arg.find('.') != std::string::npos && arg[0] != '-') arg = (dir / arg).string();
        }
        std::ostringstream out, err;
        const int status = run_cli(args, out, err);
        printed = out.str();
        errors = err.str();
        return status;
    }

    std::string exported(const std::vector<std::string>& options, const std::string& module = "m.mod") {
        std::vector<std::string> args{"export"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(module);
        args.push_back("x.po");
        EXPECT_EQ(cli(args), 0) << errors;
        return read_text(dir / "x.po");
    }

    // Imports a catalogue whose entries follow a French header.
    int import_entries(const std::string& entries, std::vector<std::string> options = {},
                       const std::string& language = "Language: fr\\n") {
        write_text(dir / "in.po", "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n" + language +
                                      "X-Source-Language: english\\n\"\n\n" + entries);
        std::vector<std::string> args{"import"};
        args.insert(args.end(), options.begin(), options.end());
        for (const char* path : {"m.mod", "in.po", "out.mod"}) args.emplace_back(path);
        return cli(args);
    }

    // A module of one conversation with these fields.
    void write_conversation(const std::vector<F>& fields) {
        modtext::testing::write_module(dir / "m.mod", {{"talk", restype::conversation,
                                                        gff_bytes(GffStruct{0, fields}, "DLG V3.2")}});
    }

    fs::path dir;
    std::string printed, errors;
};

// ---------------------------------------------------------------------------
// Every generated module, judged by gettext

struct Generated {
    std::uint64_t seed;
    bool edge;
};

TEST_F(PoCommands, EveryGeneratedModuleRoundTripsThroughTheGettextTools) {
    for (const char* tool : {"msgfmt", "msgen", "msgfilter", "msgcat", "msgmerge"}) {
        if (!have_tool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    for (const Generated g : {Generated{1, false}, Generated{2, false}, Generated{3, false}, Generated{1, true},
                              Generated{2, true}}) {
        SCOPED_TRACE(::testing::Message() << "seed " << g.seed << (g.edge ? " edge" : ""));
        write_file((dir / "m.mod").string(), synthetic_module(g.seed, g.edge));
        const auto path = [this](const char* name) {
            std::string quoted(1, '\'');
            return quoted.append((dir / name).string()).append(1, '\'');
        };
        ASSERT_EQ(cli({"export", "--to", "french", "m.mod", "fr.po"}), 0) << errors;
        ASSERT_EQ(cli({"export", "--to", "french", "m.mod", "m.pot"}), 0) << errors;
        for (const char* name : {"fr.po", "m.pot"}) {
            EXPECT_EQ(run("msgfmt --check -o /dev/null " + path(name)), 0) << name;
            if (modtext::testing::have_libgettextpo()) {
                EXPECT_TRUE(modtext::testing::libgettextpo_agrees(dir, read_text(dir / name))) << name;
            }
        }
        ASSERT_EQ(run("msgen -o " + path("en.po") + ' ' + path("fr.po")), 0);
        ASSERT_EQ(run("msgfilter --keep-header -i " + path("en.po") + " -o " + path("xx.po") + " sed -e 's/^/XX /'"), 0);
        ASSERT_EQ(cli({"import", "m.mod", "xx.po", "out.mod"}), 0) << errors;
        ASSERT_EQ(cli({"export", "--to", "french", "out.mod", "again.po"}), 0) << errors;

        // Every translation is there: a string's as its msgstr, a script
        // literal's as its new msgid.
        const auto filled = entries_of(read_text(dir / "xx.po"));
        const auto again = entries_of(read_text(dir / "again.po"));
        std::size_t translated = 0;
        for (const auto& [context, entry] : filled) {
            if (context.empty()) continue;
            ASSERT_TRUE(entry.msgstr.starts_with("XX ")) << context;
            ASSERT_EQ(again.count(context), 1u) << context;
            const Entry& now = again.at(context);
            if (context.find(".NSS") != std::string::npos) {
                EXPECT_EQ(now.msgid, entry.msgstr) << context;
            } else {
                EXPECT_EQ(now.msgid, entry.msgid) << context;
                EXPECT_EQ(now.msgstr, entry.msgstr) << context;
            }
            ++translated;
        }
        EXPECT_GT(translated, 10u);
        // No byte of any other substring, nor any string reference, changed.
        ModuleTexts before = texts_of(dir / "m.mod"), after = texts_of(dir / "out.mod");
        ASSERT_EQ(before.strings.size(), after.strings.size());
        for (auto* texts : {&before, &after}) {
            for (auto& [field, stored] : texts->strings) {
                std::erase_if(stored.subs, [](const auto& sub) { return sub.first == 2 || sub.first == 3; });
            }
        }
        EXPECT_EQ(before.strings, after.strings);

        // What the tools rewrite of the catalogue imports to the same module.
        ASSERT_EQ(run("msgcat -o " + path("c1.po") + ' ' + path("xx.po")), 0);
        ASSERT_EQ(run("msgcat --width=20 -o " + path("c2.po") + ' ' + path("xx.po")), 0);
        ASSERT_EQ(run("msgmerge -q -o " + path("c3.po") + ' ' + path("xx.po") + ' ' + path("m.pot")), 0);
        const std::string module = read_text(dir / "out.mod");
        for (const char* rewritten : {"c1.po", "c2.po", "c3.po"}) {
            ASSERT_EQ(cli({"import", "m.mod", rewritten, "out2.mod"}), 0) << rewritten << errors;
            EXPECT_TRUE(read_text(dir / "out2.mod") == module) << rewritten;
        }
    }
}

// ---------------------------------------------------------------------------
// Export rules, on a module built by hand

std::vector<ModuleResource> rule_module() {
    GffStruct dlg{0,
                  {F::exo_string("Speaker", "guard"),
                   F::loc_string("Text", 1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Bonjour"}}),
                   F::loc_string("Both", 5, {{0, "Guard"}, {1, "Guardess"}}),
                   F::loc_string("OnlyHer", 6, {{1, "Her words"}}),
                   F::loc_string("Prefilled", 7, {{0, "Friend"}, {2, "Ami"}, {3, "Amie"}}),
                   F::loc_string("Breaks", 8, {{0, "Line\n"}, {2, "Ligne"}}),
                   F::loc_string("Empty", 9, {{0, ""}, {2, "Rien"}}),
                   F::loc_string("Twice", 10, {{0, "First"}, {0, "Second"}})}};
    GffStruct item{0, {F::loc_string("Name", 11, {{0, "Sword"}})}};
    const std::string script = "void main() {\n"
                               "    SpeakString(\"Say \\\"hi\\\"\\n\" + \"\" + GetName(\"tag\") + \"x\\\\y\"); // SpeakString(\"no\")\n"
                               "    string s = \"not spoken\"; /* SpeakString(\"no\") */ SpeakString(s);\n"
                               "    /* SpeakString(\"in a comment\")\n"
                               "       SpeakString(\"still one\") */ FloatingTextStringOnCreature(\"out\", oPC);\n"
                               "}";
    return {{"talk", restype::conversation, gff_bytes(dlg, "DLG V3.2")},
            {"sword", restype::item_template, gff_bytes(item, "UTI V3.2")},
            {"sword", restype::item_template, gff_bytes(item, "UTI V3.2")},
            {"say", restype::script, to_bytes(script)}};
}

TEST_F(PoCommands, ExportWritesEachRuleEntryAsTheCatalogueFormatWants) {
    modtext::testing::write_module(dir / "m.mod", rule_module());
    const std::string po = exported({"--to", "french"});
    const std::map<std::string, Entry> expected{
        {"talk.DLG:1", {"Hello", "Bonjour"}},
        {"talk.DLG:2", {"Guard", ""}},
        {"talk.DLG:2:female", {"Guardess", ""}},
        {"talk.DLG:3:female", {"Her words", ""}},
        {"talk.DLG:4", {"Friend", "Ami"}},
        {"talk.DLG:4:female", {"Friend", "Amie"}},
        {"talk.DLG:5", {"Line\n", "Ligne", true}},
        {"talk.DLG:7", {"First", ""}},
        {"sword.UTI#1:0", {"Sword", ""}},
        {"sword.UTI#2:0", {"Sword", ""}},
        {"say.NSS:1:0", {"Say \"hi\"\n", ""}},
        {"say.NSS:1:2", {"tag", ""}},
        {"say.NSS:1:3", {"x\\y", ""}},
        {"say.NSS:4:0", {"out", ""}},
    };
    std::map<std::string, Entry> found = entries_of(po);
    ASSERT_EQ(found.count(""), 1u);
    EXPECT_EQ(found[""].msgstr.substr(0, found[""].msgstr.find("PO-Revision-Date")), "Project-Id-Version: m.mod\n");
    found.erase("");
    EXPECT_EQ(found, expected);
    // Header fields, labels, speakers, references and the script line.
    for (const char* text : {"\"Last-Translator: none\\n\"\n\"Language-Team: none\\n\"\n\"Language: fr\\n\"\n"
                             "\"MIME-Version: 1.0\\n\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                             "\"Content-Transfer-Encoding: 8bit\\n\"\n\"X-Source-Language: english\\n\"\n"
                             "\"X-Generator: ModText " MODTEXT_VERSION "\\n\"\n",
                             "#. Text\n#. NPC->PLAYER\n#: talk.DLG\nmsgctxt \"talk.DLG:1\"\n",
                             "#.        SpeakString(\"still one\") */ FloatingTextStringOnCreature(\"out\", oPC);\n#: say.NSS\n"}) {
        EXPECT_NE(po.find(text), std::string::npos) << text;
    }

    // --female asks for one everywhere; a template has no Language and no
    // translation; --from names the source.
    found = entries_of(exported({"--to", "german", "--female"}));
    EXPECT_EQ(found.at("talk.DLG:1:female"), (Entry{"Hello", ""}));
    EXPECT_EQ(found.at("talk.DLG:1"), (Entry{"Hello", "Hallo"}));
    found = entries_of(exported({"--format", "pot", "--to", "french"}));
    EXPECT_EQ(found[""].msgstr.find("\nLanguage:"), std::string::npos);
    EXPECT_EQ(found.at("talk.DLG:4:female"), (Entry{"Friend", ""}));
    found = entries_of(exported({"--to", "english", "--from", "french"}));
    EXPECT_EQ(found.at("talk.DLG:1"), (Entry{"Bonjour", "Hello"}));
    EXPECT_EQ(found.count("talk.DLG:2"), 0u);
}

// ---------------------------------------------------------------------------
// Import rules

struct ImportCase {
    const char* name;
    std::string entries;
    std::vector<std::string> options;
    std::string field;  // "resource:field" of the expected string
    Stored expected;
    std::string warning;  // part of what is warned, or empty for no warning
};

TEST_F(PoCommands, ImportSetsOnlyTheTargetSubstringsByEachRule) {
    const std::string z(1, '\0');
    const std::vector<ImportCase> cases{
        {"replaced in place, others and the reference kept",
         "msgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr \"Salut\"\n", {}, "0:1",
         {1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Salut" + z}}}, ""},
        {"appended after the others",
         "msgctxt \"talk.DLG:2\"\nmsgid \"Guard\"\nmsgstr \"Garde\"\n", {}, "0:2",
         {5, {{0, "Guard"}, {1, "Guardess"}, {2, "Garde" + z}}}, ""},
        {"a female entry sets the female substring",
         "msgctxt \"talk.DLG:2:female\"\nmsgid \"Guardess\"\nmsgstr \"Gardienne\"\n", {}, "0:2",
         {5, {{0, "Guard"}, {1, "Guardess"}, {3, "Gardienne" + z}}}, ""},
        {"an untranslated female entry keeps the female substring",
         "msgctxt \"talk.DLG:4\"\nmsgid \"Friend\"\nmsgstr \"Copain\"\n\n"
         "msgctxt \"talk.DLG:4:female\"\nmsgid \"Friend\"\nmsgstr \"\"\n", {}, "0:4",
         {7, {{0, "Friend"}, {2, "Copain" + z}, {3, "Amie"}}}, ""},
        {"without a female entry the male translation serves the female too",
         "msgctxt \"talk.DLG:4\"\nmsgid \"Friend\"\nmsgstr \"Copain\"\n", {}, "0:4",
         {7, {{0, "Friend"}, {2, "Copain" + z}, {3, "Copain" + z}}}, ""},
        {"a msgid of another version is skipped",
         "msgctxt \"talk.DLG:1\"\nmsgid \"Hello there\"\nmsgstr \"Salut\"\n", {}, "0:1",
         {1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Bonjour"}}}, "WARNING: Entry \"talk.DLG:1\" skipped!"},
        {"a msgid of another version is skipped, of the same length too",
         "msgctxt \"talk.DLG:1\"\nmsgid \"Hellp\"\nmsgstr \"Salut\"\n", {}, "0:1",
         {1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Bonjour"}}}, "WARNING: Entry \"talk.DLG:1\" skipped!"},
        {"fuzzy is left out",
         "#, fuzzy\nmsgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr \"Salut\"\n", {}, "0:1",
         {1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Bonjour"}}}, ""},
        {"fuzzy is taken with --use-fuzzy",
         "#, fuzzy\nmsgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr \"Salut\"\n", {"--use-fuzzy"}, "0:1",
         {1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Salut" + z}}}, ""},
        {"obsolete is ignored, plural refused",
         "#~ msgctxt \"talk.DLG:1\"\n#~ msgid \"Hello, old\"\n#~ msgstr \"Salut\"\n\n"
         "msgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgid_plural \"Hellos\"\nmsgstr[0] \"Salut\"\nmsgstr[1] \"Saluts\"\n",
         {}, "0:1", {1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Bonjour"}}}, "a plural entry"},
        {"the index breaks the tie of two resources",
         "msgctxt \"sword.UTI#2:0\"\nmsgid \"Sword\"\nmsgstr \"\xC3\x89p\xC3\xA9\x65\"\n", {}, "2:0",
         {11, {{0, "Sword"}, {2, "\xC9p\xE9" "e" + z}}}, ""},
        {"a context naming no index of two resources is skipped",
         "msgctxt \"sword.UTI:0\"\nmsgid \"Sword\"\nmsgstr \"Epee\"\n", {}, "1:0",
         {11, {{0, "Sword"}}}, "2 resources are sword.UTI"},
        {"--to names a language the catalogue lacks",
         "msgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr \"Hallo!\"\n", {"--to", "german"}, "0:1",
         {1234, {{0, "Hello"}, {4, "Hallo!" + z}, {2, "Bonjour"}}}, ""},
    };
    modtext::testing::write_module(dir / "m.mod", rule_module());
    for (const ImportCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(import_entries(c.entries, c.options), 0) << errors;
        EXPECT_EQ(texts_of(dir / "out.mod").strings.at(c.field), c.expected);
        if (c.warning.empty()) EXPECT_EQ(errors, "");
        else EXPECT_NE(errors.find(c.warning), std::string::npos) << errors;
    }
}

// A text is written as export decodes it, and escaped as gettext writes
// it, wherever its odd bytes fall among the bytes looked at together.
TEST_F(PoCommands, ExportDecodesAndEscapesEachTextWhereverItsBytesFall) {
    // The module's bytes, and what stands for them in the msgid's line.
    const std::vector<std::pair<std::string, std::string>> odds = {
        {"\"", "\\\""}, {"\\", "\\\\"}, {"\xE9", "\xC3\xA9"}, {"\t", "<#09>"}, {"\x7F", "<#7F>"}, {"<cABC>", "<c#414243>"},
        {"\n", "\\n\"\n\""}};
    std::vector<F> fields;
    std::vector<std::string> lines;
    for (const std::size_t before : {0u, 14u, 15u, 16u, 30u}) {
        for (const auto& [odd, written] : odds) {
            std::string label = "T", text(before, 'a');
            fields.push_back(F::loc_string(label.append(std::to_string(fields.size())), 1, {{0, text.append(odd).append("b")}}));
            std::string line = odd == "\n" ? "msgid \"\"\n\"" : "msgid \"";
            lines.push_back(line.append(before, 'a').append(written).append("b\"\n"));
        }
    }
    write_conversation(fields);
    const std::string po = exported({"--to", "french"});
    for (std::size_t k = 0; k < lines.size(); ++k) {
        std::string context = "msgctxt \"talk.DLG:";
        context.append(std::to_string(k)).append("\"\n");
        EXPECT_NE(po.find(context.append(lines[k])), std::string::npos) << context;
    }
}

// A msgid is compared with the module's text as export decodes it: a msgid
// of the text's own bytes, where a colour tag, a tab, DEL or a byte from
// 0x80 on decodes to something else, was not made for it, wherever such
// bytes fall among the bytes read at once.
TEST_F(PoCommands, AMsgidIsTheDecodedTextNotItsBytes) {
    std::vector<F> fields;
    std::string entries;
    for (const std::size_t before : {0u, 14u, 15u, 16u, 30u}) {
        // The bytes, and how the msgid writes them: as they are, or escaped.
        for (const auto& [odd, written] : {std::pair{"<cABC>", "<cABC>"}, {"\t", "\\t"}, {"\x7F", "\\177"},
                                           {"\xE9", "\xE9"}}) {
            const std::string k = std::to_string(fields.size());
            fields.push_back(F::loc_string("T" + k, 1, {{0, std::string(before, 'a') + odd + "b"}}));
            entries.append("msgctxt \"talk.DLG:").append(k).append("\"\nmsgid \"").append(before, 'a');
            entries.append(written).append("b\"\nmsgstr \"x\"\n\n");
        }
    }
    write_conversation(fields);
    ASSERT_EQ(import_entries(entries), 0) << errors;
    const ModuleTexts out = texts_of(dir / "out.mod");
    for (std::size_t k = 0; k < fields.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(out.strings.at("0:" + std::to_string(k)).subs.size(), 1u);
        EXPECT_NE(errors.find("Entry \"talk.DLG:" + std::to_string(k) + "\" skipped! (its msgid is not the module's text"),
                  std::string::npos);
    }
}

// Contexts read in turn, the parts before their last number remembered,
// come out as each read alone: whatever repeats, changes or does not parse.
TEST(PoContexts, ReadInTurnAsEachAlone) {
    const std::vector<std::string> contexts = {
        "dlg.DLG:4", "dlg.DLG:4:female", "dlg.DLG:10", "dlg.DLG:10:female", "dlg.DLG:x", "dlg.DLG:",
        "dlg.DLG:99999999999999999999", "dlg.DLG:-1", "dlg.DLG:+1", "dlg.DLG:04", "dlg.DLG#3:4", "dlg.DLG#3:5",
        "dlg.DLG#x:5", "say.NSS:12:0", "say.NSS:12:3", "say.NSS:13:0", "say.NSS#2:12:1", "say.NSS:12:1:female",
        "say.NSS:12", "say.NSS:x:1", "say.NSS:12:0", "a:b.DLG:4", "a:b.DLG:5", ":4", ":5", "4", "", ":female",
        "x:female", "dlg.DLG:4:female:female", "dlg.DLG:7:female", "dlg.DLG:4"};
    PoContextReader reader;
    for (const std::string& context : contexts) {
        SCOPED_TRACE(context);
        const std::optional<PoContext> alone = parse_po_context(context);
        const std::optional<PoContext> read = reader.read(context);
        ASSERT_EQ(read.has_value(), alone.has_value());
        if (!read) continue;
        EXPECT_EQ(std::tie(read->header, read->index, read->key, read->literal, read->female, read->script),
                  std::tie(alone->header, alone->index, alone->key, alone->literal, alone->female, alone->script));
        EXPECT_EQ(read->header.data(), context.data());
    }
}

// A translation is stored in its code page wherever its characters fall
// among the bytes read at once: only a plain one is stored as it is.
TEST_F(PoCommands, ATranslationIsEncodedWhereverItsCharactersFall) {
    std::vector<F> fields;
    std::vector<std::string> stored;
    std::string entries;
    for (const std::size_t before : {0u, 14u, 15u, 16u, 30u}) {
        // How the msgstr types a character, and the bytes that store it.
        for (const auto& [typed, bytes] : {std::pair{"\xC3\xA9", "\xE9"}, {"<c#FF8010>", "<c\xFF\x80\x10>"}}) {
            const std::string k = std::to_string(fields.size());
            fields.push_back(F::loc_string("T" + k, 1, {{0, "s"}}));
            stored.push_back(std::string(before, 'a') + bytes + "b");
            entries.append("msgctxt \"talk.DLG:").append(k).append("\"\nmsgid \"s\"\nmsgstr \"").append(before, 'a');
            entries.append(typed).append("b\"\n\n");
        }
    }
    write_conversation(fields);
    ASSERT_EQ(import_entries(entries), 0) << errors;
    const ModuleTexts out = texts_of(dir / "out.mod");
    for (std::size_t k = 0; k < fields.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(out.strings.at("0:" + std::to_string(k)), (Stored{1, {{0, "s"}, {2, stored[k] + std::string(1, '\0')}}}));
    }
}

// The catalogue is taken while the resources it is done with are rebuilt:
// one whose entry comes last, after thousands of another's, was passed by
// the rebuilding long before, and gets its translation all the same.
TEST_F(PoCommands, AnEntryThatComesBackToAnEarlierResourceIsApplied) {
    modtext::testing::write_module(dir / "m.mod", rule_module());
    std::string entries = "msgctxt \"sword.UTI#1:0\"\nmsgid \"Sword\"\nmsgstr \"Epee\"\n\n"
                          "msgctxt \"sword.UTI#2:0\"\nmsgid \"Sword\"\nmsgstr \"Lame\"\n\n";
    for (int k = 1; k < 50000; ++k) {
        entries.append("msgctxt \"sword.UTI#2:0\"\nmsgid \"Sword ").append(std::to_string(k)).append("\"\nmsgstr \"x\"\n\n");
    }
    entries += "msgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr \"Salut\"\n";
    ASSERT_EQ(import_entries(entries), 0) << errors;
    const std::string z(1, '\0');
    const ModuleTexts out = texts_of(dir / "out.mod");
    EXPECT_EQ(out.strings.at("0:1"), (Stored{1234, {{0, "Hello"}, {4, "Hallo"}, {2, "Salut" + z}}}));
    EXPECT_EQ(out.strings.at("1:0"), (Stored{11, {{0, "Sword"}, {2, "Epee" + z}}}));
    EXPECT_EQ(out.strings.at("2:0"), (Stored{11, {{0, "Sword"}, {2, "Lame" + z}}}));
    EXPECT_TRUE(errors.starts_with("WARNING: Entry \"sword.UTI#2:0\" skipped! (a second entry of its context; the first counts)\n"))
        << errors;
    EXPECT_EQ(errors.find("talk"), std::string::npos) << errors;
}

TEST_F(PoCommands, ImportReplacesOnlyTheScriptLiteralEscapedAgain) {
    modtext::testing::write_module(dir / "m.mod", rule_module());
    ASSERT_EQ(import_entries("msgctxt \"say.NSS:1:0\"\nmsgid \"Say \\\"hi\\\"\\n\"\nmsgstr \"Dis \\\"\\tsalut\\\"\\n\"\n\n"
                             "msgctxt \"say.NSS:1:3\"\nmsgid \"x\\\\y\"\nmsgstr \"x\\\\\\\\y\"\n"),
              0)
        << errors;
    const std::string script = read_text(dir / "out.mod");
    EXPECT_NE(script.find("void main() {\n    SpeakString(\"Dis \\\"\\tsalut\\\"\\n\" + \"\" + GetName(\"tag\") + "
                          "\"x\\\\\\\\y\"); // SpeakString(\"no\")\n    string s"),
              std::string::npos);
}

TEST_F(PoCommands, ImportRefusesWhatItCannotFollowAndWritesNothing) {
    struct Refused {
        const char* name;
        std::string entries, language;
        std::vector<std::string> options;
        std::string error;
    };
    const std::string fr = "Language: fr\\n";
    const std::vector<Refused> cases{
        {"a catalogue that does not parse", "msgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr Salut\n", fr, {},
         "in.po is not a PO catalogue: line 6: expected a string after msgstr"},
        {"no Language header", "", "", {}, "has no Language header"},
        {"a language outside the ten", "", "Language: eo\\n", {}, "\"eo\", which is none of the ten"},
        {"a character the code page cannot hold",
         "msgctxt \"talk.DLG:1\"\nmsgid \"Hello\"\nmsgstr \"\xE6\x97\xA5\"\n", fr, {},
         "Error: line 5 (french): U+65E5 is not in code page 1252!\n"},
    };
    modtext::testing::write_module(dir / "m.mod", rule_module());
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(import_entries(c.entries, c.options, c.language), 1);
        EXPECT_NE(errors.find(c.error), std::string::npos) << errors;
        EXPECT_NE(errors.find("nothing was written"), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(dir / "out.mod"));
    }
}

TEST(PoLanguages, PrimarySubtagAndChineseRegionOrScript) {
    const std::vector<std::pair<std::string, std::optional<std::string_view>>> cases{
        {"fr_FR", "french"},  {"fr-CA", "french"},    {"fr", "french"},        {"DE", "german"},
        {"pl_PL.UTF-8", "polish"}, {"ja", "japanese"}, {"ko_KR", "korean"},   {"en@quot", "english"},
        {"zh_TW", "chintrad"}, {"zh-Hant", "chintrad"}, {"zh_HK", "chintrad"}, {"zh-Hant-CN", "chintrad"},
        {"zh_MO", "chintrad"}, {"zh_CN", "chinsimpl"}, {"zh", "chinsimpl"},   {"zh-Hans-SG", "chinsimpl"},
        {"eo", std::nullopt}, {"", std::nullopt},      {"fra", std::nullopt}};
    for (const auto& [code, key] : cases) {
        const std::optional<std::size_t> row = po_language_row(code);
        EXPECT_EQ(row ? std::optional<std::string_view>(LanguageTable[*row].key) : std::nullopt, key) << code;
    }
    for (std::size_t row = 0; row < language_count; ++row) EXPECT_EQ(po_language_row(po_language_code(row)), row);
}

}  // namespace
