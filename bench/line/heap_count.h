#pragma once
// Heap allocations made through operator new by the whole process (every thread) since it
// started. The benchmark replaces the global operator new to count them, so a figure per
// transaction shows what the library allocates on its paths (its containers, queued
// messages and callbacks all go through operator new).

#include <cstdint>

namespace quelvan::bench {

uint64_t HeapAllocations();

}  // namespace quelvan::bench
