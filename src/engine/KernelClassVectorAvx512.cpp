// The vector class in 512-bit registers: VPMULLD, VPMULLW, VPMULUDQ, VPADDQ,
// VPSHUFB, VPERMD across the register and the two-source VPERMI2Q/VPERMT2Q
// between pairs of chains (AVX-512F and BW).
#include <immintrin.h>

#include "engine/KernelClassVariants.h"
#include "engine/KernelClassVector.h"

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")

namespace {

struct V {
    typedef __m512i Reg;
    static const unsigned int kWords = 8;
#if defined(__x86_64__)
    static const unsigned int kChains = 8;
#else
    static const unsigned int kChains = 2;
#endif
    static const bool kMix = true;
    CLASS_INLINE Reg Load(const unsigned long long* p) { return _mm512_loadu_si512(p); }
    CLASS_INLINE void Store(unsigned long long* p, Reg v) { _mm512_storeu_si512(p, v); }
    CLASS_INLINE Reg Mul32(Reg a, Reg b) { return _mm512_mullo_epi32(a, b); }
    CLASS_INLINE Reg Mul16(Reg a, Reg b) { return _mm512_mullo_epi16(a, b); }
    // Zero-masked forms with every lane set: the plain ones' headers warn in the
    // 32-bit build (their undefined source), the instructions are the same.
    CLASS_INLINE Reg MulEven(Reg a, Reg b) { return _mm512_maskz_mul_epu32(0xFF, a, b); }
    CLASS_INLINE Reg Add64(Reg a, Reg b) { return _mm512_add_epi64(a, b); }
    CLASS_INLINE Reg Xor(Reg a, Reg b) { return _mm512_xor_si512(a, b); }
    CLASS_INLINE Reg Shuffle(Reg a, Reg s) { return _mm512_shuffle_epi8(a, s); }
    CLASS_INLINE Reg Permute(Reg a, Reg p) { return _mm512_maskz_permutexvar_epi32(0xFFFF, p, a); }
    CLASS_INLINE Reg Mix(Reg a, Reg index, Reg b) { return _mm512_permutex2var_epi64(a, index, b); }
    CLASS_INLINE void Keep(Reg v) { asm volatile("" : : "v"(v)); }
    CLASS_INLINE Reg Differ(Reg s, Reg p, Reg q) { return _mm512_ternarylogic_epi64(s, p, q, 0xF6); }
    CLASS_INLINE bool AnyBit(Reg v) { return _mm512_test_epi64_mask(v, v) != 0; }
    CLASS_INLINE unsigned long long FoldOr(Reg v)
    {
        alignas(64) unsigned long long lanes[8];
        _mm512_store_si512(lanes, v);
        unsigned long long sum = 0;
        for (unsigned long long lane : lanes)
            sum |= lane;
        return sum;
    }
};

#include "engine/KernelClassVectorBody.h"

} // namespace

extern const ClassVariant kVectorAvx512 = {"AVX-512", kCpuAvx512f | kCpuAvx512bw, Prepare, ClassLoop, ClassCeiling,
                                           3ull * kVectorSteps * V::kChains, V::kWords};

#pragma GCC pop_options
