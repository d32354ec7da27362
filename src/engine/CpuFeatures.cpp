#include <cpuid.h>

#include "engine/CpuFeatures.h"

namespace {

// CPUID leaf 1, ECX
const unsigned int kPclmulBit = 1u << 1, kSsse3Bit = 1u << 9, kFmaBit = 1u << 12, kSse41Bit = 1u << 19,
                   kSse42Bit = 1u << 20, kPopcntBit = 1u << 23, kAesBit = 1u << 25, kOsxsaveBit = 1u << 27,
                   kAvxBit = 1u << 28;
// CPUID leaf 7, EBX
const unsigned int kBmi1Bit = 1u << 3, kAvx2Bit = 1u << 5, kBmi2Bit = 1u << 8, kAvx512fBit = 1u << 16,
                   kShaBit = 1u << 29, kAvx512bwBit = 1u << 30;
// CPUID leaf 0x80000001, ECX
const unsigned int kLzcntBit = 1u << 5;
// XCR0: XMM and YMM state; opmask, ZMM upper halves and ZMM16-31
const unsigned long long kXcr0Avx = 0x06, kXcr0Avx512 = 0xE0;

} // namespace

CpuidWords ReadCpuidWords()
{
    CpuidWords words = {};
    unsigned int eax, ebx, ecx, edx;
    __cpuid(0, eax, ebx, ecx, edx);
    words.maxLeaf = eax;
    if (words.maxLeaf >= 1) {
        __cpuid(1, eax, ebx, ecx, edx);
        words.leaf1Ecx = ecx;
    }
    if (words.maxLeaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        words.leaf7Ebx = ebx;
    }
    __cpuid(0x80000000u, eax, ebx, ecx, edx);
    words.maxExtLeaf = eax;
    if (words.maxExtLeaf >= 0x80000001u) {
        __cpuid(0x80000001u, eax, ebx, ecx, edx);
        words.ext1Ecx = ecx;
    }
    // XGETBV faults unless the operating system has set CR4.OSXSAVE.
    if (words.leaf1Ecx & kOsxsaveBit) {
        unsigned int low, high;
        asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        words.xcr0 = (static_cast<unsigned long long>(high) << 32) | low;
    }
    return words;
}

unsigned int DecodeCpuFeatures(const CpuidWords& words)
{
    if (words.maxLeaf < 1)
        return 0;
    const unsigned int ecx = words.leaf1Ecx;
    const unsigned int ebx7 = words.maxLeaf >= 7 ? words.leaf7Ebx : 0;
    unsigned int features = 0;
    if (ecx & kSsse3Bit) features |= kCpuSsse3;
    if (ecx & kSse41Bit) features |= kCpuSse41;
    if (ecx & kSse42Bit) features |= kCpuSse42;
    if (ecx & kPopcntBit) features |= kCpuPopcnt;
    if (ecx & kAesBit) features |= kCpuAes;
    if (ecx & kPclmulBit) features |= kCpuPclmul;
    if (ebx7 & kBmi1Bit) features |= kCpuBmi1;
    if (ebx7 & kBmi2Bit) features |= kCpuBmi2;
    if (ebx7 & kShaBit) features |= kCpuSha;
    if (words.maxExtLeaf >= 0x80000001u && (words.ext1Ecx & kLzcntBit))
        features |= kCpuLzcnt;
    // The wide registers only where the operating system saves them.
    const bool ymm = (ecx & kOsxsaveBit) && (words.xcr0 & kXcr0Avx) == kXcr0Avx;
    if (ymm && (ecx & kAvxBit)) {
        features |= kCpuAvx;
        if (ebx7 & kAvx2Bit) features |= kCpuAvx2;
        if (ecx & kFmaBit) features |= kCpuFma;
        if ((words.xcr0 & kXcr0Avx512) == kXcr0Avx512 && (ebx7 & kAvx512fBit)) {
            features |= kCpuAvx512f;
            if (ebx7 & kAvx512bwBit) features |= kCpuAvx512bw;
        }
    }
    return features;
}

unsigned int CpuFeatures()
{
    static const unsigned int features = DecodeCpuFeatures(ReadCpuidWords());
    return features;
}
