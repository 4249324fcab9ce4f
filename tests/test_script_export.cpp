#include "test_support.h"
#include "translation/exporters.h"

using namespace modtext;
using modtext::testing::RecordingReporter;

namespace {

std::string export_script_text(std::string_view script, std::size_t index = 5) {
    RecordingReporter reporter;
    const build::Bytes bytes = build::to_bytes(script);
    std::string out;
    export_script(out, {index, "guard", build::restype::script, bytes}, reporter);
    return out;
}

}  // namespace

TEST(ScriptExport, NumbersEveryLineAndMatchesPlainSubstrings) {
    EXPECT_EQ(export_script_text("SpeakString(\"first\");\r\n"
                                 "int x;\r\n"
                                 "// SpeakString(\"commented out\");\r\n"
                                 "MySpeakStringHelper(a, b);\r\n"
                                 "FloatingTextStringOnCreature(\"a, b -> c\", oPC);\r\n"
                                 "speakstring(lower);\r\n"),
              "#File:guard.NSS,5\n\n"
              "#0->SpeakString(\"first\");\n"
              "#2->// SpeakString(\"commented out\");\n"
              "#3->MySpeakStringHelper(a, b);\n"
              "#4->FloatingTextStringOnCreature(\"a, b -> c\", oPC);\n"
              "\n////////////////////////////////\n\n");
}

TEST(ScriptExport, WritesNothingWithoutASpeechCall) {
    EXPECT_EQ(export_script_text("void main()\r\n{\r\n}\r\n"), "");
    EXPECT_EQ(export_script_text(""), "");
    EXPECT_EQ(export_script_text("x"), "");
}

TEST(ScriptExport, BareLineFeedsLongLinesAndAnUnendedLastLine) {
    const std::string long_line = "SpeakString(\"" + std::string(20000, 'a') + "\");";
    EXPECT_EQ(export_script_text("a\n\nSpeakString(1);\n" + long_line + "\r\nb\r\n"
                                 "SpeakString(2);\r\r\nSpeakString(3);"),
              "#File:guard.NSS,5\n\n"
              "#2->SpeakString(1);\n"
              "#3->" + long_line + "\n"
              "#5->SpeakString(2);\r\n"
              "#6->SpeakString(3);\n"
              "\n////////////////////////////////\n\n");
}

TEST(ExportRoute, DispatchesByTypeAndFilter) {
    using R = ExportRoute;
    struct Row {
        std::uint16_t type;
        std::int32_t selects;  // the filter row that exports it alone
    };
    for (const Row& row : {Row{2009, 6}, Row{2012, 1}, Row{2029, 2}, Row{2023, 3}, Row{2014, 4},
                           Row{2056, 5}}) {
        const R handled = row.type == 2009 ? R::script : R::gff;
        for (std::int32_t filter = -1; filter <= 7; ++filter) {
            const bool on = filter == 0 || filter == row.selects;
            for (const bool templates : {false, true}) {
                EXPECT_EQ(export_route(row.type, filter, templates), on ? handled : R::skip)
                    << row.type << " filter " << filter;
            }
        }
    }
    const std::uint16_t quiet_templates[] = {2025, 2027, 2044, 2058};
    const std::uint16_t reported_templates[] = {2032, 2035, 2040, 2042, 2051};
    for (std::int32_t filter = -1; filter <= 7; ++filter) {
        EXPECT_EQ(export_route(2015, filter), R::gff);
        EXPECT_EQ(export_route(2038, filter), R::gff);
        for (const std::uint16_t type : {std::uint16_t{2010}, std::uint16_t{2030}, std::uint16_t{2046}}) {
            EXPECT_EQ(export_route(type, filter, true), R::skip) << type;
        }
        for (int type : {2017, 0, 2011, 65535}) EXPECT_EQ(export_route(static_cast<std::uint16_t>(type), filter), R::unknown);
        // Templates: visited when asked for, or alone under their filter;
        // otherwise passed over as before, four silently and five reported.
        for (std::uint16_t type : quiet_templates) {
            EXPECT_EQ(export_route(type, filter), filter == 7 ? R::gff : R::skip) << type;
            EXPECT_EQ(export_route(type, filter, true), R::gff) << type;
        }
        for (std::uint16_t type : reported_templates) {
            EXPECT_EQ(export_route(type, filter), filter == 7 ? R::gff : R::unknown) << type;
            EXPECT_EQ(export_route(type, filter, true), R::gff) << type;
        }
    }
}
