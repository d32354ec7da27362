// The integer class with the instructions every processor has: MUL (the full
// product), DIV, rotates, shifts and adds, at the general registers' width
// (64 bits in x86-64, 32 in the 32-bit build).
#include "engine/KernelClassInteger.h"
#include "engine/KernelClassVariants.h"

namespace {

struct Ops {
#if defined(__x86_64__)
    typedef unsigned long long W;
    static INTEGER_INLINE W MulHiLo(W a, W b, W* hi)
    {
        const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
        *hi = static_cast<W>(p >> 64);
        return static_cast<W>(p);
    }
#else
    typedef unsigned int W;
    static INTEGER_INLINE W MulHiLo(W a, W b, W* hi)
    {
        const unsigned long long p = static_cast<unsigned long long>(a) * b;
        *hi = static_cast<W>(p >> 32);
        return static_cast<W>(p);
    }
#endif
    static INTEGER_INLINE W Div(W n, W d, W* remainder)
    {
        *remainder = n % d;
        return n / d;
    }
    static W Popcnt(W) { return 0; }
    static W Lzcnt(W) { return 0; }
    static W Tzcnt(W) { return 0; }
};

const bool kBitCounts = false;

#include "engine/KernelClassIntegerChains.h"
#include "engine/KernelClassIntegerBody.h"

} // namespace

extern const ClassVariant kIntegerBase = {
#if defined(__x86_64__)
    "x86-64",
#else
    "i386",
#endif
    0, Prepare, ClassLoop, ClassCeiling, 1ull * kMulSteps * kIntegerBlocks * kMulChains, 1};
