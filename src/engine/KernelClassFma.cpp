#include "engine/KernelClassFma.h"

#include <immintrin.h>

#include <cstring>

#include "engine/KernelClassVariants.h"

namespace {

// A double of the given exponent field whose 52 mantissa bits come from r.
double WithExponent(unsigned long long r, unsigned long long exponent)
{
    const unsigned long long bits = (exponent << 52) | (r >> 12);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

__attribute__((target("fma"))) unsigned long long ScalarChain(double x, double m)
{
    __m128d v = _mm_set_sd(x);
    const __m128d mv = _mm_set_sd(m);
    for (unsigned int k = 0; k < kFmaPairs; ++k) {
        v = _mm_fmadd_sd(v, mv, v);
        v = _mm_fnmadd_sd(v, mv, v);
    }
    unsigned long long bits;
    const double result = _mm_cvtsd_f64(v);
    std::memcpy(&bits, &result, sizeof bits);
    return bits;
}

} // namespace

void PrepareFma(ClassWorkspace* workspace, unsigned int seed, unsigned int chains, unsigned int lanes)
{
    ClassRandom random(seed);
    double* input = reinterpret_cast<double*>(workspace->input);
    for (unsigned int i = 0; i < chains * lanes; ++i)
        input[i] = WithExponent(random.Next(), 1023);   // [1, 2)
    double* m = input + chains * lanes;
    for (unsigned int l = 0; l < lanes; ++l)
        m[l] = WithExponent(random.Next(), 1023 - 7);   // [2^-7, 2^-6), random mantissa
    workspace->inputWords = ((chains + 1) * lanes + 7) & ~7u;
    for (unsigned int i = (chains + 1) * lanes; i < workspace->inputWords; ++i)
        workspace->input[i] = random.Next();
    workspace->resultWords = chains * lanes;
    for (unsigned int c = 0; c < chains; ++c)
        for (unsigned int l = 0; l < lanes; ++l)
            workspace->expected[c * lanes + l] = ScalarChain(input[c * lanes + l], m[l]);
    SealClassInputs(workspace);
}
