#include "engine/WorkerKernel.h"

#include <cpuid.h>

#include "engine/AreaFill.h"
#include "kernel/KernelServices.h"
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

// The first error of a run names its worker, its kind, its processor and its
// bits; each worker that finds errors is counted once.
void RecordWorkerError(const WorkerArea* area, int check, unsigned long long bits, bool* counted)
{
    if (*counted)
        return;
    *counted = true;
    InterlockedIncrement(&failedWorkerCount);
    const DWORD cpu = g_kernel.GetCurrentProcessorNumber();
    if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea),
                                          const_cast<WorkerArea*>(area), nullptr) == nullptr) {
        firstWorkerFailure.check = check;
        firstWorkerFailure.bits = bits;
        firstWorkerFailure.cpu = cpu;
    }
}

long long ClockCount()
{
    LARGE_INTEGER count;
    return g_kernel.QueryPerformanceCounter(&count) ? count.QuadPart : 0;
}

} // namespace

void RefillWorkerArea(const WorkerArea* area, unsigned int refill, KernelState* state)
{
    if (refill % 2) {
        ComplementWorkerArea(area->base, area->size);
        return;
    }
    // Consecutive seeds cycle through the fill's three value ranges.
    const unsigned int seed = static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(area->base) >> 12) + refill / 2;
    state->inputSum = FillWorkerArea(area->base, area->size, seed);
}

// The loop runs a budget of passes between clock reads, scaled from the last
// budget's time so that a read comes about every kClockMs; at the first read
// kRefillMs after the last refill, the area is refilled.
unsigned long long RunWorkerArea(const WorkerArea* area, KernelLoopFn loop)
{
    unsigned char* const base = area->base;
    const unsigned int size = area->size;
    const unsigned int n = (size / 32) & ~15u;   // whole groups of 16 only

    LARGE_INTEGER frequency;
    const long long perSecond = g_kernel.QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0
                                    ? frequency.QuadPart : 1000;
    const long long clockCounts = perSecond * kClockMs / 1000, refillCounts = perSecond * kRefillMs / 1000;

    KernelState state = {};
    unsigned long long budget = 1;
    unsigned int refills = 0;
    bool counted = false;
    long long lastRead = ClockCount(), lastRefill = lastRead;
    for (;;) {
        state.passLimit = state.passes + budget;
        const int check = loop(reinterpret_cast<const double*>(base),
                               reinterpret_cast<const double*>(base + size / 4),
                               reinterpret_cast<const double*>(base + size / 2),
                               reinterpret_cast<double*>(base + 3 * (size / 4)), n, &state);
        // Keep the load on until the run ends; the engine reports the error.
        if (check != kCheckClean)
            RecordWorkerError(area, check, state.bits, &counted);
        if (testRunning == 0)
            return state.passes;

        const long long now = ClockCount();
        const long long took = now - lastRead;
        if (check == kCheckClean) {
            // At most four times the budget: a pass that took no measurable time.
            const unsigned long long scaled =
                took > 0 ? static_cast<unsigned long long>(static_cast<double>(budget) * clockCounts / took) : 4 * budget;
            budget = scaled < 1 ? 1 : scaled > 4 * budget ? 4 * budget : scaled;
        }
        lastRead = now;
        if (now - lastRefill >= refillCounts || now < lastRefill) {
            RefillWorkerArea(area, ++refills, &state);
            lastRefill = lastRead = ClockCount();
        }
    }
}

// Thread entry: 32-bit Windows guarantees only 4-byte stack alignment here.
__attribute__((force_align_arg_pointer)) DWORD WINAPI WorkerThreadProc(LPVOID parameter)
{
    const WorkerArea* area = static_cast<const WorkerArea*>(parameter);
    if (testRunning == 0)
        return 0;
    if (area->size / 32 == 0) {
        while (testRunning != 0) {
        }
        return 0;
    }
    RunWorkerArea(area, GetKernelImpl(BestKernelVariant()).loop);
    return 0;
}
