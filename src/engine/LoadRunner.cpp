#include "engine/LoadRunner.h"

#include <algorithm>

#include "engine/Clock.h"
#include "engine/TestEngine.h"
#include "kernel/KernelServices.h"

LoadSetup g_runLoads;

namespace {

// Class passes are timed in batches of about this long, so that a slot's end,
// the turn's flag and the run's end are seen soon.
const unsigned int kClassBatchMs = 10;

const unsigned int kLight =
    KernelLoadBit(kLoadStream) | KernelLoadBit(kLoadInteger) | KernelLoadBit(kLoadCrypto) | KernelLoadBit(kLoadCache);
const unsigned int kWide = KernelLoadBit(kLoadStream) | KernelLoadBit(kLoadFma) | KernelLoadBit(kLoadVector);

const KernelClassId kClassOfLoad[kLoadCount] = {kClassCount, kClassFma, kClassInteger, kClassVector, kClassCrypto,
                                                kClassCount};

bool Stop(const WorkerRunLimits& limits, long long now)
{
    return testRunning == 0 || (limits.running && *limits.running == 0) || (limits.until && now >= limits.until);
}

// Class passes on the workspace until the share's end or the limits; the
// workspace is prepared afresh for each slot and share.
int RunClass(WorkerLoads* loads, const LoadSetup& setup, const RotationSlot& slot, const WorkerRunLimits& limits)
{
    const unsigned int count = setup.variantCount[slot.load];
    long long now = PerformanceCount();
    const unsigned int share =
        count > 1 ? static_cast<unsigned int>((now - slot.begin) * count / (slot.end - slot.begin)) : 0;
    const ClassVariant& variant = *setup.variants[slot.load][std::min(share, count - 1)];
    const long long shareEnd = slot.begin + (slot.end - slot.begin) * (share + 1) / count;
    // A new slot, share or variant (a turn's halves change load within a slot) is fresh data.
    if (loads->preparedSlot != slot.index || loads->preparedShare != share || loads->prepared != &variant) {
        // What the workspace kept since its last pass is checked before it is replaced.
        if (loads->prepared) {
            loads->classState.passLimit = loads->classState.passes + 1;
            const int check = loads->prepared->loop(&loads->workspace, &loads->classState);
            if (check != kCheckClean) {
                RecordWorkerError(loads->stream.first, check, loads->classState.bits, loads->preparedLoad,
                                  loads->stream.counted);
                if (limits.stopOnError)
                    return check;
            }
        }
        variant.prepare(&loads->workspace, loads->seed ^ static_cast<unsigned int>(slot.index * 2654435761u) ^ share);
        loads->prepared = &variant;
        loads->preparedLoad = slot.load;
        loads->classState = KernelState();
        loads->preparedSlot = slot.index;
        loads->preparedShare = share;
    }
    const long long batchCounts = setup.slotCounts * kClassBatchMs / kRotationSlotMs;
    while (now < shareEnd && !Stop(limits, now)) {
        KernelState& state = loads->classState;
        state.passLimit = state.passes + loads->classBudget;
        const long long begin = now;
        const int check = variant.loop(&loads->workspace, &state);
        now = PerformanceCount();
        if (check != kCheckClean) {
            RecordWorkerError(loads->stream.first, check, state.bits, slot.load, loads->stream.counted);
            if (limits.stopOnError)
                return check;
            // The load goes on, on fresh data; the engine reports the error.
            loads->preparedSlot = ~0ull;
            loads->prepared = nullptr;
            return kCheckClean;
        }
        const long long took = now - begin;
        const unsigned long long scaled =
            took > 0 ? static_cast<unsigned long long>(static_cast<double>(loads->classBudget) * batchCounts / took)
                     : 4 * loads->classBudget;
        loads->classBudget = std::max(1ull, std::min(scaled, 4 * loads->classBudget));
    }
    return kCheckClean;
}

} // namespace

unsigned int LoadsOfHalf(unsigned int asked, LoadHalf half, bool sweep)
{
    unsigned int loads = RunnableKernelLoads(asked);
    if (sweep)
        loads |= KernelLoadBit(kLoadStream);
    const unsigned int mask = half == kLoadsLight ? kLight : half == kLoadsWide ? kWide : kAllLoads;
    return loads & mask ? loads & mask : loads;
}

void SetUpLoads(LoadSetup* setup, unsigned int loads, LoadHalf half, bool sweep, long long start, long long perSecond)
{
    *setup = LoadSetup();
    setup->plan = PlanRotation(loads, sweep);
    setup->start = start;
    setup->slotCounts = std::max(1LL, perSecond * kRotationSlotMs / 1000);
    setup->stream = GetKernelImpl(half == kLoadsLight ? kKernelSse2 : BestKernelVariant()).loop;
    const unsigned int features = CpuFeatures();
    for (unsigned int load = 0; load < kLoadCount; ++load) {
        if (kClassOfLoad[load] == kClassCount)
            continue;
        // The widest variant the processor runs; crypto: every unit it has.
        const KernelClass& unitClass = GetKernelClass(kClassOfLoad[load]);
        for (unsigned int v = unitClass.variantCount; v-- > 0;) {
            if (!VariantSupported(*unitClass.variants[v], features))
                continue;
            setup->variants[load][setup->variantCount[load]++] = unitClass.variants[v];
            if (load != kLoadCrypto || setup->variantCount[load] == 4)
                break;
        }
    }
}

void BeginLoads(WorkerLoads* loads, WorkerArea* first)
{
    BeginWorkerRun(&loads->stream, first, first, kLoadStream);
    loads->hasCache = first->cache != nullptr;
    if (loads->hasCache) {
        BeginWorkerRun(&loads->cache, first, first->cache, kLoadCache);
        loads->cache.counted = loads->stream.counted;   // one worker, counted once
    }
    loads->classState = KernelState();
    loads->prepared = nullptr;
    loads->preparedSlot = ~0ull;
    loads->preparedShare = 0;
    loads->classBudget = 1;
    loads->seed = static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(first->base) >> 12);
}

int ContinueLoads(WorkerLoads* loads, const LoadSetup& setup, const WorkerRunLimits& limits)
{
    for (long long now = PerformanceCount(); !Stop(limits, now); now = PerformanceCount()) {
        const RotationSlot slot = SlotAt(setup.plan, setup.start, now, setup.slotCounts);
        const WorkerRunLimits within = {limits.running, limits.until ? std::min(limits.until, slot.end) : slot.end,
                                        limits.stopOnError};
        int check = kCheckClean;
        if (slot.load == kLoadStream || slot.load == kLoadCache || !setup.variantCount[slot.load]) {
            WorkerRun* run = slot.load == kLoadCache && loads->hasCache ? &loads->cache : &loads->stream;
            check = ContinueWorkerRun(run, setup.stream, within);
            // At its slot's end a stream's areas get fresh data, which the next pass
            // checks against their fill (the sweep goes on where it stopped, so a
            // changed bit is found within one sweep).
            if (check == kCheckClean && !(run == &loads->stream && setup.plan.sweep) && PerformanceCount() >= slot.end)
                RefreshWorkerRun(run);
        } else {
            check = RunClass(loads, setup, slot, within);
        }
        if (check != kCheckClean && limits.stopOnError)
            return check;
    }
    return kCheckClean;
}
