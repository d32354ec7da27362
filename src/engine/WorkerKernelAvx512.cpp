// 512-bit variant of the worker kernel: AVX-512F. Its ternary logic instruction
// makes each check one operation. Only this file's code uses AVX-512; callers
// check CPUID and XGETBV first.
#include <immintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

#pragma GCC push_options
#pragma GCC target("avx512f")

namespace {

// Truth tables of the ternary logic instruction for (A, B, C).
const int kXor3 = 0x96;    // A ^ B ^ C
const int kOrXor = 0xF6;   // A | (B ^ C)

// Values stay doubles and sums stay integers, so that no value changes type in
// the loop (the compiler then keeps each in one register).
inline __m512i Bits(__m512d v) { return _mm512_castpd_si512(v); }

struct Avx512 {
    typedef __m512d Reg;
    typedef __m512i Sum;
    static const int kSets = 2;   // sums in turn (x86-64)
    static const int kSets32 = 1;   // input sums in turn in 32-bit code (eight registers)
    static const unsigned int kLanes = 8;

    KERNEL_OP Reg Load(const double* p)
    {
        Reg v = _mm512_loadu_pd(p);
        asm("" : "+v"(v));
        return v;
    }
    KERNEL_OP Reg LoadOperand(const double* p) { return _mm512_loadu_pd(p); }
    KERNEL_OP void Store(double* p, Reg v) { _mm512_storeu_pd(p, v); }
    KERNEL_OP Reg Mul(Reg p, Reg q) { return _mm512_mul_pd(p, q); }
    KERNEL_OP Reg Add(Reg p, Reg q) { return _mm512_add_pd(p, q); }
    KERNEL_OP Sum Zero() { return _mm512_setzero_si512(); }
    KERNEL_OP Sum Xor3(Sum s, Reg p, Reg q)
    {
        return _mm512_ternarylogic_epi64(s, Bits(p), Bits(q), kXor3);
    }
    KERNEL_OP Sum OrXor(Sum s, Reg p, Reg q)
    {
        return _mm512_ternarylogic_epi64(s, Bits(p), Bits(q), kOrXor);
    }
    KERNEL_OP Sum Merge(Sum s, Sum t, bool orSums)
    {
        return orSums ? _mm512_or_epi64(s, t) : _mm512_xor_epi64(s, t);
    }
    KERNEL_OP bool AnyBit(Sum v) { return _mm512_test_epi64_mask(v, v) != 0; }
    KERNEL_OP unsigned long long Fold(Sum v, bool orLanes)
    {
        alignas(64) unsigned long long lanes[8];
        _mm512_store_si512(lanes, v);
        unsigned long long sum = 0;
        for (unsigned long long lane : lanes)
            sum = orLanes ? sum | lane : sum ^ lane;
        return sum;
    }
};

#include "engine/WorkerKernelBody.h"

} // namespace

KERNEL_VARIANT_DEFINE(Avx512, Avx512)

#pragma GCC pop_options
