// Memory for one large block, in huge pages where the system gives them: a
// translation text read at once, the room a catalogue's texts are unescaped
// into. On some machines the first touch of each small page costs more than
// a copy of it.
#pragma once

#include <cstddef>

namespace modtext {

// Asks that the whole huge pages within [data, data + size) be given as
// huge pages when first touched; only advice, and nothing off Linux.
void advise_huge_pages(void* data, std::size_t size);

class BulkBuffer {
public:
    BulkBuffer() = default;
    // Size bytes, not zeroed first: the caller fills them. Throws
    // std::bad_alloc when the memory cannot be had.
    explicit BulkBuffer(std::size_t size);
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
