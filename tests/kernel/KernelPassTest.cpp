#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/AreaFill.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"

namespace {

const unsigned int kGuard = 4096;

// One worker area in a block of its own, between two guard zones.
class Area {
public:
    explicit Area(unsigned int size, unsigned int misalign = 0) : size_(size)
    {
        total_ = kGuard + misalign + size + kGuard;
        block_ = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        base_ = block_ + kGuard + misalign;
        std::memset(block_, 0x5A, total_);
    }
    ~Area() { VirtualFree(block_, 0, MEM_RELEASE); }
    Area(const Area&) = delete;
    Area& operator=(const Area&) = delete;

    unsigned char* base() const { return base_; }
    unsigned int n() const { return size_ / 32; }
    double* quarter(int q) const { return reinterpret_cast<double*>(base_ + q * (size_ / 4)); }
    unsigned long long& word(int q, unsigned int j) const
    {
        return reinterpret_cast<unsigned long long*>(quarter(q))[j];
    }
    int Pass(KernelPassFn pass, KernelState* state) const
    {
        return pass(quarter(0), quarter(1), quarter(2), quarter(3), n(), state);
    }
    std::vector<unsigned char> Bytes() const { return std::vector<unsigned char>(block_, block_ + total_); }

private:
    unsigned int size_, total_;
    unsigned char* block_;
    unsigned char* base_;
};

// The kernel's definition, computed by the scalar unit: two roundings.
double Reference(double a, double b, double c)
{
    const double product = a * b;
    return product + c;
}

// Random sign and mantissa; exponents mostly near 1 (so that the product's
// rounding shows in the sum), else anywhere from underflow to overflow of the
// product, now and then a subnormal.
double WideValue(unsigned long long& state)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const unsigned int pick = static_cast<unsigned int>(state >> 56) & 63;
    const unsigned int spread = static_cast<unsigned int>(state >> 40) & 0xFFFF;
    const unsigned long long exponent =
        pick < 48 ? 1023 - 8 + spread % 17 : pick < 63 ? 1023 - 600 + spread % 1201 : 0;
    const unsigned long long bits =
        (state & (1ull << 63)) | (exponent << 52) | (state & 0xFFFFFFFFFFFFFull);
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
}

class KernelVariantTest : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override
    {
        if (GetParam() > BestKernelVariant())
            GTEST_SKIP() << GetKernelImpl(GetParam()).name
                         << " is not supported by this processor and operating system";
        InterlockedExchange(&testRunning, 0);
    }
    const KernelImpl& Impl() const { return GetKernelImpl(GetParam()); }
};

// Vector results equal the scalar definition for values of any size, at any
// alignment, and a pass touches nothing outside its area.
TEST_P(KernelVariantTest, ResultsAreTheScalarDefinitionBitForBit)
{
    const struct {
        unsigned int size, misalign;
    } cases[] = {{512, 0}, {kSmallAreaBytes, 8}, {kSmallAreaBytes, 24}, {kSmallAreaBytes, 56}, {1u << 20, 0}};
    unsigned long long state = 0x9E3779B97F4A7C15ull;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, " << c.misalign << " past a page");
        Area area(c.size, c.misalign);
        double* const q[4] = {area.quarter(0), area.quarter(1), area.quarter(2), area.quarter(3)};
        for (unsigned int j = 0; j < area.n(); ++j) {
            q[0][j] = WideValue(state);
            q[1][j] = WideValue(state);
            q[2][j] = WideValue(state);
            q[3][j] = Reference(q[0][j], q[1][j], q[2][j]);
        }
        const std::vector<unsigned char> before = area.Bytes();
        KernelState kernel = {};
        EXPECT_EQ(kCheckClean, area.Pass(Impl().pass, &kernel));
        EXPECT_TRUE(before == area.Bytes());
    }
}

// The engine's fill and any number of passes agree; a bit changed anywhere in
// the area between two passes is found by the second: as a wrong result when it
// shows in a result (always in d), else as changed input.
TEST_P(KernelVariantTest, FindsAnyBitChangedInTheAreaWithinOnePass)
{
    for (int q = 0; q < 4; ++q) {
        for (unsigned int bit = 0; bit < 64; ++bit) {
            SCOPED_TRACE(testing::Message() << "quarter " << "abcd"[q] << ", bit " << bit);
            Area area(kSmallAreaBytes);
            FillWorkerArea(area.base(), kSmallAreaBytes, q * 64 + bit);
            KernelState kernel = {};
            for (int pass = 0; pass < 3; ++pass)
                ASSERT_EQ(kCheckClean, area.Pass(Impl().pass, &kernel));
            area.word(q, (37 * bit + q) % area.n()) ^= 1ull << bit;
            const int check = area.Pass(Impl().pass, &kernel);
            if (q == 3)
                EXPECT_EQ(kCheckWrongResult, check);
            else
                EXPECT_NE(kCheckClean, check);
            // The pass stored fresh results and took the inputs as they are now.
            EXPECT_EQ(kCheckClean, area.Pass(Impl().pass, &kernel));
        }
    }
}

// The flag is read after a whole pass, never before or inside it; an error ends
// the loop whatever the flag says.
TEST_P(KernelVariantTest, LoopMakesOnePassWithTheFlagClearAndStopsAtAnError)
{
    Area area(kSmallAreaBytes);
    FillWorkerArea(area.base(), kSmallAreaBytes, 1);
    KernelState kernel = {};
    EXPECT_EQ(kCheckClean, area.Pass(Impl().loop, &kernel));
    EXPECT_EQ(1u, kernel.passes);

    InterlockedExchange(&testRunning, 1);
    area.word(3, 5) ^= 1;
    EXPECT_EQ(kCheckWrongResult, area.Pass(Impl().loop, &kernel));
    EXPECT_EQ(2u, kernel.passes);
    InterlockedExchange(&testRunning, 0);
}

#if defined(__i386__)
// 32-bit Windows promises a thread's stack no more than 4-byte alignment (the
// x86-64 ABI keeps it at 16, so there the question does not arise).
struct PassCall {
    const void* function;
    const double *a, *b, *c;
    double* d;
    unsigned int n;
    KernelState* state;
};

// Calls call->function with the stack pointer at the call instruction `offset`
// bytes past a 64-byte boundary.
int CallWithStackOffset(const PassCall* call, unsigned int offset)
{
    const unsigned int adjust = 64 - (offset + 24) % 64;   // 24: the six arguments
    int check;
    asm volatile(
        "mov %%esp, %%esi\n\t"
        "and $-64, %%esp\n\t"
        "sub %[adjust], %%esp\n\t"
        "push 24(%[call])\n\t"
        "push 20(%[call])\n\t"
        "push 16(%[call])\n\t"
        "push 12(%[call])\n\t"
        "push 8(%[call])\n\t"
        "push 4(%[call])\n\t"
        "call *(%[call])\n\t"
        "mov %%esi, %%esp"
        : "=a"(check)
        : [call] "D"(call), [adjust] "r"(adjust)
        : "ecx", "edx", "esi", "memory", "cc");
    return check;
}

TEST_P(KernelVariantTest, EntryPointsRunOnAnyStackAlignment)
{
    const void* const entries[] = {reinterpret_cast<const void*>(Impl().pass),
                                   reinterpret_cast<const void*>(Impl().loop)};
    for (const void* entry : entries) {
        for (unsigned int offset = 4; offset < 64; offset += 4) {
            Area area(kSmallAreaBytes);
            FillWorkerArea(area.base(), kSmallAreaBytes, offset);
            KernelState kernel = {};
            area.word(3, 7) ^= 1;   // found by the first pass, through the folded sums
            const PassCall call = {entry, area.quarter(0), area.quarter(1), area.quarter(2),
                                   area.quarter(3), area.n(), &kernel};
            EXPECT_EQ(kCheckWrongResult, CallWithStackOffset(&call, offset))
                << "stack " << offset << " bytes past 64";
            EXPECT_EQ(kCheckClean, area.Pass(Impl().pass, &kernel)) << "stack " << offset;
        }
    }
}
#endif

std::string VariantName(const ::testing::TestParamInfo<KernelVariant>& info)
{
    const char* const names[] = {"Sse2", "Avx", "Avx512"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Variants, KernelVariantTest,
                         ::testing::Values(kKernelSse2, kKernelAvx, kKernelAvx512), VariantName);

} // namespace
