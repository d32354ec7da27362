#include "engine/WorkerKernel.h"

#include <cpuid.h>

#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

namespace {

// CPUID leaf 1, ECX
const unsigned int kOsxsaveBit = 1u << 27;
const unsigned int kAvxBit = 1u << 28;
// CPUID leaf 7, EBX
const unsigned int kAvx512fBit = 1u << 16;
// XCR0: register state the operating system saves and restores
const unsigned long long kXcr0SseAvx = 0x06;         // XMM, YMM upper halves
const unsigned long long kXcr0Avx512 = 0xE0;         // opmask, ZMM upper halves, ZMM16-31

const KernelImpl kImpls[kKernelVariantCount] = {
    {"SSE2", KernelPassSse2, KernelLoopSse2},
    {"AVX", KernelPassAvx, KernelLoopAvx},
    {"AVX-512", KernelPassAvx512, KernelLoopAvx512},
};

unsigned long long ReadXcr0()
{
    unsigned int low, high;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
}

} // namespace

const KernelImpl& GetKernelImpl(KernelVariant variant)
{
    return kImpls[variant];
}

CpuVectorInfo ReadCpuVectorInfo()
{
    CpuVectorInfo info = {};
    unsigned int eax, ebx, ecx, edx;
    __cpuid(0, eax, ebx, ecx, edx);
    info.maxLeaf = eax;
    if (info.maxLeaf >= 1) {
        __cpuid(1, eax, ebx, ecx, edx);
        info.leaf1Ecx = ecx;
    }
    if (info.maxLeaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        info.leaf7Ebx = ebx;
    }
    // XGETBV faults unless the operating system has set CR4.OSXSAVE.
    if (info.leaf1Ecx & kOsxsaveBit)
        info.xcr0 = ReadXcr0();
    return info;
}

KernelVariant SelectKernelVariant(const CpuVectorInfo& info)
{
    if (info.maxLeaf < 1 || !(info.leaf1Ecx & kOsxsaveBit) || !(info.leaf1Ecx & kAvxBit))
        return kKernelSse2;
    if ((info.xcr0 & kXcr0SseAvx) != kXcr0SseAvx)
        return kKernelSse2;
    if (info.maxLeaf >= 7 && (info.leaf7Ebx & kAvx512fBit) &&
        (info.xcr0 & kXcr0Avx512) == kXcr0Avx512)
        return kKernelAvx512;
    return kKernelAvx;
}

KernelVariant BestKernelVariant()
{
    return SelectKernelVariant(ReadCpuVectorInfo());
}

namespace {

// The first error of a run names its worker; every error adds its kind.
void RecordWorkerError(const WorkerArea* area, int check)
{
    InterlockedOr(&workerErrorKinds, check);
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea),
                                      const_cast<WorkerArea*>(area), nullptr);
}

} // namespace

// Thread entry: 32-bit Windows guarantees only 4-byte stack alignment here.
__attribute__((force_align_arg_pointer)) DWORD WINAPI WorkerThreadProc(LPVOID parameter)
{
    const WorkerArea* area = static_cast<const WorkerArea*>(parameter);
    unsigned char* const base = area->base;
    const unsigned int size = area->size;

    if (testRunning == 0)
        return 0;

    // Whole groups of 16 only: a size that is a multiple of 512 loses nothing.
    const unsigned int n = (size / 32) & ~15u;
    if (size / 32 == 0) {
        while (testRunning != 0) {
        }
        return 0;
    }

    const KernelLoopFn loop = GetKernelImpl(BestKernelVariant()).loop;
    KernelState state = {};
    for (;;) {
        const int check = loop(reinterpret_cast<const double*>(base),
                               reinterpret_cast<const double*>(base + size / 4),
                               reinterpret_cast<const double*>(base + size / 2),
                               reinterpret_cast<double*>(base + 3 * (size / 4)), n, &state);
        if (check == kCheckClean)
            return 0;
        // Keep the load on until the run ends; the engine reports the error.
        RecordWorkerError(area, check);
        if (testRunning == 0)
            return 0;
    }
}
