#include "engine/AreaFill.h"

#include <emmintrin.h>

namespace {

// Two xorshift64 generators, one per lane; the top 52 bits of the next state
// become the mantissa of a double in [1, 2).
inline __m128d NextPair(__m128i& state)
{
    state = _mm_xor_si128(state, _mm_slli_epi64(state, 13));
    state = _mm_xor_si128(state, _mm_srli_epi64(state, 7));
    state = _mm_xor_si128(state, _mm_slli_epi64(state, 17));
    const __m128i one = _mm_set1_epi64x(0x3FF0000000000000ll);
    return _mm_castsi128_pd(_mm_or_si128(_mm_srli_epi64(state, 12), one));
}

} // namespace

void FillWorkerArea(unsigned char* base, unsigned int size, unsigned int seed)
{
    const unsigned int n = size / 32;
    double* const a = reinterpret_cast<double*>(base);
    double* const b = reinterpret_cast<double*>(base + size / 4);
    double* const c = reinterpret_cast<double*>(base + size / 2);
    double* const d = reinterpret_cast<double*>(base + 3 * (size / 4));
    // Odd multipliers of odd numbers: neither lane starts at zero.
    const unsigned long long s = 2ull * seed + 1;
    __m128i state = _mm_set_epi64x(static_cast<long long>(0x9E3779B97F4A7C15ull * s),
                                   static_cast<long long>(0xD1B54A32D192ED03ull * s));
    for (unsigned int j = 0; j + 2 <= n; j += 2) {
        const __m128d x = NextPair(state);
        const __m128d y = NextPair(state);
        const __m128d z = NextPair(state);
        _mm_storeu_pd(a + j, x);
        _mm_storeu_pd(b + j, y);
        _mm_storeu_pd(c + j, z);
        _mm_storeu_pd(d + j, _mm_add_pd(_mm_mul_pd(x, y), z));
    }
}
