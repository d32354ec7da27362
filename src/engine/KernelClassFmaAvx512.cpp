// The fma class in 512-bit registers: AVX-512F fused multiply-add. Two fused
// multiply-add units of four-cycle latency need eight chains in flight; 24 leave
// room for longer latencies and for the checks (x86-64; the 32-bit build has
// eight registers, a chain in each, and takes m from memory).
#include <immintrin.h>

#include "engine/KernelClassFma.h"
#include "engine/KernelClassVariants.h"

#pragma GCC push_options
#pragma GCC target("avx512f")

namespace {

struct V {
    typedef __m512d Reg;
    typedef __m512i Bits;
    static const unsigned int kLanes = 8;
#if defined(__x86_64__)
    static const unsigned int kChains = 24;
#else
    static const unsigned int kChains = 8;
#endif
    CLASS_INLINE Reg Load(const double* p) { return _mm512_loadu_pd(p); }
    CLASS_INLINE void Store(double* p, Reg x) { _mm512_storeu_pd(p, x); }
    CLASS_INLINE Reg FmAdd(Reg x, Reg m, Reg a) { return _mm512_fmadd_pd(x, m, a); }
    CLASS_INLINE Reg FnmAdd(Reg x, Reg m, Reg a) { return _mm512_fnmadd_pd(x, m, a); }
    CLASS_INLINE void Keep(Reg x) { asm volatile("" : : "v"(x)); }
    CLASS_INLINE Bits Zero() { return _mm512_setzero_si512(); }
    CLASS_INLINE Bits OrXor(Bits s, Reg p, Reg q)
    {
        return _mm512_ternarylogic_epi64(s, _mm512_castpd_si512(p), _mm512_castpd_si512(q), 0xF6);
    }
    CLASS_INLINE bool AnyBit(Bits v) { return _mm512_test_epi64_mask(v, v) != 0; }
    CLASS_INLINE unsigned long long FoldOr(Bits v)
    {
        alignas(64) unsigned long long lanes[8];
        _mm512_store_si512(lanes, v);
        unsigned long long sum = 0;
        for (unsigned long long lane : lanes)
            sum |= lane;
        return sum;
    }
};

#include "engine/KernelClassFmaBody.h"

CLASS_VARIANT_ENTRIES

} // namespace

extern const ClassVariant kFmaAvx512 = {"AVX-512", kCpuAvx512f | kCpuFma, Prepare, ClassLoop, ClassCeiling,
                                        2ull * kFmaPairs * V::kChains, V::kLanes};

#pragma GCC pop_options
