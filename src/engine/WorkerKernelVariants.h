#pragma once
// Entry points of each instruction-set variant of the worker kernel; see
// KernelPassFn and KernelLoopFn in WorkerKernel.h for the contract. Only call
// a variant the processor and the operating system support.
#include "engine/WorkerKernel.h"

// The operations of a variant's vector type, each inlined into the kernel's loop.
#define KERNEL_OP static inline __attribute__((always_inline))

#define KERNEL_VARIANT_DECLARE(suffix)                                                          \
    int KernelPass##suffix(const double* a, const double* b, const double* c, double* d,       \
                           size_t n, KernelState* state);                                 \
    int KernelLoop##suffix(const double* a, const double* b, const double* c, double* d,       \
                           size_t n, KernelState* state);

KERNEL_VARIANT_DECLARE(Sse2)
KERNEL_VARIANT_DECLARE(Avx)
KERNEL_VARIANT_DECLARE(Avx512)

#undef KERNEL_VARIANT_DECLARE
