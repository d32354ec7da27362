#include "engine/WorkerKernel.h"

#include "engine/AreaFill.h"
#include "engine/Clock.h"
#include "engine/CpuFeatures.h"
#include "engine/LoadRunner.h"
#include "kernel/KernelServices.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernelVariants.h"

namespace {

const KernelImpl kImpls[kKernelVariantCount] = {
    {"SSE2", KernelPassSse2, KernelLoopSse2},
    {"AVX", KernelPassAvx, KernelLoopAvx},
    {"AVX-512", KernelPassAvx512, KernelLoopAvx512},
};

} // namespace

const KernelImpl& GetKernelImpl(KernelVariant variant)
{
    return kImpls[variant];
}

KernelVariant BestKernelVariant()
{
    const unsigned int features = CpuFeatures();
    return features & kCpuAvx512f ? kKernelAvx512 : features & kCpuAvx ? kKernelAvx : kKernelSse2;
}

void RecordWorkerError(const WorkerArea* area, int check, unsigned long long bits, unsigned int load, bool* counted)
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
        firstWorkerFailure.load = load;
    }
}

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

// Each area in turn gets a budget of passes, scaled from its last budget's time so
// that a clock read comes about every kClockMs. An area is refilled once kRefillMs
// have passed since its last refill and its own passes since then have taken
// kRefillShare times as long as that refill took, so refills keep to about
// 1/kRefillShare of the time whatever the area's size.
void BeginWorkerRun(WorkerRun* run, WorkerArea* first, WorkerArea* areas, unsigned int load)
{
    const long long perSecond = PerformanceFrequency();
    run->first = first;
    run->clockCounts = perSecond * kClockMs / 1000;
    run->refillCounts = perSecond * kRefillMs / 1000;
    run->count = 0;
    run->next = 0;
    run->load = load;
    run->ownCounted = false;
    run->counted = &run->ownCounted;
    run->passes = run->swept = 0;
    const long long begin = PerformanceCount();
    for (const WorkerArea* area = areas ? areas : first; area && run->count < kMaxWorkerAreas; area = area->next) {
        KernelState state = KernelState();
        state.inputSum = area->fillSum;
        state.inputKnown = 1;
        run->runs[run->count++] = AreaRun{area, state, 1, 0, 0, begin, 0};
    }
}

int ContinueWorkerRun(WorkerRun* worker, KernelLoopFn loop, const WorkerRunLimits& limits)
{
    if (worker->count == 0)
        return kCheckClean;
    for (;;) {
        {
            AreaRun& run = worker->runs[worker->next];
            worker->next = (worker->next + 1) % worker->count;
            unsigned char* const base = run.area->base;
            const SIZE_T size = run.area->size;
            const SIZE_T n = size / 32;   // whole groups of 16: the area's size fits (AreaSizeFits)
            const unsigned long long before = run.state.passes;
            run.state.passLimit = before + run.budget;
            const long long start = PerformanceCount();
            const int check = loop(reinterpret_cast<const double*>(base),
                                   reinterpret_cast<const double*>(base + size / 4),
                                   reinterpret_cast<const double*>(base + size / 2),
                                   reinterpret_cast<double*>(base + 3 * (size / 4)), n, &run.state);
            worker->passes += run.state.passes - before;
            worker->swept += (run.state.passes - before) * size;
            if (check != kCheckClean) {
                RecordWorkerError(worker->first, check, run.state.bits, worker->load, worker->counted);
                // Otherwise the load stays on until the run ends; the engine reports the error.
                if (limits.stopOnError)
                    return check;
            }
            const long long now = PerformanceCount();
            if (testRunning == 0 || (limits.running && *limits.running == 0) || (limits.until && now >= limits.until))
                return kCheckClean;

            const long long took = now > start ? now - start : 0;
            if (check == kCheckClean) {
                // At most four times the budget: a pass that took no measurable time.
                const unsigned long long scaled =
                    took > 0 ? static_cast<unsigned long long>(static_cast<double>(run.budget) * worker->clockCounts / took)
                             : 4 * run.budget;
                run.budget = scaled < 1 ? 1 : scaled > 4 * run.budget ? 4 * run.budget : scaled;
            }
            run.swept += took;
            if (run.swept >= run.refillGap && (now - run.lastRefill >= worker->refillCounts || now < run.lastRefill)) {
                RefillWorkerArea(run.area, ++run.refills, &run.state);
                run.lastRefill = PerformanceCount();
                run.refillGap = kRefillShare * (run.lastRefill - now);
                run.swept = 0;
            }
        }
    }
}

void RefreshWorkerRun(WorkerRun* worker)
{
    const long long now = PerformanceCount();
    for (unsigned int i = 0; i < worker->count; ++i) {
        AreaRun& run = worker->runs[i];
        run.refills += 2 - run.refills % 2;   // an even refill: a new pattern
        RefillWorkerArea(run.area, run.refills, &run.state);
        run.lastRefill = now;
        run.swept = 0;
    }
}

unsigned long long RunWorkerArea(WorkerArea* first, KernelLoopFn loop)
{
    WorkerRun run;   // on the worker's stack, as the areas' states always were
    BeginWorkerRun(&run, first);
    ContinueWorkerRun(&run, loop, WorkerRunLimits{nullptr, 0, false});
    first->swept = run.swept;
    return run.passes;
}

// Thread entry: 32-bit Windows guarantees only 4-byte stack alignment here.
__attribute__((force_align_arg_pointer)) DWORD WINAPI WorkerThreadProc(LPVOID parameter)
{
    WorkerArea* area = static_cast<WorkerArea*>(parameter);
    if (testRunning == 0)
        return 0;
    if (area->size / 32 == 0 && !area->next) {
        while (testRunning != 0) {
        }
        return 0;
    }
    static_assert(sizeof(WorkerLoads) < 512 * 1024, "a worker's loads fit its stack");
    WorkerLoads loads;   // on the worker's stack
    BeginLoads(&loads, area);
    ContinueLoads(&loads, g_runLoads, WorkerRunLimits{nullptr, 0, false});
    area->swept = loads.stream.swept;
    return 0;
}
