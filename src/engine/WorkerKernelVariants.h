#pragma once
// Entry points of each instruction-set variant of the worker kernel; see
// KernelPassFn and KernelLoopFn in WorkerKernel.h for the contract. Only call
// a variant the processor and the operating system support.

#define KERNEL_VARIANT_DECLARE(suffix)                                                          \
    void KernelPass##suffix(const double* a, const double* b, const double* c, double* d,      \
                            unsigned int n);                                                    \
    void KernelStreamPass##suffix(const double* a, const double* b, const double* c,          \
                                  double* d, unsigned int n);                                   \
    unsigned long long KernelLoop##suffix(const double* a, const double* b, const double* c,   \
                                          double* d, unsigned int n);                           \
    unsigned long long KernelStreamLoop##suffix(const double* a, const double* b,              \
                                                const double* c, double* d, unsigned int n);

KERNEL_VARIANT_DECLARE(Sse2)
KERNEL_VARIANT_DECLARE(Avx)
KERNEL_VARIANT_DECLARE(Avx512)

#undef KERNEL_VARIANT_DECLARE
