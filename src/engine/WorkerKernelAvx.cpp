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

    KERNEL_OP Reg Zero() { return _mm256_setzero_pd(); }
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

// One vector of the sweep at byte offset `at` from the index: a, b and c loaded,
// x ^ y into an input sum (`in`), z into c's sum, r = x * y + z compared with the
// old d (a memory operand) and stored. Eleven instructions, and every address is
// an area's end plus the one negative index, so the step's only other work is the
// add whose flags end the loop.
#define AVX_SWEEP_VECTOR(at, in)                                                                \
    "vmovupd " at "(%[a],%[j]), %[x]\n\t"                                                       \
    "vmovupd " at "(%[b],%[j]), %[y]\n\t"                                                       \
    "vmovupd " at "(%[c],%[j]), %[z]\n\t"                                                       \
    "vxorpd %[y], %[x], %[t]\n\t"                                                               \
    "vmulpd %[y], %[x], %[x]\n\t"                                                               \
    "vxorpd %[t], %[" in "], %[" in "]\n\t"                                                     \
    "vaddpd %[z], %[x], %[x]\n\t"                                                               \
    "vxorpd %[z], %[cs], %[cs]\n\t"                                                             \
    "vxorpd " at "(%[d],%[j]), %[x], %[t]\n\t"                                                  \
    "vorpd %[t], %[wrong], %[wrong]\n\t"                                                        \
    "vmovupd %[x], " at "(%[d],%[j])\n\t"

// The sweep written out: compiled, the step kept a pointer of its own for d and
// compared its index with n, and ran about 3% slower. Eight vectors a step, and a
// sweep of an odd number of 16-word blocks enters at the step's fifth; the bases
// lie 128 bytes past the ends, so that every offset fits in a byte. Eight vector
// registers, so the same code serves the 32-bit build; two input sums in turn.
template <>
KERNEL_ALWAYS_INLINE void Sweep<Avx>(const double* a, const double* b, const double* c, double* d,
                                     size_t n, Avx::Sum& inputSum, Avx::Sum& wrong)
{
    __m256d x, y, z, t;
    __m256d in0 = Avx::Zero(), in1 = in0, cs = in0, found = in0;
    if (n != 0) {
        ptrdiff_t j = -static_cast<ptrdiff_t>(n * sizeof(double));
        const ptrdiff_t bias = 128;
        asm volatile("test $128, %[j]\n\t"
                     "jz 1f\n\t"
                     "sub $128, %[j]\n\t"
                     "jmp 2f\n\t"
                     ".p2align 6\n"
                     "1:\n\t"
                     AVX_SWEEP_VECTOR("-128", "in0") AVX_SWEEP_VECTOR("-96", "in1")
                     AVX_SWEEP_VECTOR("-64", "in0") AVX_SWEEP_VECTOR("-32", "in1")
                     "2:\n\t"
                     AVX_SWEEP_VECTOR("0", "in0") AVX_SWEEP_VECTOR("32", "in1")
                     AVX_SWEEP_VECTOR("64", "in0") AVX_SWEEP_VECTOR("96", "in1")
                     "add $256, %[j]\n\t"
                     "js 1b"
                     : [j] "+r"(j), [x] "=&x"(x), [y] "=&x"(y), [z] "=&x"(z), [t] "=&x"(t),
                       [in0] "+x"(in0), [in1] "+x"(in1), [cs] "+x"(cs), [wrong] "+x"(found)
                     : [a] "r"(reinterpret_cast<const char*>(a + n) + bias),
                       [b] "r"(reinterpret_cast<const char*>(b + n) + bias),
                       [c] "r"(reinterpret_cast<const char*>(c + n) + bias),
                       [d] "r"(reinterpret_cast<char*>(d + n) + bias)
                     : "cc", "memory");
    }
    inputSum = Avx::Merge(Avx::Merge(in0, in1, false), cs, false);
    wrong = found;
}

#undef AVX_SWEEP_VECTOR

} // namespace

KERNEL_VARIANT_DEFINE(Avx, Avx)

#pragma GCC pop_options
