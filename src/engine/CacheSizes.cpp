#include "engine/CacheSizes.h"

#include <algorithm>
#include <vector>

#include "kernel/KernelServices.h"

namespace {

const SIZE_T kMB = 1u << 20;
const SIZE_T kLargestArea = 64 * kMB;

unsigned int CountBits(KAFFINITY mask)
{
    unsigned int n = 0;
    for (; mask; mask &= mask - 1)
        ++n;
    return n;
}

// Three quarters of a cache, in whole 512-byte granules: the area and the stack,
// the workspace and the code still fit beside it.
SIZE_T AreaFor(SIZE_T cacheBytes)
{
    return std::max<SIZE_T>(512, cacheBytes / 4 * 3 / 512 * 512);
}

} // namespace

CacheAreaSizes ReadCacheAreaSizes(unsigned int workers, unsigned int processors)
{
    SIZE_T l2 = 0, l3 = 0;
    unsigned int l3Sharing = 0;
    DWORD length = 0;
    g_kernel.GetLogicalProcessorInformationEx(RelationCache, nullptr, &length);
    std::vector<unsigned char> bytes(length);
    if (length && g_kernel.GetLogicalProcessorInformationEx(
                      RelationCache, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(bytes.data()), &length)) {
        for (DWORD at = 0; at + sizeof(DWORD) * 2 <= length;) {
            const auto* info = reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(bytes.data() + at);
            if (info->Size == 0)
                break;
            const CACHE_RELATIONSHIP& cache = info->Cache;
            if (info->Relationship == RelationCache && cache.Type != CacheInstruction) {
                if (cache.Level == 2)
                    l2 = std::max<SIZE_T>(l2, cache.CacheSize);
                if (cache.Level == 3 && cache.CacheSize > l3) {
                    l3 = cache.CacheSize;
                    l3Sharing = CountBits(cache.GroupMask.Mask);
                }
            }
            at += info->Size;
        }
    }
    if (l2 == 0)
        l2 = kMB;
    if (l3 == 0) {
        l3 = 8 * kMB;
        l3Sharing = processors;
    }
    // The workers that share one L3: its processors' share of all the workers.
    const unsigned int sharing = std::max(1u, std::min(workers, l3Sharing ? (workers * l3Sharing + processors - 1) /
                                                                            std::max(1u, processors)
                                                                        : workers));
    CacheAreaSizes sizes;
    sizes.l2Bytes = std::min(AreaFor(l2), kLargestArea);
    sizes.l3Bytes = std::min(std::max(AreaFor(l3 / sharing), sizes.l2Bytes), kLargestArea);
    return sizes;
}
