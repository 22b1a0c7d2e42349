#pragma once
// Buffers that files are read into and written from, aligned to a page. The kernel copies between
// a file's pages and a buffer with `rep movsb`, which on some processors (AMD Zen among them) runs
// about four times slower when the destination lies a few bytes (1 to 31) after the source within
// a page. A large malloc block starts 16 bytes into its page: a read into it from a page-aligned
// file offset, the working files' usual case, is exactly that. Page-aligned, it is not.
#include <cstddef>
#include <new>
#include <vector>

namespace cleavix::sample {

inline constexpr std::align_val_t kIoAlignment{4096};

template <class T>
struct PageAlignedAllocator {
    using value_type = T;
    PageAlignedAllocator() = default;
    template <class U>
    PageAlignedAllocator(const PageAlignedAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kIoAlignment)); }
    void deallocate(T* p, size_t) { ::operator delete(p, kIoAlignment); }
    template <class U>
    bool operator==(const PageAlignedAllocator<U>&) const {
        return true;
    }
};

template <class T>
using IoBuffer = std::vector<T, PageAlignedAllocator<T>>;

} // namespace cleavix::sample
