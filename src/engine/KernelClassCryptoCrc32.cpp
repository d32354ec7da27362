// The crypto class's CRC unit: SSE4.2's CRC32 (CRC-32C) over the data in
// kCrcStreams interleaved streams, each over its share of the data kCrcRounds
// times in turn, checked against a bitwise CRC of the same bytes.
// Layout: the streams' starting values, then the data.
#include <nmmintrin.h>

#include "engine/KernelClassVariants.h"

#pragma GCC push_options
#pragma GCC target("sse4.2")

namespace {

const unsigned int kCrcStreams = 6;   // three-cycle CRC32, one or two a cycle
const unsigned int kCrcRounds = 8;
const unsigned int kCrcDataWords = 240;
const unsigned int kStreamWords = kCrcDataWords / kCrcStreams;

// The CRC in a register of the instruction's width, so that no zero extension
// lengthens its chain.
#if defined(__x86_64__)
typedef unsigned long long CrcWord;
#else
typedef unsigned int CrcWord;
#endif

CLASS_INLINE CrcWord Crc(CrcWord crc, unsigned long long word)
{
#if defined(__x86_64__)
    return _mm_crc32_u64(crc, word);
#else
    return _mm_crc32_u32(_mm_crc32_u32(crc, static_cast<unsigned int>(word)), static_cast<unsigned int>(word >> 32));
#endif
}

template <int kMode>
int Pass(ClassWorkspace* workspace, unsigned long long* bits)
{
    const unsigned long long* data = workspace->input + 8;
    CrcWord crc[kCrcStreams];
    for (unsigned int s = 0; s < kCrcStreams; ++s)
        crc[s] = static_cast<unsigned int>(workspace->input[s]);
    for (unsigned int r = 0; r < kCrcRounds; ++r)
        for (unsigned int i = 0; i < kStreamWords; ++i)
#pragma GCC unroll 8
            for (unsigned int s = 0; s < kCrcStreams; ++s)
                crc[s] = Crc(crc[s], data[s * kStreamWords + i]);
    unsigned long long found[kCrcStreams];
    for (unsigned int s = 0; s < kCrcStreams; ++s)
        found[s] = crc[s];
    if (kMode == kModeCeiling) {
        asm volatile("" : : "m"(found));
        return kCheckClean;
    }
    return CheckClassPass(workspace, found, kCrcStreams, bits);
}

// CRC-32C of the word's bytes, lowest first, a bit at a time.
unsigned int BitwiseCrc(unsigned int crc, unsigned long long word)
{
    for (unsigned int bit = 0; bit < 64; ++bit) {
        const unsigned int in = static_cast<unsigned int>((word >> bit) & 1);
        crc = ((crc ^ in) & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    }
    return crc;
}

void Prepare(ClassWorkspace* workspace, unsigned int seed)
{
    ClassRandom random(seed);
    workspace->inputWords = 8 + kCrcDataWords;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        workspace->input[i] = random.Next();
    workspace->resultWords = kCrcStreams;
    const unsigned long long* data = workspace->input + 8;
    for (unsigned int s = 0; s < kCrcStreams; ++s) {
        unsigned int crc = static_cast<unsigned int>(workspace->input[s]);
        for (unsigned int r = 0; r < kCrcRounds; ++r)
            for (unsigned int i = 0; i < kStreamWords; ++i)
                crc = BitwiseCrc(crc, data[s * kStreamWords + i]);
        workspace->expected[s] = crc;
    }
    SealClassInputs(workspace);
}

CLASS_VARIANT_ENTRIES

} // namespace

extern const ClassVariant kCryptoCrc32 = {"CRC32", kCpuSse42, Prepare, ClassLoop, ClassCeiling,
                                          1ull * kCrcRounds * kCrcDataWords, 1};

#pragma GCC pop_options
