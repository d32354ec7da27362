#include "engine/AreaFill.h"

#include <emmintrin.h>

namespace {

// Two xorshift64 generators, one per lane; the top 52 bits of the next state
// become the mantissa of a double in [1, 2).
inline __m128i NextBits(__m128i& state)
{
    state = _mm_xor_si128(state, _mm_slli_epi64(state, 13));
    state = _mm_xor_si128(state, _mm_srli_epi64(state, 7));
    state = _mm_xor_si128(state, _mm_slli_epi64(state, 17));
    return _mm_srli_epi64(state, 12);
}

inline __m128d Pattern(__m128i bits, __m128i keep, __m128i set)
{
    return _mm_castsi128_pd(_mm_or_si128(_mm_and_si128(bits, keep), set));
}

// Sign and exponent of the three ranges, and the mantissa bits c keeps.
const long long kOne = 0x3FF0000000000000ll;
const long long kMinusOne = static_cast<long long>(0xBFF0000000000000ull);
const long long kSixteenth = 0x3FB0000000000000ll;
const long long kAllMantissa = 0x000FFFFFFFFFFFFFll, kLowerHalf = 0x0007FFFFFFFFFFFFll;

struct Quarters {
    double *a, *b, *c, *d;
    size_t n;
    Quarters(unsigned char* base, size_t size)
        : a(reinterpret_cast<double*>(base)), b(reinterpret_cast<double*>(base + size / 4)),
          c(reinterpret_cast<double*>(base + size / 2)),
          d(reinterpret_cast<double*>(base + 3 * (size / 4))), n(size / 32)
    {
    }
};

// splitmix64: well-mixed, never-zero starting states from the seed and a chunk number.
unsigned long long Mix(unsigned long long x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x ? x : 1;
}

} // namespace

unsigned long long FillWorkerAreaPart(unsigned char* base, size_t size, unsigned int seed,
                                      size_t begin, size_t end)
{
    const Quarters q(base, size);
    if (end > q.n)
        end = q.n;
    const unsigned int range = seed % 3;
    const __m128i all = _mm_set1_epi64x(kAllMantissa), one = _mm_set1_epi64x(kOne);
    const __m128i bSet = _mm_set1_epi64x(range == 0 ? kOne : range == 1 ? kMinusOne : kSixteenth);
    const __m128i cKeep = _mm_set1_epi64x(range == 2 ? kLowerHalf : kAllMantissa);
    __m128i sum = _mm_setzero_si128();
    for (size_t chunk = begin; chunk < end; chunk += kFillChunk) {
        const unsigned long long key = (static_cast<unsigned long long>(seed) << 32) ^ (chunk / kFillChunk);
        __m128i state = _mm_set_epi64x(static_cast<long long>(Mix(2 * key)), static_cast<long long>(Mix(2 * key + 1)));
        const size_t stop = end - chunk < kFillChunk ? end : chunk + kFillChunk;
        for (size_t j = chunk; j + 2 <= stop; j += 2) {
            const __m128d x = Pattern(NextBits(state), all, one);
            const __m128d y = Pattern(NextBits(state), all, bSet);
            const __m128d z = Pattern(NextBits(state), cKeep, one);
            _mm_storeu_pd(q.a + j, x);
            _mm_storeu_pd(q.b + j, y);
            _mm_storeu_pd(q.c + j, z);
            _mm_storeu_pd(q.d + j, _mm_add_pd(_mm_mul_pd(x, y), z));
            sum = _mm_xor_si128(sum, _mm_xor_si128(_mm_castpd_si128(x),
                                                   _mm_xor_si128(_mm_castpd_si128(y), _mm_castpd_si128(z))));
        }
    }
    alignas(16) unsigned long long lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
    return lanes[0] ^ lanes[1];
}

unsigned long long FillWorkerArea(unsigned char* base, size_t size, unsigned int seed)
{
    return FillWorkerAreaPart(base, size, seed, 0, size / 32);
}

void ComplementWorkerArea(unsigned char* base, size_t size)
{
    const Quarters q(base, size);
    const __m128d ones = _mm_castsi128_pd(_mm_set1_epi32(-1));
    for (size_t j = 0; j + 2 <= q.n; j += 2) {
        const __m128d x = _mm_xor_pd(_mm_loadu_pd(q.a + j), ones);
        const __m128d y = _mm_xor_pd(_mm_loadu_pd(q.b + j), ones);
        const __m128d z = _mm_xor_pd(_mm_loadu_pd(q.c + j), ones);
        _mm_storeu_pd(q.a + j, x);
        _mm_storeu_pd(q.b + j, y);
        _mm_storeu_pd(q.c + j, z);
        _mm_storeu_pd(q.d + j, _mm_add_pd(_mm_mul_pd(x, y), z));
    }
}
