// Raw byte files: a source read by offset, and an output that replaces its
// target only once it is complete.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

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

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { close(); }

    // Opens for raw reading and learns the file's size.
    [[nodiscard]] bool open(const std::string& path);
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
};

// Writes to a temporary file beside the target; commit() flushes, closes and
// renames it over the target. Destroyed without a successful commit, it
// removes the temporary file, so a failed action leaves no partial output and
// an existing target untouched.
class StagedOutput {
public:
    StagedOutput() = default;
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    ~StagedOutput() { discard(); }

    [[nodiscard]] bool create(const std::string& target_path);
    // Writes into memory instead; commit then only checks (the fuzzers' way out).
    void create_in_memory();
    const Bytes& memory() const { return memory_; }

    // Writes are buffered; any failure is remembered and makes commit fail.
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

    const std::string& target_path() const { return target_; }
    const std::string& temp_path() const { return temp_; }

private:
    std::FILE* file_ = nullptr;
    bool in_memory_ = false;
    Bytes memory_;
    std::string target_;
    std::string temp_;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace modtext
