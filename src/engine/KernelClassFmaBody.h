// The fma class's pass, written once over a vector type V. Each variant's file
// includes this inside its own target options and an anonymous namespace, after
// engine/KernelClassVariants.h and engine/KernelClassFma.h.
//
// V supplies Reg (doubles), Bits (the same as integers), kLanes, kChains (chains
// of one pass, each one register), Load, Store, FmAdd (x * m + a), FnmAdd
// (-(x * m) + a), Keep (the register stays live without being read), Zero, OrXor (s | (p ^ q)),
// AnyBit and FoldOr (the lanes' OR as 64 bits).

// kChains registers step in turn, each step one fused multiply-add; the results
// stay in registers until the end, where each lane is compared with its expected
// bits on its own.
#include "engine/KernelClassWideVerdict.h"

// A step x * m + x, or -(x * m) + x. In 32-bit code m is the memory operand, so
// that the eight registers all hold chains.
template <bool kNegated>
CLASS_INLINE typename V::Reg Step(typename V::Reg x, const double* m)
{
#if defined(__x86_64__)
    return kNegated ? V::FnmAdd(x, V::Load(m), x) : V::FmAdd(x, V::Load(m), x);
#else
    const typename V::Reg& mem = *reinterpret_cast<const typename V::Reg*>(m);
    if (kNegated)
        asm("vfnmadd132pd %1, %0, %0" : "+v"(x) : "m"(mem));
    else
        asm("vfmadd132pd %1, %0, %0" : "+v"(x) : "m"(mem));
    return x;
#endif
}

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    typedef typename V::Reg Reg;
    const double* in = reinterpret_cast<const double*>(workspace->input);
    Reg x[V::kChains];
#pragma GCC unroll 32
    for (unsigned int c = 0; c < V::kChains; ++c)
        x[c] = V::Load(in + c * V::kLanes);
    const double* m = in + V::kChains * V::kLanes;
    for (unsigned int k = 0; k < kFmaPairs; ++k) {
#pragma GCC unroll 32
        for (unsigned int c = 0; c < V::kChains; ++c)
            x[c] = Step<false>(x[c], m);
#pragma GCC unroll 32
        for (unsigned int c = 0; c < V::kChains; ++c)
            x[c] = Step<true>(x[c], m);
    }
    if (kMode == kModeCeiling) {
#pragma GCC unroll 32
        for (unsigned int c = 0; c < V::kChains; ++c)
            V::Keep(x[c]);
        return kCheckClean;
    }
    // The chains go through memory to be compared: compared from registers, the
    // sum and an expected value would need two registers more than eight chains
    // leave, and GCC then keeps every chain on the stack through the whole loop.
    alignas(64) double results[V::kChains * V::kLanes];
#pragma GCC unroll 32
    for (unsigned int c = 0; c < V::kChains; ++c)
        V::Store(results + c * V::kLanes, x[c]);
    asm volatile("" : : "r"(results) : "memory");
    const double* expected = reinterpret_cast<const double*>(workspace->expected);
    typename V::Bits wrong = V::Zero();
#pragma GCC unroll 32
    for (unsigned int c = 0; c < V::kChains; ++c)
        wrong = V::OrXor(wrong, V::Load(results + c * V::kLanes), V::Load(expected + c * V::kLanes));
    return CheckWideClassPass<V>(workspace, wrong, bits);
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    PrepareFma(workspace, seed, V::kChains, V::kLanes);
}
