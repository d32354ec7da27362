#pragma once
#include <windows.h>

// Most logical processors a run can use, and most workers it can run: the
// 2048 logical processors that 64-bit Windows supports, each with a worker.
const unsigned int kMaxProcessors = 2048;

// One logical processor in placement order.
struct PlacementSlot {
    PROCESSOR_NUMBER processor;   // group and number within the group
    unsigned int cpu;             // number across groups: group 0's first, then group 1's, ...
    unsigned int core;            // index of its physical core, in placement order
};

// The machine's processors as the system reports them, and the ones this
// program can use in the order workers are placed on them: one logical
// processor of each physical core, performance cores (highest efficiency
// class) first, then each core's next logical processor in the same order,
// and so on.
struct ProcessorTopology {
    unsigned int machineProcessors;   // active logical processors in all groups
    unsigned int machineCores;
    unsigned int usableCores;         // cores with a logical processor in `order`
    unsigned int usableCount;         // slots in `order`
    int narrowLimited;                // 1: a 32-bit program left processors out
    PlacementSlot order[kMaxProcessors];
};

// Reads the topology through the kernel seam. `narrow`: a 32-bit program,
// which reaches only the first 32 logical processors of group 0. Returns 1, or
// 0 when the system reports no usable topology (the caller lets workers float).
int ReadProcessorTopology(ProcessorTopology* topology, int narrow);

// Whether this build is a 32-bit program.
const int kNarrowProgram = sizeof(void*) == 4;

// Logical processors this program can tie workers to ("All" in the thread
// list); from the active processor count where there is no topology; at least 1.
unsigned int UsableProcessorCount();

// Physical cores this program can tie a worker to ("Each core" in the thread
// list); 0 where the system reports no topology.
unsigned int UsableCoreCount();
