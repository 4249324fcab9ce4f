#include "translation/resource_writer.h"

#include "formats/checksum.h"

namespace modtext {

std::uint64_t ResourcePiece::size() const {
    std::uint64_t total = 0;
    for (ByteView part : parts) total += part.size();
    return total;
}

std::optional<std::string> written_resource_fault(InputFile& written, std::size_t index, std::uint64_t offset,
                                                  std::uint64_t size, std::uint64_t checksum, ReadBuffer& buffer) {
    Checksum read;
    if (!written.read_in_pieces(offset, size, buffer, [&read](ByteView piece) { read.update(piece); })) {
        return "resource " + std::to_string(index) + " is not where it was written";
    }
    if (read.value() != checksum) return "resource " + std::to_string(index) + " does not hold the bytes written";
    return std::nullopt;
}

ResourceWriter::ResourceWriter(StagedOutput& output, InputFile& source, std::uint64_t offset)
    : output_(output), source_(source), thread_([this] { run(); }) {
    unchecked_.offset = offset;
}

ResourceWriter::~ResourceWriter() {
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    stop();
}

void ResourceWriter::copy(std::size_t index, ResourceEntry entry) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(Job{entry, index, 0});
    }
    changed_.notify_all();
}

ResourcePiece* ResourceWriter::next_piece(std::uint64_t size) {
    std::unique_lock lock(mutex_);
    const auto ready = [this, size] {
        const bool room = pieces_pending_ < pieces_.size() &&
                          (bytes_pending_ == 0 || bytes_pending_ + size <= ahead_bytes);
        return room || unread_ || failure_ || !fault_.empty();
    };
    for (;;) {
        changed_.wait(lock, [this, &ready] { return ready() || !runs_.empty(); });
        if (ready()) break;
        // Waiting for room, the rebuilding reads back a run instead.
        CheckRun run = pop_run();
        lock.unlock();
        (void)check_run(run, rebuild_check_buffer_);
        lock.lock();
    }
    if (unread_ || failure_ || !fault_.empty()) return nullptr;
    ResourcePiece& piece = pieces_[pieces_handed_ % pieces_.size()];
    if (piece.source.view().size() > kept_bytes || piece.size() > kept_bytes) piece = ResourcePiece{};
    piece.parts.clear();
    return &piece;
}

void ResourceWriter::hand_on() {
    {
        const std::lock_guard lock(mutex_);
        const std::size_t index = pieces_handed_++ % pieces_.size();
        jobs_.push_back(Job{std::nullopt, 0, index});
        ++pieces_pending_;
        bytes_pending_ += pieces_[index].source.view().size();
    }
    changed_.notify_all();
}

void ResourceWriter::stop() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool ResourceWriter::finish(const ModuleArchive& archive, std::vector<std::uint64_t>& checksums,
                            std::size_t& checked, Reporter& reporter) {
    stop();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    if (unread_) {
        report_unread_resource(reporter, archive, *unread_);
        return false;
    }
    if (!fault_.empty()) {
        report(reporter, Severity::error, "Error: the written MOD failed its check: %s; nothing was written!\n",
               fault_.c_str());
        return false;
    }
    checked = checked_;
    checksums = std::move(checksums_);
    return true;
}

bool ResourceWriter::close_run() {
    // Nothing to read back from a rehearsal; and an output that cannot be
    // read back has failed, which the end of the writing tells. Neither is
    // tried again.
    auto written = std::make_unique<InputFile>();
    if (output_.discarding() || !output_.read_back(*written)) {
        checking_ = false;
        return true;
    }
    CheckRun run = std::move(unchecked_);
    run.written = std::move(written);
    unchecked_ = CheckRun{};
    unchecked_.offset = run.offset + run.bytes;
    unchecked_.first = run.first + run.resources.size();
    if (output_.in_memory()) return check_run(run, check_buffer_);
    {
        const std::lock_guard lock(mutex_);
        runs_.push_back(std::move(run));
    }
    changed_.notify_all();
    return true;
}

bool ResourceWriter::check_run(const CheckRun& run, ReadBuffer& buffer) {
    std::uint64_t offset = run.offset;
    std::size_t index = run.first;
    for (const auto& [size, checksum] : run.resources) {
        if (auto fault = written_resource_fault(*run.written, index, offset, size, checksum, buffer)) {
            {
                const std::lock_guard lock(mutex_);
                if (fault_.empty() || index < fault_index_) {
                    fault_ = std::move(*fault);
                    fault_index_ = index;
                }
            }
            changed_.notify_all();
            return false;
        }
        offset += size;
        ++index;
    }
    {
        // Only what was read back counts as checked: a run not read back
        // for any reason is read by the check at the end.
        const std::lock_guard lock(mutex_);
        read_back_.emplace_back(run.first, index);
        for (auto at = read_back_.begin(); at != read_back_.end();) {
            if (at->first != checked_) {
                ++at;
                continue;
            }
            checked_ = at->second;
            read_back_.erase(at);
            at = read_back_.begin();
        }
    }
    return true;
}

ResourceWriter::CheckRun ResourceWriter::pop_run() {
    CheckRun run = std::move(runs_.front());
    runs_.pop_front();
    return run;
}

std::optional<ResourceWriter::CheckRun> ResourceWriter::take_run(std::size_t leaving) {
    const std::lock_guard lock(mutex_);
    if (runs_.size() <= leaving) return std::nullopt;
    return pop_run();
}

void ResourceWriter::run() {
    try {
        for (;;) {
            Job job;
            std::optional<CheckRun> waiting;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !jobs_.empty() || !runs_.empty() || closing_; });
                if (abandoned_ || !fault_.empty()) return;
                if (!jobs_.empty()) {
                    job = jobs_.front();
                } else if (!runs_.empty()) {
                    // Nothing to write: a run waiting is read back meanwhile.
                    waiting = pop_run();
                } else {
                    break;
                }
            }
            if (waiting) {
                if (!check_run(*waiting, check_buffer_)) return;
                continue;
            }
            Checksum checksum;
            std::uint64_t size = 0;
            const auto write = [&](ByteView part) {
                output_.write(part);
                checksum.update(part);
                size += part.size();
            };
            if (job.copy) {
                if (!source_.read_in_pieces(job.copy->offset, job.copy->size, copy_buffer_, write)) {
                    const std::lock_guard state_lock(mutex_);
                    unread_ = job.resource;
                    changed_.notify_all();
                    return;
                }
            } else {
                // What a job names is the writer's alone until the job is done.
                for (ByteView part : pieces_[job.piece].parts) write(part);
            }
            checksums_.push_back(checksum.value());
            unchecked_.resources.emplace_back(size, checksum.value());
            unchecked_.bytes += size;
            {
                const std::lock_guard lock(mutex_);
                jobs_.pop_front();
                if (!job.copy) {
                    // Still the writer's piece here: its size is the one added.
                    bytes_pending_ -= pieces_[job.piece].source.view().size();
                    --pieces_pending_;
                }
            }
            changed_.notify_all();
            if (checking_ && unchecked_.bytes >= check_bytes && !close_run()) return;
            if (auto oldest = take_run(runs_waiting)) {
                if (!check_run(*oldest, check_buffer_)) return;
            }
        }
        // Everything is written: the last run is closed, and every run
        // still waiting is read back here.
        if (checking_ && !unchecked_.resources.empty() && !close_run()) return;
        while (auto left = take_run(0)) {
            if (!check_run(*left, check_buffer_)) return;
        }
    } catch (...) {
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        changed_.notify_all();
    }
}

}  // namespace modtext
