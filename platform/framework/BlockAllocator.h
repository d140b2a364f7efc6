// Storage for pixel and decode buffers. Blocks of 2 MiB and more are aligned
// to 2 MiB and offered to the kernel as transparent huge pages, so that
// filling a large picture costs a few page faults rather than one per 4 KiB
// (on virtual machines those faults can cost more than decoding the
// picture). Elements that growth adds are left unset: every user states the
// value its bytes start with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

// Raise std::bad_alloc when the memory cannot be had.
void* AllocateBlock(size_t bytes);
void FreeBlock(void* block, size_t bytes) noexcept;

template <class T>
struct TBlockAllocator {
    using value_type = T;

    TBlockAllocator() = default;
    template <class U>
    TBlockAllocator(const TBlockAllocator<U>&) noexcept {}

    T* allocate(size_t count) {
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateBlock(count * sizeof(T)));
    }
    void deallocate(T* block, size_t count) noexcept { FreeBlock(block, count * sizeof(T)); }

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const TBlockAllocator<U>&) const noexcept {
        return true;
    }
};

// Bytes that resize leaves unset.
using TByteBlock = std::vector<uint8_t, TBlockAllocator<uint8_t>>;
