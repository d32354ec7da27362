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

// The sweep's loop, entered at AVX_SWEEP_ENTER with the index at minus the
// arrays' length in bytes. Eight vectors a step, and a sweep of an odd number of
// 16-word blocks enters at the step's fifth; the bases lie 128 bytes past the
// ends, so that every offset fits in a byte. The step ends on the flags of its own
// add. Eight vector registers, so the same code serves the 32-bit build; two input
// sums in turn.
#define AVX_SWEEP_LOOP                                                                          \
    ".p2align 6\n"                                                                              \
    "1:\n\t"                                                                                    \
    AVX_SWEEP_VECTOR("-128", "in0") AVX_SWEEP_VECTOR("-96", "in1")                              \
    AVX_SWEEP_VECTOR("-64", "in0") AVX_SWEEP_VECTOR("-32", "in1")                               \
    "2:\n\t"                                                                                    \
    AVX_SWEEP_VECTOR("0", "in0") AVX_SWEEP_VECTOR("32", "in1")                                  \
    AVX_SWEEP_VECTOR("64", "in0") AVX_SWEEP_VECTOR("96", "in1")                                 \
    "add $256, %[j]\n\t"                                                                        \
    "js 1b\n\t"
#define AVX_SWEEP_ENTER                                                                         \
    "test $128, %[j]\n\t"                                                                       \
    "jz 1b\n\t"                                                                                 \
    "sub $128, %[j]\n\t"                                                                        \
    "jmp 2b\n"
#define AVX_SWEEP_OPERANDS                                                                      \
    [x] "=&x"(x), [y] "=&x"(y), [z] "=&x"(z), [t] "=&x"(t), [in0] "+x"(in0), [in1] "+x"(in1),   \
        [cs] "+x"(cs), [wrong] "+x"(found)
const ptrdiff_t kSweepBias = 128;
#define AVX_SWEEP_BASES                                                                         \
    [a] "r"(reinterpret_cast<const char*>(a + n) + kSweepBias),                                 \
        [b] "r"(reinterpret_cast<const char*>(b + n) + kSweepBias),                             \
        [c] "r"(reinterpret_cast<const char*>(c + n) + kSweepBias),                             \
        [d] "r"(reinterpret_cast<char*>(d + n) + kSweepBias)

// The sweep written out: compiled, the step kept a pointer of its own for d and
// compared its index with n, and ran about 3% slower.
template <>
KERNEL_ALWAYS_INLINE void Sweep<Avx>(const double* a, const double* b, const double* c, double* d,
                                     size_t n, Avx::Sum& inputSum, Avx::Sum& wrong)
{
    __m256d x, y, z, t;
    __m256d in0 = Avx::Zero(), in1 = in0, cs = in0, found = in0;
    if (n != 0) {
        ptrdiff_t j = -static_cast<ptrdiff_t>(n * sizeof(double));
        asm volatile("jmp 3f\n\t"
                     AVX_SWEEP_LOOP
                     "jmp 4f\n"
                     "3:\n\t"
                     AVX_SWEEP_ENTER
                     "4:"
                     : [j] "+r"(j), AVX_SWEEP_OPERANDS
                     : AVX_SWEEP_BASES
                     : "cc", "memory");
    }
    inputSum = Avx::Merge(Avx::Merge(in0, in1, false), cs, false);
    wrong = found;
}

// The passes after the first, written out as one loop: each pass's sums merged
// and compared with the first pass's (`last`: they stay the same while passes
// are clean), its count stored, the limit and the flag read and the next pass
// begun, in about twenty instructions and one taken branch. Compiled, the 32-bit
// loop kept its state on the stack and spent about 3% of a pass between passes.
// One asm statement runs at most 2^32 - 1 passes (`left`).
#if defined(__x86_64__)
#define AVX_LAST_OPERAND "x"
#define AVX_COUNT_PASS "inc %[count]\n\t" "mov %[count], %[stored]\n\t"
#else
#define AVX_LAST_OPERAND "m"   // no ninth vector register
// The count is one 64-bit store, as StorePassCount makes it.
#define AVX_COUNT_PASS "vmovq %[stored], %x[t]\n\t" "vpaddq %[one], %x[t], %x[t]\n\t" "vmovq %x[t], %[stored]\n\t"
alignas(16) const unsigned long long kOnePass[2] = {1, 0};
#endif

template <>
KERNEL_ALWAYS_INLINE int LaterPasses<Avx>(const double* a, const double* b, const double* c, double* d,
                                          size_t n, Avx::Sum last, KernelState* state)
{
    if (n == 0)
        return RepeatPasses<Avx>(a, b, c, d, n, last, state);
    const ptrdiff_t start = -static_cast<ptrdiff_t>(n * sizeof(double));
    for (;;) {
        unsigned long long passes = state->passes;
        const unsigned long long remaining = state->passLimit - passes;   // a limit of 0: 2^64 - passes
        if (testRunning == 0 || remaining == 0)
            return kCheckClean;
        unsigned int left = remaining > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned int>(remaining);
        __m256d x, y, z, t, in0 = Avx::Zero(), in1 = in0, cs = in0, found = in0;
        ptrdiff_t j;
        asm volatile("jmp 3f\n\t"
                     AVX_SWEEP_LOOP
                     "vxorpd %[in1], %[in0], %[in0]\n\t"
                     "vxorpd %[cs], %[in0], %[in0]\n\t"
                     "vxorpd %[last], %[in0], %[t]\n\t"
                     "vorpd %[wrong], %[t], %[t]\n\t"
                     "vptest %[t], %[t]\n\t"
                     "jnz 4f\n\t"
                     AVX_COUNT_PASS
                     "decl %[left]\n\t"
                     "jz 4f\n\t"
                     "cmpl $0, %[running]\n\t"
                     "je 4f\n"
                     "3:\n\t"
                     "mov %[start], %[j]\n\t"
                     "vxorpd %[in0], %[in0], %[in0]\n\t"
                     "vxorpd %[in1], %[in1], %[in1]\n\t"
                     "vxorpd %[cs], %[cs], %[cs]\n\t"
                     AVX_SWEEP_ENTER
                     "4:"
                     : [j] "=&r"(j), AVX_SWEEP_OPERANDS, [left] "+rm"(left),
#if defined(__x86_64__)
                       [count] "+r"(passes),
#endif
                       [stored] "+m"(state->passes)
                     : AVX_SWEEP_BASES, [start] "rm"(start), [last] AVX_LAST_OPERAND(last),
                       [running] "m"(testRunning)
#if !defined(__x86_64__)
                       , [one] "m"(kOnePass)
#endif
                     : "cc", "memory");
        // The pass that ended the loop: found an error, or the limit or the flag came.
        if (Avx::AnyBit(Avx::Merge(Avx::Merge(in0, last, false), found, true)))
            return CheckLanes<Avx>(in0, last, found, state);
        if (left != 0)
            return kCheckClean;   // the flag
    }
}

#undef AVX_LAST_OPERAND
#undef AVX_COUNT_PASS
#undef AVX_SWEEP_BASES
#undef AVX_SWEEP_OPERANDS
#undef AVX_SWEEP_ENTER
#undef AVX_SWEEP_LOOP
#undef AVX_SWEEP_VECTOR

} // namespace

KERNEL_VARIANT_DEFINE(Avx, Avx)

#pragma GCC pop_options
