// Writing the output module's resources on a second thread: while one
// resource is written and its checksum taken, the next is rebuilt. The
// resources carried over as they are, the writer reads itself, so the
// rebuilding runs ahead over them. Every few megabytes what was written is
// read back and checked against those checksums, while the bytes are fresh:
// by the writer when it has nothing to write, or by the rebuilding while it
// waits for room, so that neither thread idles while the other has work.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "formats/files.h"
#include "formats/gff_image.h"
#include "formats/module_archive.h"

namespace modtext {

// One rebuilt resource's new bytes, as views of what the piece holds: the
// resource as read, its image, and rebuilt bytes.
// On cache lines of its own: the rebuilding fills one piece while the
// writer reads another.
struct alignas(64) ResourcePiece {
    ReadBuffer source;
    GffImage image;
    Bytes built;  // a rebuilt script, or a rebuilt GFF's field array
    std::vector<ByteView> parts;

    std::uint64_t size() const;
};

// Why resource index of a written module, at offset and of size bytes,
// is not as written: it lies beyond the end, or its bytes have another
// checksum. Nothing when it is as written.
std::optional<std::string> written_resource_fault(InputFile& written, std::size_t index, std::uint64_t offset,
                                                  std::uint64_t size, std::uint64_t checksum, ReadBuffer& buffer);

// Writes resources, in the order they are handed on, to the output on its
// own thread, keeping the checksum of each. Pieces take turns: while some
// wait to be written, the next is filled. The rebuilding may run ahead by a
// few megabytes of resources, so that it need not wait while the writer
// works through a long run of resources copied as they are.
class ResourceWriter {
public:
    // The first resource is written at `offset` of the output.
    ResourceWriter(StagedOutput& output, InputFile& source, std::uint64_t offset);
    ResourceWriter(const ResourceWriter&) = delete;
    ResourceWriter& operator=(const ResourceWriter&) = delete;
    // Stops at once: what was not written yet is not.
    ~ResourceWriter();

    // Hands on a resource to be copied from the source as it is: its index
    // and its place in the source.
    void copy(std::size_t index, ResourceEntry entry);
    // The piece to fill next with a resource of size bytes, once the writer
    // is done with it and has room for those bytes, reading back what waits
    // to be meanwhile; none when the writer stopped on a failed read or a
    // read back found a resource not as written (finish tells of it).
    ResourcePiece* next_piece(std::uint64_t size);
    // Hands on the piece from next_piece to be written.
    void hand_on();
    // Waits until everything handed on is written, and gives the checksum of
    // each resource, in order, and how many of them, from the first, were
    // read back and found as written. Fails, reported, when a copy's read
    // came back short or a resource read back was not as written.
    bool finish(const ModuleArchive& archive, std::vector<std::uint64_t>& checksums, std::size_t& checked,
                Reporter& reporter);

private:
    struct Job {
        std::optional<ResourceEntry> copy;  // the resource to copy, or none
        std::size_t resource = 0;           // a copy's index
        std::size_t piece = 0;              // otherwise, the piece to write
    };
    // Resources waiting to be written, or being written, once rebuilt: at
    // most this many, of at most this many bytes together (a larger one
    // goes alone).
    static constexpr std::size_t piece_count = 16;
    static constexpr std::uint64_t ahead_bytes = std::uint64_t{4} << 20;
    // A piece that held a larger resource, as read or as rebuilt, gives its
    // memory back before it is filled again, so that what the pieces keep
    // stays small.
    static constexpr std::uint64_t kept_bytes = std::uint64_t{256} << 10;
    // What is written is read back once this much waits to be: little
    // enough that it is still in the processor's cache.
    static constexpr std::uint64_t check_bytes = std::uint64_t{4} << 20;
    // Resources written one after another, to be read back together: the
    // output opened for reading once they were flushed, where the first
    // lies and its index, and the size and checksum of each.
    struct CheckRun {
        std::unique_ptr<InputFile> written;
        std::uint64_t offset = 0;
        std::size_t first = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> resources;
        std::uint64_t bytes = 0;
    };
    // Runs waiting to be read back: past this many, the writer reads back
    // the oldest itself before it writes on, so that they stay in the cache.
    static constexpr std::size_t runs_waiting = 2;

    void run();
    void stop();
    // Hands on the run written since the last one for reading back, or
    // reads it back at once where the output is in memory, which later
    // writes move. False, with the fault kept, when it was not as written.
    bool close_run();
    // Reads back a run with buffer; false, with the fault kept, at the first
    // resource that is not as written. Either thread, without the lock.
    bool check_run(const CheckRun& run, ReadBuffer& buffer);
    // The oldest run waiting, taken off; under the lock, with one waiting.
    CheckRun pop_run();
    // Takes the oldest run waiting when more than `leaving` wait.
    std::optional<CheckRun> take_run(std::size_t leaving);

    StagedOutput& output_;
    InputFile& source_;  // read here and by the rebuilding, each by offset

    std::array<ResourcePiece, piece_count> pieces_;
    std::size_t pieces_handed_ = 0;  // the next piece is pieces_[pieces_handed_ % piece_count]
    std::size_t pieces_pending_ = 0;
    std::uint64_t bytes_pending_ = 0;  // the pending pieces' resource sizes
    // The writer's own, on cache lines of their own, as the mutex and what
    // it guards are.
    alignas(64) ReadBuffer copy_buffer_;
    std::vector<std::uint64_t> checksums_;  // of each resource written, by index
    CheckRun unchecked_;  // written since the last run was closed
    ReadBuffer check_buffer_;
    bool checking_ = true;
    // The rebuilding's, for the runs it reads back.
    alignas(64) ReadBuffer rebuild_check_buffer_;

    alignas(64) std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    bool closing_ = false;
    bool abandoned_ = false;
    std::optional<std::size_t> unread_;  // the copy whose read came back short
    std::deque<CheckRun> runs_;  // closed, oldest first, not yet taken to be read back
    std::string fault_;  // what a read back found, when it found a resource not as written
    std::size_t fault_index_ = 0;  // of that resource: of two found at once, the earlier is told
    // How many resources, from the first, were read back and found as
    // written; and the runs read back beyond them, as [first, end).
    std::size_t checked_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> read_back_;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace modtext
