#include "formats/bulk_buffer.h"

#include <new>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>

#include <cstdint>
#endif

namespace modtext {
namespace {

#ifdef __linux__
// Blocks this large are mapped in huge pages where the system allows them:
// filling 100 MB then costs fifty page faults instead of twenty-five thousand,
// which is most of the time a read of the block takes.
constexpr std::size_t huge_page = std::size_t{2} << 20;
constexpr std::size_t map_from = 2 * huge_page;
#endif

}  // namespace

void advise_huge_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t size) {
#ifdef __linux__
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + huge_page - 1) / huge_page * huge_page;
    const std::uintptr_t last = (start + size) / huge_page * huge_page;
    if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

BulkBuffer::BulkBuffer(std::size_t size) : size_(size) {
#ifdef __linux__
    if (size >= map_from && size <= SIZE_MAX - 2 * huge_page) {
        // One huge page more than needed, to start on a huge page boundary.
        const std::size_t rounded = (size + huge_page - 1) / huge_page * huge_page;
        mapping_size_ = rounded + huge_page;
        mapping_ = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                        -1, 0);
        if (mapping_ == MAP_FAILED) {
            mapping_ = nullptr;
            throw std::bad_alloc();
        }
        const auto start = reinterpret_cast<std::uintptr_t>(mapping_);
        data_ = reinterpret_cast<char*>((start + huge_page - 1) / huge_page * huge_page);
        // Only advice: without huge pages the block works the same, slower.
        advise_huge_pages(data_, rounded);
        return;
    }
#endif
    data_ = new char[size];
}

BulkBuffer::BulkBuffer(BulkBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mapping_size_(std::exchange(other.mapping_size_, 0)) {}

BulkBuffer& BulkBuffer::operator=(BulkBuffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mapping_size_ = std::exchange(other.mapping_size_, 0);
    }
    return *this;
}

void BulkBuffer::release() {
#ifdef __linux__
    if (mapping_) {
        munmap(mapping_, mapping_size_);
        mapping_ = nullptr;
        data_ = nullptr;
        return;
    }
#endif
    delete[] data_;
    data_ = nullptr;
}

}  // namespace modtext
