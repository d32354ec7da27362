#pragma once
#include <windows.h>

#include "engine/WorkerKernel.h"

// One failure line of a run, as data for the result record.
struct RunFailure {
    SYSTEMTIME time;          // local time of its line
    unsigned int worker;      // 1-based
    unsigned int cpu;         // the processor the failure line names
    unsigned int core;        // 1-based, in placement order; 0 for a floating worker
    int check;                // KernelCheck
    unsigned long long bits;  // the bits that differed
    unsigned int load;        // the KernelLoad that found it
};

// The kind of failure as the failure line and the result record name it.
inline const char* FailureKindName(int check)
{
    return check == kCheckWrongResult ? "wrong result" : "input changed";
}
