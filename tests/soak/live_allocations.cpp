#include "live_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int64_t> live{0};

void* Allocate(std::size_t Size) {
    void* p = std::malloc(Size == 0 ? 1 : Size);
    if (!p) throw std::bad_alloc();
    live.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void Release(void* P) noexcept {
    if (!P) return;
    live.fetch_sub(1, std::memory_order_relaxed);
    std::free(P);
}
}  // namespace

namespace quelvan::test {
int64_t LiveAllocations() { return live.load(std::memory_order_relaxed); }
}  // namespace quelvan::test

// The array, nothrow and sized forms of the standard library forward to these two. The
// over-aligned forms keep their own allocator and are not counted.
void* operator new(std::size_t Size) { return Allocate(Size); }
void* operator new[](std::size_t Size) { return Allocate(Size); }
void operator delete(void* P) noexcept { Release(P); }
void operator delete[](void* P) noexcept { Release(P); }
void operator delete(void* P, std::size_t) noexcept { Release(P); }
void operator delete[](void* P, std::size_t) noexcept { Release(P); }
