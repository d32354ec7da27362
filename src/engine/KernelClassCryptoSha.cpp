// The crypto class's SHA unit: SHA-256 compressions by SHA256RNDS2, SHA256MSG1 and
// SHA256MSG2 in kShaStreams interleaved streams, each chaining its state through
// its kShaBlocks message blocks kShaRounds times, checked against the same
// compressions computed a round at a time with general registers.
// Layout: each stream's state as the unit holds it (ABEF, then CDGH: the 32-bit
// words F, E, B, A, H, G, D, C from the lowest), then each stream's blocks of
// sixteen 32-bit message words.
#include <immintrin.h>

#include "engine/KernelClassCryptoSha.h"
#include "engine/KernelClassVariants.h"

namespace {

const unsigned int kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

unsigned int Rotr(unsigned int v, unsigned int n) { return (v >> n) | (v << (32 - n)); }

} // namespace

void Sha256Compress(unsigned int state[8], const unsigned int message[16])
{
    unsigned int w[64];
    for (unsigned int t = 0; t < 64; ++t) {
        if (t < 16) {
            w[t] = message[t];
            continue;
        }
        const unsigned int s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const unsigned int s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    unsigned int a = state[0], b = state[1], c = state[2], d = state[3];
    unsigned int e = state[4], f = state[5], g = state[6], h = state[7];
    for (unsigned int t = 0; t < 64; ++t) {
        const unsigned int t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                                kRoundConstants[t] + w[t];
        const unsigned int t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const unsigned int after[8] = {a, b, c, d, e, f, g, h};
    for (unsigned int i = 0; i < 8; ++i)
        state[i] += after[i];
}

#pragma GCC push_options
#pragma GCC target("sha,ssse3")

namespace {

// Streams in flight to cover the rounds' latency: a stream takes six registers,
// and one more stream than fit still gains (measured on Zen 3; two more lose).
#if defined(__x86_64__)
const unsigned int kShaStreams = 3;
#else
const unsigned int kShaStreams = 2;
#endif
const unsigned int kShaBlocks = 4;
const unsigned int kShaRounds = 2;
const unsigned int kStateWords = 4, kBlockWords = 8;
const unsigned int kDataStart = kShaStreams * kStateWords;

// One block's 64 rounds on every stream's state, four rounds of each stream in
// turn; the message schedule made in place (m[i % 4] holds words 4i to 4i + 3).
CLASS_INLINE void Compress(__m128i* abef, __m128i* cdgh, const unsigned long long* blocks)
{
    __m128i m[kShaStreams][4], start[kShaStreams][2];
#pragma GCC unroll 4
    for (unsigned int s = 0; s < kShaStreams; ++s) {
        for (unsigned int q = 0; q < 4; ++q)
            m[s][q] = ClassWord(blocks + s * kShaBlocks * kBlockWords, q);
        start[s][0] = abef[s];
        start[s][1] = cdgh[s];
    }
    const __m128i* k = reinterpret_cast<const __m128i*>(kRoundConstants);
#pragma GCC unroll 16
    for (unsigned int i = 0; i < 16; ++i) {
        const __m128i ki = _mm_loadu_si128(k + i);
#pragma GCC unroll 4
        for (unsigned int s = 0; s < kShaStreams; ++s) {
            __m128i* w = m[s];
            __m128i wk = _mm_add_epi32(w[i % 4], ki);
            cdgh[s] = _mm_sha256rnds2_epu32(cdgh[s], abef[s], wk);   // ABEF two rounds on; abef, CDGH
            if (i >= 3 && i <= 14) {
                const __m128i next = _mm_add_epi32(w[(i + 1) % 4], _mm_alignr_epi8(w[i % 4], w[(i + 3) % 4], 4));
                w[(i + 1) % 4] = _mm_sha256msg2_epu32(next, w[i % 4]);
            }
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef[s] = _mm_sha256rnds2_epu32(abef[s], cdgh[s], wk);   // both four rounds on
            if (i >= 1 && i <= 12)
                w[(i + 3) % 4] = _mm_sha256msg1_epu32(w[(i + 3) % 4], w[i % 4]);
        }
    }
#pragma GCC unroll 4
    for (unsigned int s = 0; s < kShaStreams; ++s) {
        abef[s] = _mm_add_epi32(abef[s], start[s][0]);
        cdgh[s] = _mm_add_epi32(cdgh[s], start[s][1]);
    }
}

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    const unsigned long long* in = workspace->input;
    __m128i abef[kShaStreams], cdgh[kShaStreams];
    for (unsigned int s = 0; s < kShaStreams; ++s) {
        abef[s] = ClassWord(in + s * kStateWords, 0);
        cdgh[s] = ClassWord(in + s * kStateWords, 1);
    }
    for (unsigned int r = 0; r < kShaRounds; ++r)
        for (unsigned int b = 0; b < kShaBlocks; ++b)
            Compress(abef, cdgh, in + kDataStart + b * kBlockWords);
    alignas(16) unsigned long long found[kShaStreams * kStateWords];
    for (unsigned int s = 0; s < kShaStreams; ++s) {
        _mm_store_si128(reinterpret_cast<__m128i*>(found + s * kStateWords), abef[s]);
        _mm_store_si128(reinterpret_cast<__m128i*>(found + s * kStateWords + 2), cdgh[s]);
    }
    if (kMode == kModeCeiling) {
        asm volatile("" : : "m"(found));
        return kCheckClean;
    }
    return CheckClassPass(workspace, found, kShaStreams * kStateWords, bits);
}

unsigned int Low(unsigned long long word) { return static_cast<unsigned int>(word); }
unsigned int High(unsigned long long word) { return static_cast<unsigned int>(word >> 32); }
unsigned long long Pair(unsigned int low, unsigned int high) { return low | static_cast<unsigned long long>(high) << 32; }

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    ClassRandom random(seed);
    unsigned long long* in = workspace->input;
    workspace->inputWords = (kDataStart + kShaStreams * kShaBlocks * kBlockWords + 7) & ~7u;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        in[i] = random.Next();
    workspace->resultWords = kShaStreams * kStateWords;
    for (unsigned int s = 0; s < kShaStreams; ++s) {
        const unsigned long long* state = in + s * kStateWords;
        // a to h from the unit's order.
        unsigned int h[8] = {High(state[1]), Low(state[1]), High(state[3]), Low(state[3]),
                             High(state[0]), Low(state[0]), High(state[2]), Low(state[2])};
        for (unsigned int r = 0; r < kShaRounds; ++r) {
            for (unsigned int b = 0; b < kShaBlocks; ++b) {
                const unsigned long long* block = in + kDataStart + (s * kShaBlocks + b) * kBlockWords;
                unsigned int w[16];
                for (unsigned int i = 0; i < 8; ++i) {
                    w[2 * i] = Low(block[i]);
                    w[2 * i + 1] = High(block[i]);
                }
                Sha256Compress(h, w);
            }
        }
        unsigned long long* expected = workspace->expected + s * kStateWords;
        expected[0] = Pair(h[5], h[4]);   // F, E
        expected[1] = Pair(h[1], h[0]);   // B, A
        expected[2] = Pair(h[7], h[6]);   // H, G
        expected[3] = Pair(h[3], h[2]);   // D, C
    }
    SealClassInputs(workspace);
}

CLASS_VARIANT_ENTRIES

} // namespace

extern const ClassVariant kCryptoSha = {"SHA", kCpuSha | kCpuSsse3, Prepare, ClassLoop, ClassCeiling,
                                        32ull * kShaStreams * kShaBlocks * kShaRounds, 1};

#pragma GCC pop_options
