// The vector class in 128-bit registers: PMULLD, PMULLW, PMULUDQ, PADDQ and
// PSHUFB (SSE4.1 and SSSE3); no permute across 128 bits.
#include <smmintrin.h>
#include <tmmintrin.h>

#include "engine/KernelClassVariants.h"
#include "engine/KernelClassVector.h"

#pragma GCC push_options
#pragma GCC target("ssse3,sse4.1")

namespace {

struct V {
    typedef __m128i Reg;
    static const unsigned int kWords = 2;
#if defined(__x86_64__)
    static const unsigned int kChains = 8;
#else
    static const unsigned int kChains = 2;
#endif
    static const bool kMix = false;
    CLASS_INLINE Reg Load(const unsigned long long* p) { return _mm_loadu_si128(reinterpret_cast<const Reg*>(p)); }
    CLASS_INLINE void Store(unsigned long long* p, Reg v) { _mm_storeu_si128(reinterpret_cast<Reg*>(p), v); }
    CLASS_INLINE Reg Mul32(Reg a, Reg b) { return _mm_mullo_epi32(a, b); }
    CLASS_INLINE Reg Mul16(Reg a, Reg b) { return _mm_mullo_epi16(a, b); }
    CLASS_INLINE Reg MulEven(Reg a, Reg b) { return _mm_mul_epu32(a, b); }
    CLASS_INLINE Reg Add64(Reg a, Reg b) { return _mm_add_epi64(a, b); }
    CLASS_INLINE Reg Xor(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    CLASS_INLINE Reg Shuffle(Reg a, Reg s) { return _mm_shuffle_epi8(a, s); }
    CLASS_INLINE Reg Permute(Reg a, Reg) { return a; }
    CLASS_INLINE Reg Mix(Reg a, Reg, Reg) { return a; }
    CLASS_INLINE void Keep(Reg v) { asm volatile("" : : "x"(v)); }
    CLASS_INLINE Reg Differ(Reg s, Reg p, Reg q) { return _mm_or_si128(s, _mm_xor_si128(p, q)); }
    CLASS_INLINE bool AnyBit(Reg v) { return !_mm_testz_si128(v, v); }
    CLASS_INLINE unsigned long long FoldOr(Reg v)
    {
        alignas(16) unsigned long long lanes[2];
        _mm_store_si128(reinterpret_cast<Reg*>(lanes), v);
        return lanes[0] | lanes[1];
    }
};

#include "engine/KernelClassVectorBody.h"

} // namespace

extern const ClassVariant kVectorSse41 = {"SSE4.1", kCpuSsse3 | kCpuSse41, Prepare, ClassLoop, ClassCeiling,
                                          3ull * kVectorSteps * V::kChains, V::kWords};

#pragma GCC pop_options
