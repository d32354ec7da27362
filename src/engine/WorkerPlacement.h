#pragma once
#include <windows.h>

// Where a worker runs: tied to one logical processor for the whole run, or
// floating where the machine reports no topology.
struct WorkerPlacement {
    int tied;                     // 0: the worker floats
    PROCESSOR_NUMBER processor;   // group and number within the group, when tied
    unsigned int cpu;             // the processor's number across groups, as Task Manager counts them
};
