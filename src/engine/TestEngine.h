#pragma once
#include <windows.h>

#include <vector>

#include "engine/CoreTurn.h"
#include "engine/CoreTurns.h"
#include "engine/MemoryPlan.h"
#include "engine/RunFailure.h"
#include "engine/TestConfig.h"
#include "engine/TestedScopeLine.h"
#include "engine/WorkerPlacement.h"

// One area of a worker's memory. A worker sweeps its areas in turn: the first
// is its slot in workerAreas, the others follow through next.
struct WorkerArea {
    unsigned char* base;
    SIZE_T size;        // bytes; a multiple of 512, or below 32 for an idle worker
    WorkerArea* next;   // the same worker's next area, or null
    unsigned long long swept;   // first area only: bytes its worker swept, stored when the worker ends
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
    // An "Each core" run's turns, called about every kTurnTickMs while it runs:
    // logs a turn's failure at once, ends a turn when its time is up and begins
    // the next. S_FALSE once every core has had its turn; S_OK otherwise.
    HRESULT TurnTick();
    // Keeps a failure line's data for the result record.
    void NoteFailure(const RunFailure& failure);

    // Called about every 50 ms on the calling thread while StartTest fills the
    // memory and StopTest releases it (both on other threads then); FALSE from
    // the start's calls cancels it (StartTest returns kStartCancelled). Null: none,
    // and the calling thread does the work itself.
    BOOL (*idle)(void* context);
    void* idleContext;

    TestConfig config;
    WorkerArea workerAreas[kMaxWorkers];   // slot i: worker i's first area
    WorkerArea moreAreas[kMaxAreas];       // the workers' further areas
    WorkerPlacement workerPlacements[kMaxWorkers];   // slot i: worker i's processor
    unsigned char* memoryBase;             // the first block, or null when none is held
    SIZE_T memorySize;                     // bytes the workers sweep: the sum of their areas
    unsigned char* blockBases[kMaxBlocks]; // every block held, memoryBase first
    unsigned int blockCount;
    unsigned int startTimeMs;
    unsigned long long memoryAvailableMB;   // available when the memory-test run started; 0 without it
    ProcessorTopology topology;   // as read by the last start; usableCount 0: the workers float
    CoreTurnResult coreTurns[kMaxProcessors];   // an "Each core" run's turns, in order
    unsigned int coreTurnCount;                 // 0 for a run of all its workers at once
    unsigned int currentTurn;                   // the turn under way, or the next one
    CoreTurnWork turnWork;                      // the current turn's worker's work
    // What the result record reports of the last run (reset by StartTest).
    SYSTEMTIME startedAt;                  // local time of its "Test Started --" line
    TestedScope tested;                    // as its tested line says
    RunFailure failures[kMaxProcessors];   // its failure lines, in order
    unsigned int failureCount;
    std::vector<double> clockMHz;          // the clock of every status line, as logged

private:
    void PlaceWorkers();
    void TieWorker(unsigned int worker);
    void LogTestedScope();   // also keeps it in `tested`
    HRESULT CommitPlan(const MemoryPlan& plan);
    DWORD NodeOfWorker(unsigned int worker) const;
    HRESULT FillAreas();
    void ReleaseBlock();
    bool AnswerNow();
    void BeginTurn();
    void EndTurn(bool timeIsUp);
    HRESULT FinishTurns();
    unsigned int TurnEndMs(unsigned int turn) const;
    long long WideFrom(unsigned int untilMs) const;

    SIZE_T savedWorkingSetMin, savedWorkingSetMax;   // restored at the stop when raised
    int workingSetRaised;
    unsigned int lastIdleMs;   // GetTimeMs of the last idle call in this start
    int turnActive;            // the current turn's worker runs (or ran until an error)
    unsigned int turnStartMs;  // GetTimeMs when the current turn began
};

// How often the run control calls TurnTick.
const unsigned int kTurnTickMs = 250;

// StartTest's status when idle cancelled the start.
const HRESULT kStartCancelled = static_cast<HRESULT>(0x800704C7u);   // ERROR_CANCELLED
