// 128-bit variant of the worker kernel: SSE2, which every supported processor has.
#include <emmintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

namespace {

#define V_OP static inline __attribute__((always_inline))

struct Sse2 {
    typedef __m128d Reg;
    typedef Reg Sum;
    static const unsigned int kLanes = 2;

    // Each input is loaded once, into a register: the compiler would otherwise load
    // it again as an operand of each instruction that uses it.
    V_OP Reg Load(const double* p)
    {
        Reg v = _mm_loadu_pd(p);
        asm("" : "+x"(v));
        return v;
    }
    V_OP void Store(double* p, Reg v) { _mm_storeu_pd(p, v); }
    V_OP Reg Mul(Reg p, Reg q) { return _mm_mul_pd(p, q); }
    V_OP Reg Add(Reg p, Reg q) { return _mm_add_pd(p, q); }
    V_OP Reg Zero() { return _mm_setzero_pd(); }
    V_OP Reg Xor3(Reg s, Reg p, Reg q) { return _mm_xor_pd(s, _mm_xor_pd(p, q)); }
    V_OP Reg OrXor(Reg acc, Reg p, Reg q) { return _mm_or_pd(acc, _mm_xor_pd(p, q)); }
    V_OP Reg Merge(Reg s, Reg t, bool orSums) { return orSums ? _mm_or_pd(s, t) : _mm_xor_pd(s, t); }
    V_OP bool AnyBit(Reg v)
    {
        return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_castpd_si128(v), _mm_setzero_si128())) != 0xFFFF;
    }
    V_OP unsigned long long FoldXor(Reg v)
    {
        alignas(16) unsigned long long lanes[2];
        _mm_store_pd(reinterpret_cast<double*>(lanes), v);
        return lanes[0] ^ lanes[1];
    }
};

#include "engine/WorkerKernelBody.h"

} // namespace

KERNEL_VARIANT_DEFINE(Sse2, Sse2)
