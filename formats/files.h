// Raw byte files: a source read by offset, and an output that replaces its
// target only once it is complete, durable and checked.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/reporter.h"
#include "formats/byte_reader.h"

namespace modtext {

// Memory for one resource at a time: it grows to the largest resource read
// and is not cleared in between, so a read costs no more than the read.
class ReadBuffer {
public:
    std::uint8_t* prepare(std::size_t size) {
        if (size > capacity_) {
            data_.reset(new std::uint8_t[size]);
            capacity_ = size;
        }
        size_ = size;
        return data_.get();
    }
    ByteView view() const { return ByteView(data_.get(), size_); }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// Bytes read only to be passed on or checked are read in pieces of at most
// this size, so that the memory they take stays small however large a
// resource is.
inline constexpr std::uint64_t read_piece_size = std::uint64_t{1} << 20;

// Why a file could not be opened or a target not be staged.
enum class FileProblem {
    none,
    cannot_open,   // missing, no permission, no such directory
    not_regular,   // a directory, device, FIFO or socket
    dangling_link  // a target that is a link to nothing
};

// A file on disk as the system knows it, whatever path or link leads there:
// device and inode, or volume serial number and file index on Windows.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t node = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file a path names, links followed; none when there is
// no such file.
std::optional<FileIdentity> file_identity(const std::string& path);

// Reports why path could not be opened, or staged as a target.
void report_file_problem(Reporter& reporter, FileProblem problem, const std::string& path);

// Whether two paths name one existing file.
bool same_file(const std::string& a, const std::string& b);

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { close(); }

    // Opens a regular file for raw reading and learns its size. A FIFO,
    // socket or device is refused at once, never waited on; problem() tells
    // why an open failed.
    [[nodiscard]] bool open(const std::string& path);
    FileProblem problem() const { return problem_; }
    // Reads from bytes held in memory instead (the fuzzers' way in).
    void open_memory(ByteView bytes);
    void close();
    std::uint64_t size() const { return size_; }

    // Reads exactly count bytes at offset into out (resized to count); a
    // short read fails, so no missing byte is ever handed on. Each read goes
    // by its own offset: two threads may read one file.
    [[nodiscard]] bool read_at(std::uint64_t offset, std::uint64_t count, Bytes& out);
    [[nodiscard]] bool read_at(std::uint64_t offset, std::uint64_t count, ReadBuffer& out);
    // Reads count bytes at offset in pieces of at most read_piece_size into
    // buffer, handing each piece to use as it comes; fails on the first
    // short read.
    template <typename Use>
    [[nodiscard]] bool read_in_pieces(std::uint64_t offset, std::uint64_t count, ReadBuffer& buffer,
                                      Use use) {
        for (std::uint64_t done = 0; done < count; done += read_piece_size) {
            if (!read_at(offset + done, std::min(read_piece_size, count - done), buffer)) return false;
            use(buffer.view());
        }
        return true;
    }
    // The same into memory the caller holds, count bytes of it.
    [[nodiscard]] bool read_into(std::uint64_t offset, std::uint64_t count, std::uint8_t* out);

    // Reads the whole file.
    [[nodiscard]] bool read_all(Bytes& out) { return read_at(0, size_, out); }

private:
    // Whether count bytes at offset lie within the file and fit memory.
    bool readable(std::uint64_t offset, std::uint64_t count) const;

    std::FILE* file_ = nullptr;
    ByteView memory_;
    bool in_memory_ = false;
    std::uint64_t size_ = 0;
    FileProblem problem_ = FileProblem::none;
};

// Writes to a staged file of its own beside the target; commit() flushes it
// to the disk and renames it over the target. Destroyed without a successful
// commit, it removes the staged file, so a failed action leaves no partial
// output and an existing target untouched.
//
// The staged file gets a fresh, unpredictable name and is created only if
// no file of that name exists, never through a link, so it is only ever this
// run's: concurrent runs on one target each stage their own, and the last
// rename wins. A target that is a link is followed: the file it names is
// replaced and the link stays. An existing target that is not a regular file
// is refused. The new file keeps the permission bits of the one it replaces.
class StagedOutput {
public:
    StagedOutput() = default;
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    ~StagedOutput() { discard(); }

    [[nodiscard]] bool create(const std::string& target_path);
    FileProblem problem() const { return problem_; }
    // Writes into memory instead; commit then only checks (the fuzzers' way out).
    void create_in_memory();
    // Counts what is written and keeps none of it: a rehearsal, which can
    // neither be read back nor committed.
    void create_discarding();
    bool discarding() const { return discarding_; }
    bool in_memory() const { return in_memory_; }
    const Bytes& memory() const { return memory_; }

    // Writes are buffered, but for large ones, which go to the file at once;
    // any failure is remembered and makes commit fail.
    void write(ByteView bytes);
    void write(std::string_view text);
    // Overwrites bytes already written, at an absolute position.
    void write_at(std::uint64_t position, ByteView bytes);
    std::uint64_t position() const { return position_; }
    bool failed() const { return failed_; }

    // Flushes what was written and opens it for reading, to check it.
    [[nodiscard]] bool read_back(InputFile& reader);

    [[nodiscard]] bool commit();
    void discard();

    // The target as given, the file the rename replaces (the target with
    // its links followed), and the staged file.
    const std::string& target_path() const { return target_; }
    const std::string& replaced_path() const { return replaced_; }
    const std::string& temp_path() const { return temp_; }

private:
    // The stdio buffer, given by the caller: without one, glibc takes only
    // the buffering mode and writes four kilobytes a call.
    std::unique_ptr<char[]> buffer_;
    std::FILE* file_ = nullptr;
    bool in_memory_ = false;
    bool discarding_ = false;
    Bytes memory_;
    std::string target_;
    std::string replaced_;
    std::string temp_;
    int interrupt_slot_ = -1;
    std::optional<unsigned> mode_;  // the permission bits of the complete file
    std::uint64_t position_ = 0;
    bool failed_ = false;
    FileProblem problem_ = FileProblem::none;
};

// On an interrupt (SIGINT, SIGTERM, SIGHUP; the console's Ctrl+C, Ctrl+Break
// and close events on Windows) removes every staged file still open, then
// ends the process as the interrupt would have: by the same signal, or with
// STATUS_CONTROL_C_EXIT on Windows. Signals the process was started with
// ignored stay ignored. SIGPIPE and SIGXFSZ are ignored, so that a closed
// pipe or a file size limit fails a write rather than ends the program. For
// programs; call once at start.
void remove_staged_files_on_interrupt();

}  // namespace modtext
