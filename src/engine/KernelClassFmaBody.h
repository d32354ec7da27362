// The fma class's pass, written once over a vector type V. Each variant's file
// includes this inside its own target options and an anonymous namespace, after
// engine/KernelClassVariants.h and engine/KernelClassFma.h.
//
// V supplies Reg (doubles), Bits (the same as integers), kLanes, kChains (chains
// of one pass, each one register), Load, FmAdd (x * m + a), FnmAdd (-(x * m) + a),
// Keep (the register stays live without being read), Zero, OrXor (s | (p ^ q)),
// AnyBit and FoldOr (the lanes' OR as 64 bits).

// kChains registers step in turn, each step one fused multiply-add; the results
// stay in registers until the end, where each lane is compared with its expected
// bits on its own.
#include "engine/KernelClassWideVerdict.h"

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    typedef typename V::Reg Reg;
    const double* in = reinterpret_cast<const double*>(workspace->input);
    Reg x[V::kChains];
#pragma GCC unroll 32
    for (unsigned int c = 0; c < V::kChains; ++c)
        x[c] = V::Load(in + c * V::kLanes);
    const Reg m = V::Load(in + V::kChains * V::kLanes);
    const Reg a = V::Load(in + (V::kChains + 1) * V::kLanes);
    for (unsigned int k = 0; k < kFmaPairs; ++k) {
#pragma GCC unroll 32
        for (unsigned int c = 0; c < V::kChains; ++c)
            x[c] = V::FmAdd(x[c], m, a);
#pragma GCC unroll 32
        for (unsigned int c = 0; c < V::kChains; ++c)
            x[c] = V::FnmAdd(x[c], m, a);
    }
    if (kMode == kModeCeiling) {
#pragma GCC unroll 32
        for (unsigned int c = 0; c < V::kChains; ++c)
            V::Keep(x[c]);
        return kCheckClean;
    }
    const double* expected = reinterpret_cast<const double*>(workspace->expected);
    typename V::Bits wrong = V::Zero();
#pragma GCC unroll 32
    for (unsigned int c = 0; c < V::kChains; ++c)
        wrong = V::OrXor(wrong, x[c], V::Load(expected + c * V::kLanes));
    return CheckWideClassPass<V>(workspace, wrong, bits);
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    PrepareFma(workspace, seed, V::kChains, V::kLanes);
}
