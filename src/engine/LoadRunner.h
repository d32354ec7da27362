#pragma once
#include "engine/KernelClasses.h"
#include "engine/KernelRotation.h"
#include "engine/WorkerKernel.h"

struct WorkerArea;

// What a run's workers load, shared by all of them and read-only while they run:
// the rotation, the stream kernel's loop, and the class variants each unit load
// runs (in equal shares of its slot: the crypto units one after another).
struct LoadSetup {
    RotationPlan plan;
    long long start;        // the count the slots are taken from
    long long slotCounts;
    KernelLoopFn stream;
    const ClassVariant* variants[kLoadCount][4];
    unsigned int variantCount[kLoadCount];
};

// Which loads a half of an "Each core" turn runs, or a run of all workers at once.
enum LoadHalf {
    kLoadsAll,     // every load asked for, the stream at the widest width
    kLoadsLight,   // the SSE2 stream, integer, crypto and the cache-sized stream
    kLoadsWide,    // fma, the widest stream and vector
};

// The loads that run of those asked for (KernelLoadBit bits, 0: all) in a half:
// the stream always when it sweeps the memory under test; a half the asked-for
// loads leave empty runs them all.
unsigned int LoadsOfHalf(unsigned int asked, LoadHalf half, bool sweep);
void SetUpLoads(LoadSetup* setup, unsigned int loads, LoadHalf half, bool sweep, long long start, long long perSecond);

// One worker's state across its loads.
struct WorkerLoads {
    WorkerRun stream, cache;   // its areas, and its cache-sized areas
    bool hasCache;
    ClassWorkspace workspace;
    KernelState classState;
    const ClassVariant* prepared;      // what prepared the workspace (null: nothing), for which load,
    unsigned int preparedLoad;
    unsigned long long preparedSlot;   // slot and share
    unsigned int preparedShare;
    unsigned long long classBudget;    // class passes between clock reads
    unsigned int seed;                 // the worker's part of every seed
};

void BeginLoads(WorkerLoads* loads, WorkerArea* first);

// The loads of a run of all its workers at once (the start sets them up before
// its workers run).
extern LoadSetup g_runLoads;
// Runs the loads as the setup lays them out until the limits say stop; returns
// the first error's KernelCheck when stopOnError, else kCheckClean. Errors are
// recorded against the worker's first area with the load that found them.
int ContinueLoads(WorkerLoads* loads, const LoadSetup& setup, const WorkerRunLimits& limits);
