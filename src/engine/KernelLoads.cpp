#include "engine/KernelLoads.h"

#include <cstdio>

#include "engine/KernelClasses.h"

namespace {

const char* const kNames[kLoadCount] = {"stream", "fma", "integer", "vector", "crypto", "cache"};
const KernelClassId kClassOf[kLoadCount] = {kClassCount, kClassFma, kClassInteger, kClassVector, kClassCrypto,
                                            kClassCount};

} // namespace

const char* KernelLoadName(unsigned int load)
{
    return load < kLoadCount ? kNames[load] : "";
}

unsigned int AvailableKernelLoads()
{
    unsigned int loads = 0;
    for (unsigned int load = 0; load < kLoadCount; ++load) {
        bool runs = kClassOf[load] == kClassCount;   // the stream and the cache run everywhere
        if (!runs) {
            const KernelClass& unitClass = GetKernelClass(kClassOf[load]);
            for (unsigned int v = 0; v < unitClass.variantCount && !runs; ++v)
                runs = VariantSupported(*unitClass.variants[v]);
        }
        if (runs)
            loads |= KernelLoadBit(load);
    }
    return loads;
}

void FormatKernelLoads(char* text, unsigned int size, unsigned int loads)
{
    unsigned int used = 0;
    text[0] = '\0';
    for (unsigned int load = 0; load < kLoadCount && used < size; ++load)
        if (loads & KernelLoadBit(load))
            used += std::snprintf(text + used, size - used, "%s%s", used ? "," : "", kNames[load]);
}
