// The translatable entries of a module, one resource at a time: each
// localized-string field and each script line that speaks, with what a
// translator needs to know of them. Views of the text come and go: the
// export of a catalogue, and any count or check over a module's entries,
// are built on this one walk.
#pragma once

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
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
// Only the resources [first, last) are walked, when a range is given.
bool walk_module_entries(const ModuleArchive& archive, InputFile& source, const SelectionState& selection,
                         Reporter& reporter, const std::function<void(const ResourceEntries&)>& take,
                         const EntryWalkEvents& events = {}, std::size_t first = 0,
                         std::size_t last = static_cast<std::size_t>(-1));

// Makes a module's resources in runs on two threads at once, and takes
// each run's result in order on the calling thread, after telling
// `reporter` what its making told: what comes out, text and diagnostics
// alike, is what one walk in index order gives, made at about twice its
// speed. Each thread makes its runs with a maker of its own,
// new_maker()(first, last, told), which makes the run of resources
// [first, last) telling `told`; take(result) takes a run's result, false to
// stop there, and the runs made beyond it are dropped untold. A run holds at
// most 64 resources and a megabyte of them (or one larger resource), and a
// module makes some sixteen runs or more, so that a small one is made in
// parallel too: what is made ahead stays small.
template <class NewMaker, class Take>
bool make_in_runs(const ModuleArchive& archive, Reporter& reporter, NewMaker new_maker, Take take) {
    using Maker = decltype(new_maker());
    using Result = decltype(std::declval<Maker&>()(std::size_t{}, std::size_t{}, std::declval<Reporter&>()));
    const std::size_t count = archive.count();
    std::vector<std::size_t> starts;  // of each run, then the end
    const std::size_t most = std::clamp<std::size_t>(count / 16, 1, 64);
    constexpr std::uint64_t most_bytes = std::uint64_t{1} << 20;
    for (std::size_t next = 0; next < count;) {
        starts.push_back(next);
        const std::size_t first = next;
        std::uint64_t bytes = archive.resources[next++].size;
        while (next < count && next - first < most && bytes + archive.resources[next].size <= most_bytes) {
            bytes += archive.resources[next++].size;
        }
    }
    starts.push_back(count);
    const std::size_t runs = starts.size() - 1;

    // Run r is made into slot r % 4 by thread r % 2, once the run made
    // there before it was taken. A slot is the making thread's while it is
    // not ready, and the taking thread's while it is. Each on cache lines of
    // its own, as the threads write them at once.
    struct alignas(64) Slot {
        std::optional<Result> result;
        std::optional<DeferredReporter> told;
        std::exception_ptr failure;
        std::size_t run = 0;
        bool ready = false;
    };
    std::array<Slot, 4> slots;
    for (std::size_t i = 0; i < slots.size(); ++i) slots[i].run = i;
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    const auto work = [&](std::size_t thread) {
        std::optional<Maker> maker;
        for (std::size_t r = thread; r < runs; r += 2) {
            Slot& slot = slots[r % slots.size()];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || (slot.run == r && !slot.ready); });
                if (stop) return;
            }
            try {
                slot.told.emplace(reporter);
                if (!maker) maker.emplace(new_maker());
                slot.result.emplace((*maker)(starts[r], starts[r + 1], *slot.told));
            } catch (...) {
                slot.failure = std::current_exception();
            }
            {
                const std::lock_guard lock(mutex);
                slot.ready = true;
            }
            changed.notify_all();
        }
    };
    std::thread second;
    // Both threads stop, and are waited for, however the taking ends.
    struct Ending {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        std::thread& second;
        std::thread first;
        ~Ending() {
            {
                const std::lock_guard lock(mutex);
                stop = true;
            }
            changed.notify_all();
            if (first.joinable()) first.join();
            if (second.joinable()) second.join();
        }
    } ending{mutex, changed, stop, second, std::thread(work, 0)};
    second = std::thread(work, 1);
    for (std::size_t r = 0; r < runs; ++r) {
        Slot& slot = slots[r % slots.size()];
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slot.ready; });
        }
        if (slot.failure) std::rethrow_exception(slot.failure);
        slot.told->replay(reporter);
        if (!take(*slot.result)) return false;
        {
            const std::lock_guard lock(mutex);
            slot.result.reset();
            slot.told.reset();
            slot.ready = false;
            slot.run = r + slots.size();
        }
        changed.notify_all();
    }
    return true;
}

}  // namespace modtext
