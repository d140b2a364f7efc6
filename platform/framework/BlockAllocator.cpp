#include "BlockAllocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t HugePage = size_t(2) << 20;

}  // namespace

// A large block is cut from a plain allocation with a huge page to spare,
// and the allocation's own address is kept just below the block. An aligned
// allocation would do, but the C library maps every such request afresh and
// unmaps it when freed, so each new picture of the same size would pay its
// page faults again; a plain one it hands out again.
void* AllocateBlock(size_t bytes) {
    if (bytes < HugePage) return ::operator new(bytes);
    const size_t rounded = (bytes + HugePage - 1) & ~(HugePage - 1);
    if (rounded < bytes || rounded > SIZE_MAX - HugePage) throw std::bad_alloc();
    void* allocation = std::malloc(rounded + HugePage);
    if (!allocation) throw std::bad_alloc();
    // The next boundary above the allocation, which starts at least 16 bytes
    // before it.
    auto* block = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(allocation) + HugePage) & ~(HugePage - 1));
    std::memcpy(block - sizeof allocation, &allocation, sizeof allocation);
    // Only advice: where the kernel offers no huge pages nothing changes.
    madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

void FreeBlock(void* block, size_t bytes) noexcept {
    if (bytes < HugePage) {
        ::operator delete(block);
        return;
    }
    void* allocation;
    std::memcpy(&allocation, static_cast<uint8_t*>(block) - sizeof allocation, sizeof allocation);
    std::free(allocation);
}
