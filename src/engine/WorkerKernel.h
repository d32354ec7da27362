#pragma once
#include <windows.h>

// Body of every worker thread: loads the floating-point unit (and, with a large
// area, memory) until testRunning is cleared. The parameter is a WorkerArea*.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);

// One pass over an area: d[j] = a[j] * b[j] + c[j] for j in [0, n), the product
// rounded to double and then the sum rounded to double (never fused). a, b and c
// are only read, d is only written. n is a multiple of 16; the arrays hold
// doubles at any 8-byte alignment and do not overlap.
typedef void (*KernelPassFn)(const double* a, const double* b, const double* c, double* d,
                             unsigned int n);

// Passes over the same arrays until testRunning reads 0 after a pass (at least
// one pass). The flag is read only between passes. Returns the number of passes.
typedef unsigned long long (*KernelLoopFn)(const double* a, const double* b, const double* c,
                                           double* d, unsigned int n);

// Instruction sets the kernel comes in, narrowest first.
enum KernelVariant {
    kKernelSse2 = 0,    // 128-bit, the baseline every supported processor has
    kKernelAvx = 1,     // 256-bit; only AVX instructions, so AVX2 processors and AVX-only ones
    kKernelAvx512 = 2,  // 512-bit, AVX-512F
    kKernelVariantCount = 3
};

// One variant's entry points. The stream forms store d with non-temporal stores
// (for areas larger than the caches) and need d aligned to 64 bytes.
struct KernelImpl {
    const char* name;
    KernelPassFn pass;
    KernelPassFn streamPass;
    KernelLoopFn loop;
    KernelLoopFn streamLoop;
};

const KernelImpl& GetKernelImpl(KernelVariant variant);

// What the processor and the operating system report about vector support.
struct CpuVectorInfo {
    unsigned int maxLeaf;      // CPUID leaf 0, EAX
    unsigned int leaf1Ecx;     // CPUID leaf 1, ECX (AVX, OSXSAVE)
    unsigned int leaf7Ebx;     // CPUID leaf 7 sub-leaf 0, EBX (AVX-512F); 0 if leaf 7 is absent
    unsigned long long xcr0;   // XGETBV(0): register state the OS saves; 0 without OSXSAVE
};

// Executes CPUID (and XGETBV when the OS has enabled it).
CpuVectorInfo ReadCpuVectorInfo();

// The widest variant that both the processor and the operating system support.
KernelVariant SelectKernelVariant(const CpuVectorInfo& info);

// SelectKernelVariant(ReadCpuVectorInfo()).
KernelVariant BestKernelVariant();

// Areas at least this large (bytes) store d with non-temporal stores: their
// passes stream through memory, and cached stores would only add a read of d.
const unsigned int kStreamAreaBytes = 4u << 20;

// Whether WorkerThreadProc uses the stream forms for an area.
bool UsesStreamStores(const unsigned char* base, unsigned int size);
