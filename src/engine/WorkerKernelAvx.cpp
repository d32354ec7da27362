// 256-bit variant of the worker kernel. It uses AVX instructions only (AVX2 adds
// nothing for double multiply and add), so it serves AVX2 processors and the
// AVX-only ones before them. Only this file's functions use AVX; callers check
// CPUID and XGETBV first.
#include <immintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

#define KERNEL_TARGET __attribute__((target("avx")))
#define KERNEL_INLINE KERNEL_TARGET inline __attribute__((always_inline))

namespace {

template <bool kStream>
KERNEL_INLINE void Store(double* d, __m256d value)
{
    if (kStream)
        _mm256_stream_pd(d, value);
    else
        _mm256_storeu_pd(d, value);
}

// One group of four: product rounded, then sum rounded; separate instructions.
template <bool kStream>
KERNEL_INLINE void Quad(const double* a, const double* b, const double* c, double* d)
{
    const __m256d product = _mm256_mul_pd(_mm256_loadu_pd(a), _mm256_loadu_pd(b));
    Store<kStream>(d, _mm256_add_pd(product, _mm256_loadu_pd(c)));
}

template <bool kStream>
KERNEL_INLINE void Pass(const double* a, const double* b, const double* c, double* d,
                        unsigned int n)
{
    for (unsigned int j = 0; j < n; j += 16) {
        Quad<kStream>(a + j + 0, b + j + 0, c + j + 0, d + j + 0);
        Quad<kStream>(a + j + 4, b + j + 4, c + j + 4, d + j + 4);
        Quad<kStream>(a + j + 8, b + j + 8, c + j + 8, d + j + 8);
        Quad<kStream>(a + j + 12, b + j + 12, c + j + 12, d + j + 12);
    }
    if (kStream)
        _mm_sfence();
}

template <bool kStream>
KERNEL_INLINE unsigned long long Loop(const double* a, const double* b, const double* c,
                                      double* d, unsigned int n)
{
    unsigned long long passes = 0;
    do {
        Pass<kStream>(a, b, c, d, n);
        ++passes;
    } while (testRunning != 0);
    return passes;
}

} // namespace

KERNEL_TARGET void KernelPassAvx(const double* a, const double* b, const double* c, double* d,
                                 unsigned int n)
{
    Pass<false>(a, b, c, d, n);
}

KERNEL_TARGET void KernelStreamPassAvx(const double* a, const double* b, const double* c,
                                       double* d, unsigned int n)
{
    Pass<true>(a, b, c, d, n);
}

KERNEL_TARGET unsigned long long KernelLoopAvx(const double* a, const double* b, const double* c,
                                               double* d, unsigned int n)
{
    return Loop<false>(a, b, c, d, n);
}

KERNEL_TARGET unsigned long long KernelStreamLoopAvx(const double* a, const double* b,
                                                     const double* c, double* d, unsigned int n)
{
    return Loop<true>(a, b, c, d, n);
}
