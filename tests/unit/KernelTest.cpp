// The verified load: each vector variant against the fill, and a bit changed
// anywhere in an area found within one pass.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/AreaFill.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"

namespace {

// One worker area at `misalign` bytes past a page, between two guard pages.
class Area {
public:
    explicit Area(unsigned int size, unsigned int misalign = 0)
        : size_(size), total_(size + 8192 + misalign),
          block_(static_cast<unsigned char*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)))
    {
        std::memset(block_, 0x5A, total_);
        base_ = block_ + 4096 + misalign;
    }
    ~Area() { VirtualFree(block_, 0, MEM_RELEASE); }
    unsigned char* base() const { return base_; }
    unsigned int n() const { return size_ / 32; }
    double* q(int quarter) const { return reinterpret_cast<double*>(base_ + quarter * (size_ / 4)); }
    unsigned long long& word(int quarter, unsigned int j) const { return reinterpret_cast<unsigned long long*>(q(quarter))[j]; }
    int Run(KernelPassFn pass, KernelState* state) const { return pass(q(0), q(1), q(2), q(3), n(), state); }
    std::vector<unsigned char> Bytes() const { return std::vector<unsigned char>(block_, block_ + total_); }

private:
    unsigned int size_, total_;
    unsigned char *block_, *base_;
};

class Kernel : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override
    {
        if (GetParam() > BestKernelVariant())
            GTEST_SKIP() << Impl().name << " is not supported by this processor and operating system; they offer "
                         << GetKernelImpl(BestKernelVariant()).name;
    }
    const KernelImpl& Impl() const { return GetKernelImpl(GetParam()); }
};

// The fill holds the scalar unit's two roundings; passes at any alignment agree with
// it and touch nothing else. Any bit of a quarter changed between two passes is
// found by the second, as a wrong result whenever it shows in one.
TEST_P(Kernel, FindsAnyBitChangedInTheAreaWithinOnePass)
{
    for (int quarter = 0; quarter < 4; ++quarter) {
        for (unsigned int bit = 0; bit < 64; ++bit) {
            Area area(bit ? 8192 : 1u << 20, 8 * (bit % 8));
            FillWorkerArea(area.base(), bit ? 8192 : 1u << 20, quarter * 64 + bit);
            const std::vector<unsigned char> filled = area.Bytes();
            for (unsigned int j = 0; j < area.n(); j += 97) {
                const double product = area.q(0)[j] * area.q(1)[j];
                ASSERT_EQ(product + area.q(2)[j], area.q(3)[j]);
            }
            KernelState state = {};
            for (int pass = 0; pass < 3; ++pass)
                ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
            ASSERT_TRUE(filled == area.Bytes());
            area.word(quarter, (37 * bit + quarter) % area.n()) ^= 1ull << bit;
            const int check = area.Run(Impl().pass, &state);
            EXPECT_TRUE(quarter == 3 ? check == kCheckWrongResult : check != kCheckClean)
                << "quarter " << quarter << ", bit " << bit << ": " << check;
            EXPECT_EQ(kCheckClean, area.Run(Impl().pass, &state));   // fresh results, inputs as now
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, Kernel, ::testing::Values(kKernelSse2, kKernelAvx, kKernelAvx512),
                         [](const ::testing::TestParamInfo<KernelVariant>& info) {
                             return std::string(info.param == kKernelSse2 ? "Sse2" : info.param == kKernelAvx ? "Avx" : "Avx512");
                         });

} // namespace
