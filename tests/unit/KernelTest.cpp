// The verified load: each vector variant against the fill, and a bit changed
// anywhere in an area found within one pass.
#include <gtest/gtest.h>

#include <algorithm>
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
// found by the second, with its kind and exactly that bit; so is a bit that keeps
// its value across a refill (a cell stuck at it), after the complement of every
// input word and after a new pattern, whose results the next pass checks.
TEST_P(Kernel, FindsAnyBitChangedInTheAreaWithinOnePass)
{
    for (int quarter = 0; quarter < 4; ++quarter) {
        for (unsigned int bit = 0; bit < 64; ++bit) {
            SCOPED_TRACE(testing::Message() << "quarter " << quarter << ", bit " << bit);
            const unsigned int size = bit ? 8192 : 1u << 20;
            Area area(size, 8 * (bit % 8));
            WorkerArea worker = {area.base(), size, nullptr, 0};
            KernelState state = {};
            state.inputSum = FillWorkerArea(area.base(), size, quarter * 64 + bit);
            const std::vector<unsigned char> filled = area.Bytes();
            unsigned long long& word = area.word(quarter, (37 * bit + quarter) % area.n());
            const int kind = quarter == 3 ? kCheckWrongResult : kCheckChangedInput;
            for (unsigned int refill = 0; refill < 3; ++refill) {
                const unsigned long long before = word;
                if (refill)
                    RefillWorkerArea(&worker, refill, &state);
                if (refill == 1 && quarter < 3) {
                    ASSERT_EQ(~before, word);
                }
                for (unsigned int j = 0; j < area.n(); j += 97) {
                    const double product = area.q(0)[j] * area.q(1)[j];
                    ASSERT_EQ(product + area.q(2)[j], area.q(3)[j]);
                }
                // A cell stuck at its old bit, found by the first pass after the refill.
                if ((word ^ before) & (1ull << bit)) {
                    word ^= 1ull << bit;
                    EXPECT_EQ(kind, area.Run(Impl().pass, &state));
                    EXPECT_EQ(1ull << bit, state.bits);
                }
                for (int pass = 0; pass < 3; ++pass)
                    ASSERT_EQ(kCheckClean, area.Run(Impl().pass, &state));
                if (refill == 0) {
                    ASSERT_TRUE(filled == area.Bytes());
                }
                word ^= 1ull << bit;
                EXPECT_EQ(kind, area.Run(Impl().pass, &state));
                EXPECT_EQ(1ull << bit, state.bits);
                EXPECT_EQ(kCheckClean, area.Run(Impl().pass, &state));   // fresh results, inputs as now
            }
        }
    }
}

// New patterns from refills rotate through the three value ranges (b's sign and
// exponent show which) with new mantissas each time; and a fill made in parts, as
// the start's fill threads make it, is the whole fill, its XOR included.
TEST(AreaFill, NewPatternsRotateThroughTheRangesAndPartsMakeTheWholeFill)
{
    const unsigned int size = 4 * 32 * kFillChunk;   // four chunks per quarter
    Area area(size), parts(size);
    WorkerArea worker = {area.base(), size, nullptr, 0};
    KernelState state = {};
    std::vector<unsigned long long> heads, firstB;
    for (unsigned int refill = 2; refill <= 12; refill += 2) {
        RefillWorkerArea(&worker, refill, &state);
        heads.push_back(area.word(1, 5) >> 52);
        firstB.push_back(area.word(1, 0));
        EXPECT_EQ(FillWorkerAreaPart(parts.base(), size, 7, 0, kFillChunk) ^
                      FillWorkerAreaPart(parts.base(), size, 7, kFillChunk, 3 * kFillChunk) ^
                      FillWorkerAreaPart(parts.base(), size, 7, 3 * kFillChunk, 4 * kFillChunk),
                  FillWorkerArea(area.base(), size, 7));
        EXPECT_TRUE(area.Bytes() == parts.Bytes());
    }
    for (size_t i = 0; i + 3 <= heads.size(); ++i) {
        std::vector<unsigned long long> three(heads.begin() + i, heads.begin() + i + 3);
        std::sort(three.begin(), three.end());
        EXPECT_TRUE(std::unique(three.begin(), three.end()) == three.end()) << "three new patterns in a row share a range";
    }
    std::sort(firstB.begin(), firstB.end());
    EXPECT_TRUE(std::unique(firstB.begin(), firstB.end()) == firstB.end()) << "a new pattern repeats";
}

INSTANTIATE_TEST_SUITE_P(Variants, Kernel, ::testing::Values(kKernelSse2, kKernelAvx, kKernelAvx512),
                         [](const ::testing::TestParamInfo<KernelVariant>& info) {
                             return std::string(info.param == kKernelSse2 ? "Sse2" : info.param == kKernelAvx ? "Avx" : "Avx512");
                         });

} // namespace
