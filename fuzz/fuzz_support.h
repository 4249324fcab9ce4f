// What the fuzz targets share.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include "core/reporter.h"
#include "tools/modbuild.h"

namespace modtext::fuzzing {

// Formats every diagnostic, so the formatting is exercised too, and keeps none.
class FormattingReporter final : public Reporter {
public:
    bool wants(Severity) const override { return true; }
    void diagnostic(Severity, std::string_view text) override { total += text.size(); }
    void error_box(std::string_view text) override { total += text.size(); }
    void info_box(std::string_view text) override { total += text.size(); }
    void kept_text(std::string_view text) override { total += text.size(); }
    std::size_t total = 0;
};

// Counts the warnings and errors a reader gives.
class RecordingReporter final : public Reporter {
public:
    bool wants(Severity severity) const override { return severity != Severity::progress; }
    void diagnostic(Severity, std::string_view) override { ++problems; }
    void error_box(std::string_view) override {}
    void info_box(std::string_view) override {}
    void kept_text(std::string_view) override {}
    std::size_t problems = 0;
};

// A broken promise of the code under test: a finding, like a crash.
#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition,      \
                         __FILE__, __LINE__);                                   \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

// A small module of every class the import rebuilds, so that a run does
// many executions: a conversation, an item, a script, and bytes of a
// skipped type.
inline build::Bytes mini_module() {
    using build::GffField;
    using build::GffStruct;
    const GffStruct entry{1, {GffField::exo_string("Speaker", "npc"),
                              GffField::loc_string("Text", 0xFFFFFFFFu,
                                                   {{0, "Hello,\nfriend -> here."}, {3, "Salut"}}),
                              GffField::list("Links", {GffStruct{2, {GffField::dword("Index", 0)}}})}};
    const GffStruct reply{3, {GffField::exo_string("Comment", ""),
                              GffField::loc_string("Text", 7, {{0, "Bye|now"}, {301, "x"}})}};
    const build::Bytes dialogue = build::gff_bytes(
        GffStruct{0xFFFFFFFFu, {GffField::list("EntryList", {entry}), GffField::list("ReplyList", {reply}),
                                GffField::dword64("Big", 1), GffField::void_data("Blob", "ab")}},
        "DLG V3.2");
    const build::Bytes item = build::gff_bytes(
        GffStruct{0xFFFFFFFFu, {GffField::loc_string("LocalizedName", 5, {{0, "Lamp"}, {262, "ja"}}),
                                GffField::loc_string("Description", 5, {})}},
        "UTI V3.2");
    return build::module_bytes(
        {{"talk", build::restype::conversation, dialogue, 0, 0},
         {"lamp", build::restype::item_template, item, 0, 0},
         {"guard", build::restype::script,
          build::to_bytes("void main()\r\n{\r\n  SpeakString(\"Halt, who -> there?\");\r\n}"), 0, 0},
         {"blob", build::restype::compiled_script, build::to_bytes("\x01\x02"), 0, 0}});
}

}  // namespace modtext::fuzzing
