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
    : output_(output), source_(source), check_from_(offset), thread_([this] { run(); }) {}

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
    changed_.wait(lock, [this, size] {
        const bool room = pieces_pending_ < pieces_.size() &&
                          (bytes_pending_ == 0 || bytes_pending_ + size <= ahead_bytes);
        return room || unread_ || failure_ || !fault_.empty();
    });
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
    checked = checksums_.size() - unchecked_.size();
    checksums = std::move(checksums_);
    return true;
}

bool ResourceWriter::check_written() {
    if (unchecked_.empty()) return true;
    // Nothing to read back from a rehearsal; and an output that cannot be
    // read back has failed, which the end of the writing tells. Neither is
    // tried again.
    InputFile written;
    if (output_.discarding() || !output_.read_back(written)) {
        checking_ = false;
        return true;
    }
    std::size_t index = checksums_.size() - unchecked_.size();
    for (const std::uint64_t size : unchecked_) {
        if (auto fault = written_resource_fault(written, index, check_from_, size, checksums_[index], check_buffer_)) {
            const std::lock_guard lock(mutex_);
            fault_ = std::move(*fault);
            changed_.notify_all();
            return false;
        }
        check_from_ += size;
        ++index;
    }
    unchecked_.clear();
    unchecked_bytes_ = 0;
    return true;
}

void ResourceWriter::run() {
    try {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !jobs_.empty() || closing_; });
                if (abandoned_) return;
                if (jobs_.empty()) break;
                job = jobs_.front();
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
            unchecked_.push_back(size);
            unchecked_bytes_ += size;
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
            if (checking_ && unchecked_bytes_ >= check_bytes && !check_written()) return;
        }
        if (checking_) (void)check_written();
    } catch (...) {
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        changed_.notify_all();
    }
}

}  // namespace modtext
