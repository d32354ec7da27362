#pragma once
#include <windows.h>

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
    long long wideFrom;           // performance count from which the widest kernel runs
    // Results, the worker's alone until it has ended.
    double clocksMHz[kMaxTurnClocks];   // the core's clock under load, about once a second
    unsigned int clockCount;
};

// The clock the worker of the current turn measured last on its core, in kHz
// (0: none yet); written by that worker, read by the periodic sample.
extern volatile LONG turnClockKHz;

// The load of one turn on the processor the worker is tied to: SSE2 until
// wideFrom, then the widest kernel the processor has; every kTurnLoadMs it idles
// for kTurnPauseMs and comes back to full load at once; it measures its core's
// clock every kTurnClockMs under load. It ends when the turn or the run ends, or at
// its first error (recorded as any worker's), leaving its core idle.
const unsigned int kTurnLoadMs = 10000;
const unsigned int kTurnPauseMs = 1000;
const unsigned int kTurnClockMs = 1000;
DWORD WINAPI CoreTurnThreadProc(LPVOID parameter);

// The median of a turn's clock figures (0 when it has none).
double TurnMedianMHz(const CoreTurnWork& work);
