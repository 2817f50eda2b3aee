#pragma once
// Heap blocks that are allocated through operator new and not yet freed, counted across the
// whole process (the library included). Linking live_allocations.cpp into an executable
// replaces the global operator new and delete of that executable; nothing else changes.
//
// A count, not a byte total: a leak of one small object per transaction shows up as clearly
// as a large one, and the figure does not move with the allocator's caching (or a
// sanitizer's quarantine), as the resident set size does.

#include <cstdint>

namespace quelvan::test {

int64_t LiveAllocations();

}  // namespace quelvan::test
