// The allocator of a table's columns. A column of a long log is a block of
// megabytes; taken straight from the kernel with huge pages allowed, it
// costs a few hundred page faults instead of tens of thousands, which is
// most of what opening a million QSOs spent besides reading them.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include <sys/mman.h>

namespace qardel {

template <class T> struct BigAlloc {
    using value_type = T;
    // below this a block comes from the ordinary heap
    static constexpr size_t kBigBytes = size_t(1) << 20;

    BigAlloc() = default;
    template <class U> BigAlloc(const BigAlloc<U>&) noexcept {}

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kBigBytes) return std::allocator<T>().allocate(n);
        void* p =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        // only a hint: without huge pages the block works the same
        ::madvise(p, bytes, MADV_HUGEPAGE);
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) noexcept {
        const size_t bytes = n * sizeof(T);
        if (bytes < kBigBytes)
            std::allocator<T>().deallocate(p, n);
        else
            ::munmap(p, bytes);
    }
    friend bool operator==(const BigAlloc&, const BigAlloc&) { return true; }
};

// A column's vector of values.
template <class T> using BigVector = std::vector<T, BigAlloc<T>>;

} // namespace qardel
