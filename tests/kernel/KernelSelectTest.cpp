#include <gtest/gtest.h>

#include "engine/WorkerKernel.h"

namespace {

const unsigned int kOsxsave = 1u << 27;
const unsigned int kAvx = 1u << 28;
const unsigned int kAvx512f = 1u << 16;
const unsigned long long kX87SseAvx = 0x07;
const unsigned long long kX87SseAvxAvx512 = 0xE7;

CpuVectorInfo Info(unsigned int maxLeaf, unsigned int leaf1Ecx, unsigned int leaf7Ebx,
                   unsigned long long xcr0)
{
    CpuVectorInfo info = {maxLeaf, leaf1Ecx, leaf7Ebx, xcr0};
    return info;
}

TEST(KernelSelect, TheBestVariantThatProcessorAndOperatingSystemBothSupport)
{
    const struct {
        const char* what;
        CpuVectorInfo info;
        KernelVariant expected;
    } cases[] = {
        {"all supported", Info(0x1F, kOsxsave | kAvx, kAvx512f, kX87SseAvxAvx512), kKernelAvx512},
        {"AVX without AVX-512", Info(0x16, kOsxsave | kAvx, 0, kX87SseAvx), kKernelAvx},
        // The processor has AVX-512F, but the OS saves only XMM and YMM state.
        {"no ZMM state", Info(0x1F, kOsxsave | kAvx, kAvx512f, kX87SseAvx), kKernelAvx},
        // Opmask and upper ZMM state, but not the upper sixteen registers.
        {"no high ZMM state", Info(0x1F, kOsxsave | kAvx, kAvx512f, kX87SseAvx | 0x60), kKernelAvx},
        {"no YMM state", Info(0x1F, kOsxsave | kAvx, kAvx512f, 0x03), kKernelSse2},
        {"no YMM state, ZMM bits set", Info(0x1F, kOsxsave | kAvx, kAvx512f, 0xE3), kKernelSse2},
        // Without OSXSAVE the register-state word cannot be read; whatever it holds is moot.
        {"no OSXSAVE", Info(0x1F, kAvx, kAvx512f, kX87SseAvxAvx512), kKernelSse2},
        {"no AVX bit", Info(0x1F, kOsxsave, kAvx512f, kX87SseAvxAvx512), kKernelSse2},
        {"leaf 7 beyond the maximum is ignored", Info(6, kOsxsave | kAvx, kAvx512f, kX87SseAvxAvx512),
         kKernelAvx},
        {"no leaf 1", Info(0, kOsxsave | kAvx, kAvx512f, kX87SseAvxAvx512), kKernelSse2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, SelectKernelVariant(c.info)) << c.what;
}

// What this machine reports must be consistent with the variant it gets.
TEST(KernelSelect, ThisMachineGetsAVariantItsStateAllows)
{
    const CpuVectorInfo info = ReadCpuVectorInfo();
    const KernelVariant variant = BestKernelVariant();
    if (!(info.leaf1Ecx & kOsxsave)) {
        EXPECT_EQ(0u, info.xcr0);
    }
    if (variant >= kKernelAvx) {
        EXPECT_TRUE(info.leaf1Ecx & kAvx);
        EXPECT_EQ(0x06u, info.xcr0 & 0x06);
    }
    if (variant == kKernelAvx512) {
        EXPECT_EQ(0xE0u, info.xcr0 & 0xE0);
    }
    std::printf("This machine runs the %s kernel (XCR0 %llx)\n", GetKernelImpl(variant).name,
                info.xcr0);
}

} // namespace
