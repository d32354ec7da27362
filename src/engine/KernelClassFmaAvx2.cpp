// The fma class in 256-bit registers: FMA3 (AVX instructions otherwise, so
// processors with FMA3 but without AVX2 run it too). Twelve chains keep two fused
// multiply-add units of four- or five-cycle latency busy (x86-64; eight, one a
// register, in the 32-bit build, whose steps take m from memory).
#include <immintrin.h>

#include "engine/KernelClassFma.h"
#include "engine/KernelClassVariants.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

namespace {

struct V {
    typedef __m256d Reg;
    typedef __m256i Bits;
    static const unsigned int kLanes = 4;
#if defined(__x86_64__)
    static const unsigned int kChains = 12;
#else
    static const unsigned int kChains = 8;
#endif
    CLASS_INLINE Reg Load(const double* p) { return _mm256_loadu_pd(p); }
    CLASS_INLINE void Store(double* p, Reg x) { _mm256_storeu_pd(p, x); }
    CLASS_INLINE Reg FmAdd(Reg x, Reg m, Reg a) { return _mm256_fmadd_pd(x, m, a); }
    CLASS_INLINE Reg FnmAdd(Reg x, Reg m, Reg a) { return _mm256_fnmadd_pd(x, m, a); }
    CLASS_INLINE void Keep(Reg x) { asm volatile("" : : "x"(x)); }
    CLASS_INLINE Bits Zero() { return _mm256_setzero_si256(); }
    CLASS_INLINE Bits OrXor(Bits s, Reg p, Reg q)
    {
        return _mm256_castpd_si256(_mm256_or_pd(_mm256_castsi256_pd(s), _mm256_xor_pd(p, q)));
    }
    CLASS_INLINE bool AnyBit(Bits v) { return !_mm256_testz_si256(v, v); }
    CLASS_INLINE unsigned long long FoldOr(Bits v)
    {
        alignas(32) unsigned long long lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
        return lanes[0] | lanes[1] | lanes[2] | lanes[3];
    }
};

#include "engine/KernelClassFmaBody.h"

CLASS_VARIANT_ENTRIES

} // namespace

extern const ClassVariant kFmaAvx2 = {"FMA3", kCpuAvx | kCpuFma, Prepare, ClassLoop, ClassCeiling,
                                      2ull * kFmaPairs * V::kChains, V::kLanes};

#pragma GCC pop_options
