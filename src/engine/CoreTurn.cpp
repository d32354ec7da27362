#include "engine/CoreTurn.h"

#include <algorithm>

#include "engine/AreaFill.h"
#include "engine/Clock.h"
#include "engine/LoadRunner.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelServices.h"
#include "probes/CpuFrequency.h"

volatile LONG turnClockKHz = 0;

namespace {

// Indices of a quarter filled between two looks at the flags (16 MB of area).
const size_t kTurnFillPiece = 64 * kFillChunk;

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
    // Kept before it is published: a figure the run logs is one of the turn's.
    if (work->clockCount < kMaxTurnClocks)
        work->clocksMHz[work->clockCount++] = hz * 1e-6;
    InterlockedExchange(&turnClockKHz, static_cast<LONG>(hz / 1000.0 + 0.5));
}

// Idles until `until` or until the turn ends, looking at the flags every 50 ms.
void Pause(const CoreTurnWork& work, long long until, long long perSecond)
{
    for (long long now = PerformanceCount(); now < until && TurnGoesOn(work); now = PerformanceCount()) {
        const long long leftMs = (until - now) * 1000 / perSecond + 1;
        Sleep(static_cast<DWORD>(std::min(leftMs, 50LL)));
    }
}

} // namespace

bool FillTurnAreas(WorkerArea* first, unsigned int seed, const volatile LONG* running)
{
    WorkerArea* const chains[2] = {first, first->cache};
    for (WorkerArea* chain : chains)
        for (WorkerArea* area = chain; area; area = area->next, ++seed) {
            const size_t n = area->size / 32;
            unsigned long long sum = 0;
            for (size_t begin = 0; begin < n; begin += kTurnFillPiece) {
                if (testRunning == 0 || *running == 0)
                    return false;
                sum ^= FillWorkerAreaPart(area->base, area->size, seed, begin, std::min(n, begin + kTurnFillPiece));
            }
            area->fillSum = sum;
        }
    return true;
}

__attribute__((force_align_arg_pointer)) DWORD WINAPI CoreTurnThreadProc(LPVOID parameter)
{
    CoreTurnWork* work = static_cast<CoreTurnWork*>(parameter);
    // A core after the first starts on memory no earlier core has touched since its fill.
    if (TurnGoesOn(*work) && (!work->fillSeed || FillTurnAreas(work->first, work->fillSeed, &work->running))) {
        const long long perSecond = PerformanceFrequency();
        const long long loadFrom = PerformanceCount();
        TurnTimeline timeline(loadFrom, work->endCount, perSecond);
        // Both halves rotate from the load's start.
        static_assert(sizeof(WorkerLoads) + 2 * sizeof(LoadSetup) < 512 * 1024, "a turn's loads fit its stack");
        LoadSetup light, wide;
        SetUpLoads(&light, LoadsOfHalf(work->kernelMask, kLoadsLight, work->sweep != 0), kLoadsLight, work->sweep != 0,
                   loadFrom, perSecond);
        SetUpLoads(&wide, LoadsOfHalf(work->kernelMask, kLoadsWide, work->sweep != 0), kLoadsWide, work->sweep != 0,
                   loadFrom, perSecond);
        work->wideFrom = timeline.WideFrom();
        work->loadFrom = loadFrom;

        WorkerLoads loads;
        BeginLoads(&loads, work->first);
        while (TurnGoesOn(*work)) {
            const TurnStep step = timeline.Next(PerformanceCount());
            if (step.kind == kStepOver)
                break;
            if (step.kind == kStepClock) {
                MeasureTurnClock(work);
                timeline.ClockTaken(PerformanceCount());
            } else if (step.kind == kStepPause) {
                Pause(*work, step.until, perSecond);
            } else if (ContinueLoads(&loads, step.kind == kStepNarrow ? light : wide,
                                     WorkerRunLimits{&work->running, step.until, true}) != kCheckClean) {
                break;
            }
        }
        work->first->swept = loads.stream.swept;
    }
    InterlockedExchange(&turnClockKHz, 0);   // no core is under load now
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
