#include "probes/ProcessorBrand.h"

#include <intrin.h>

#include <cstring>

std::string ProcessorBrand()
{
    int regs[4] = {};
    __cpuid(regs, static_cast<int>(0x80000000u));
    if (static_cast<unsigned int>(regs[0]) < 0x80000004u)
        return std::string();
    char brand[49] = {};
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
        __cpuid(regs, static_cast<int>(0x80000002u + leaf));
        std::memcpy(brand + 16 * leaf, regs, 16);
    }
    const std::string text(brand);
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}
