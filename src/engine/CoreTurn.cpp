#include "engine/CoreTurn.h"

#include <algorithm>

#include "engine/AreaFill.h"
#include "engine/Clock.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelServices.h"
#include "probes/CpuFrequency.h"

volatile LONG turnClockKHz = 0;

namespace {

bool TurnGoesOn(const CoreTurnWork& work)
{
    return testRunning != 0 && work.running != 0;
}

// Measures the core's clock on this thread, which runs on the core under test.
void MeasureTurnClock(CoreTurnWork* work)
{
    double hz = 0.0;
    if (!MeasureCpuFrequency(&hz) || hz <= 0.0)
        return;
    InterlockedExchange(&turnClockKHz, static_cast<LONG>(hz / 1000.0 + 0.5));
    if (work->clockCount < kMaxTurnClocks)
        work->clocksMHz[work->clockCount++] = hz * 1e-6;
}

} // namespace

__attribute__((force_align_arg_pointer)) DWORD WINAPI CoreTurnThreadProc(LPVOID parameter)
{
    CoreTurnWork* work = static_cast<CoreTurnWork*>(parameter);
    if (!TurnGoesOn(*work))
        return 0;
    // A core after the first starts on memory no earlier core has touched since its fill.
    if (work->fillSeed) {
        unsigned int seed = work->fillSeed;
        for (WorkerArea* area = work->first; area; area = area->next)
            FillWorkerArea(area->base, area->size, seed++);
    }

    LARGE_INTEGER frequency;
    const long long perSecond =
        g_kernel.QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 ? frequency.QuadPart : 1000;
    const long long loadCounts = perSecond * kTurnLoadMs / 1000, clockCounts = perSecond * kTurnClockMs / 1000;
    const KernelLoopFn narrow = GetKernelImpl(kKernelSse2).loop, wide = GetKernelImpl(BestKernelVariant()).loop;

    WorkerRun run;
    BeginWorkerRun(&run, work->first);
    long long now = PerformanceCount();
    long long pauseAt = now + loadCounts, clockAt = now + clockCounts / 4;
    while (TurnGoesOn(*work)) {
        const bool narrowHalf = now < work->wideFrom;
        long long until = std::min(pauseAt, clockAt);
        if (narrowHalf)
            until = std::min(until, work->wideFrom);
        if (ContinueWorkerRun(&run, narrowHalf ? narrow : wide, WorkerRunLimits{&work->running, until, true}) !=
            kCheckClean)
            break;
        now = PerformanceCount();
        if (now >= clockAt && TurnGoesOn(*work)) {
            MeasureTurnClock(work);
            clockAt = PerformanceCount() + clockCounts;
        }
        if (now >= pauseAt) {
            // The core idles for a moment, then takes the whole load again at once.
            for (unsigned int slept = 0; slept < kTurnPauseMs && TurnGoesOn(*work); slept += 50)
                Sleep(50);
            now = PerformanceCount();
            pauseAt = now + loadCounts;
            clockAt = std::max(clockAt, now + clockCounts / 4);
        }
    }
    work->first->swept = run.swept;
    return 0;
}

double TurnMedianMHz(const CoreTurnWork& work)
{
    if (work.clockCount == 0)
        return 0.0;
    double sorted[kMaxTurnClocks];
    std::copy(work.clocksMHz, work.clocksMHz + work.clockCount, sorted);
    std::nth_element(sorted, sorted + work.clockCount / 2, sorted + work.clockCount);
    return sorted[work.clockCount / 2];
}
