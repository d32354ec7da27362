#include "engine/KernelClassVector.h"

#include "engine/KernelClassVariants.h"

namespace {

// A random permutation of 0 .. n-1 into out (n at most 16).
void Permutation(ClassRandom& random, unsigned int n, unsigned int* out)
{
    for (unsigned int i = 0; i < n; ++i)
        out[i] = i;
    for (unsigned int i = n - 1; i > 0; --i) {
        const unsigned int j = static_cast<unsigned int>(random.Next() % (i + 1));
        const unsigned int t = out[i];
        out[i] = out[j];
        out[j] = t;
    }
}

} // namespace

void PrepareVectorInputs(ClassWorkspace* workspace, unsigned int seed, unsigned int chains, unsigned int words)
{
    ClassRandom random(seed);
    unsigned long long* in = workspace->input;
    workspace->inputWords = ((chains + kVecSlots) * words + 7) & ~7u;
    for (unsigned int i = 0; i < workspace->inputWords; ++i)
        in[i] = random.Next();
    unsigned long long* slot = in + chains * words;
    for (unsigned int w = 0; w < words; ++w)
        slot[kVecK * words + w] |= 0x0001000100010001ull;
    unsigned int order[16];
    unsigned char* shuffle = reinterpret_cast<unsigned char*>(slot + kVecShuffle * words);
    for (unsigned int lane = 0; lane < words / 2; ++lane) {
        Permutation(random, 16, order);
        for (unsigned int b = 0; b < 16; ++b)
            shuffle[16 * lane + b] = static_cast<unsigned char>(order[b]);
    }
    unsigned int* permute = reinterpret_cast<unsigned int*>(slot + kVecPermute * words);
    Permutation(random, 2 * words, order);
    for (unsigned int i = 0; i < 2 * words; ++i)
        permute[i] = order[i];
    Permutation(random, 2 * words, order);
    for (unsigned int i = 0; i < words; ++i) {
        slot[kVecMixLow * words + i] = order[i];
        slot[kVecMixHigh * words + i] = order[words + i];
    }
}
