#include "translation/resource_writer.h"

#include "formats/checksum.h"

namespace modtext {

std::uint64_t ResourcePiece::size() const {
    std::uint64_t total = 0;
    for (ByteView part : parts) total += part.size();
    return total;
}

ResourceWriter::ResourceWriter(StagedOutput& output, InputFile& source)
    : output_(output), source_(source), thread_([this] { run(); }) {}

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
        return room || unread_ || failure_;
    });
    if (unread_ || failure_) return nullptr;
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
                            Reporter& reporter) {
    stop();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    if (unread_) {
        report_unread_resource(reporter, archive, *unread_);
        return false;
    }
    checksums = std::move(checksums_);
    return true;
}

void ResourceWriter::run() {
    try {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !jobs_.empty() || closing_; });
                if (jobs_.empty() || abandoned_) return;
                job = jobs_.front();
            }
            Checksum checksum;
            const auto write = [&](ByteView part) {
                output_.write(part);
                checksum.update(part);
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
        }
    } catch (...) {
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        changed_.notify_all();
    }
}

}  // namespace modtext
