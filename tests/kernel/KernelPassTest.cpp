#include <gtest/gtest.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelData.h"

namespace {

class KernelVariantTest : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override
    {
        if (GetParam() > BestKernelVariant())
            GTEST_SKIP() << GetKernelImpl(GetParam()).name
                         << " is not supported by this processor and operating system";
        InterlockedExchange(&testRunning, 0);
    }
    void TearDown() override { InterlockedExchange(&testRunning, 0); }

    const KernelImpl& Impl() const { return GetKernelImpl(GetParam()); }
};

void RunPass(KernelPassFn pass, const KernelData& data)
{
    pass(data.a(), data.b(), data.c(), data.d(), data.n());
}

TEST_P(KernelVariantTest, BothStoreFormsMatchTwoRoundingsOnSmallOneGroupAndLargeAreas)
{
    // The smallest area, one group of sixteen, and an area past the caches.
    const unsigned int sizes[] = {kSmallAreaBytes, 512, 32u << 20};
    for (unsigned int size : sizes) {
        for (bool streamed : {false, true}) {
            KernelData data(size, 0, streamed ? 3 : 2);
            ASSERT_TRUE(data.ok());
            RunPass(streamed ? Impl().streamPass : Impl().pass, data);
            EXPECT_EQ(-1, data.FirstWrongByte()) << size << (streamed ? " bytes, streamed" : " bytes");
        }
    }
}

TEST_P(KernelVariantTest, PassAcceptsArraysAtAnyEightByteAlignment)
{
    for (unsigned int misalign = 8; misalign < 64; misalign += 8) {
        KernelData data(kSmallAreaBytes, misalign, misalign);
        ASSERT_TRUE(data.ok());
        RunPass(Impl().pass, data);
        EXPECT_EQ(-1, data.FirstWrongByte()) << "arrays " << misalign << " bytes past 64";
    }
}

// The flag is read after a whole pass, never before it or inside it.
TEST_P(KernelVariantTest, LoopDoesExactlyOnePassWhenFlagIsClear)
{
    KernelData data(kSmallAreaBytes);
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(1u, Impl().loop(data.a(), data.b(), data.c(), data.d(), data.n()));
    EXPECT_EQ(-1, data.FirstWrongByte());

    KernelData streamed(kSmallAreaBytes, 0, 4);
    ASSERT_TRUE(streamed.ok());
    EXPECT_EQ(1u, Impl().streamLoop(streamed.a(), streamed.b(), streamed.c(), streamed.d(),
                                    streamed.n()));
    EXPECT_EQ(-1, streamed.FirstWrongByte());
}

// A pass or loop function with its arguments (both take the same five).
struct PassCall {
    const void* function;
    const double* a;
    const double* b;
    const double* c;
    double* d;
    unsigned int n;
};

#if defined(__i386__)
// 32-bit Windows promises a thread's stack no more than 4-byte alignment (the
// x86-64 ABI keeps it at 16, so there the question does not arise).

// Calls call->function with the stack pointer at the call instruction `offset` bytes
// past a 64-byte boundary.
void CallWithStackOffset(const PassCall* call, unsigned int offset)
{
    const unsigned int adjust = 64 - (offset + 20) % 64;   // 20: the five arguments
    asm volatile(
        "mov %%esp, %%esi\n\t"
        "and $-64, %%esp\n\t"
        "sub %[adjust], %%esp\n\t"
        "push 20(%[call])\n\t"
        "push 16(%[call])\n\t"
        "push 12(%[call])\n\t"
        "push 8(%[call])\n\t"
        "push 4(%[call])\n\t"
        "call *(%[call])\n\t"
        "mov %%esi, %%esp"
        :
        : [call] "D"(call), [adjust] "r"(adjust)
        : "eax", "ecx", "edx", "esi", "memory", "cc");
}

TEST_P(KernelVariantTest, EntryPointsRunOnAnyStackAlignment)
{
    const void* const entries[] = {
        reinterpret_cast<const void*>(Impl().pass),
        reinterpret_cast<const void*>(Impl().streamPass),
        reinterpret_cast<const void*>(Impl().loop),   // one pass: the flag is clear
        reinterpret_cast<const void*>(Impl().streamLoop),
    };
    for (unsigned int e = 0; e < 4; ++e) {
        for (unsigned int offset = 4; offset < 64; offset += 4) {
            KernelData data(kSmallAreaBytes, 0, 16 * offset + e);
            ASSERT_TRUE(data.ok());
            const PassCall call = {entries[e], data.a(), data.b(), data.c(), data.d(), data.n()};
            CallWithStackOffset(&call, offset);
            EXPECT_EQ(-1, data.FirstWrongByte())
                << "entry " << e << ", stack " << offset << " bytes past 64";
        }
    }
}
#endif

std::string VariantName(const ::testing::TestParamInfo<KernelVariant>& info)
{
    switch (info.param) {
    case kKernelSse2:
        return "Sse2";
    case kKernelAvx:
        return "Avx";
    case kKernelAvx512:
        return "Avx512";
    default:
        return "Unknown";
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, KernelVariantTest,
                         ::testing::Values(kKernelSse2, kKernelAvx, kKernelAvx512), VariantName);

} // namespace
