// 256-bit variant of the worker kernel. It uses AVX instructions only (AVX2 adds
// nothing for double multiply and add, and the checks use the floating-point
// logic instructions), so it serves AVX2 processors and the AVX-only ones before
// them. Only this file's code uses AVX; callers check CPUID and XGETBV first.
#include <immintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

#pragma GCC push_options
#pragma GCC target("avx")

namespace {

struct Avx {
    typedef __m256d Reg;
    typedef Reg Sum;
    static const int kSets = 2;   // sums in turn (x86-64): four spill two to the stack
    static const int kSets32 = 1;   // input sums in turn in 32-bit code (eight registers)
    static const unsigned int kLanes = 4;

    KERNEL_OP Reg Load(const double* p)
    {
        Reg v = _mm256_loadu_pd(p);
        asm("" : "+x"(v));
        return v;
    }
    // A value used once: the compiler may load it as the operand of its instruction.
    KERNEL_OP Reg LoadOperand(const double* p) { return _mm256_loadu_pd(p); }
    KERNEL_OP void Store(double* p, Reg v) { _mm256_storeu_pd(p, v); }
    KERNEL_OP Reg Mul(Reg p, Reg q) { return _mm256_mul_pd(p, q); }
    KERNEL_OP Reg Add(Reg p, Reg q) { return _mm256_add_pd(p, q); }
    KERNEL_OP Reg Zero() { return _mm256_setzero_pd(); }
    KERNEL_OP Reg Xor3(Reg s, Reg p, Reg q) { return _mm256_xor_pd(s, _mm256_xor_pd(p, q)); }
    KERNEL_OP Reg OrXor(Reg acc, Reg p, Reg q) { return _mm256_or_pd(acc, _mm256_xor_pd(p, q)); }
    KERNEL_OP Reg Merge(Reg s, Reg t, bool orSums)
    {
        return orSums ? _mm256_or_pd(s, t) : _mm256_xor_pd(s, t);
    }
    KERNEL_OP bool AnyBit(Reg v)
    {
        return !_mm256_testz_si256(_mm256_castpd_si256(v), _mm256_castpd_si256(v));
    }
    KERNEL_OP unsigned long long Fold(Reg v, bool orLanes)
    {
        alignas(32) unsigned long long lanes[4];
        _mm256_store_pd(reinterpret_cast<double*>(lanes), v);
        return orLanes ? lanes[0] | lanes[1] | lanes[2] | lanes[3]
                       : lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
    }
};

#include "engine/WorkerKernelBody.h"

} // namespace

KERNEL_VARIANT_DEFINE(Avx, Avx)

#pragma GCC pop_options
