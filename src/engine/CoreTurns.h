#pragma once
#include <windows.h>

// An "Each core" run tests one physical core at a time: one turn per core, in
// placement order, each with one worker tied to the core's first logical processor.

// How a core's turn ended.
enum CoreVerdict {
    kCoreNotTested = 0,   // the run ended before its turn began, or (with a reason) its core could not be tested
    kCoreTesting = 1,     // its turn is under way
    kCorePassed = 2,      // its turn ran to its end with no error, its load for at least half of it
    kCoreFailed = 3,      // its worker found a wrong result or changed input
    kCoreEndedEarly = 4,  // the run was stopped during its turn, with no error
};

// One core's turn, as the engine keeps it for the log and the result record.
struct CoreTurnResult {
    unsigned int core;        // 1-based, in placement order (performance cores first)
    unsigned int cpu;         // its first logical processor, numbered as the failure line numbers them
    int verdict;              // CoreVerdict
    unsigned int seconds;     // how long its worker ran
    double medianMHz;         // median clock its worker measured on its core (0: none)
    char reason[48];          // why its core was not tested ("" when it was, or a stop called its turn off)
};

// Names of the verdicts as the result record writes them.
inline const char* CoreVerdictName(int verdict)
{
    switch (verdict) {
    case kCorePassed: return "passed";
    case kCoreFailed: return "failed";
    case kCoreEndedEarly: return "ended early";
    case kCoreTesting: return "testing";
    default: return "not tested";
    }
}
