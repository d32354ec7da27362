#include "engine/TestEngine.h"

#include <cstdio>
#include <cstring>

#include "engine/AreaFill.h"
#include "engine/CacheSizes.h"
#include "engine/Clock.h"
#include "engine/LoadRunner.h"
#include "engine/FailureLine.h"
#include "kernel/KernelServices.h"
#include "engine/Status.h"
#include "engine/TestedScopeLine.h"
#include "engine/WorkerKernel.h"
#include "log/TestLog.h"
#include "probes/CpuLoad.h"

volatile LONG testRunning = 0;
WorkerArea* volatile failedWorkerArea = nullptr;
WorkerFailure firstWorkerFailure = {};
volatile LONG failedWorkerCount = 0;
HANDLE workerThreads[kMaxWorkers] = {};

namespace {

const SIZE_T kMB = 1u << 20;
// The fill hands out pieces of this many indices of an area's quarters (16 MB of area).
const SIZE_T kFillPiece = 64 * kFillChunk;
const DWORD kIdleMs = 50;

HRESULT LastErrorStatus()
{
    return StatusFromWin32(g_kernel.GetLastError());
}

// The fill threads a start makes beside its own: one per processor, less the
// one its own thread takes when it fills as well, at most 63.
unsigned int FillHelperCount(bool ownThreadFills)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned int helpers = info.dwNumberOfProcessors - (ownThreadFills ? 1 : 0);
    return helpers < 63 ? helpers : 63;
}

// The stack a thread made with the default size reserves: the program's own.
SIZE_T DefaultStackReserve()
{
    const BYTE* image = reinterpret_cast<const BYTE*>(g_kernel.GetModuleHandleA(nullptr));
    if (!image)
        return 1 * kMB;
    const IMAGE_NT_HEADERS* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    return static_cast<SIZE_T>(headers->OptionalHeader.SizeOfStackReserve);
}

// Blocks to release, on a thread of their own while the caller answers.
struct BlockList {
    unsigned char** bases;
    unsigned int count;
};

DWORD WINAPI FreeBlocks(LPVOID parameter)
{
    const BlockList* list = static_cast<BlockList*>(parameter);
    for (unsigned int b = 0; b < list->count; ++b)
        g_kernel.VirtualFree(list->bases[b], 0, MEM_RELEASE);
    return 0;
}

// The areas of one start in order, and the next piece to fill.
const unsigned int kMaxFilledAreas = kMaxAreas + 2 * kMaxWorkers;   // the cache-sized ones too
struct FillWork {
    WorkerArea* areas[kMaxFilledAreas];
    SIZE_T firstPiece[kMaxFilledAreas + 1];   // running count of pieces before each area
    unsigned int areaCount;
    volatile LONG nextPiece;
    volatile LONG cancel;
};

// Fills pieces until none is left or the start is cancelled; every fill thread
// and the starting thread run it.
DWORD WINAPI FillPieces(LPVOID parameter)
{
    FillWork* work = static_cast<FillWork*>(parameter);
    unsigned int at = 0;
    for (;;) {
        const SIZE_T piece = static_cast<SIZE_T>(InterlockedIncrement(&work->nextPiece) - 1);
        if (piece >= work->firstPiece[work->areaCount] || work->cancel)
            return 0;
        while (piece >= work->firstPiece[at + 1])
            ++at;
        WorkerArea* area = work->areas[at];
        const SIZE_T begin = (piece - work->firstPiece[at]) * kFillPiece;
        // The parts' sums make the area's: its worker's first pass checks its inputs against it.
        __atomic_fetch_xor(&area->fillSum, FillWorkerAreaPart(area->base, area->size, at, begin, begin + kFillPiece),
                           __ATOMIC_RELAXED);
    }
}

} // namespace

CTestEngine::CTestEngine()
    : idle(nullptr), idleContext(nullptr), config(), workerAreas(), moreAreas(), cacheAreas(), cacheBlocks(),
      cacheBlockCount(0), runLoads(0), workerPlacements(),
      memoryBase(nullptr), memorySize(0), blockBases(), blockCount(0), startTimeMs(0), memoryAvailableMB(0),
      topology(), coreTurnCount(0), currentTurn(0), turnWork(), outcome(), savedWorkingSetMin(0),
      savedWorkingSetMax(0), workingSetRaised(0), lastIdleMs(0), startCount(0), tieStatus(S_OK), turnPhase(kTurnIdle),
      turnVerdict(kCoreNotTested), turnStartMs(0), turnStopMs(0)
{
}

CTestEngine::~CTestEngine()
{
}

HRESULT CTestEngine::SetConfig(const TestConfig& newConfig)
{
    config = newConfig;
    return S_OK;
}

// The NUMA node of the processor a worker is tied to, or NUMA_NO_PREFERRED_NODE
// (a floating worker, a machine of one node, or no answer).
DWORD CTestEngine::NodeOfWorker(unsigned int worker) const
{
    ULONG highest = 0;
    if (!workerPlacements[worker].tied || !g_kernel.GetNumaHighestNodeNumber(&highest) || highest == 0)
        return NUMA_NO_PREFERRED_NODE;
    PROCESSOR_NUMBER processor = workerPlacements[worker].processor;
    USHORT node = 0;
    if (!g_kernel.GetNumaProcessorNodeEx(&processor, &node) || node == 0xFFFF)
        return NUMA_NO_PREFERRED_NODE;
    return node;
}

// Calls idle when kIdleMs have passed since the last call; false when it cancels.
bool CTestEngine::AnswerNow()
{
    if (!idle)
        return true;
    const unsigned int now = GetTimeMs();
    if (now - lastIdleMs < kIdleMs)
        return true;
    lastIdleMs = now;
    return idle(idleContext) != FALSE;
}

// Reserves the plan's blocks, commits every area (in its worker's node) and links
// each worker's areas. On failure nothing stays held and the status says why.
HRESULT CTestEngine::CommitPlan(const MemoryPlan& plan)
{
    for (unsigned int b = 0; b < plan.blockCount; ++b) {
        void* base = g_kernel.VirtualAlloc(plan.blocks[b].address, plan.blocks[b].bytes, MEM_RESERVE, PAGE_READWRITE);
        // The range may have been taken since it was found: anywhere else will do.
        if (!base && plan.blocks[b].address)
            base = g_kernel.VirtualAlloc(nullptr, plan.blocks[b].bytes, MEM_RESERVE, PAGE_READWRITE);
        if (!base) {
            const HRESULT status = LastErrorStatus();
            ReleaseBlock();
            return status;
        }
        blockBases[blockCount++] = static_cast<unsigned char*>(base);
    }
    memoryBase = blockBases[0];

    WorkerArea* last[kMaxWorkers] = {};
    unsigned int more = 0;
    for (unsigned int i = 0; i < plan.areaCount; ++i) {
        if (!AnswerNow()) {
            ReleaseBlock();
            return kStartCancelled;
        }
        const PlannedArea& planned = plan.areas[i];
        if (!AreaSizeFits(planned.bytes)) {   // the loop would leave its tail unchecked
            ReleaseBlock();
            return E_UNEXPECTED;
        }
        unsigned char* const base = blockBases[planned.block] + planned.offset;
        const DWORD node = NodeOfWorker(planned.worker);
        void* committed = node == NUMA_NO_PREFERRED_NODE
            ? g_kernel.VirtualAlloc(base, planned.bytes, MEM_COMMIT, PAGE_READWRITE)
            : g_kernel.VirtualAllocExNuma(GetCurrentProcess(), base, planned.bytes, MEM_COMMIT, PAGE_READWRITE, node);
        if (!committed) {
            const HRESULT status = LastErrorStatus();
            ReleaseBlock();
            return status;
        }
        WorkerArea* area = last[planned.worker] ? &moreAreas[more++] : &workerAreas[planned.worker];
        *area = WorkerArea{base, planned.bytes, nullptr, 0, 0, nullptr};
        if (last[planned.worker])
            last[planned.worker]->next = area;
        last[planned.worker] = area;
        memorySize += planned.bytes;
    }
    return S_OK;
}

// Commits each worker's cache-sized areas, one block a worker, and links them
// from its first area. On failure the status says why (the stop releases them).
HRESULT CTestEngine::CommitCacheAreas()
{
    const CacheAreaSizes sizes = ReadCacheAreaSizes(config.threadCount, UsableProcessorCount());
    for (unsigned int w = 0; w < config.threadCount; ++w) {
        unsigned char* block = static_cast<unsigned char*>(
            g_kernel.VirtualAlloc(nullptr, sizes.l2Bytes + sizes.l3Bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!block)
            return LastErrorStatus();
        cacheBlocks[cacheBlockCount++] = block;
        WorkerArea* l2 = &cacheAreas[2 * w];
        *l2 = WorkerArea{block, sizes.l2Bytes, &cacheAreas[2 * w + 1], 0, 0, nullptr};
        cacheAreas[2 * w + 1] = WorkerArea{block + sizes.l2Bytes, sizes.l3Bytes, nullptr, 0, 0, nullptr};
        workerAreas[w].cache = l2;
    }
    return S_OK;
}

// Worker i goes to the i-th logical processor in placement order, around again
// when there are more workers than processors; without a topology all float.
void CTestEngine::PlaceWorkers()
{
    const unsigned int threads = config.threadCount;
    if (!ReadProcessorTopology(&topology, kNarrowProgram))
        topology.usableCount = 0;
    for (unsigned int i = 0; i < threads; ++i) {
        WorkerPlacement& placement = workerPlacements[i];
        placement = WorkerPlacement();
        if (topology.usableCount == 0)
            continue;
        const PlacementSlot& slot = topology.order[i % topology.usableCount];
        placement.tied = 1;
        placement.processor = slot.processor;
        placement.cpu = slot.cpu;
    }
}

// Ties a created, still suspended worker to its processor; a worker the system
// will not tie floats.
void CTestEngine::TieWorker(unsigned int worker)
{
    WorkerPlacement& placement = workerPlacements[worker];
    if (!placement.tied)
        return;
    GROUP_AFFINITY affinity = {};
    affinity.Group = placement.processor.Group;
    affinity.Mask = static_cast<KAFFINITY>(1) << placement.processor.Number;
    if (!g_kernel.SetThreadGroupAffinity(workerThreads[worker], &affinity, nullptr)) {
        placement.tied = 0;
        tieStatus = StatusFromWin32(g_kernel.GetLastError());
    }
}

void CTestEngine::LogTestedScope()
{
    TestedScope& scope = outcome.tested;
    scope = TestedScope();
    scope.workers = config.threadCount;
    scope.machineProcessors = topology.machineProcessors;
    scope.machineCores = topology.machineCores;
    scope.narrowLimited = topology.narrowLimited;
    const KernelVariant best = BestKernelVariant();
    static char kernel[80];   // the record keeps pointing at it
    char loads[64];
    const unsigned int available = AvailableKernelLoads();
    // Every load rotating goes without saying; fewer are named, or those the processor lacks.
    loads[0] = '\0';
    if (runLoads == available && available != kAllLoads) {
        char lacking[48];
        FormatKernelLoads(lacking, sizeof lacking, kAllLoads & ~available);
        std::snprintf(loads, sizeof loads, ", all but %s", lacking);
    } else if (runLoads != available) {
        loads[0] = ',';
        loads[1] = ' ';
        FormatKernelLoads(loads + 2, sizeof loads - 2, runLoads);
    }
    std::snprintf(kernel, sizeof kernel, "%s%s%s", coreTurnCount && best != kKernelSse2 ? "SSE2 then " : "",
                  GetKernelImpl(best).name, loads);
    scope.kernel = kernel;
    scope.kernels = runLoads;
    scope.eachCore = coreTurnCount != 0;
    bool slotUsed[kMaxProcessors] = {}, coreUsed[kMaxProcessors] = {};
    for (unsigned int i = 0; i < config.threadCount; ++i) {
        if (!workerPlacements[i].tied)
            continue;
        ++scope.tiedWorkers;
        const unsigned int slot = i % topology.usableCount;
        scope.processors += !slotUsed[slot];
        scope.cores += !coreUsed[topology.order[slot].core];
        slotUsed[slot] = coreUsed[topology.order[slot].core] = true;
    }
    if (coreTurnCount)   // one core at a time, one logical processor of each
        scope.processors = scope.cores = coreTurnCount;
    scope.memoryTest = config.memoryTest != 0;
    scope.testedMB = memorySize / kMB;
    scope.availableMB = memoryAvailableMB;
    char line[kTestedScopeLineLength + 1];
    FormatTestedScopeLine(line, scope);
    WriteLog(line);
}

// Fills every area with its pattern on every processor: fill threads beside this
// one, which calls idle while it waits. A fill thread that cannot be made
// leaves its share to the others.
HRESULT CTestEngine::FillAreas()
{
    static FillWork work;
    work.areaCount = 0;
    work.firstPiece[0] = 0;
    for (unsigned int w = 0; w < 2 * config.threadCount; ++w)
        for (WorkerArea* area = w % 2 ? workerAreas[w / 2].cache : &workerAreas[w / 2]; area; area = area->next) {
            const SIZE_T pieces = (area->size / 32 + kFillPiece - 1) / kFillPiece;
            work.areas[work.areaCount] = area;
            work.firstPiece[work.areaCount + 1] = work.firstPiece[work.areaCount] + pieces;
            ++work.areaCount;
        }
    work.nextPiece = 0;
    work.cancel = 0;

    const SIZE_T pieces = work.firstPiece[work.areaCount];
    // With idle this thread only waits: one fill thread per processor.
    unsigned int helpers = FillHelperCount(!idle);
    if (helpers > pieces)
        helpers = static_cast<unsigned int>(pieces);
    HANDLE threads[63] = {};
    for (unsigned int t = 0; t < helpers; ++t)
        threads[t] = g_kernel.CreateThread(nullptr, 0, FillPieces, &work, 0, nullptr);

    // This thread fills as well while it has no one to answer; with idle it
    // only waits, so that it can answer every kIdleMs.
    if (!idle)
        FillPieces(&work);
    for (unsigned int t = 0; t < helpers; ++t) {
        if (!threads[t])
            continue;
        while (g_kernel.WaitForSingleObject(threads[t], kIdleMs) == WAIT_TIMEOUT)
            if (idle && !idle(idleContext))
                InterlockedExchange(&work.cancel, 1);
        g_kernel.CloseHandle(threads[t]);
    }
    // Pieces left by fill threads that could not be made.
    if (!work.cancel)
        FillPieces(&work);
    return work.cancel ? kStartCancelled : S_OK;
}

HRESULT CTestEngine::StartTest()
{
    const unsigned int threads = config.threadCount;
    if (threads == 0 || threads > kMaxWorkers)
        return E_INVALIDARG;
    PlaceWorkers();
    lastIdleMs = GetTimeMs();
    outcome = RunOutcome();
    // Each core in turn: one worker, moved from core to core; it needs the cores' layout.
    coreTurnCount = 0;
    if (config.eachCore) {
        if (threads != 1 || topology.usableCount == 0)
            return StatusFromWin32(ERROR_NOT_SUPPORTED);
        coreTurnCount = topology.usableCores;
        for (unsigned int k = 0; k < coreTurnCount; ++k)
            outcome.turns.push_back(CoreTurnResult{k + 1, topology.order[k].cpu, kCoreNotTested, 0, 0.0, ""});
        currentTurn = 0;
        turnPhase = kTurnIdle;
        turnWork.first = &workerAreas[0];
        turnWork.running = 1;
        turnWork.kernelMask = config.kernelMask;
        turnWork.sweep = config.memoryTest != 0;
        InterlockedExchange(&turnClockKHz, 0);
    }

    static MachineMemory machine;
    static MemoryPlan plan;
    std::memset(&machine, 0, sizeof machine);
    memoryAvailableMB = 0;
    if (config.memoryTest) {
        const HRESULT status = ReadMachineMemory(&machine);
        if (FAILED(status))
            return status;
        memoryAvailableMB = machine.availableMB;
    }
    runLoads = LoadsOfHalf(config.kernelMask, kLoadsAll, config.memoryTest != 0);
    if (coreTurnCount)   // each turn runs its light loads, then its wide ones
        runLoads = LoadsOfHalf(config.kernelMask, kLoadsLight, config.memoryTest != 0) |
                   LoadsOfHalf(config.kernelMask, kLoadsWide, config.memoryTest != 0);
    // Addresses the start takes beside the blocks: the workers' and the fill
    // threads' stacks and the workers' cache-sized areas.
    unsigned long long besideBytes = static_cast<unsigned long long>(threads + FillHelperCount(false)) * DefaultStackReserve();
    if (runLoads & KernelLoadBit(kLoadCache)) {
        const CacheAreaSizes sizes = ReadCacheAreaSizes(threads, UsableProcessorCount());
        besideBytes += static_cast<unsigned long long>(threads) * (sizes.l2Bytes + sizes.l3Bytes);
    }
    HRESULT status = PlanMemory(threads, config.memoryTest, config.memorySizeMB, machine, &plan,
                                (besideBytes + kMB - 1) / kMB);
    if (FAILED(status))
        return status;
    if (config.memoryTest) {
        config.memorySizeMB = static_cast<unsigned int>(plan.testedMB);
        // Ask that the areas stay in memory: a working-set minimum that holds them.
        // Advisory: where the system refuses, the run goes on as before.
        SIZE_T minimum = 0, maximum = 0;
        if (g_kernel.GetProcessWorkingSetSize(GetCurrentProcess(), &minimum, &maximum)) {
            const SIZE_T planned = static_cast<SIZE_T>(plan.testedMB) * kMB;
            if (g_kernel.SetProcessWorkingSetSizeEx(GetCurrentProcess(), planned + minimum, planned + maximum,
                                                    QUOTA_LIMITS_HARDWS_MIN_DISABLE | QUOTA_LIMITS_HARDWS_MAX_DISABLE)) {
                savedWorkingSetMin = minimum;
                savedWorkingSetMax = maximum;
                workingSetRaised = 1;
            }
        }
    }

    status = CommitPlan(plan);
    if (FAILED(status))
        return status;
    if (runLoads & KernelLoadBit(kLoadCache)) {
        status = CommitCacheAreas();
        if (FAILED(status))
            return status;
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
    InterlockedExchange(&failedWorkerCount, 0);
    firstWorkerFailure = WorkerFailure();

    for (unsigned int i = 0; i < threads; ++i) {
        workerThreads[i] = coreTurnCount
            ? g_kernel.CreateThread(nullptr, 0, CoreTurnThreadProc, &turnWork, CREATE_SUSPENDED, nullptr)
            : g_kernel.CreateThread(nullptr, 0, WorkerThreadProc, &workerAreas[i], CREATE_SUSPENDED, nullptr);
        if (!workerThreads[i])
            return LastErrorStatus();
        TieWorker(i);
        if (!AnswerNow())
            return kStartCancelled;
    }
    status = FillAreas();
    if (FAILED(status))
        return status;

    const long long perSecond = PerformanceFrequency();
    SetUpLoads(&g_runLoads, runLoads, kLoadsAll, config.memoryTest != 0, PerformanceCount(), perSecond);
    InterlockedExchange(&testRunning, 1);
    // An "Each core" run's worker starts with its turn, once the turn's times are set.
    for (unsigned int i = 0; i < threads && !coreTurnCount; ++i)
        g_kernel.ResumeThread(workerThreads[i]);

    startTimeMs = GetTimeMs();
    startCount = PerformanceCount();
    double baselineLoad = 0.0;
    MeasureCpuLoad(&baselineLoad);
    WriteLog("Test Started --");
    outcome.startedAt = LastLogTime();
    outcome.began = true;
    outcome.verdict = kVerdictRunning;
    LogTestedScope();
    if (coreTurnCount)
        BeginTurn();
    outcome.lastLine = LastLogLine();
    return S_OK;
}

void CTestEngine::ReleaseBlock()
{
    BlockList list = {blockBases, blockCount};
    HANDLE releaser = idle && blockCount ? g_kernel.CreateThread(nullptr, 0, FreeBlocks, &list, 0, nullptr) : nullptr;
    if (releaser) {
        while (g_kernel.WaitForSingleObject(releaser, kIdleMs) == WAIT_TIMEOUT)
            idle(idleContext);
        g_kernel.CloseHandle(releaser);
    } else {
        FreeBlocks(&list);
    }
    for (unsigned int b = 0; b < blockCount; ++b)
        blockBases[b] = nullptr;
    blockCount = 0;
    for (unsigned int b = 0; b < cacheBlockCount; ++b)
        g_kernel.VirtualFree(cacheBlocks[b], 0, MEM_RELEASE);
    cacheBlockCount = 0;
    for (WorkerArea& area : workerAreas)
        area.cache = nullptr;
    memoryBase = nullptr;
    memorySize = 0;
    if (workingSetRaised) {
        g_kernel.SetProcessWorkingSetSizeEx(GetCurrentProcess(), savedWorkingSetMin, savedWorkingSetMax,
                                            QUOTA_LIMITS_HARDWS_MIN_DISABLE | QUOTA_LIMITS_HARDWS_MAX_DISABLE);
        workingSetRaised = 0;
    }
}
// Waits for a worker to end (answering through idle meanwhile, when there is
// one) and closes its handle.
void CTestEngine::WaitForWorker(unsigned int worker)
{
    HANDLE& thread = workerThreads[worker];
    if (!thread)
        return;
    if (idle) {
        while (g_kernel.WaitForSingleObject(thread, kIdleMs) == WAIT_TIMEOUT)
            idle(idleContext);
    } else {
        g_kernel.WaitForSingleObject(thread, INFINITE);
    }
    g_kernel.CloseHandle(thread);
    thread = nullptr;
}

// Ends the workers and releases the block. A run that had started gets its end
// line and its verdict (EndRun), judged as the stop was asked for.
HRESULT CTestEngine::StopTest(StopReason reason)
{
    const unsigned int stopMs = GetTimeMs() - startTimeMs;
    // Only a start that succeeded raised the flag: that run earns the marker.
    const LONG wasRunning = InterlockedExchange(&testRunning, 0);
    if (wasRunning && coreTurnCount && turnPhase == kTurnRunning)
        AskTurnEnd(stopMs >= TurnEnd(currentTurn) ? kCorePassed : kCoreEndedEarly, startTimeMs + stopMs);

    const unsigned int threads = config.threadCount < kMaxWorkers ? config.threadCount : kMaxWorkers;
    for (unsigned int i = 0; i < threads; ++i) {
        // Workers left suspended by a failed start see the cleared flag and end at once.
        if (workerThreads[i] && !wasRunning)
            g_kernel.ResumeThread(workerThreads[i]);
        WaitForWorker(i);
    }
    if (wasRunning && coreTurnCount && turnPhase == kTurnEnding)
        FinishTurn();

    ReleaseBlock();

    if (!wasRunning)
        return S_OK;
    return EndRun(stopMs, reason == kStopTimeUp);
}
