// The integer class with the instructions every processor has: MUL (the full
// product), DIV, rotates, shifts and adds, at the general registers' width
// (64 bits in x86-64, 32 in the 32-bit build).
#include "engine/KernelClassInteger.h"
#include "engine/KernelClassVariants.h"

namespace {

// The full product by MUL itself: left to the compiler, a widening multiply in
// 32-bit code also multiplies the operands' known-zero high words.
struct Ops : HardwareIntegerOps {
    static INTEGER_INLINE W MulHiLo(W a, W b, W* hi)
    {
        W lo;
        asm("mul%z3 %3" : "=a"(lo), "=d"(*hi) : "a"(a), "rm"(b) : "cc");
        return lo;
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
