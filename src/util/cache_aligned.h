// Storage that starts on a cache line.
//
// malloc hands out large blocks 16 bytes past a page boundary, so every 32- or 64-byte vector load
// of a state row kept in a plain std::vector straddles two cache lines; the hard-pulse step at ten
// spins took a third longer on such a row than on one that starts on a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace velmora::util {

inline constexpr std::size_t kCacheLineBytes = 64;

// A standard allocator whose blocks start on a cache line. Each block is taken from malloc a line
// larger and handed out from its first line boundary, with malloc's own pointer kept just before
// it: large blocks then come and go as malloc's do (mapped and unmapped whole), where an aligned
// allocation may stay in the heap and raise a run's peak by several rows.
template <class T> struct CacheLineAllocator {
    using value_type = T;

    CacheLineAllocator() noexcept = default;
    template <class U> CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > (SIZE_MAX - kCacheLineBytes - sizeof(void*)) / sizeof(T))
            throw std::bad_alloc();
        void* const raw = std::malloc(n * sizeof(T) + kCacheLineBytes + sizeof(void*));
        if (raw == nullptr)
            throw std::bad_alloc();
        const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
        const std::uintptr_t aligned = (first + kCacheLineBytes - 1) & ~std::uintptr_t{kCacheLineBytes - 1};
        void** const block = reinterpret_cast<void**>(aligned);
        block[-1] = raw;
        return reinterpret_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t /*n*/) noexcept
    {
        if (p != nullptr)
            std::free(reinterpret_cast<void**>(p)[-1]);
    }

    friend bool operator==(const CacheLineAllocator&, const CacheLineAllocator&) noexcept { return true; }
};

template <class T> using CacheAlignedVector = std::vector<T, CacheLineAllocator<T>>;

}  // namespace velmora::util
