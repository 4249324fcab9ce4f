// The translatable entries of a module, one resource at a time: each
// localized-string field and each script line that speaks, with what a
// translator needs to know of them. Views of the text come and go: the
// export of a catalogue, and any count or check over a module's entries,
// are built on this one walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/languages.h"
#include "core/reporter.h"
#include "formats/byte_reader.h"
#include "formats/files.h"
#include "formats/gff_image.h"
#include "formats/locstring.h"
#include "formats/module_archive.h"

namespace modtext {

// Who speaks a conversation's line.
enum class SpeechDirection : std::uint8_t { none, npc_to_player, player_to_npc };

// A localized-string field of a GFF resource.
struct StringFieldEntry {
    std::uint32_t field = 0;  // its index in the field array
    std::string_view label;
    SpeechDirection direction = SpeechDirection::none;
    LocString text;
};

// A script line that calls a speech function, numbered from 0 as the
// script line reader counts; in_comment when a block comment is open at its
// start.
struct ScriptLineEntry {
    std::size_t line = 0;
    std::string_view text;
    bool in_comment = false;
};

// A resource as read: its key-list position, name, type and bytes.
struct ResourceView {
    std::size_t index = 0;
    std::string_view name;
    std::uint16_t type = 0;
    ByteView bytes;
};

// One resource's entries; the views last until the next resource.
struct ResourceEntries {
    std::size_t index = 0;
    std::string_view name;
    std::string_view letters;  // "NSS" for a script, else the GFF's type letters
    std::uint16_t type = 0;    // the resource type number of the key list
    bool script = false;
    std::vector<StringFieldEntry> strings;
    std::vector<ScriptLineEntry> lines;
    // Entries of earlier resources, kept for their memory.
    std::vector<StringFieldEntry> spare_strings;
};

// Whether a script line calls a speech function, as export finds them.
bool calls_speech_function(std::string_view line);

// Whether a block comment is open after the line, given whether one was at
// its start; string literals and line comments hide comment marks.
bool block_comment_open_after(std::string_view line, bool open_before);

// One resource's entries, read from its bytes: a script's lines that
// speak, or a GFF's localized strings. False, with why, when a GFF is
// damaged; out then holds nothing to use.
bool read_resource_entries(const ResourceView& resource, bool script, GffImage& image, ResourceEntries& out,
                           std::string& why);

// The progress an export tells of each resource it reads: "Exporting
// general GFF file: NAME....." (or "Exporting Script file: ") before, and
// "complete!" once its block is made.
void tell_export_started(Reporter& reporter, bool script, std::string_view name);
void tell_export_done(Reporter& reporter);

// What a walk tells besides each resource's entries.
struct EntryWalkEvents {
    // An export's progress (tell_export_started once a resource is read,
    // tell_export_done once it is taken).
    bool tell_progress = false;
    // Each resource whose type no export route knows, by its type.
    std::function<void(std::uint16_t type)> not_visited;
};

// Walks the resources the selection's filter visits, in index order, and
// hands each one that has entries to `take`. Damaged GFF resources are
// reported and skipped whole; false when the source could not be read.
bool walk_module_entries(const ModuleArchive& archive, InputFile& source, const SelectionState& selection,
                         Reporter& reporter, const std::function<void(const ResourceEntries&)>& take,
                         const EntryWalkEvents& events = {});

}  // namespace modtext
