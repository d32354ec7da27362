#pragma once
#include "engine/KernelLoads.h"

// Which load every worker runs at a moment, as pure arithmetic on the counter's
// clock: slots of kRotationSlotMs from one start count that all workers share, so
// that all of them change load together; the loads in KernelLoad order, around
// again. With the memory sweep the stream takes three slots of every four, so
// that sweeping keeps at least three quarters of each worker's time.
const unsigned int kRotationSlotMs = 1000;

struct RotationPlan {
    unsigned int loads[kLoadCount];   // in turn
    unsigned int count;
    bool sweep;                        // the stream sweeps the memory under test
};

// The plan for these loads (KernelLoadBit bits; at least one).
RotationPlan PlanRotation(unsigned int loads, bool sweep);

struct RotationSlot {
    unsigned int load;
    unsigned long long index;   // slots since the start: a new one is a new load, on fresh data
    long long begin, end;       // counts
};
RotationSlot SlotAt(const RotationPlan& plan, long long start, long long now, long long slotCounts);
