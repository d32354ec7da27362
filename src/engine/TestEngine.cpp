#include "engine/TestEngine.h"

#include <cstdio>
#include <cstring>

#include "engine/AreaFill.h"
#include "engine/Clock.h"
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

const unsigned int kMB = 1u << 20;
// Largest block a 32-bit byte count can describe, in MB.
const unsigned int kMaxBlockMB = 4095;
// Address space left free beside the block for thread stacks and the runtime.
const unsigned int kAddressReserveMB = 64;

HRESULT LastErrorStatus()
{
    return StatusFromWin32(g_kernel.GetLastError());
}

// Size in MB of the largest free range of the address space, less a margin:
// the most that "all available memory" can reserve in one piece.
unsigned int ReservableMB()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned char* address = static_cast<const unsigned char*>(info.lpMinimumApplicationAddress);
    const unsigned char* const end = static_cast<const unsigned char*>(info.lpMaximumApplicationAddress);
    SIZE_T largest = 0;
    MEMORY_BASIC_INFORMATION region;
    while (address < end && g_kernel.VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_FREE && region.RegionSize > largest)
            largest = region.RegionSize;
        const unsigned char* next = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    const unsigned int mb = static_cast<unsigned int>(largest / kMB);
    return mb > kAddressReserveMB ? mb - kAddressReserveMB : 0;
}

// The failure line: what the first worker found, where, the bits that differed
// as 16 hexadecimal digits, and how many more workers found errors. Leading zeros
// go where the line would pass kFailureLineLength; if the bits still do not fit,
// a shorter form, and in the last resort the line without the bits.
const size_t kFailureLineLength = 77;

void FormatFailureLine(char* line, const WorkerFailure& failure, unsigned int worker,
                       unsigned int threads, LONG failedWorkers)
{
    const char* what = failure.check == kCheckWrongResult ? "wrong result" : "input changed";
    int significant = 1;
    while (significant < 16 && (failure.bits >> (4 * significant)) != 0)
        ++significant;
    const long more = failedWorkers - 1;
    char head[2][kFailureLineLength + 1], tail[2][32] = {"", ""};
    std::snprintf(head[0], sizeof head[0], "Test Failed -- %s in worker %u of %u on CPU %u, bits ", what,
                  worker, threads, failure.cpu);
    std::snprintf(head[1], sizeof head[1], "Test Failed -- %s, worker %u, CPU %u, bits ", what, worker,
                  failure.cpu);
    if (more > 0) {
        std::snprintf(tail[0], sizeof tail[0], " and %ld more", more);
        std::snprintf(tail[1], sizeof tail[1], ", %ld more", more);
    }
    for (int form = 0; form < 2; ++form) {
        const int room = static_cast<int>(kFailureLineLength - std::strlen(head[form]) - std::strlen(tail[form]));
        if (room >= significant) {
            std::snprintf(line, kFailureLineLength + 1, "%s%0*llX%s", head[form], room < 16 ? room : 16,
                          failure.bits, tail[form]);
            return;
        }
    }
    std::snprintf(line, kFailureLineLength + 1, "Test Failed -- %s, worker %u, CPU %u%s", what, worker,
                  failure.cpu, tail[1]);
}

} // namespace

CTestEngine::CTestEngine()
    : config(), workerAreas(), workerPlacements(), memoryBase(nullptr), memorySize(0), startTimeMs(0),
      memoryAvailableMB(0), topology()
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

// Sets memorySize (and, with the memory test, memorySizeMB) for this start.
HRESULT CTestEngine::SizeBlock(unsigned int* areaSize)
{
    const unsigned int threads = config.threadCount;
    memoryAvailableMB = 0;
    if (!config.memoryTest) {
        memorySize = threads * kSmallAreaBytes;
        *areaSize = kSmallAreaBytes;
        return S_OK;
    }

    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    if (!g_kernel.GlobalMemoryStatusEx(&status))
        return LastErrorStatus();

    const unsigned long long availableMB64 = status.ullAvailPhys / kMB;
    memoryAvailableMB = availableMB64;
    const unsigned int availableMB = static_cast<unsigned int>(availableMB64);
    if (config.memorySizeMB > availableMB)
        return E_OUTOFMEMORY;

    unsigned int requestedMB = config.memorySizeMB;
    if (requestedMB == 0) {
        // All available memory, but no more than one reservable 32-bit block.
        requestedMB = availableMB64 > kMaxBlockMB ? kMaxBlockMB : availableMB;
        const unsigned int reservable = ReservableMB();
        if (requestedMB > reservable)
            requestedMB = reservable;
    } else if (requestedMB > kMaxBlockMB) {
        return E_OUTOFMEMORY;
    }

    const unsigned int perWorkerMB = requestedMB / threads;
    config.memorySizeMB = threads * perWorkerMB;
    memorySize = threads * perWorkerMB * kMB;
    *areaSize = perWorkerMB * kMB;
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
    if (!g_kernel.SetThreadGroupAffinity(workerThreads[worker], &affinity, nullptr))
        placement.tied = 0;
}

void CTestEngine::LogTestedScope()
{
    TestedScope scope = {};
    scope.workers = config.threadCount;
    scope.machineProcessors = topology.machineProcessors;
    scope.machineCores = topology.machineCores;
    scope.narrowLimited = topology.narrowLimited;
    scope.kernel = GetKernelImpl(BestKernelVariant()).name;
    bool slotUsed[kMaxProcessors] = {}, coreUsed[kMaxProcessors] = {};
    unsigned long long testedBytes = 0;
    for (unsigned int i = 0; i < config.threadCount; ++i) {
        testedBytes += workerAreas[i].size;
        if (!workerPlacements[i].tied)
            continue;
        ++scope.tiedWorkers;
        const unsigned int slot = i % topology.usableCount;
        scope.processors += !slotUsed[slot];
        scope.cores += !coreUsed[topology.order[slot].core];
        slotUsed[slot] = coreUsed[topology.order[slot].core] = true;
    }
    scope.memoryTest = config.memoryTest != 0;
    scope.testedMB = testedBytes / kMB;
    scope.availableMB = memoryAvailableMB;
    char line[kTestedScopeLineLength + 1];
    FormatTestedScopeLine(line, scope);
    WriteLog(line);
}

HRESULT CTestEngine::StartTest()
{
    const unsigned int threads = config.threadCount;
    if (threads == 0 || threads > kMaxWorkers)
        return E_INVALIDARG;
    PlaceWorkers();

    unsigned int areaSize = 0;
    HRESULT status = SizeBlock(&areaSize);
    if (FAILED(status))
        return status;

    memoryBase = static_cast<unsigned char*>(
        g_kernel.VirtualAlloc(nullptr, memorySize, MEM_RESERVE, PAGE_READWRITE));
    if (!memoryBase)
        return LastErrorStatus();

    void* committed = g_kernel.VirtualAlloc(memoryBase, memorySize, MEM_COMMIT, PAGE_READWRITE);
    if (!committed) {
        status = LastErrorStatus();
        g_kernel.VirtualFree(memoryBase, 0, MEM_RELEASE);
        memoryBase = nullptr;
        return status;
    }
    memoryBase = static_cast<unsigned char*>(committed);
    for (unsigned int i = 0; i < threads; ++i) {
        workerAreas[i].base = memoryBase + i * areaSize;
        workerAreas[i].size = areaSize;
        FillWorkerArea(workerAreas[i].base, areaSize, i);
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
    InterlockedExchange(&failedWorkerCount, 0);
    firstWorkerFailure = WorkerFailure();

    for (unsigned int i = 0; i < threads; ++i) {
        workerThreads[i] = g_kernel.CreateThread(nullptr, 0, WorkerThreadProc, &workerAreas[i],
                                                 CREATE_SUSPENDED, nullptr);
        if (!workerThreads[i])
            return LastErrorStatus();
        TieWorker(i);
    }

    InterlockedExchange(&testRunning, 1);
    for (unsigned int i = 0; i < threads; ++i)
        g_kernel.ResumeThread(workerThreads[i]);

    startTimeMs = GetTimeMs();
    double baselineLoad = 0.0;
    MeasureCpuLoad(&baselineLoad);
    WriteLog("Test Started --");
    LogTestedScope();
    return S_OK;
}

void CTestEngine::ReleaseBlock()
{
    if (!memoryBase)
        return;
    g_kernel.VirtualFree(memoryBase, memorySize, MEM_DECOMMIT);
    g_kernel.VirtualFree(memoryBase, 0, MEM_RELEASE);
    memoryBase = nullptr;
}

// Ends the workers and releases the block. A run that had started gets its end
// marker: "Test Failed --" with what a worker found (E_WRONG_RESULT), or
// "Test Stopped --" (S_OK).
HRESULT CTestEngine::StopTest()
{
    // Only a start that succeeded raised the flag: that run earns the marker.
    const LONG wasRunning = InterlockedExchange(&testRunning, 0);

    const unsigned int threads = config.threadCount < kMaxWorkers ? config.threadCount : kMaxWorkers;
    for (unsigned int i = 0; i < threads; ++i) {
        if (!workerThreads[i])
            continue;
        // Workers left suspended by a failed start see the cleared flag and end at once.
        if (!wasRunning)
            g_kernel.ResumeThread(workerThreads[i]);
        g_kernel.WaitForSingleObject(workerThreads[i], INFINITE);
        g_kernel.CloseHandle(workerThreads[i]);
        workerThreads[i] = nullptr;
    }

    ReleaseBlock();

    if (!wasRunning)
        return S_OK;
    // Every worker has ended: an error found in the last passes is in the record too.
    const WorkerArea* failed = failedWorkerArea;
    if (!failed) {
        WriteLog("Test Stopped --");
        return S_OK;
    }
    char message[kFailureLineLength + 1];
    // Workers run only on the engine's own areas.
    const unsigned int worker = static_cast<unsigned int>(failed - workerAreas) + 1;
    // A tied worker ran only on its own processor.
    WorkerFailure failure = firstWorkerFailure;
    if (workerPlacements[worker - 1].tied)
        failure.cpu = workerPlacements[worker - 1].cpu;
    FormatFailureLine(message, failure, worker, config.threadCount, failedWorkerCount);
    WriteLog(message);
    return E_WRONG_RESULT;
}
