#include "heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> allocations{0};

void* CountedMalloc(std::size_t Size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(Size == 0 ? 1 : Size);
}

void* Allocate(std::size_t Size) {
    if (void* p = CountedMalloc(Size)) return p;
    throw std::bad_alloc();
}

}  // namespace

// The unaligned forms; the library allocates nothing over-aligned.
void* operator new(std::size_t Size) { return Allocate(Size); }
void* operator new[](std::size_t Size) { return Allocate(Size); }
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept { return CountedMalloc(Size); }
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept { return CountedMalloc(Size); }
void operator delete(void* P) noexcept { std::free(P); }
void operator delete[](void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }
void operator delete[](void* P, std::size_t) noexcept { std::free(P); }

namespace quelvan::bench {

uint64_t HeapAllocations() { return allocations.load(std::memory_order_relaxed); }

}  // namespace quelvan::bench
