// The crypto class's carry-less multiplier: chains of PCLMULQDQ, each step a
// 64 x 64-bit product p of the chain and its multiplier (low halves, then high
// halves in turn) taken to (p.lo ^ p.hi, p.hi). The expected results are made by
// a carry-less multiply of shifts and XORs.
// Layout: each chain's start (two words), then each chain's multiplier (two words).
#include <wmmintrin.h>

#include "engine/KernelClassVariants.h"

#pragma GCC push_options
#pragma GCC target("pclmul")

namespace {

const unsigned int kClmulSteps = 128;   // even: low and high halves in turn
#if defined(__x86_64__)
const unsigned int kChains = 8;   // three- to seven-cycle steps on one or two units
#else
const unsigned int kChains = 3;
#endif

template <int kImm>
CLASS_INLINE __m128i Step(__m128i x, __m128i k)
{
    const __m128i p = _mm_clmulepi64_si128(x, k, kImm);
    return _mm_xor_si128(p, _mm_unpackhi_epi64(p, _mm_setzero_si128()));
}

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    const unsigned long long* in = workspace->input;
    __m128i x[kChains];
#pragma GCC unroll 8
    for (unsigned int c = 0; c < kChains; ++c)
        x[c] = ClassWord(in, c);
    for (unsigned int s = 0; s < kClmulSteps; s += 2) {
#pragma GCC unroll 8
        for (unsigned int c = 0; c < kChains; ++c)
            x[c] = Step<0x00>(x[c], ClassWord(in, kChains + c));
#pragma GCC unroll 8
        for (unsigned int c = 0; c < kChains; ++c)
            x[c] = Step<0x11>(x[c], ClassWord(in, kChains + c));
    }
    if (kMode == kModeCeiling) {
#pragma GCC unroll 8
        for (unsigned int c = 0; c < kChains; ++c)
            asm volatile("" : : "x"(x[c]));
        return kCheckClean;
    }
    __m128i wrong = _mm_setzero_si128();
#pragma GCC unroll 8
    for (unsigned int c = 0; c < kChains; ++c)
        wrong = _mm_or_si128(wrong, _mm_xor_si128(x[c], ClassWord(workspace->expected, c)));
    return CheckClassPass(workspace, wrong, bits);
}

// The 128-bit carry-less product of a and b.
void SoftwareClmul(unsigned long long a, unsigned long long b, unsigned long long* lo, unsigned long long* hi)
{
    *lo = *hi = 0;
    for (unsigned int bit = 0; bit < 64; ++bit) {
        if ((b >> bit) & 1) {
            *lo ^= a << bit;
            if (bit)
                *hi ^= a >> (64 - bit);
        }
    }
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    ClassRandom random(seed);
    unsigned long long* in = workspace->input;
    workspace->inputWords = (4 * kChains + 7) & ~7u;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        in[i] = random.Next();
    workspace->resultWords = 2 * kChains;
    for (unsigned int c = 0; c < kChains; ++c) {
        unsigned long long x[2] = {in[2 * c], in[2 * c + 1]};
        const unsigned long long* k = in + 2 * (kChains + c);
        for (unsigned int s = 0; s < kClmulSteps; ++s) {
            unsigned long long lo, hi;
            SoftwareClmul(x[s % 2], k[s % 2], &lo, &hi);
            x[0] = lo ^ hi;
            x[1] = hi;
        }
        workspace->expected[2 * c] = x[0];
        workspace->expected[2 * c + 1] = x[1];
    }
    SealClassInputs(workspace);
}

CLASS_VARIANT_ENTRIES

} // namespace

extern const ClassVariant kCryptoClmul = {"CLMUL", kCpuPclmul, Prepare, ClassLoop, ClassCeiling,
                                          1ull * kClmulSteps * kChains, 1};

#pragma GCC pop_options
