// The vector class's pass over a vector type V. Each variant's file includes this
// inside its own target options and an anonymous namespace, after
// engine/KernelClassVariants.h and engine/KernelClassVector.h.
//
// V supplies Reg, kWords (64-bit words per Reg), kChains (even), Load, Store,
// Mul32, Mul16, MulEven (64-bit products of the even 32-bit lanes), Add64, Xor,
// Shuffle (bytes within 128-bit lanes), Permute (32-bit lanes across the register;
// the narrowest variant has none and returns its value), kMix and Mix (two-source
// permute of 64-bit lanes), Keep, Differ (OR of XORs) and AnyBit, FoldOr.

#include "engine/KernelClassWideVerdict.h"

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    typedef typename V::Reg Reg;
    const unsigned long long* in = workspace->input;
    const unsigned long long* slot = in + V::kChains * V::kWords;
    Reg v[V::kChains];
#pragma GCC unroll 16
    for (unsigned int c = 0; c < V::kChains; ++c)
        v[c] = V::Load(in + c * V::kWords);
    const Reg k = V::Load(slot + kVecK * V::kWords), k2 = V::Load(slot + kVecK2 * V::kWords);
    const Reg add = V::Load(slot + kVecAdd * V::kWords), shuffle = V::Load(slot + kVecShuffle * V::kWords);
    const Reg permute = V::Load(slot + kVecPermute * V::kWords);
    const Reg mixLow = V::Load(slot + kVecMixLow * V::kWords), mixHigh = V::Load(slot + kVecMixHigh * V::kWords);
    for (unsigned int s = 0; s < kVectorSteps; ++s) {
#pragma GCC unroll 16
        for (unsigned int c = 0; c < V::kChains; ++c) {
            Reg x = V::Add64(V::Mul32(v[c], k), add);
            x = V::Xor(x, V::MulEven(x, k2));
            v[c] = V::Permute(V::Shuffle(V::Mul16(x, k), shuffle), permute);
        }
        if (V::kMix) {
#pragma GCC unroll 16
            for (unsigned int c = 0; c < V::kChains; c += 2) {
                const Reg low = V::Mix(v[c], mixLow, v[c + 1]);
                v[c + 1] = V::Mix(v[c], mixHigh, v[c + 1]);
                v[c] = low;
            }
        }
    }
    if (kMode == kModeCeiling) {
#pragma GCC unroll 16
        for (unsigned int c = 0; c < V::kChains; ++c)
            V::Keep(v[c]);
        return kCheckClean;
    }
    if (kMode == kModeRecord) {
#pragma GCC unroll 16
        for (unsigned int c = 0; c < V::kChains; ++c)
            V::Store(workspace->expected + c * V::kWords, v[c]);
        return kCheckClean;
    }
    Reg wrong = V::Xor(v[0], V::Load(workspace->expected));
#pragma GCC unroll 16
    for (unsigned int c = 1; c < V::kChains; ++c)
        wrong = V::Differ(wrong, v[c], V::Load(workspace->expected + c * V::kWords));
    return CheckWideClassPass<V>(workspace, wrong, bits);
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    PrepareVectorInputs(workspace, seed, V::kChains, V::kWords);
    workspace->resultWords = V::kChains * V::kWords;
    unsigned long long unused = 0;
    Pass<kModeRecord>(workspace, &unused);
    SealClassInputs(workspace);
}

CLASS_VARIANT_ENTRIES
