#include "formats/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>

namespace modtext {
namespace {

// A large stdio buffer for output: a module is written once, in big pieces.
constexpr std::size_t io_buffer_size = 1 << 20;
// Reads and writes go in pieces of at most 1 GB, which every system takes in
// one call.
constexpr std::size_t most_in_one_call = std::size_t{1} << 30;
#ifndef _WIN32
// Bytes this many or more go to the file at once, after what is buffered,
// rather than through the buffer: copying them there first would cost more
// than the calls saved.
constexpr std::size_t direct_write_size = std::size_t{64} << 10;

// Writes all of bytes through the descriptor; false on an error.
bool write_fully(int descriptor, ByteView bytes) {
    const std::uint8_t* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t put = ::write(descriptor, at, std::min(left, most_in_one_call));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        left -= static_cast<std::size_t>(put);
    }
    return true;
}
#endif

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
#ifdef _WIN32
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    while (count > 0) {
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(offset);
        place.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(handle, out, static_cast<DWORD>(std::min(count, most_in_one_call)), &got, &place) ||
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
        const ssize_t got = pread(descriptor, out, std::min(count, most_in_one_call), static_cast<off_t>(offset));
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


// What keeps an open from succeeding, by what lies at the path.
FileProblem problem_at(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? FileProblem::not_regular
               : FileProblem::cannot_open;
#else
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) ? FileProblem::not_regular
                                                                       : FileProblem::cannot_open;
#endif
}

#ifdef _WIN32
// A handle as a stdio stream, which then owns it.
std::FILE* stream_of(HANDLE handle, int flags, const char* mode) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, mode);
    if (!file) _close(descriptor);
    return file;
}

// Every sharing allowed: an interrupt may delete a staged file while it is
// read back, and nothing here locks a user's file.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
#endif

// Opens a regular file for reading. Nothing is opened in a way that could
// wait: a FIFO opened for reading waits for a writer, so the open does not
// wait, and whatever is not a regular file is refused before any read.
std::FILE* open_regular_for_reading(const std::string& path, FileProblem& problem) {
#ifdef _WIN32
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        problem = problem_at(path);
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        problem = FileProblem::not_regular;
        return nullptr;
    }
    std::FILE* file = stream_of(handle, _O_RDONLY, "rb");
    if (!file) problem = FileProblem::cannot_open;
    return file;
#else
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        problem = problem_at(path);  // a socket cannot be opened at all
        return nullptr;
    }
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        problem = FileProblem::not_regular;
        return nullptr;
    }
    // The flag mattered only for the open: reads of a regular file never wait.
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = fdopen(descriptor, "rb");
    if (!file) {
        ::close(descriptor);
        problem = FileProblem::cannot_open;
    }
    return file;
#endif
}

// The directory part of a path with its last separator, or nothing for a
// bare name in the current directory.
std::string directory_of(const std::string& path) {
#ifdef _WIN32
    const std::size_t end = path.find_last_of("/\\:");
#else
    const std::size_t end = path.rfind('/');
#endif
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// A short file name no other process can guess.
std::string fresh_staged_name() {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device() ^
                         static_cast<std::uint64_t>(
                             std::chrono::steady_clock::now().time_since_epoch().count());
    std::string name = ".modtext-";
    for (int i = 0; i < 12; ++i) {
        name += letters[bits % 36];
        bits /= 36;
    }
    return name + ".part";
}

// Learns what a target is: nothing yet (a new file), or a regular file,
// perhaps behind links, which the rename is to replace and whose permission
// bits the new file keeps. Anything else is refused.
bool resolve_target(const std::string& target, std::string& replaced,
                    std::optional<unsigned>& mode, FileProblem& problem) {
    replaced = target;
#ifdef _WIN32
    (void)mode;
    const HANDLE handle = CreateFileA(target.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;  // a new file, or a failure to create it
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(handle, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(handle);
    if (!regular) problem = FileProblem::not_regular;
    return regular;
#else
    struct stat link;
    // No file yet: a new one. A path that cannot be made shows when the
    // staged file is created.
    if (::lstat(target.c_str(), &link) != 0) return true;
    struct stat info;
    if (::stat(target.c_str(), &info) != 0) {
        problem = errno == ENOENT ? FileProblem::dangling_link : FileProblem::cannot_open;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = FileProblem::not_regular;
        return false;
    }
    if (S_ISLNK(link.st_mode)) {
        char* real = ::realpath(target.c_str(), nullptr);
        if (!real) return false;
        replaced = real;
        std::free(real);
    }
    // A rename needs only the directory's permission: a file the user may
    // not write (read-only, or another's) is refused as a write in place
    // would have been.
    if (::faccessat(AT_FDCWD, replaced.c_str(), W_OK, AT_EACCESS) != 0) {
        problem = FileProblem::cannot_open;
        return false;
    }
    // Not the owner, nor setuid, setgid or sticky: those are not the writer's to copy.
    mode = static_cast<unsigned>(info.st_mode & 0777);
    return true;
#endif
}

// Creates a file that did not exist, never through a link; tells whether the
// name was taken. While it is written it is the owner's alone, and readable
// for the check; mode is set to the bits it is to have once it is complete:
// those of the file it replaces, or 0666 less the umask.
std::FILE* create_new_file(const std::string& path, std::optional<unsigned>& mode, bool& name_taken) {
#ifdef _WIN32
    (void)mode;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, share_all, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    name_taken = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    std::FILE* file = stream_of(handle, _O_WRONLY, "wb");
    if (!file) DeleteFileA(path.c_str());
    return file;
#else
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    name_taken = descriptor < 0 && errno == EEXIST;
    if (descriptor < 0) return nullptr;
    std::FILE* file = nullptr;
    struct stat made;
    if (!mode && ::fstat(descriptor, &made) == 0) mode = static_cast<unsigned>(made.st_mode & 0777);
    if (!mode || ::fchmod(descriptor, S_IRUSR | S_IWUSR) != 0 || !(file = fdopen(descriptor, "wb"))) {
        ::close(descriptor);
        ::unlink(path.c_str());
        return nullptr;
    }
    return file;
#endif
}

// Gives a complete staged file the permission bits it is to have.
bool finish_mode(std::FILE* file, std::optional<unsigned> mode) {
#ifdef _WIN32
    (void)file;
    (void)mode;
    return true;
#else
    return !mode || ::fchmod(fileno(file), static_cast<mode_t>(*mode)) == 0;
#endif
}

// Puts what was written on the disk itself, so that a crash right after the
// rename finds the whole file.
bool sync_to_disk(std::FILE* file) {
#ifdef _WIN32
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
#else
    while (::fsync(fileno(file)) != 0) {
        if (errno == EINVAL) return true;  // a file system that keeps nothing to sync
        if (errno != EINTR) return false;
    }
    return true;
#endif
}

bool replace_file(const std::string& staged, const std::string& replaced) {
#ifdef _WIN32
    // A file another process holds for a moment (another run replacing the
    // same target, a scanner, an indexer) refuses to be replaced until it
    // lets go: try again for up to two seconds.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(staged.c_str(), replaced.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return true;
        }
        const DWORD error = GetLastError();
        if (attempt >= 200 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
            return false;
        }
        Sleep(10);
    }
#else
    return std::rename(staged.c_str(), replaced.c_str()) == 0;
#endif
}

// Makes the rename itself durable. The file is complete by then either way:
// a directory that cannot be synced fails nothing.
void sync_directory(const std::string& directory) {
#ifndef _WIN32
    const int descriptor =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    while (::fsync(descriptor) != 0 && errno == EINTR) {
    }
    ::close(descriptor);
#else
    (void)directory;
#endif
}

// The staged files an interrupt must remove. A signal handler can reach only
// process-wide memory, so this one table lives here, in fixed memory it may
// read at any moment.
constexpr std::size_t staged_path_capacity = 4096;
struct InterruptSlot {
    std::atomic<int> state{0};  // free, being filled, or naming a staged file
    std::array<char, staged_path_capacity> path{};
};
enum : int { slot_free = 0, slot_filling = 1, slot_staged = 2 };
std::array<InterruptSlot, 16> interrupt_slots;

int note_staged_file(const std::string& path) {
    if (path.size() >= staged_path_capacity) return -1;
    for (std::size_t i = 0; i < interrupt_slots.size(); ++i) {
        InterruptSlot& slot = interrupt_slots[i];
        int expected = slot_free;
        if (!slot.state.compare_exchange_strong(expected, slot_filling)) continue;
        std::memcpy(slot.path.data(), path.c_str(), path.size() + 1);
        slot.state.store(slot_staged);
        return static_cast<int>(i);
    }
    return -1;
}

void forget_staged_file(int slot) {
    if (slot >= 0) interrupt_slots[static_cast<std::size_t>(slot)].state.store(slot_free);
}

// Safe in a signal handler: atomic loads and unlink only.
void remove_noted_staged_files() {
    for (InterruptSlot& slot : interrupt_slots) {
        if (slot.state.load() != slot_staged) continue;
#ifdef _WIN32
        DeleteFileA(slot.path.data());
#else
        ::unlink(slot.path.data());
#endif
    }
}

#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    remove_noted_staged_files();
    // Not ExitProcess: the other threads may hold the runtime's locks, which
    // its orderly exit would wait for.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}
#else
extern "C" void on_interrupt(int signal_number) {
    remove_noted_staged_files();
    // The handler was reset to the default action on entry: raised again, the
    // signal ends the process once the handler returns, and the shell sees
    // the signal as usual.
    std::raise(signal_number);
}
#endif

}  // namespace

bool InputFile::open(const std::string& path) {
    close();
    problem_ = FileProblem::cannot_open;
    file_ = open_regular_for_reading(path, problem_);
    if (!file_) return false;
    std::int64_t end = -1;
    if (std::fseek(file_, 0, SEEK_END) == 0) end = tell_file(file_);
    if (end < 0 || !seek_file(file_, 0)) {
        close();
        problem_ = FileProblem::cannot_open;
        return false;
    }
    size_ = static_cast<std::uint64_t>(end);
    problem_ = FileProblem::none;
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
    position_ = 0;
    failed_ = false;
    problem_ = FileProblem::cannot_open;
    std::optional<unsigned> mode;
    if (!resolve_target(target_path, replaced_, mode, problem_)) return false;
    const std::string directory = directory_of(replaced_);
    // A name taken by chance is tried again under another; nothing that
    // exists is ever opened.
    for (int attempt = 0; attempt < 64 && !file_; ++attempt) {
        temp_ = directory + fresh_staged_name();
        // Noted before it exists, so that an interrupt from here on removes it.
        interrupt_slot_ = note_staged_file(temp_);
        bool name_taken = false;
        file_ = create_new_file(temp_, mode, name_taken);
        mode_ = mode;
        if (file_) break;
        forget_staged_file(interrupt_slot_);
        interrupt_slot_ = -1;
        temp_.clear();
        if (!name_taken) return false;
    }
    if (!file_) return false;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(io_buffer_size);
    std::setvbuf(file_, buffer_.get(), _IOFBF, io_buffer_size);
    problem_ = FileProblem::none;
    return true;
}

void StagedOutput::create_in_memory() {
    discard();
    in_memory_ = true;
    memory_.clear();
    position_ = 0;
    failed_ = false;
}

void StagedOutput::create_discarding() {
    discard();
    discarding_ = true;
    position_ = 0;
    failed_ = false;
}

void StagedOutput::write(ByteView bytes) {
    if (discarding_) {
        position_ += bytes.size();
        return;
    }
    if (in_memory_) {
        const auto at = static_cast<std::size_t>(position_);
        if (memory_.size() < at + bytes.size()) memory_.resize(at + bytes.size());
        std::copy(bytes.begin(), bytes.end(), memory_.begin() + static_cast<std::ptrdiff_t>(at));
        position_ += bytes.size();
        return;
    }
    if (!file_ || failed_ || bytes.empty()) return;
#ifndef _WIN32
    if (bytes.size() >= direct_write_size) {
        // The stream is flushed before the descriptor is written and told
        // where it stands after, as mixing the two requires.
        if (std::fflush(file_) != 0 || !write_fully(fileno(file_), bytes) ||
            !seek_file(file_, position_ + bytes.size())) {
            failed_ = true;
        }
        position_ += bytes.size();
        return;
    }
#endif
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
    position_ += bytes.size();
}

void StagedOutput::write(std::string_view text) {
    write(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void StagedOutput::write_at(std::uint64_t position, ByteView bytes) {
    if (discarding_) return;
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
    if (discarding_) return false;
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
    if (discarding_) return false;
    if (in_memory_) return !failed_;
    if (!file_) return false;
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_) && finish_mode(file_, mode_) &&
                         sync_to_disk(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !flushed || !closed) {
        failed_ = true;
        discard();
        return false;
    }
    if (!replace_file(temp_, replaced_)) {
        discard();
        return false;
    }
    forget_staged_file(interrupt_slot_);
    interrupt_slot_ = -1;
    temp_.clear();
    sync_directory(directory_of(replaced_));
    return true;
}

void StagedOutput::discard() {
    in_memory_ = false;
    discarding_ = false;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    // Only ever this run's own file: it was created new under this name.
    if (!temp_.empty()) std::remove(temp_.c_str());
    forget_staged_file(interrupt_slot_);
    interrupt_slot_ = -1;
    temp_.clear();
}

std::optional<FileIdentity> file_identity(const std::string& path) {
#ifdef _WIN32
    const HANDLE handle = CreateFileA(path.c_str(), 0, share_all, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
#else
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
#endif
}

void report_file_problem(Reporter& reporter, FileProblem problem, const std::string& path) {
    switch (problem) {
        case FileProblem::not_regular:
            report(reporter, Severity::error, "Error: %s is not a regular file!\n", path.c_str());
            break;
        case FileProblem::dangling_link:
            report(reporter, Severity::error, "Error: %s is a link to a file that does not exist!\n",
                   path.c_str());
            break;
        default: report(reporter, Severity::error, "Error opening file: %s\n", path.c_str());
    }
}

bool same_file(const std::string& a, const std::string& b) {
    const auto first = file_identity(a);
    return first && first == file_identity(b);
}

void remove_staged_files_on_interrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    // A closed pipe or a file size limit fails the write instead of ending
    // the program with its staged file left behind.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        sigaction(signal_number, &action, nullptr);
    }
#endif
}

}  // namespace modtext
