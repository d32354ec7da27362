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

// One vector of the sweep at byte offset `at` from each base (`index`: plus the
// index register, or nothing): a, b and c loaded, x ^ y into an input sum (`in`),
// z into c's sum, r = x * y + z compared with the old d (a memory operand) and
// stored. Eleven instructions; in the loop every address is an area's end plus
// the one negative index, so the step's only other work is the add whose flags
// end it.
#define AVX_SWEEP_VECTOR(at, index, in)                                                         \
    "vmovupd " at "(%[a]" index "), %[x]\n\t"                                                   \
    "vmovupd " at "(%[b]" index "), %[y]\n\t"                                                   \
    "vmovupd " at "(%[c]" index "), %[z]\n\t"                                                   \
    "vxorpd %[y], %[x], %[t]\n\t"                                                               \
    "vmulpd %[y], %[x], %[x]\n\t"                                                               \
    "vxorpd %[t], %[" in "], %[" in "]\n\t"                                                     \
    "vaddpd %[z], %[x], %[x]\n\t"                                                               \
    "vxorpd %[z], %[cs], %[cs]\n\t"                                                             \
    "vxorpd " at "(%[d]" index "), %[x], %[t]\n\t"                                              \
    "vorpd %[t], %[wrong], %[wrong]\n\t"                                                        \
    "vmovupd %[x], " at "(%[d]" index ")\n\t"

// Four vectors (one 16-word block) from byte offset `at`, an assembler
// expression; two input sums in turn.
#define AVX_SWEEP_BLOCK(at, index)                                                              \
    AVX_SWEEP_VECTOR(at "+0", index, "in0") AVX_SWEEP_VECTOR(at "+32", index, "in1")            \
    AVX_SWEEP_VECTOR(at "+64", index, "in0") AVX_SWEEP_VECTOR(at "+96", index, "in1")

// The sweep's loop, entered at AVX_SWEEP_ENTER with the index at minus the
// arrays' length in bytes. Eight vectors a step, and a sweep of an odd number of
// 16-word blocks enters at the step's fifth; the bases lie 128 bytes past the
// ends, so that every offset fits in a byte. The step ends on the flags of its own
// add. Eight vector registers, so the same code serves the 32-bit build.
#define AVX_SWEEP_LOOP                                                                          \
    ".p2align 6\n"                                                                              \
    "1:\n\t"                                                                                    \
    AVX_SWEEP_BLOCK("-128", ",%[j]")                                                            \
    "2:\n\t"                                                                                    \
    AVX_SWEEP_BLOCK("0", ",%[j]")                                                               \
    "add $256, %[j]\n\t"                                                                        \
    "js 1b\n\t"

// The whole sweep of an 8192-byte area (the load's L1 area: 16 blocks in each
// 2048-byte quarter), written out from the same bases without the index: no
// loop, and these passes run 2 to 3% faster than through the loop's steps, exits
// and entries, and than written out with the index (the longer instructions).
const size_t kWholeSweepElements = 256;
#define AVX_WHOLE_SWEEP                                                                         \
    AVX_SWEEP_BLOCK("-2176", "") AVX_SWEEP_BLOCK("-2048", "") AVX_SWEEP_BLOCK("-1920", "")      \
    AVX_SWEEP_BLOCK("-1792", "") AVX_SWEEP_BLOCK("-1664", "") AVX_SWEEP_BLOCK("-1536", "")      \
    AVX_SWEEP_BLOCK("-1408", "") AVX_SWEEP_BLOCK("-1280", "") AVX_SWEEP_BLOCK("-1152", "")      \
    AVX_SWEEP_BLOCK("-1024", "") AVX_SWEEP_BLOCK("-896", "") AVX_SWEEP_BLOCK("-768", "")        \
    AVX_SWEEP_BLOCK("-640", "") AVX_SWEEP_BLOCK("-512", "") AVX_SWEEP_BLOCK("-384", "")         \
    AVX_SWEEP_BLOCK("-256", "")
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
// are clean) into its check, the count stored, the limit and the flag read and
// the next pass begun, in about twenty instructions and one taken branch.
// Compiled, the 32-bit loop kept its state on the stack and spent about 3% of a
// pass between passes. A pass's check is branched on at the end of the pass
// after it, when it has long been computed: a branch on the check just made
// waits for the pass's last results, and cost 3 to 4% of an 8192-byte pass. So
// the loop ends at most one pass after a pass that found an error, with that
// pass's merged sums in `sum` and its check in `check` (`found` ORs the wrong
// results of every pass), or at the limit or the flag with the last pass's, not
// yet branched on. Every pass is counted when it ends. One asm statement runs at
// most 2^32 - 1 passes (`left`).
#if defined(__x86_64__)
#define AVX_LAST_OPERAND "x"
#define AVX_COUNT_PASS "inc %[count]\n\t" "mov %[count], %[stored]\n\t"
#define AVX_COUNT_OPERAND [count] "+r"(passes),
#define AVX_ONE_OPERAND
#define AVX_KEPT "x"
#define AVX_TEST_CHECK                                                                          \
    "vptest %[check], %[check]\n\t"
#define AVX_KEEP_CHECK                                                                          \
    "vxorpd %[in1], %[in0], %[sum]\n\t"                                                         \
    "vxorpd %[cs], %[sum], %[sum]\n\t"                                                          \
    "vxorpd %[last], %[sum], %[check]\n\t"                                                      \
    "vorpd %[wrong], %[check], %[check]\n\t"
#else
#define AVX_LAST_OPERAND "m"   // no ninth vector register; nor for the sum and the check
// The count is one 64-bit store, as StorePassCount makes it.
#define AVX_COUNT_PASS "vmovq %[stored], %x[t]\n\t" "vpaddq %[one], %x[t], %x[t]\n\t" "vmovq %x[t], %[stored]\n\t"
#define AVX_COUNT_OPERAND
#define AVX_ONE_OPERAND , [one] "m"(kOnePass)
#define AVX_KEPT "m"
alignas(16) const unsigned long long kOnePass[2] = {1, 0};
#define AVX_TEST_CHECK                                                                          \
    "vmovupd %[check], %[t]\n\t"                                                                \
    "vptest %[t], %[t]\n\t"
#define AVX_KEEP_CHECK                                                                          \
    "vxorpd %[in1], %[in0], %[in0]\n\t"                                                         \
    "vxorpd %[cs], %[in0], %[in0]\n\t"                                                          \
    "vmovupd %[in0], %[sum]\n\t"                                                                \
    "vxorpd %[last], %[in0], %[t]\n\t"                                                          \
    "vorpd %[wrong], %[t], %[t]\n\t"                                                            \
    "vmovupd %[t], %[check]\n\t"
#endif
#define AVX_ZERO_SUMS                                                                           \
    "vxorpd %[in0], %[in0], %[in0]\n\t"                                                         \
    "vxorpd %[in1], %[in1], %[in1]\n\t"                                                         \
    "vxorpd %[cs], %[cs], %[cs]\n\t"
// After a pass: out to 4 if the pass before it found an error, or at the limit;
// the flag compared with 0 for the caller's branch.
#define AVX_PASS_END                                                                            \
    AVX_TEST_CHECK                                                                              \
    "jnz 4f\n\t"                                                                                \
    AVX_KEEP_CHECK                                                                              \
    AVX_COUNT_PASS                                                                              \
    "decl %[left]\n\t"                                                                          \
    "jz 4f\n\t"                                                                                 \
    "cmpl $0, %[running]\n\t"
#define AVX_LATER_OUTPUTS                                                                       \
    AVX_SWEEP_OPERANDS, [left] "+rm"(left), AVX_COUNT_OPERAND[stored] "+m"(state->passes),      \
    [sum] "+" AVX_KEPT(sum), [check] "+" AVX_KEPT(check)
#define AVX_LATER_INPUTS                                                                        \
    AVX_SWEEP_BASES, [last] AVX_LAST_OPERAND(last), [running] "m"(testRunning) AVX_ONE_OPERAND

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
        __m256d x, y, z, t, in0 = Avx::Zero(), in1 = in0, cs = in0, found = in0, sum = in0, check = in0;
        if (n == kWholeSweepElements) {
            asm volatile(".p2align 6\n"
                         "1:\n\t"
                         AVX_ZERO_SUMS
                         AVX_WHOLE_SWEEP
                         AVX_PASS_END
                         "jne 1b\n"
                         "4:"
                         : AVX_LATER_OUTPUTS
                         : AVX_LATER_INPUTS
                         : "cc", "memory");
        } else {
            ptrdiff_t j;
            asm volatile("jmp 3f\n\t"
                         AVX_SWEEP_LOOP
                         AVX_PASS_END
                         "je 4f\n"
                         "3:\n\t"
                         "mov %[start], %[j]\n\t"
                         AVX_ZERO_SUMS
                         AVX_SWEEP_ENTER
                         "4:"
                         : [j] "=&r"(j), AVX_LATER_OUTPUTS
                         : [start] "rm"(start), AVX_LATER_INPUTS
                         : "cc", "memory");
        }
        if (Avx::AnyBit(check)) {
            // The pass that found the error was counted; CheckLanes counts it.
            StorePassCount(state, state->passes - 1);
            return CheckLanes<Avx>(sum, last, found, state);
        }
        if (left != 0)
            return kCheckClean;   // the flag
    }
}

#undef AVX_LATER_INPUTS
#undef AVX_LATER_OUTPUTS
#undef AVX_PASS_END
#undef AVX_ZERO_SUMS
#undef AVX_KEEP_CHECK
#undef AVX_TEST_CHECK
#undef AVX_KEPT
#undef AVX_ONE_OPERAND
#undef AVX_COUNT_OPERAND
#undef AVX_LAST_OPERAND
#undef AVX_COUNT_PASS
#undef AVX_SWEEP_BASES
#undef AVX_SWEEP_OPERANDS
#undef AVX_SWEEP_ENTER
#undef AVX_WHOLE_SWEEP
#undef AVX_SWEEP_LOOP
#undef AVX_SWEEP_BLOCK
#undef AVX_SWEEP_VECTOR

} // namespace

KERNEL_VARIANT_DEFINE(Avx, Avx)

#pragma GCC pop_options
