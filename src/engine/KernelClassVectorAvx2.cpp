// The vector class in 256-bit registers: VPMULLD, VPMULLW, VPMULUDQ, VPADDQ,
// VPSHUFB and the cross-lane VPERMD (AVX2).
#include <immintrin.h>

#include "engine/KernelClassVariants.h"
#include "engine/KernelClassVector.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace {

struct V {
    typedef __m256i Reg;
    static const unsigned int kWords = 4;
#if defined(__x86_64__)
    static const unsigned int kChains = 6;   // with the five constants, no spills in sixteen registers
#else
    static const unsigned int kChains = 2;
#endif
    static const bool kMix = false;
    CLASS_INLINE Reg Load(const unsigned long long* p) { return _mm256_loadu_si256(reinterpret_cast<const Reg*>(p)); }
    CLASS_INLINE void Store(unsigned long long* p, Reg v) { _mm256_storeu_si256(reinterpret_cast<Reg*>(p), v); }
    CLASS_INLINE Reg Mul32(Reg a, Reg b) { return _mm256_mullo_epi32(a, b); }
    CLASS_INLINE Reg Mul16(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
    CLASS_INLINE Reg MulEven(Reg a, Reg b) { return _mm256_mul_epu32(a, b); }
    CLASS_INLINE Reg Add64(Reg a, Reg b) { return _mm256_add_epi64(a, b); }
    CLASS_INLINE Reg Xor(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    CLASS_INLINE Reg Shuffle(Reg a, Reg s) { return _mm256_shuffle_epi8(a, s); }
    CLASS_INLINE Reg Permute(Reg a, Reg p) { return _mm256_permutevar8x32_epi32(a, p); }
    CLASS_INLINE Reg Mix(Reg a, Reg, Reg) { return a; }
    CLASS_INLINE void Keep(Reg v) { asm volatile("" : : "x"(v)); }
    CLASS_INLINE Reg Differ(Reg s, Reg p, Reg q) { return _mm256_or_si256(s, _mm256_xor_si256(p, q)); }
    CLASS_INLINE bool AnyBit(Reg v) { return !_mm256_testz_si256(v, v); }
    CLASS_INLINE unsigned long long FoldOr(Reg v)
    {
        alignas(32) unsigned long long lanes[4];
        _mm256_store_si256(reinterpret_cast<Reg*>(lanes), v);
        return lanes[0] | lanes[1] | lanes[2] | lanes[3];
    }
};

#include "engine/KernelClassVectorBody.h"

} // namespace

extern const ClassVariant kVectorAvx2 = {"AVX2", kCpuAvx | kCpuAvx2, Prepare, ClassLoop, ClassCeiling,
                                         3ull * kVectorSteps * V::kChains, V::kWords};

#pragma GCC pop_options
