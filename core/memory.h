#pragma once

#ifdef __GLIBC__
#include <malloc.h>
#endif

// Called before the first table is built. Arrays of a large table (a million rows, their column orders)
// then always come straight from the system and go back to it when freed. Left alone, glibc raises
// its threshold after the first such array is freed and keeps later ones in its per-thread heaps,
// where they stay resident after a refresh has replaced them.
inline void returnLargeBlocksToSystem() {
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

// Hands the pages of what was just freed back to the system, from every thread's heap; after a
// complete read of the tables, and before its rows are prepared. Once per refresh is enough.
inline void returnFreePagesToSystem() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
