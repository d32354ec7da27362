#pragma once
#include <windows.h>

// The sizes of the cache-sized areas a worker's cache load streams over: one that
// fits its core's L2, one that fits its share of the L3 (the L3 shared by the
// workers on the processors that share it). Multiples of 512 bytes.
struct CacheAreaSizes {
    SIZE_T l2Bytes, l3Bytes;
};

// From the caches Windows reports through the kernel seam; where it reports
// none, 1 MB of L2 and 8 MB of L3 shared by every processor are assumed.
// `workers`: how many run; `processors`: how many logical processors they may use.
CacheAreaSizes ReadCacheAreaSizes(unsigned int workers, unsigned int processors);
