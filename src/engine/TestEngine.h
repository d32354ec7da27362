#pragma once
#include <windows.h>

#include "engine/ProcessorTopology.h"
#include "engine/TestConfig.h"
#include "engine/WorkerPlacement.h"

// One worker for each logical processor Windows supports ("All").
const unsigned int kMaxWorkers = kMaxProcessors;
const unsigned int kSmallAreaBytes = 8192;

// One worker's share of the memory block.
struct WorkerArea {
    unsigned char* base;
    unsigned int size;   // bytes; a multiple of 512, or below 32 for an idle worker
};

// Run flag polled by the workers between passes; written only with InterlockedExchange.
extern volatile LONG testRunning;
// The first worker area whose worker found a wrong result or changed input data
// in this run (null: none). Written by the workers only with interlocked
// operations; reset by StartTest, read when the run ends (a sample ends it as
// soon as an error is recorded).
extern WorkerArea* volatile failedWorkerArea;
// What that first worker's failing pass found: the bits that differed and the
// logical processor it ran on (written by that worker once it is recorded; read
// after the workers have ended), and how many workers found errors.
struct WorkerFailure {
    int check;   // KernelCheck
    unsigned long long bits;
    unsigned int cpu;
};
extern WorkerFailure firstWorkerFailure;
extern volatile LONG failedWorkerCount;
// Worker handles, slot i for worker i; null when empty.
extern HANDLE workerThreads[kMaxWorkers];

// The one test engine: configuration, memory block, workers and the periodic sample.
class CTestEngine {
public:
    CTestEngine();
    virtual ~CTestEngine();

    HRESULT SetConfig(const TestConfig& newConfig);
    HRESULT StartTest();
    HRESULT StopTest();
    HRESULT SampleTick();

    TestConfig config;
    WorkerArea workerAreas[kMaxWorkers];
    WorkerPlacement workerPlacements[kMaxWorkers];   // slot i: worker i's processor
    unsigned char* memoryBase;
    unsigned int memorySize;
    unsigned int startTimeMs;
    unsigned long long memoryAvailableMB;   // available when the memory-test run started; 0 without it
    ProcessorTopology topology;   // as read by the last start; usableCount 0: the workers float


private:
    void PlaceWorkers();
    void TieWorker(unsigned int worker);
    void LogTestedScope();
    HRESULT SizeBlock(unsigned int* areaSize);
    void ReleaseBlock();
};
