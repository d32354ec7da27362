// Workers on scripted machines: which logical processor each gets, the line that
// says what the run tests, and the processor a failure line names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <vector>

#include "engine/ProcessorTopology.h"
#include "engine/Status.h"
#include "engine/TestEngine.h"
#include "engine/TestedScopeLine.h"
#include "engine/WorkerKernel.h"
#include "support/Support.h"

namespace {

struct ScriptedCore {
    BYTE efficiency;
    WORD group;
    std::vector<int> numbers;
};

struct Machine {
    const char* name;
    std::vector<BYTE> groups;   // active processors per group
    std::vector<ScriptedCore> cores;
};

const Machine* g_machine = nullptr;          // null: the system reports no topology
std::map<HANDLE, GROUP_AFFINITY> g_affinity;  // what each worker was tied to

template <class T>
void Append(std::vector<unsigned char>& bytes, const T& record, size_t size)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&record);
    bytes.insert(bytes.end(), p, p + size);
}

BOOL WINAPI ScriptedTopology(LOGICAL_PROCESSOR_RELATIONSHIP relation, PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX buffer,
                             PDWORD length)
{
    if (!g_machine) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    std::vector<unsigned char> bytes;
    const size_t head = offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor);
    if (relation == RelationGroup) {
        std::vector<unsigned char> record(head + offsetof(GROUP_RELATIONSHIP, GroupInfo) +
                                          g_machine->groups.size() * sizeof(PROCESSOR_GROUP_INFO));
        auto* info = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(record.data());
        info->Relationship = RelationGroup;
        info->Size = static_cast<DWORD>(record.size());
        info->Group.MaximumGroupCount = info->Group.ActiveGroupCount = static_cast<WORD>(g_machine->groups.size());
        for (size_t g = 0; g < g_machine->groups.size(); ++g)
            info->Group.GroupInfo[g].MaximumProcessorCount = info->Group.GroupInfo[g].ActiveProcessorCount =
                g_machine->groups[g];
        bytes = record;
    } else if (relation == RelationProcessorCore) {
        for (const ScriptedCore& core : g_machine->cores) {
            SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX info = {};
            info.Relationship = RelationProcessorCore;
            info.Size = static_cast<DWORD>(head + sizeof(PROCESSOR_RELATIONSHIP));
            info.Processor.Flags = core.numbers.size() > 1 ? LTP_PC_SMT : 0;
            info.Processor.Reserved[0] = core.efficiency;   // EfficiencyClass
            info.Processor.GroupCount = 1;
            info.Processor.GroupMask[0].Group = core.group;
            for (int n : core.numbers)   // a 32-bit mask cannot name the rest
                if (n < static_cast<int>(8 * sizeof(KAFFINITY)))
                    info.Processor.GroupMask[0].Mask |= static_cast<KAFFINITY>(1) << n;
            Append(bytes, info, info.Size);
        }
    }
    if (!buffer || *length < bytes.size()) {
        *length = static_cast<DWORD>(bytes.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    *length = static_cast<DWORD>(bytes.size());
    return TRUE;
}

// Records the tie; the scripted processors are not this machine's.
BOOL WINAPI RecordAffinity(HANDLE thread, const GROUP_AFFINITY* affinity, PGROUP_AFFINITY)
{
    g_affinity[thread] = *affinity;
    return TRUE;
}

std::vector<unsigned int> Range(unsigned int first, unsigned int end)
{
    std::vector<unsigned int> r;
    for (unsigned int i = first; i < end; ++i)
        r.push_back(i);
    return r;
}

std::vector<unsigned int> operator+(std::vector<unsigned int> a, const std::vector<unsigned int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Desktop: eight cores, logical processors n and n + 8.
Machine Desktop()
{
    Machine m{"desktop, n and n + 8", {16}, {}};
    for (int c = 0; c < 8; ++c)
        m.cores.push_back({0, 0, {c, c + 8}});
    return m;
}

// Hybrid: two-thread performance cores, one-thread efficiency cores numbered in between.
Machine Hybrid()
{
    return {"hybrid", {12}, {{1, 0, {0, 1}}, {0, 0, {2}}, {0, 0, {3}}, {1, 0, {4, 5}}, {0, 0, {6}},
                             {0, 0, {7}}, {1, 0, {8, 9}}, {1, 0, {10, 11}}}};
}

// 72 logical processors in two groups of 36: core c of a group has numbers c and c + 18.
Machine TwoGroups()
{
    Machine m{"two groups of 36", {36, 36}, {}};
    for (WORD g = 0; g < 2; ++g)
        for (int c = 0; c < 18; ++c)
            m.cores.push_back({0, g, {c, c + 18}});
    return m;
}

struct Case {
    Machine machine;
    std::vector<unsigned int> order;   // CPU numbers in placement order
    std::vector<BYTE> groups;          // to find a CPU's group and number
    const char* lines[4];              // tested line for 1, half, all, twice all ("%s": the kernel)
};

class Placement : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_kernel.GetLogicalProcessorInformationEx = ScriptedTopology;
        g_kernel.SetThreadGroupAffinity = RecordAffinity;
    }
    void TearDown() override { g_machine = nullptr; }

    // Runs `workers` on the machine, flips an input bit of the last worker's area
    // and returns the log's messages after the stop.
    std::vector<std::string> RunAndFail(unsigned int workers)
    {
        dir.WriteLog("");
        g_affinity.clear();
        engine.SetConfig(TestConfig{0, 0, 0, workers, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(S_OK, engine.StartTest());
        const WorkerArea& last = engine.workerAreas[workers - 1];
        InterlockedXor(reinterpret_cast<volatile LONG*>(last.base + last.size / 2 + 8 * 3 + 4), 0x100000);
        EXPECT_TRUE(WaitUntil([] { return failedWorkerArea != nullptr; }, 30000));
        ties.clear();
        for (unsigned int i = 0; i < workers; ++i) {
            const auto tie = g_affinity.find(workerThreads[i]);
            ties.push_back(tie == g_affinity.end() ? GROUP_AFFINITY{} : tie->second);
        }
        engine.StopTest();
        return Messages(dir.ReadLog());
    }

    TestDirectory dir;
    ScopedKernelServices guard;
    CTestEngine engine;
    std::vector<GROUP_AFFINITY> ties;   // what each worker of the last run was tied to
};

// For 1, half, all and twice all workers: worker i on the i-th processor of the
// placement order (around again past the end), tied to it before it ran; the
// tested line right after the start marker; a failure names the last worker's
// processor. A 32-bit program reaches group 0's first 32 processors only.
TEST_F(Placement, WorkersGoToEachCoreFirstPerformanceCoresFirstAndFailuresNameTheirProcessor)
{
    const Case cases[] = {
        {Desktop(), Range(0, 16), {16},
         {"Testing 1 worker on 1 of 16 processors (1 of 8 cores), %s",
          "Testing 8 workers on 8 of 16 processors (8 of 8 cores), %s",
          "Testing 16 workers on 16 of 16 processors (8 of 8 cores), %s",
          "Testing 32 workers on 16 of 16 processors (8 of 8 cores), %s"}},
        {Hybrid(), {0, 4, 8, 10, 2, 3, 6, 7, 1, 5, 9, 11}, {12},
         {"Testing 1 worker on 1 of 12 processors (1 of 8 cores), %s",
          "Testing 6 workers on 6 of 12 processors (6 of 8 cores), %s",
          "Testing 12 workers on 12 of 12 processors (8 of 8 cores), %s",
          "Testing 24 workers on 12 of 12 processors (8 of 8 cores), %s"}},
        kNarrowProgram
            ? Case{TwoGroups(), Range(0, 18) + Range(18, 32), {36, 36},
                   {"Testing 1 worker on 1 of 72 processors (1 of 36 cores), 32-bit, %s",
                    "Testing 16 workers on 16 of 72 processors (16 of 36 cores), 32-bit, %s",
                    "Testing 32 workers on 32 of 72 processors (18 of 36 cores), 32-bit, %s",
                    "Testing 64 workers on 32 of 72 processors (18 of 36 cores), 32-bit, %s"}}
            : Case{TwoGroups(), Range(0, 18) + Range(36, 54) + Range(18, 36) + Range(54, 72), {36, 36},
                   {"Testing 1 worker on 1 of 72 processors (1 of 36 cores), %s",
                    "Testing 36 workers on 36 of 72 processors (36 of 36 cores), %s",
                    "Testing 72 workers on 72 of 72 processors (36 of 36 cores), %s",
                    "Testing 144 workers on 72 of 72 processors (36 of 36 cores), %s"}},
    };
    const char* kernel = GetKernelImpl(BestKernelVariant()).name;
    for (const Case& c : cases) {
        g_machine = &c.machine;
        const unsigned int all = static_cast<unsigned int>(c.order.size());
        EXPECT_EQ(all, UsableProcessorCount()) << c.machine.name;
        const unsigned int counts[4] = {1, all / 2, all, 2 * all};
        for (int k = 0; k < 4; ++k) {
            const unsigned int workers = counts[k];
            SCOPED_TRACE(testing::Message() << c.machine.name << ", " << workers << " workers");
            const std::vector<std::string> messages = RunAndFail(workers);
            for (unsigned int i = 0; i < workers; ++i) {
                const unsigned int cpu = c.order[i % all];
                const WorkerPlacement& p = engine.workerPlacements[i];
                unsigned int group = 0, first = 0;
                while (cpu >= first + c.groups[group])
                    first += c.groups[group++];
                EXPECT_EQ(1, p.tied) << i;
                EXPECT_EQ(cpu, p.cpu) << i;
                EXPECT_EQ(group, ties[i].Group) << i;
                EXPECT_EQ(static_cast<KAFFINITY>(1) << (cpu - first), ties[i].Mask) << i;
            }
            char line[128];
            std::snprintf(line, sizeof line, c.lines[k], kernel);
            ASSERT_EQ(3u, messages.size());
            EXPECT_EQ("Test Started --", messages[0]);
            EXPECT_EQ(line, messages[1]);
            std::smatch match;
            ASSERT_TRUE(std::regex_search(messages[2], match, std::regex("worker (\\d+)(?: of \\d+ on|,) CPU (\\d+)")))
                << messages[2];
            EXPECT_EQ(workers, std::stoul(match[1]));
            EXPECT_EQ(c.order[(workers - 1) % all], std::stoul(match[2]));
        }
    }
}

BOOL WINAPI RefuseSecondTie(HANDLE thread, const GROUP_AFFINITY* affinity, PGROUP_AFFINITY previous)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return g_affinity.size() == 1 ? FALSE : RecordAffinity(thread, affinity, previous);
}

// Where the system reports no topology the workers float as before, and a worker
// the system will not tie floats: nothing is tied for it, the line says how many
// float, and its failure names the processor the check ran on.
TEST_F(Placement, WorkersTheSystemDoesNotTieFloat)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const Machine desktop = Desktop();
    const char* kernel = GetKernelImpl(BestKernelVariant()).name;
    const struct {
        const Machine* machine;
        std::string line;
    } cases[] = {
        {nullptr, std::string("Testing 2 workers, floating (no processor topology), ") + kernel},
        {&desktop, std::string("Testing 2 workers on 1 of 16 processors (1 of 8 cores), 1 floating, ") + kernel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        g_machine = c.machine;
        g_kernel.SetThreadGroupAffinity = RefuseSecondTie;
        const std::vector<std::string> messages = RunAndFail(2);
        EXPECT_EQ(c.machine ? 1 : 0, engine.workerPlacements[0].tied);
        EXPECT_EQ(0, engine.workerPlacements[1].tied);
        EXPECT_EQ(0, ties[1].Mask);
        ASSERT_EQ(3u, messages.size());
        EXPECT_EQ(c.line, messages[1]);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(messages[2], match, std::regex("worker 2(?: of 2 on|,) CPU (\\d+), ")));
        EXPECT_LT(std::stoul(match[1]), system.dwNumberOfProcessors);
    }
}

// A clock that runs as the real one plus what the test skips.
volatile LONGLONG g_skippedCounts = 0;
DWORD g_uiThread = 0;
volatile LONG g_uiChains = 0;   // the frequency's chain of additions run on the test's thread

BOOL WINAPI SkippingCounter(LARGE_INTEGER* count)
{
    const BOOL read = RealKernelServices().QueryPerformanceCounter(count);
    count->QuadPart += g_skippedCounts;
    return read;
}

void CountedChain(unsigned int blocks)
{
    if (GetCurrentThreadId() == g_uiThread)
        InterlockedIncrement(&g_uiChains);
    RealKernelServices().RunAddChain(blocks);
}

void SkipMs(unsigned int ms)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    InterlockedExchangeAdd64(&g_skippedCounts, static_cast<LONGLONG>(ms) * frequency.QuadPart / 1000);
}

// A turn's worker can be held before it runs (its fill included) until released.
volatile LONG g_holdWorkers = 0;   // threads created from now on wait for the release
HANDLE g_release = nullptr;        // manual-reset event
struct HeldStart {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

DWORD WINAPI RunWhenReleased(LPVOID parameter)
{
    const HeldStart held = *static_cast<HeldStart*>(parameter);
    delete static_cast<HeldStart*>(parameter);
    WaitForSingleObject(g_release, 30000);
    return held.start(held.parameter);
}

int g_failCreateAt = -1, g_created = 0;   // the creation that fails (-1: none)

HANDLE WINAPI ScriptedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                   LPVOID parameter, DWORD flags, LPDWORD id)
{
    if (!(flags & CREATE_SUSPENDED))   // the start's fill threads
        return RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
    if (g_created++ == g_failCreateAt) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (g_holdWorkers)
        return RealKernelServices().CreateThread(security, stack, RunWhenReleased, new HeldStart{start, parameter},
                                                 flags, id);
    return RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
}

void Hold()
{
    ResetEvent(g_release);
    InterlockedExchange(&g_holdWorkers, 1);
}

void Release()
{
    InterlockedExchange(&g_holdWorkers, 0);
    SetEvent(g_release);
}

// Waits on the test's thread: the longest any wait asked for while watched.
volatile LONG g_watchWaits = 0;
DWORD g_longestWait = 0;

DWORD WINAPI WatchedWait(HANDLE handle, DWORD ms)
{
    if (g_watchWaits && GetCurrentThreadId() == g_uiThread)
        g_longestWait = std::max(g_longestWait, ms);
    return RealKernelServices().WaitForSingleObject(handle, ms);
}

// A release of the memory that takes two seconds of the run's clock.
BOOL WINAPI SlowRelease(LPVOID address, SIZE_T size, DWORD type)
{
    if (type == MEM_RELEASE)
        SkipMs(2000);
    return RealKernelServices().VirtualFree(address, size, type);
}

// What a word of the block held when its release began.
const volatile unsigned long long* g_watchedWord = nullptr;
unsigned long long g_wordAtRelease = 0;

BOOL WINAPI ReadingRelease(LPVOID address, SIZE_T size, DWORD type)
{
    if (type == MEM_RELEASE && g_watchedWord) {
        g_wordAtRelease = *g_watchedWord;
        g_watchedWord = nullptr;
    }
    return RealKernelServices().VirtualFree(address, size, type);
}

class EachCore : public Placement {
protected:
    void SetUp() override
    {
        Placement::SetUp();
        g_kernel.QueryPerformanceCounter = SkippingCounter;
        g_kernel.RunAddChain = CountedChain;
        g_kernel.CreateThread = ScriptedCreateThread;
        g_kernel.WaitForSingleObject = WatchedWait;
        g_uiThread = GetCurrentThreadId();
        g_release = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        g_failCreateAt = -1;
        g_created = 0;
        g_longestWait = 0;
    }
    void TearDown() override
    {
        Release();
        InterlockedExchange(&g_watchWaits, 0);
        engine.StopTest();
        CloseHandle(g_release);
        Placement::TearDown();
    }
    // Starts an "Each core" run of a minute per core on the machine.
    void StartEachCore(const Machine& machine, unsigned int memoryMB = 0)
    {
        g_machine = &machine;
        dir.WriteLog("");
        g_affinity.clear();
        const unsigned int cores = UsableCoreCount();
        engine.SetConfig(TestConfig{memoryMB != 0, 0, 0, 1, memoryMB, 0, 0, 0, 0, 0, cores * 60000 + 7, 10000, 0, 0, 0, 1, 0});
        ASSERT_EQ(S_OK, engine.StartTest());
    }
    // Skips the run's clock once the current turn's load has begun (when its
    // worker runs): a turn whose load never had half of it does not pass.
    void SkipLoaded(unsigned int ms)
    {
        if (engine.outcome.turns[engine.currentTurn].verdict == kCoreTesting) {
            EXPECT_TRUE(WaitUntil([&] { return engine.turnWork.loadFrom != 0; }, 30000));
        }
        SkipMs(ms);
    }
    // Ticks until the turn after `turn` has begun (or the run has ended): a tick
    // never waits long for a worker still stopping, so it may take several.
    HRESULT TickPast(unsigned int turn)
    {
        HRESULT status = S_OK;
        EXPECT_TRUE(WaitUntil([&] { status = engine.TurnTick(); return status != S_OK || engine.currentTurn > turn; },
                              30000));
        return status;
    }
    // The Freq figure of a status line logged now.
    double SampledMHz()
    {
        EXPECT_EQ(S_OK, engine.SampleTick());
        double mhz = -1.0;
        const std::string line = Messages(dir.ReadLog()).back();
        EXPECT_EQ(1, std::sscanf(line.c_str(), "Freq %lf MHz", &mhz)) << line;
        return mhz;
    }
};

// Each core in turn: one turn per physical core in the placement order, its worker
// tied to the core's first logical processor, the duration shared equally. Each
// turn's load switches from SSE2 to the widest kernel halfway through its load,
// the first turn's too. Freq is the clock the turn's worker measured on its core,
// 0.00 while none is under load (before the turn's first reading, and once its
// worker stopped at a failure), and only measured figures reach the outcome. A
// bit flipped in the first turn is logged naming that core, the next turns run
// clean on fresh memory, and the run ends "Test Failed --" naming the first core only.
TEST_F(EachCore, TakesTheCoresInTurnAndNamesOnlyTheOneThatFailed)
{
    const std::string kernel = BestKernelVariant() == kKernelSse2
                                   ? "SSE2" : std::string("SSE2 then ") + GetKernelImpl(BestKernelVariant()).name;
    const struct {
        Machine machine;
        std::vector<unsigned int> cpus;   // each core's first processor, in placement order
        std::vector<BYTE> groups;
        unsigned int machineCores, machineProcessors;
    } cases[] = {
        {Desktop(), Range(0, 8), {16}, 8, 16},
        {Hybrid(), {0, 4, 8, 10, 2, 3, 6, 7}, {12}, 8, 12},
        {TwoGroups(), kNarrowProgram ? Range(0, 18) : Range(0, 18) + Range(36, 54), {36, 36}, 36, 72},
    };
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine.name);
        const unsigned int cores = static_cast<unsigned int>(c.cpus.size());
        StartEachCore(c.machine);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(cores, UsableCoreCount());
        // The first turn's load: SSE2 for the first half of it.
        ASSERT_TRUE(WaitUntil([&] { return engine.turnWork.loadFrom != 0; }, 30000));
        const long long load = engine.turnWork.endCount - engine.turnWork.loadFrom;
        EXPECT_GT(load, 59 * frequency.QuadPart);
        EXPECT_EQ(load / 2, engine.turnWork.wideFrom - engine.turnWork.loadFrom);

        std::vector<GROUP_AFFINITY> turnTies;
        for (unsigned int k = 0; k < cores; ++k) {
            turnTies.push_back(g_affinity[workerThreads[0]]);
            if (k == 0) {
                ASSERT_TRUE(WaitUntil([] { return turnClockKHz != 0; }, 30000));
                const LONG khz = turnClockKHz;
                const double mhz = SampledMHz();
                EXPECT_TRUE(std::fabs(mhz - khz * 0.001) <= 0.0051 || khz != turnClockKHz) << mhz << ", " << khz;
                EXPECT_EQ(0, g_uiChains) << "the clock was measured on the idle window's thread";
                const WorkerArea& area = engine.workerAreas[0];
                InterlockedXor(reinterpret_cast<volatile LONG*>(area.base + area.size / 2 + 8 * 3 + 4), 0x100000);
                ASSERT_TRUE(WaitUntil([&] {
                    engine.TurnTick();
                    return Messages(dir.ReadLog()).back().find(": failed after") != std::string::npos;
                }, 30000));
                // Its worker has stopped: no core is under load for the rest of its turn.
                EXPECT_EQ(0.0, SampledMHz());
            }
            if (k == 1) {   // before its worker's first reading
                EXPECT_EQ(0.0, SampledMHz());
                Release();
                ASSERT_TRUE(WaitUntil([] { return turnClockKHz != 0; }, 30000));
                const double mhz = SampledMHz();
                const CoreTurnWork& work = engine.turnWork;
                // The line shows the published whole kHz to two decimals: within
                // 0.0005 + 0.005 MHz of the figure measured.
                EXPECT_TRUE(mhz == 0.0 || std::any_of(work.clocksMHz, work.clocksMHz + work.clockCount,
                                                      [&](double m) { return std::fabs(m - mhz) <= 0.0056; }))
                    << mhz;
            }
            SkipLoaded(60000);
            if (k == 0)
                Hold();   // the next turn's worker waits: the sample comes before any reading of its own
            ASSERT_EQ(k + 1 < cores ? S_OK : S_FALSE, TickPast(k)) << k;
        }
        EXPECT_EQ(E_WRONG_RESULT, engine.StopTest(CTestEngine::kStopTimeUp));
        EXPECT_EQ(kVerdictFailed, engine.outcome.verdict);
        EXPECT_EQ(2u, engine.outcome.clockMHz.size());   // the two turns that waited for a reading
        for (double mhz : engine.outcome.clockMHz)
            EXPECT_GT(mhz, 0.0);

        // The tested line, in its full form or the shorter one (with a long kernel name).
        const std::string n = std::to_string(cores), mc = std::to_string(c.machineCores),
                          mp = std::to_string(c.machineProcessors);
        const std::string tested = "Testing each core in turn(: " + n + " of " + mc + " cores \\(" + n + " of " + mp +
                                   " processors\\)|, " + n + "/" + mc + " cores, " + n + "/" + mp + " CPUs)" +
                                   (kNarrowProgram && c.machineProcessors > 32 ? ", 32-bit, " : ", ") + kernel;
        EXPECT_TRUE(std::regex_match(Messages(dir.ReadLog()).at(1), std::regex(tested))) << tested;
        std::vector<std::string> expected = {"Test Started --", "Testing each core"};
        for (unsigned int k = 0; k < cores; ++k) {
            const std::string core = "Core " + std::to_string(k + 1) + " of " + std::to_string(cores) + ", CPU " +
                                     std::to_string(c.cpus[k]) + ": ";
            expected.push_back(core + kernel + " for 1 min 0 s");
            if (k == 0) {
                expected.push_back("Freq");
                expected.push_back(core + "input changed in stream, worker 1, bits 0010000000000000");
                expected.push_back(core + "failed after 0 s, median");
                expected.push_back("Freq 0.00 MHz");
            } else {
                if (k == 1) {
                    expected.push_back("Freq 0.00 MHz");
                    expected.push_back("Freq");
                }
                expected.push_back(core + "passed, median");
            }
            unsigned int group = 0, first = 0;
            while (c.cpus[k] >= first + c.groups[group])
                first += c.groups[group++];
            EXPECT_EQ(group, turnTies[k].Group) << k;
            EXPECT_EQ(static_cast<KAFFINITY>(1) << (c.cpus[k] - first), turnTies[k].Mask) << k;
        }
        expected.push_back("Test Failed -- CPU " + std::to_string(c.cpus[0]) + " failed; " + std::to_string(cores - 1) +
                           " of " + std::to_string(cores) + " cores passed");
        std::vector<std::string> messages = Messages(dir.ReadLog());
        ASSERT_EQ(expected.size(), messages.size()) << dir.ReadLog();
        for (size_t i = 0; i < messages.size(); ++i)
            EXPECT_EQ(expected[i], messages[i].substr(0, expected[i].size())) << messages[i];
        EXPECT_EQ(kCoreFailed, engine.outcome.turns[0].verdict);
        EXPECT_GT(engine.outcome.turns[0].medianMHz, 0.0);
        for (unsigned int k = 1; k < cores; ++k)
            EXPECT_EQ(kCorePassed, engine.outcome.turns[k].verdict) << k;
        EXPECT_EQ(messages.back(), engine.outcome.lastLine.substr(22));
    }
}

int g_ties = 0;

BOOL WINAPI RefuseSecondTurnsTie(HANDLE thread, const GROUP_AFFINITY* affinity, PGROUP_AFFINITY previous)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return g_ties++ == 1 ? FALSE : RecordAffinity(thread, affinity, previous);
}

// A core whose worker cannot be made, or tied to it, is not tested, and says
// why: the run goes on with the next cores on time, but it never ends as passed.
// Nor one whose memory fill left its load less than half its turn, or none of
// it, nor those whose turns the run's time passed (a clock that jumped).
TEST_F(EachCore, NeverPassesACoreItCouldNotTest)
{
    g_failCreateAt = 1;   // the second turn's worker
    g_ties = 0;           // the third turn's is the second tie
    g_kernel.SetThreadGroupAffinity = RefuseSecondTurnsTie;
    const Machine desktop = Desktop();
    StartEachCore(desktop);
    ASSERT_FALSE(HasFatalFailure());
    for (unsigned int k = 0; k < 2; ++k) {
        SkipLoaded(60000);
        ASSERT_EQ(S_OK, TickPast(k)) << k;
    }
    Hold();   // the fourth turn's worker: its fill takes 40 s of its turn
    SkipMs(60000);
    ASSERT_EQ(S_OK, TickPast(2));
    SkipMs(40000);
    Release();
    SkipLoaded(20000);
    Hold();   // the fifth's outlasts its turn
    ASSERT_EQ(S_OK, TickPast(3));
    SkipMs(60000);
    ASSERT_EQ(S_OK, engine.TurnTick());
    Release();
    ASSERT_EQ(S_OK, TickPast(4));
    SkipLoaded(3 * 60000 + 1000);   // past the run's end in the sixth turn
    EXPECT_EQ(E_NOT_ALL_TESTED, engine.StopTest(CTestEngine::kStopTimeUp));

    const std::vector<std::string> messages = Messages(dir.ReadLog());
    EXPECT_EQ("Test Failed -- CPU 1, CPU 2, CPU 3 and 3 more not tested; 2 of 8 cores passed", messages.back());
    for (const char* line : {"Core 2 of 8, CPU 1: not tested, no worker (error 80070008)",
                             "Core 3 of 8, CPU 2: not tested, not tied to it (error 80070057)",
                             "Core 4 of 8, CPU 3: not tested, its memory fill took 40 of 60 s",
                             "Core 5 of 8, CPU 4: not tested, its memory fill outlasted the turn"})
        EXPECT_NE(std::find(messages.begin(), messages.end(), line), messages.end()) << line << "\n" << dir.ReadLog();
    EXPECT_EQ(kVerdictIncomplete, engine.outcome.verdict);
    const char* reasons[] = {"", "no worker (error 80070008)", "not tied to it (error 80070057)",
                             "its memory fill took 40 of 60 s", "its memory fill outlasted the turn", "",
                             "the run's time passed before its turn", "the run's time passed before its turn"};
    for (unsigned int k = 0; k < 8; ++k) {
        EXPECT_EQ(k == 0 || k == 5 ? kCorePassed : kCoreNotTested, engine.outcome.turns[k].verdict) << k;
        EXPECT_STREQ(reasons[k], engine.outcome.turns[k].reason) << k;
    }
}

// A stop in the last second of the last turn ends it early, however long the
// workers and the memory then take to go: the outcome is judged as the stop is
// asked for, and the log says the same as the outcome. A tick never waits
// without a limit for a worker, and neither does a stop that has someone to answer.
TEST_F(EachCore, JudgesItsEndAsTheStopIsAskedFor)
{
    g_kernel.VirtualFree = SlowRelease;
    const Machine hybrid = Hybrid();
    StartEachCore(hybrid);
    ASSERT_FALSE(HasFatalFailure());
    InterlockedExchange(&g_watchWaits, 1);
    for (unsigned int k = 0; k + 1 < 8; ++k) {
        SkipLoaded(60000);
        ASSERT_EQ(S_OK, TickPast(k));
    }
    SkipMs(59500);
    ASSERT_EQ(S_OK, engine.TurnTick());
    EXPECT_LT(g_longestWait, kTurnTickMs) << "a tick held the window for a worker";
    int answered = 0;
    engine.idle = [](void* context) { return ++*static_cast<int*>(context), TRUE; };
    engine.idleContext = &answered;
    EXPECT_EQ(S_OK, engine.StopTest());
    engine.idle = nullptr;
    EXPECT_LT(g_longestWait, kTurnTickMs) << "the stop waited without answering";
    EXPECT_EQ(kVerdictEndedEarly, engine.outcome.verdict);
    EXPECT_EQ(kCoreEndedEarly, engine.outcome.turns[7].verdict);
    const std::vector<std::string> messages = Messages(dir.ReadLog());
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ("Core 8 of 8, CPU 7: ended early after 59 s", messages[messages.size() - 2].substr(0, 42));
    EXPECT_EQ("Test Stopped --", messages.back());
}

// Cancel while the next core's worker refills the memory ends the run at once:
// the fill stops within a piece, and the stop answers meanwhile.
TEST_F(EachCore, ACancelDuringARefillEndsItAtOnce)
{
    g_kernel.VirtualFree = ReadingRelease;
    const Machine desktop = Desktop();
    StartEachCore(desktop, sizeof(void*) == 8 ? 2048 : 768);   // what a 32-bit test program can commit
    ASSERT_FALSE(HasFatalFailure());
    const volatile unsigned long long* firstWord = reinterpret_cast<unsigned long long*>(engine.workerAreas[0].base);
    const unsigned long long filled = *firstWord;
    SkipLoaded(60000);
    ASSERT_EQ(S_OK, TickPast(0));
    const WorkerArea* last = &engine.workerAreas[0];
    while (last->next)
        last = last->next;
    g_watchedWord = reinterpret_cast<const unsigned long long*>(last->base);
    const unsigned long long lastWord = *g_watchedWord;
    ASSERT_TRUE(WaitUntil([&] { return *firstWord != filled; }, 30000)) << "the next core's fill never began";
    InterlockedExchange(&g_watchWaits, 1);
    int answered = 0;
    engine.idle = [](void* context) { return ++*static_cast<int*>(context), TRUE; };
    engine.idleContext = &answered;
    EXPECT_EQ(S_OK, engine.StopTest());
    engine.idle = nullptr;
    EXPECT_LT(g_longestWait, kTurnTickMs) << "the stop waited without answering";
    EXPECT_EQ(lastWord, g_wordAtRelease) << "the fill went on to the block's end";
    EXPECT_EQ(kVerdictEndedEarly, engine.outcome.verdict);
    EXPECT_EQ(nullptr, engine.memoryBase);
}

// The line at the log's limit: every figure kept, the shorter forms only where the
// full one would not fit, the loads counted only where even they would not; with
// the memory test, tested of available MB.
TEST(TestedScopeLine, KeepsEveryFigureWithinTheLogsLimit)
{
    const struct {
        TestedScope scope;
        const char* line;
    } cases[] = {
        {{32, 32, 32, 16, 32, 16, 0, "AVX-512", 0, 0, 0, 0, 0},
         "Testing 32 workers on 32 of 32 processors (16 of 16 cores), AVX-512"},
        {{32, 32, 32, 16, 32, 16, 0, "AVX-512", 1, 28412, 30120, 0, 0},
         "Testing 32 workers, 32/32 CPUs, 16/16 cores, AVX-512, 28412 of 30120 MB"},
        {{144, 144, 72, 36, 72, 36, 0, "AVX-512", 1, 1234567, 2345678, 0, 0},
         "Testing 144 workers, 72/72 CPUs, 36/36 cores, AVX-512, 1234567 of 2345678 MB"},
        {{2048, 2048, 2048, 1024, 2048, 1024, 0, "AVX-512", 1, 1234567, 2345678, 0, 0},
         "Testing 2048 workers, 2048/2048 CPUs, 1024 cores, AVX-512, 1234567/2345678 MB"},
        {{2048, 2048, 2048, 1024, 2048, 1024, 0, "AVX-512", 1, 12345678, 23456789, 0, 0},
         "Testing 2048 workers, 2048/2048 CPUs, 1024 cores, AVX-512, 12345678 MB"},
        {{64, 64, 32, 18, 72, 36, 1, "SSE2", 1, 4032, 1234567, 0, 0},
         "Testing 64 workers, 32/72 CPUs, 18/36 cores, 32-bit, SSE2, 4032 of 1234567 MB"},
        {{4, 3, 2, 1, 2, 1, 0, "AVX", 0, 0, 0, 0, 0}, "Testing 4 workers on 2 of 2 processors (1 of 1 cores), 1 floating, AVX"},
        {{1, 1, 6, 6, 12, 6, 0, "AVX", 0, 0, 0, 1, 0}, "Testing each core in turn: 6 of 6 cores (6 of 12 processors), AVX"},
        {{1, 1, 1024, 1024, 2048, 1024, 0, "SSE2 then AVX-512", 1, 1234567, 2345678, 1, 0},
         "Testing each of 1024 cores, SSE2 then AVX-512, 1234567 MB"},
        // Loads named where they fit, counted where they would not.
        {{16, 16, 16, 8, 16, 8, 0, "AVX, stream,vector", 1, 28412, 30120, 0, 0x3},
         "Testing 16 workers, 16/16 CPUs, 8 cores, AVX, stream,vector, 28412/30120 MB"},
        {{16, 16, 16, 8, 16, 8, 0, "AVX, stream,integer,vector,crypto", 1, 28412, 30120, 0, 0xF},
         "Testing 16 workers, 16/16 CPUs, 8/8 cores, AVX, 4 loads, 28412 of 30120 MB"},
        {{32, 32, 32, 16, 32, 16, 0, "AVX-512, stream,fma,vector,crypto,cache", 1, 28412, 30120, 0, 0x1F},
         "Testing 32 workers, 32/32 CPUs, 16 cores, AVX-512, 5 loads, 28412/30120 MB"},
        {{1, 1, 16, 16, 32, 16, 0, "SSE2 then AVX-512, stream,fma,integer,vector,crypto", 1, 28412, 30120, 1, 0x1F},
         "Testing each of 16 cores, SSE2 then AVX-512, 5 loads, 28412 MB"},
    };
    for (const auto& c : cases) {
        char line[kTestedScopeLineLength + 1];
        FormatTestedScopeLine(line, c.scope);
        EXPECT_EQ(std::string(c.line), line);
        EXPECT_LE(std::strlen(line), kTestedScopeLineLength);
    }
}

} // namespace
