#include "formats/files.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

namespace modtext {
namespace {

// A large stdio buffer for output: a module is written once, in big pieces.
constexpr std::size_t io_buffer_size = 1 << 20;

bool seek_file(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t tell_file(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}

// Reads count bytes at offset, whatever position another read left behind,
// so that two threads may read one file, each at its own offsets. Fails on
// a short read.
bool read_file_at(std::FILE* file, std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    // Pieces of at most 1 GB, which every system takes in one call.
    constexpr std::size_t most = std::size_t{1} << 30;
#ifdef _WIN32
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    while (count > 0) {
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(offset);
        place.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(handle, out, static_cast<DWORD>(std::min(count, most)), &got, &place) ||
            got == 0) {
            return false;
        }
        out += got;
        offset += got;
        count -= got;
    }
#else
    const int descriptor = fileno(file);
    while (count > 0) {
        const ssize_t got = pread(descriptor, out, std::min(count, most), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        const auto taken = static_cast<std::size_t>(got);
        out += taken;
        offset += taken;
        count -= taken;
    }
#endif
    return true;
}

bool regular_file(std::FILE* file) {
#ifdef _WIN32
    struct _stat64 info;
    return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFREG) != 0;
#else
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

}  // namespace

bool InputFile::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    // A directory or a device has no size to read by.
    if (!regular_file(file_)) {
        close();
        return false;
    }
    std::int64_t end = -1;
    if (std::fseek(file_, 0, SEEK_END) == 0) end = tell_file(file_);
    if (end < 0 || !seek_file(file_, 0)) {
        close();
        return false;
    }
    size_ = static_cast<std::uint64_t>(end);
    return true;
}

void InputFile::open_memory(ByteView bytes) {
    close();
    memory_ = bytes;
    in_memory_ = true;
    size_ = bytes.size();
}

void InputFile::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    in_memory_ = false;
    memory_ = {};
    size_ = 0;
}

bool InputFile::read_into(std::uint64_t offset, std::uint64_t count, std::uint8_t* out) {
    if ((!file_ && !in_memory_) || !extent_within(offset, count, size_)) return false;
    if (count == 0) return true;
    const auto n = static_cast<std::size_t>(count);
    if (in_memory_) {
        std::memcpy(out, memory_.data() + offset, n);
        return true;
    }
    return read_file_at(file_, offset, out, n);
}

bool InputFile::readable(std::uint64_t offset, std::uint64_t count) const {
    return extent_within(offset, count, size_) && count <= std::numeric_limits<std::size_t>::max();
}

bool InputFile::read_at(std::uint64_t offset, std::uint64_t count, Bytes& out) {
    if (!readable(offset, count)) return false;
    out.resize(static_cast<std::size_t>(count));
    return read_into(offset, count, out.data());
}

bool InputFile::read_at(std::uint64_t offset, std::uint64_t count, ReadBuffer& out) {
    if (!readable(offset, count)) return false;
    return read_into(offset, count, out.prepare(static_cast<std::size_t>(count)));
}

bool StagedOutput::create(const std::string& target_path) {
    discard();
    target_ = target_path;
    temp_ = target_path + ".modtext-part";
    position_ = 0;
    failed_ = false;
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_) return false;
    std::setvbuf(file_, nullptr, _IOFBF, io_buffer_size);
    return true;
}

void StagedOutput::create_in_memory() {
    discard();
    in_memory_ = true;
    memory_.clear();
    position_ = 0;
    failed_ = false;
}

void StagedOutput::write(ByteView bytes) {
    if (in_memory_) {
        const auto at = static_cast<std::size_t>(position_);
        if (memory_.size() < at + bytes.size()) memory_.resize(at + bytes.size());
        std::copy(bytes.begin(), bytes.end(), memory_.begin() + static_cast<std::ptrdiff_t>(at));
        position_ += bytes.size();
        return;
    }
    if (!file_ || failed_ || bytes.empty()) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
    position_ += bytes.size();
}

void StagedOutput::write(std::string_view text) {
    write(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void StagedOutput::write_at(std::uint64_t position, ByteView bytes) {
    if (in_memory_) {
        const std::uint64_t end = position_;
        position_ = position;
        write(bytes);
        position_ = end;
        return;
    }
    if (!file_ || failed_) return;
    const std::uint64_t end = position_;
    if (!seek_file(file_, position)) {
        failed_ = true;
        return;
    }
    position_ = position;
    write(bytes);
    if (!failed_ && !seek_file(file_, end)) failed_ = true;
    position_ = end;
}

bool StagedOutput::read_back(InputFile& reader) {
    if (in_memory_) {
        reader.open_memory(memory_);
        return !failed_;
    }
    if (!file_ || failed_ || std::fflush(file_) != 0) {
        failed_ = true;
        return false;
    }
    return reader.open(temp_);
}

bool StagedOutput::commit() {
    if (in_memory_) return !failed_;
    if (!file_) return false;
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !flushed || !closed) {
        failed_ = true;
        discard();
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temp_, target_, error);
    if (error) {
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void StagedOutput::discard() {
    in_memory_ = false;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) std::remove(temp_.c_str());
    temp_.clear();
}

}  // namespace modtext
