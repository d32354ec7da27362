// 512-bit variant of the worker kernel: AVX-512F. Only this file's functions use
// AVX-512; callers check CPUID and XGETBV first.
#include <immintrin.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

#define KERNEL_TARGET __attribute__((target("avx512f")))
#define KERNEL_INLINE KERNEL_TARGET inline __attribute__((always_inline))

namespace {

template <bool kStream>
KERNEL_INLINE void Store(double* d, __m512d value)
{
    if (kStream)
        _mm512_stream_pd(d, value);
    else
        _mm512_storeu_pd(d, value);
}

// One group of eight: product rounded, then sum rounded; separate instructions.
template <bool kStream>
KERNEL_INLINE void Octet(const double* a, const double* b, const double* c, double* d)
{
    const __m512d product = _mm512_mul_pd(_mm512_loadu_pd(a), _mm512_loadu_pd(b));
    Store<kStream>(d, _mm512_add_pd(product, _mm512_loadu_pd(c)));
}

template <bool kStream>
KERNEL_INLINE void Pass(const double* a, const double* b, const double* c, double* d,
                        unsigned int n)
{
    for (unsigned int j = 0; j < n; j += 16) {
        Octet<kStream>(a + j + 0, b + j + 0, c + j + 0, d + j + 0);
        Octet<kStream>(a + j + 8, b + j + 8, c + j + 8, d + j + 8);
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

KERNEL_TARGET void KernelPassAvx512(const double* a, const double* b, const double* c,
                                    double* d, unsigned int n)
{
    Pass<false>(a, b, c, d, n);
}

KERNEL_TARGET void KernelStreamPassAvx512(const double* a, const double* b, const double* c,
                                          double* d, unsigned int n)
{
    Pass<true>(a, b, c, d, n);
}

KERNEL_TARGET unsigned long long KernelLoopAvx512(const double* a, const double* b,
                                                  const double* c, double* d, unsigned int n)
{
    return Loop<false>(a, b, c, d, n);
}

KERNEL_TARGET unsigned long long KernelStreamLoopAvx512(const double* a, const double* b,
                                                        const double* c, double* d,
                                                        unsigned int n)
{
    return Loop<true>(a, b, c, d, n);
}
