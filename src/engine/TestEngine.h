#pragma once
#include <windows.h>

#include <vector>

#include "engine/CoreTurn.h"
#include "engine/CoreTurns.h"
#include "engine/MemoryPlan.h"
#include "engine/RunFailure.h"
#include "engine/RunOutcome.h"
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
    unsigned long long fillSum;   // XOR of the input words its last fill wrote: its first pass checks them
    WorkerArea* cache;            // first area only: its worker's cache-sized areas (null: none)
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
    unsigned int load;   // KernelLoad
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
    // Why a run is stopped: its time is up (a tick said so), or it is ended before
    // (Cancel, closing, the end of the session). The outcome is judged as the stop
    // is asked for, before the workers are awaited and the memory released.
    enum StopReason { kStopTerminated, kStopTimeUp };
    HRESULT StopTest(StopReason reason = kStopTerminated);
    HRESULT SampleTick();
    // An "Each core" run's turns, called about every kTurnTickMs while it runs:
    // logs a turn's failure as soon as its worker has stopped, ends a turn when its
    // time is up and begins the next. It never waits for long: a worker still
    // stopping is looked at again at the next call. S_FALSE once every core has
    // had its turn; S_OK otherwise.
    HRESULT TurnTick();

    // Called about every 50 ms on the calling thread while StartTest fills the
    // memory and StopTest releases it (both on other threads then); FALSE from
    // the start's calls cancels it (StartTest returns kStartCancelled). Null: none,
    // and the calling thread does the work itself.
    BOOL (*idle)(void* context);
    void* idleContext;

    TestConfig config;
    WorkerArea workerAreas[kMaxWorkers];   // slot i: worker i's first area
    WorkerArea moreAreas[kMaxAreas];       // the workers' further areas
    WorkerArea cacheAreas[2 * kMaxWorkers];   // worker i's cache-sized areas: 2i (L2) and 2i + 1 (L3 share)
    unsigned char* cacheBlocks[kMaxWorkers];  // their memory, one block a worker
    unsigned int cacheBlockCount;
    unsigned int runLoads;                 // the kernel loads the run rotates through (KernelLoadBit bits)
    WorkerPlacement workerPlacements[kMaxWorkers];   // slot i: worker i's processor
    unsigned char* memoryBase;             // the first block, or null when none is held
    SIZE_T memorySize;                     // bytes the workers sweep: the sum of their areas
    unsigned char* blockBases[kMaxBlocks]; // every block held, memoryBase first
    unsigned int blockCount;
    unsigned int startTimeMs;
    unsigned long long memoryAvailableMB;   // available when the memory-test run started; 0 without it
    ProcessorTopology topology;   // as read by the last start; usableCount 0: the workers float
    unsigned int coreTurnCount;                 // an "Each core" run's turns; 0 for all workers at once
    unsigned int currentTurn;                   // the turn under way, or the next one
    CoreTurnWork turnWork;                      // the current turn's worker's work
    // The last run as it goes and as it ended (reset by StartTest): the one value
    // its end line, the box, the exit code and the result record are told from.
    RunOutcome outcome;

private:
    void PlaceWorkers();
    void TieWorker(unsigned int worker);
    void LogTestedScope();   // also keeps it in `tested`
    HRESULT CommitPlan(const MemoryPlan& plan);
    HRESULT CommitCacheAreas();
    DWORD NodeOfWorker(unsigned int worker) const;
    HRESULT FillAreas();
    void ReleaseBlock();
    bool AnswerNow();
    void WaitForWorker(unsigned int worker);
    void NoteFailure(const RunFailure& failure);
    HRESULT EndRun(unsigned int stopMs, bool timeIsUp);
    void BeginTurn();
    void TurnNotTested(const char* why);
    void AskTurnEnd(int verdict, unsigned int nowMs);
    bool TurnWorkerEnded(DWORD waitMs);
    void FinishTurn();
    unsigned int TurnEnd(unsigned int turn) const;

    SIZE_T savedWorkingSetMin, savedWorkingSetMax;   // restored at the stop when raised
    int workingSetRaised;
    unsigned int lastIdleMs;   // GetTimeMs of the last idle call in this start
    long long startCount;      // the performance count as startTimeMs was taken
    HRESULT tieStatus;         // why the last worker that could not be tied was not
    enum TurnPhase { kTurnIdle, kTurnRunning, kTurnEnding };
    TurnPhase turnPhase;       // the current turn's worker: none, running, asked to stop
    int turnVerdict;           // kTurnEnding: the verdict decided when the end was asked for
    unsigned int turnStartMs;  // GetTimeMs when the current turn began
    unsigned int turnStopMs;   // GetTimeMs when its end was asked for
};

// How often the run control calls TurnTick.
const unsigned int kTurnTickMs = 250;

// StartTest's status when idle cancelled the start.
const HRESULT kStartCancelled = static_cast<HRESULT>(0x800704C7u);   // ERROR_CANCELLED
