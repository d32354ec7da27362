#pragma once
#include <windows.h>

#include "engine/TurnTimeline.h"

struct WorkerArea;

// The most clock figures one turn keeps (one a second: over an hour and a quarter;
// later figures are left out of the turn's median).
const unsigned int kMaxTurnClocks = 4608;

// One core's turn for its worker thread. The engine sets it up before the worker
// is created and reads the results after the worker has ended.
struct CoreTurnWork {
    WorkerArea* first;            // the worker's areas
    volatile LONG running;        // cleared by the engine to end the turn
    unsigned int fillSeed;        // nonzero: fill the areas afresh with this seed first
    long long beginCount;         // performance count at which the turn began (its fill's start)
    long long endCount;           // performance count at which the turn ends
    unsigned int kernelMask;      // the loads asked for (0: all)
    int sweep;                    // the stream sweeps the memory under test
    // Results, the worker's alone until it has ended (the first two are read while
    // it runs, as a view of where it is).
    volatile long long loadFrom;  // performance count at which its load began (0: not yet)
    volatile long long wideFrom;  // from there the widest kernel runs
    double clocksMHz[kMaxTurnClocks];   // the core's clock under load, about once a second
    unsigned int clockCount;
};

// The clock the worker of the current turn measured last on its core, in kHz;
// 0 while no core is under load (before its first reading, while its memory is
// filled, once it has stopped). Written by that worker and by the engine between
// turns, read by the periodic sample.
extern volatile LONG turnClockKHz;

// The load of one turn on the processor the worker is tied to, as TurnTimeline
// lays it out: first the fill (when fillSeed asks for one; it stops as soon as
// the turn or the run does), then the light loads (the SSE2 stream, integer,
// crypto), then the wide ones (fma, the widest stream, vector), each half
// rotating through its loads, with its pauses and clock readings. It ends at endCount, when the turn or
// the run ends, or at its first error (recorded as any worker's), leaving its
// core idle.
DWORD WINAPI CoreTurnThreadProc(LPVOID parameter);

// Fills a turn's areas (and the cache-sized ones) with the seed, piece by piece,
// until done (true) or `running` or the run flag clears (false); each area's
// fillSum is set.
bool FillTurnAreas(WorkerArea* first, unsigned int seed, const volatile LONG* running);

// The median of a turn's clock figures (0 when it has none).
double TurnMedianMHz(const CoreTurnWork& work);
