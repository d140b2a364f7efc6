#include "BlockAllocator.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

constexpr size_t HugePage = size_t(2) << 20;

}  // namespace

void* AllocateBlock(size_t bytes) {
    if (bytes < HugePage) return ::operator new(bytes);
    const size_t rounded = (bytes + HugePage - 1) & ~(HugePage - 1);
    if (rounded < bytes) throw std::bad_alloc();
    void* block = std::aligned_alloc(HugePage, rounded);
    if (!block) throw std::bad_alloc();
    // Only advice: where the kernel offers no huge pages nothing changes.
    madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

void FreeBlock(void* block, size_t bytes) noexcept {
    if (bytes < HugePage)
        ::operator delete(block);
    else
        std::free(block);
}
