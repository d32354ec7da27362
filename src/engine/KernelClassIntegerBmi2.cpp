// The integer class with BMI2's multiply (MULX) and shifts (RORX, SHRX), and the
// bit counts POPCNT, LZCNT and TZCNT, besides DIV and adds.
#include <immintrin.h>

#include "engine/KernelClassInteger.h"
#include "engine/KernelClassVariants.h"

#pragma GCC push_options
#pragma GCC target("bmi,bmi2,popcnt,lzcnt")

namespace {

struct Ops : HardwareIntegerOps {
#if defined(__x86_64__)
    static INTEGER_INLINE W Popcnt(W v) { return static_cast<W>(_mm_popcnt_u64(v)); }
    static INTEGER_INLINE W Lzcnt(W v) { return _lzcnt_u64(v); }
    static INTEGER_INLINE W Tzcnt(W v) { return _tzcnt_u64(v); }
#else
    static INTEGER_INLINE W Popcnt(W v) { return static_cast<W>(_mm_popcnt_u32(v)); }
    static INTEGER_INLINE W Lzcnt(W v) { return _lzcnt_u32(v); }
    static INTEGER_INLINE W Tzcnt(W v) { return _tzcnt_u32(v); }
#endif
    // MULX itself: the compiler takes _mulx_u32 and _mulx_u64 for any widening
    // multiply and may emit MUL instead.
    static INTEGER_INLINE W MulHiLo(W a, W b, W* hi)
    {
        W lo;
        asm("mulx %3, %0, %1" : "=r"(lo), "=r"(*hi) : "d"(a), "rm"(b));
        return lo;
    }
};

const bool kBitCounts = true;

#include "engine/KernelClassIntegerChains.h"
#include "engine/KernelClassIntegerBody.h"

} // namespace

extern const ClassVariant kIntegerBmi2 = {"BMI2", kCpuBmi1 | kCpuBmi2 | kCpuPopcnt | kCpuLzcnt, Prepare, ClassLoop,
                                          ClassCeiling, 1ull * kMulSteps * kIntegerBlocks * kMulChains, 1};

#pragma GCC pop_options
