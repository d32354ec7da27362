#include "engine/KernelClassInteger.h"

#include "engine/KernelClassVariants.h"

namespace {

#include "engine/KernelClassIntegerChains.h"

// Other instructions than a pass's: products from half-width pieces (each fits in
// W), division by shifts and subtractions, bit counts by loops.
template <class Word>
struct SoftwareOps {
    typedef Word W;
    static const unsigned int kBits = sizeof(W) * 8, kHalf = kBits / 2;
    static W MulHiLo(W a, W b, W* hi)
    {
        const W mask = static_cast<W>((W(1) << kHalf) - 1);
        const W a0 = a & mask, a1 = a >> kHalf, b0 = b & mask, b1 = b >> kHalf;
        const W p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
        const W middle = static_cast<W>((p00 >> kHalf) + (p01 & mask) + (p10 & mask));
        *hi = static_cast<W>(p11 + (p01 >> kHalf) + (p10 >> kHalf) + (middle >> kHalf));
        return static_cast<W>((middle << kHalf) | (p00 & mask));
    }
    static W MulLo(W a, W b)
    {
        W hi;
        return MulHiLo(a, b, &hi);
    }
    static W Div(W n, W d, W* remainder)
    {
        W q = 0, r = 0;
        for (int bit = kBits - 1; bit >= 0; --bit) {
            r = static_cast<W>((r << 1) | ((n >> bit) & 1));
            if (r >= d) {
                r = static_cast<W>(r - d);
                q = static_cast<W>(q | (W(1) << bit));
            }
        }
        *remainder = r;
        return q;
    }
    static W Popcnt(W v)
    {
        W n = 0;
        for (unsigned int bit = 0; bit < kBits; ++bit)
            n = static_cast<W>(n + ((v >> bit) & 1));
        return n;
    }
    static W Lzcnt(W v)
    {
        W n = 0;
        for (int bit = kBits - 1; bit >= 0 && !((v >> bit) & 1); --bit)
            ++n;
        return n;
    }
    static W Tzcnt(W v)
    {
        W n = 0;
        for (unsigned int bit = 0; bit < kBits && !((v >> bit) & 1); ++bit)
            ++n;
        return n;
    }
};

typedef SoftwareOps<IntegerWord> Reference;

template <bool kBitCounts>
void Run(const unsigned long long* input, unsigned long long* expected)
{
    IntegerChains<Reference, kBitCounts> chains;
    chains.Load(input);
    for (unsigned int b = 0; b < kIntegerBlocks; ++b)
        chains.Block();
    chains.Store(expected);
}

} // namespace

void IntegerReference(const unsigned long long* input, bool bitCounts, unsigned long long* expected)
{
    if (bitCounts)
        Run<true>(input, expected);
    else
        Run<false>(input, expected);
}

void PrepareInteger(ClassWorkspace* workspace, unsigned int seed, bool bitCounts)
{
    ClassRandom random(seed);
    workspace->inputWords = (kIntegerInputs + 7) & ~7u;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        workspace->input[i] = random.Next();
    workspace->resultWords = kIntegerResults;
    IntegerReference(workspace->input, bitCounts, workspace->expected);
    SealClassInputs(workspace);
}
