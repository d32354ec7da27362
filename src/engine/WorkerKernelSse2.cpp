// 128-bit variant of the worker kernel: SSE2, which every supported processor has.
#include <emmintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

namespace {

// With all four arrays 16-byte aligned the loads fold into the multiply and the
// add as memory operands: fewer instructions per element than separate loads.
template <bool kAligned>
inline __attribute__((always_inline)) __m128d Load(const double* p)
{
    return kAligned ? _mm_load_pd(p) : _mm_loadu_pd(p);
}

template <bool kStream>
inline __attribute__((always_inline)) void Store(double* d, __m128d value)
{
    if (kStream)
        _mm_stream_pd(d, value);
    else
        _mm_storeu_pd(d, value);
}

// One group of two: product rounded, then sum rounded; separate instructions.
template <bool kStream, bool kAligned>
inline __attribute__((always_inline)) void Pair(const double* a, const double* b,
                                               const double* c, double* d)
{
    const __m128d product = _mm_mul_pd(Load<kAligned>(a), Load<kAligned>(b));
    Store<kStream>(d, _mm_add_pd(product, Load<kAligned>(c)));
}

template <bool kStream, bool kAligned>
inline __attribute__((always_inline)) void Pass(const double* a, const double* b,
                                               const double* c, double* d, unsigned int n)
{
    for (unsigned int j = 0; j < n; j += 16) {
        Pair<kStream, kAligned>(a + j + 0, b + j + 0, c + j + 0, d + j + 0);
        Pair<kStream, kAligned>(a + j + 2, b + j + 2, c + j + 2, d + j + 2);
        Pair<kStream, kAligned>(a + j + 4, b + j + 4, c + j + 4, d + j + 4);
        Pair<kStream, kAligned>(a + j + 6, b + j + 6, c + j + 6, d + j + 6);
        Pair<kStream, kAligned>(a + j + 8, b + j + 8, c + j + 8, d + j + 8);
        Pair<kStream, kAligned>(a + j + 10, b + j + 10, c + j + 10, d + j + 10);
        Pair<kStream, kAligned>(a + j + 12, b + j + 12, c + j + 12, d + j + 12);
        Pair<kStream, kAligned>(a + j + 14, b + j + 14, c + j + 14, d + j + 14);
    }
    if (kStream)
        _mm_sfence();
}

template <bool kStream, bool kAligned>
inline __attribute__((always_inline)) unsigned long long Loop(const double* a, const double* b,
                                                              const double* c, double* d,
                                                              unsigned int n)
{
    unsigned long long passes = 0;
    do {
        Pass<kStream, kAligned>(a, b, c, d, n);
        ++passes;
    } while (testRunning != 0);
    return passes;
}

bool Aligned16(const double* a, const double* b, const double* c, const double* d)
{
    const UINT_PTR bits = reinterpret_cast<UINT_PTR>(a) | reinterpret_cast<UINT_PTR>(b) |
                          reinterpret_cast<UINT_PTR>(c) | reinterpret_cast<UINT_PTR>(d);
    return (bits & 15) == 0;
}

} // namespace

void KernelPassSse2(const double* a, const double* b, const double* c, double* d, unsigned int n)
{
    if (Aligned16(a, b, c, d))
        Pass<false, true>(a, b, c, d, n);
    else
        Pass<false, false>(a, b, c, d, n);
}

void KernelStreamPassSse2(const double* a, const double* b, const double* c, double* d,
                          unsigned int n)
{
    if (Aligned16(a, b, c, d))
        Pass<true, true>(a, b, c, d, n);
    else
        Pass<true, false>(a, b, c, d, n);
}

unsigned long long KernelLoopSse2(const double* a, const double* b, const double* c, double* d,
                                  unsigned int n)
{
    if (Aligned16(a, b, c, d))
        return Loop<false, true>(a, b, c, d, n);
    return Loop<false, false>(a, b, c, d, n);
}

unsigned long long KernelStreamLoopSse2(const double* a, const double* b, const double* c,
                                        double* d, unsigned int n)
{
    if (Aligned16(a, b, c, d))
        return Loop<true, true>(a, b, c, d, n);
    return Loop<true, false>(a, b, c, d, n);
}
