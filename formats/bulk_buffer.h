// Memory for one large block that is filled whole right after it is taken,
// such as a translation text read at once.
#pragma once

#include <cstddef>

namespace modtext {

class BulkBuffer {
public:
    BulkBuffer() = default;
    // How the block is filled: whole, by one read or copy right after it is
    // taken, or piece by piece as its texts are made, and only in part.
    enum class Fill { whole, piecemeal };
    // Size bytes, not zeroed first: the caller fills them. Throws
    // std::bad_alloc when the memory cannot be had.
    explicit BulkBuffer(std::size_t size, Fill fill = Fill::whole);
    BulkBuffer(BulkBuffer&& other) noexcept;
    BulkBuffer& operator=(BulkBuffer&& other) noexcept;
    BulkBuffer(const BulkBuffer&) = delete;
    BulkBuffer& operator=(const BulkBuffer&) = delete;
    ~BulkBuffer() { release(); }

    char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    void release();

    char* data_ = nullptr;
    std::size_t size_ = 0;
    // Where the block was mapped from the system, when it was (null otherwise).
    void* mapping_ = nullptr;
    std::size_t mapping_size_ = 0;
};

}  // namespace modtext
