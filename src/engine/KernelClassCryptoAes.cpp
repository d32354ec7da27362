// The crypto class's AES unit: blocks encrypted kAesTimes times in turn with ten
// AESENC/AESENCLAST rounds, then decrypted as often with AESDEC/AESDECLAST. The
// blocks must come back as they started (a fault in either direction shows,
// unless the other undoes it exactly), and the ciphertext must match that of the
// pass the preparation ran on the same data. The round keys are random; the
// decryption's are the equivalent inverse cipher's (AESIMC), made once.
// Layout: 11 encryption keys, 11 decryption keys, then the blocks.
#include <wmmintrin.h>

#include "engine/KernelClassVariants.h"

#pragma GCC push_options
#pragma GCC target("aes")

namespace {

const unsigned int kAesTimes = 8;
#if defined(__x86_64__)
const unsigned int kBlocks = 8;   // four-cycle rounds on two units
#else
const unsigned int kBlocks = 4;
#endif

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    const unsigned long long* in = workspace->input;
    __m128i x[kBlocks];
#pragma GCC unroll 8
    for (unsigned int b = 0; b < kBlocks; ++b)
        x[b] = ClassWord(in, 22 + b);
    for (unsigned int t = 0; t < kAesTimes; ++t) {
#pragma GCC unroll 8
        for (unsigned int b = 0; b < kBlocks; ++b)
            x[b] = _mm_xor_si128(x[b], ClassWord(in, 0));
#pragma GCC unroll 9
        for (unsigned int r = 1; r < 10; ++r)
#pragma GCC unroll 8
            for (unsigned int b = 0; b < kBlocks; ++b)
                x[b] = _mm_aesenc_si128(x[b], ClassWord(in, r));
#pragma GCC unroll 8
        for (unsigned int b = 0; b < kBlocks; ++b)
            x[b] = _mm_aesenclast_si128(x[b], ClassWord(in, 10));
    }
    __m128i wrong = _mm_setzero_si128();
#pragma GCC unroll 8
    for (unsigned int b = 0; b < kBlocks; ++b) {
        if (kMode == kModeRecord)
            _mm_store_si128(reinterpret_cast<__m128i*>(workspace->expected) + b, x[b]);
        else if (kMode == kModeVerify)
            wrong = _mm_or_si128(wrong, _mm_xor_si128(x[b], ClassWord(workspace->expected, b)));
        else
            asm volatile("" : : "x"(x[b]));
    }
    for (unsigned int t = 0; t < kAesTimes; ++t) {
#pragma GCC unroll 8
        for (unsigned int b = 0; b < kBlocks; ++b)
            x[b] = _mm_xor_si128(x[b], ClassWord(in, 11));
#pragma GCC unroll 9
        for (unsigned int r = 12; r < 21; ++r)
#pragma GCC unroll 8
            for (unsigned int b = 0; b < kBlocks; ++b)
                x[b] = _mm_aesdec_si128(x[b], ClassWord(in, r));
#pragma GCC unroll 8
        for (unsigned int b = 0; b < kBlocks; ++b)
            x[b] = _mm_aesdeclast_si128(x[b], ClassWord(in, 21));
    }
    if (kMode == kModeCeiling) {
#pragma GCC unroll 8
        for (unsigned int b = 0; b < kBlocks; ++b)
            asm volatile("" : : "x"(x[b]));
        return kCheckClean;
    }
#pragma GCC unroll 8
    for (unsigned int b = 0; b < kBlocks; ++b)
        wrong = _mm_or_si128(wrong, _mm_xor_si128(x[b], ClassWord(in, 22 + b)));
    return CheckClassPass(workspace, wrong, bits);
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    ClassRandom random(seed);
    unsigned long long* in = workspace->input;
    workspace->inputWords = (2 * (22 + kBlocks) + 7) & ~7u;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        in[i] = random.Next();
    __m128i* key = reinterpret_cast<__m128i*>(in);
    key[11] = key[10];
    for (unsigned int r = 1; r < 10; ++r)
        key[11 + r] = _mm_aesimc_si128(key[10 - r]);
    key[21] = key[0];
    workspace->resultWords = 2 * kBlocks;
    unsigned long long unused = 0;
    Pass<kModeRecord>(workspace, &unused);
    SealClassInputs(workspace);
}

CLASS_VARIANT_ENTRIES

} // namespace

extern const ClassVariant kCryptoAes = {"AES", kCpuAes, Prepare, ClassLoop, ClassCeiling,
                                        2ull * 10 * kAesTimes * kBlocks, 1};

#pragma GCC pop_options
