#pragma once
// What the kernel classes' variant files share: the modes a pass is compiled in,
// the input check, the loops around a pass, and each variant's entry points.
#include <emmintrin.h>

#include "engine/KernelClasses.h"
#include "engine/TestEngine.h"

#define CLASS_INLINE static inline __attribute__((always_inline))

// A pass compiled three times: checking its results, recording them as the
// workspace's expected results, or neither (the ceiling).
enum ClassPassMode { kModeVerify = 0, kModeRecord = 1, kModeCeiling = 2 };

// One pass: a KernelCheck, with *bits set when it is not clean.
typedef int (*ClassPassFn)(ClassWorkspace* workspace, unsigned long long* bits);

// The i-th 128-bit word of p (16-byte aligned).
CLASS_INLINE __m128i ClassWord(const unsigned long long* p, unsigned int i)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p) + i);
}

// Successive values of a 64-bit xorshift generator; never 0.
struct ClassRandom {
    unsigned long long s;
    explicit ClassRandom(unsigned int seed) : s(0x9E3779B97F4A7C15ull ^ (seed * 0xD1B54A32D192ED03ull)) { Next(); }
    unsigned long long Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

// The lane-wise XOR of the used input's 64-byte blocks.
void SumClassInputs(const ClassWorkspace* workspace, unsigned long long sum[8]);
// Stores the sum of the inputs as they are now.
void SealClassInputs(ClassWorkspace* workspace);

// kCheckChangedInput (and *bits, the XOR of the lanes' differences: the flipped
// bits of one changed word) when the inputs' sum differs from the sealed one in
// any lane, else kCheckClean.
CLASS_INLINE int CheckClassInputs(const ClassWorkspace* workspace, unsigned long long* bits)
{
    const __m128i* p = reinterpret_cast<const __m128i*>(workspace->input);
    __m128i s0 = _mm_setzero_si128(), s1 = s0, s2 = s0, s3 = s0;
    for (unsigned int i = 0; i < workspace->inputWords / 2; i += 4) {
        s0 = _mm_xor_si128(s0, _mm_load_si128(p + i));
        s1 = _mm_xor_si128(s1, _mm_load_si128(p + i + 1));
        s2 = _mm_xor_si128(s2, _mm_load_si128(p + i + 2));
        s3 = _mm_xor_si128(s3, _mm_load_si128(p + i + 3));
    }
    const __m128i* sealed = reinterpret_cast<const __m128i*>(workspace->inputSum);
    s0 = _mm_xor_si128(s0, _mm_load_si128(sealed));
    s1 = _mm_xor_si128(s1, _mm_load_si128(sealed + 1));
    s2 = _mm_xor_si128(s2, _mm_load_si128(sealed + 2));
    s3 = _mm_xor_si128(s3, _mm_load_si128(sealed + 3));
    const __m128i any = _mm_or_si128(_mm_or_si128(s0, s1), _mm_or_si128(s2, s3));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF)
        return kCheckClean;
    alignas(16) unsigned long long lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_xor_si128(_mm_xor_si128(s0, s1), _mm_xor_si128(s2, s3)));
    *bits = lanes[0] ^ lanes[1];
    return kCheckChangedInput;
}

// The OR of expected XOR found over n result words; kCheckWrongResult when it is
// not 0. For results a pass stored to memory.
CLASS_INLINE int CheckClassResults(const ClassWorkspace* workspace, const unsigned long long* found,
                                   unsigned int n, unsigned long long* bits)
{
    unsigned long long wrong = 0;
    for (unsigned int i = 0; i < n; ++i)
        wrong |= found[i] ^ workspace->expected[i];
    if (!wrong)
        return kCheckClean;
    *bits = wrong;
    return kCheckWrongResult;
}

// A verified pass's verdict: its inputs are read after the computation, so a
// change during the pass is caught by this one; then its results, stored to
// memory (found) or ORed as differences in one register (wrong).
CLASS_INLINE int CheckClassPass(const ClassWorkspace* workspace, const unsigned long long* found, unsigned int n,
                                unsigned long long* bits)
{
    const int inputs = CheckClassInputs(workspace, bits);
    return inputs != kCheckClean ? inputs : CheckClassResults(workspace, found, n, bits);
}

CLASS_INLINE int CheckClassPass(const ClassWorkspace* workspace, __m128i wrong, unsigned long long* bits)
{
    const int inputs = CheckClassInputs(workspace, bits);
    if (inputs != kCheckClean)
        return inputs;
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(wrong, _mm_setzero_si128())) == 0xFFFF)
        return kCheckClean;
    alignas(16) unsigned long long lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), wrong);
    *bits = lanes[0] | lanes[1];
    return kCheckWrongResult;
}

int RunClassPasses(ClassWorkspace* workspace, KernelState* state, ClassPassFn pass);
unsigned long long RunCeilingPasses(ClassWorkspace* workspace, unsigned long long passes, ClassPassFn pass);

// A variant's loop and ceiling from its Pass<mode> template, as ClassLoop and
// ClassCeiling in the including file's anonymous namespace.
#define CLASS_VARIANT_ENTRIES                                                                   \
    int ClassLoop(ClassWorkspace* workspace, KernelState* state)                                \
    {                                                                                           \
        return RunClassPasses(workspace, state, Pass<kModeVerify>);                             \
    }                                                                                           \
    unsigned long long ClassCeiling(ClassWorkspace* workspace, unsigned long long passes)       \
    {                                                                                           \
        return RunCeilingPasses(workspace, passes, Pass<kModeCeiling>);                         \
    }

// Each variant, defined in its own file.
extern const ClassVariant kFmaAvx2, kFmaAvx512;
extern const ClassVariant kIntegerBase, kIntegerBmi2;
extern const ClassVariant kVectorSse41, kVectorAvx2, kVectorAvx512;
extern const ClassVariant kCryptoAes, kCryptoClmul, kCryptoCrc32, kCryptoSha;
