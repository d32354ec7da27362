// The engine through the kernel seam: every start failure, real runs and their
// block sizes, and a run that a flipped bit fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <utility>
#include <vector>

#include "engine/Status.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "support/Support.h"

namespace {

const SIZE_T MB = 1u << 20;

struct Faults {
    DWORD memoryStatusError = 0, reserveError = 0, commitError = 0, createError = 0;
    int createAt = -1, created = 0;
    int commitAt = -1, commits = 0;   // commitAt -1: every commit fails with commitError
    int open = 0;   // worker handles created and not closed: Wine counts no process handles
    unsigned long long availableMB = 0;   // 0: the machine's own figure
} g_faults;

BOOL WINAPI FakeMemoryStatus(LPMEMORYSTATUSEX status)
{
    SetLastError(g_faults.memoryStatusError);
    if (g_faults.memoryStatusError)
        return FALSE;
    const BOOL ok = RealKernelServices().GlobalMemoryStatusEx(status);
    if (g_faults.availableMB)
        status->ullAvailPhys = g_faults.availableMB * MB;
    return ok;
}

LPVOID WINAPI FakeVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    const bool commit = type == MEM_COMMIT;
    const bool fails = commit ? g_faults.commitError && (g_faults.commitAt < 0 || g_faults.commits == g_faults.commitAt)
                              : g_faults.reserveError != 0;
    g_faults.commits += commit;
    SetLastError(fails ? (commit ? g_faults.commitError : g_faults.reserveError) : 0);
    if (fails)
        return nullptr;
    return RealKernelServices().VirtualAlloc(address, size, type, protect);
}

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD id)
{
    SetLastError(g_faults.createError);
    if (g_faults.created++ == g_faults.createAt)
        return nullptr;
    ++g_faults.open;
    return RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
}

BOOL WINAPI CountingCloseHandle(HANDLE handle)
{
    --g_faults.open;
    return RealKernelServices().CloseHandle(handle);
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_kernel.GlobalMemoryStatusEx = FakeMemoryStatus;
        g_kernel.VirtualAlloc = FakeVirtualAlloc;
        g_kernel.CreateThread = FakeCreateThread;
        g_kernel.CloseHandle = CountingCloseHandle;
        // One run first: what the runtime sets up once is not a leak.
        Start(1, 0, 0);
        engine.StopTest();
        g_faults = Faults();
        dir.WriteLog("");
    }
    HRESULT Start(unsigned int threads, unsigned int memoryTest, unsigned int sizeMB)
    {
        engine.SetConfig(TestConfig{memoryTest, 0, 0, threads, sizeMB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        return engine.StartTest();
    }
    void ExpectAsBefore(const ProcessCounters& before)
    {
        const ProcessCounters after = ReadProcessCounters();
        EXPECT_EQ(0, g_faults.open);
        EXPECT_EQ(before.threads, after.threads);
        EXPECT_LT(after.committed, before.committed + 4 * MB);   // room for the heap to grow
        EXPECT_EQ(nullptr, engine.memoryBase);
        for (HANDLE thread : workerThreads)
            EXPECT_EQ(nullptr, thread);
    }

    TestDirectory dir;
    ScopedKernelServices guard;
    CTestEngine engine;
};

TEST_F(Engine, AFailedStartLogsNothingAndItsStopLeavesNothingBehind)
{
    struct Case {
        const char* what;
        unsigned int threads, memoryTest, sizeMB;
        Faults faults;
        unsigned long status;   // 1: any failure
    };
    auto with = [](void (*set)(Faults&)) { Faults f; set(f); return f; };
    const Case cases[] = {
        {"no workers", 0, 0, 0, Faults(), 0x80070057},
        {"memory status", 4, 1, 16, with([](Faults& f) { f.memoryStatusError = 5; }), 0x80070005},
        {"one MB more than available", 4, 1, 101, with([](Faults& f) { f.availableMB = 100; }), 0x8007000E},
        {"fewer MB than workers", 16, 1, 0, with([](Faults& f) { f.availableMB = 15; }), 1},
        {"reserve", 4, 1, 16, with([](Faults& f) { f.reserveError = 8; }), 0x80070008},
        {"commit", 4, 1, 64, with([](Faults& f) { f.commitError = 8; }), 0x80070008},
        {"MAX commit part-way", 16, 1, 0, with([](Faults& f) { f.availableMB = 2000; f.commitAt = 9; f.commitError = 1455; }), 0x800705AF},
        {"worker 0", 16, 1, 64, with([](Faults& f) { f.createAt = 0; f.createError = 1450; }), 0x800705AA},
        {"worker 7", 16, 1, 64, with([](Faults& f) { f.createAt = 7; f.createError = 0x12345; }), 0x80072345},
        {"worker 15", 16, 0, 0, with([](Faults& f) { f.createAt = 15; f.createError = 8; }), 0x80070008},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessCounters before = ReadProcessCounters();
        g_faults = c.faults;
        const HRESULT status = Start(c.threads, c.memoryTest, c.sizeMB);
        EXPECT_TRUE(c.status == 1 ? status < 0 : static_cast<unsigned long>(status) == c.status) << std::hex << status;
        EXPECT_EQ(0, testRunning);
        EXPECT_EQ(S_OK, engine.StopTest());
        ExpectAsBefore(before);
    }
    EXPECT_EQ("", dir.ReadLog());
}

// Real runs on blocks sized from the request or the (scripted) available memory:
// every worker sweeps the same MB, the areas add up to the MB the run states
// (memorySizeMB, out of memoryAvailableMB), the stop gives everything back, and
// a second stop writes nothing. The workers' kernel variant goes into the output
// (scripts/ctest-session.sh lists it).
TEST_F(Engine, RunsItsWorkersOnBlocksSizedAsAskedAndGivesEverythingBack)
{
    std::printf("[ VARIANT  ] engine runs: %s kernel\n", GetKernelImpl(BestKernelVariant()).name);
    const struct {
        unsigned int threads, memoryTest, sizeMB, availableMB, blockMB;   // blockMB 0: MAX
    } cases[] = {{1, 0, 0, 0, 0}, {16, 1, 256, 0, 256}, {16, 1, 48, 1000, 48},
                 {4, 1, 100, 100, 100}, {16, 1, 0, 1000, 0}, {3, 1, 0, 700, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.threads << " workers, " << c.sizeMB << " MB of " << c.availableMB);
        dir.WriteLog("");
        g_faults.availableMB = c.availableMB;
        const ProcessCounters before = ReadProcessCounters();
        ASSERT_EQ(S_OK, Start(c.threads, c.memoryTest, c.sizeMB));
        const unsigned long long statedMB = engine.config.memorySizeMB;
        if (!c.memoryTest) {
            EXPECT_EQ(0u, statedMB);
            EXPECT_EQ(0u, engine.memoryAvailableMB);
        } else if (c.blockMB) {
            EXPECT_EQ(c.blockMB, statedMB);
        } else {
            EXPECT_EQ(c.availableMB, engine.memoryAvailableMB);
            EXPECT_LE(statedMB + 256, c.availableMB);
            EXPECT_GT(statedMB + c.threads, c.availableMB - SystemReserveMB(c.availableMB));
        }
        const SIZE_T share = c.memoryTest ? statedMB / c.threads * MB : 8192;
        SIZE_T swept = 0;
        for (unsigned int i = 0; i < c.threads; ++i) {
            SIZE_T worker = 0;
            for (const WorkerArea* area = &engine.workerAreas[i]; area; area = area->next)
                worker += area->size;
            EXPECT_EQ(share, worker) << i;
            swept += worker;
        }
        EXPECT_EQ(c.threads * share, swept);
        EXPECT_EQ(swept, engine.memorySize);
        const ProcessCounters during = ReadProcessCounters();
        EXPECT_EQ(before.threads + c.threads, during.threads);
        EXPECT_GE(during.committed, before.committed + engine.memorySize);
        Sleep(100);
        for (unsigned int i = 0; i < c.threads; ++i)
            EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(workerThreads[i], 0)) << i;
        EXPECT_EQ(S_OK, engine.StopTest());
        ExpectAsBefore(before);
        EXPECT_EQ(S_OK, engine.StopTest());
        const std::vector<std::string> messages = Messages(dir.ReadLog());
        ASSERT_EQ(3u, messages.size());
        EXPECT_EQ("Test Started --", messages[0]);
        EXPECT_EQ(0u, messages[1].find("Testing " + std::to_string(c.threads) + " worker")) << messages[1];
        EXPECT_EQ("Test Stopped --", messages[2]);
    }
}

// On a machine of two nodes every area is committed in the node of its worker's
// processor (the scripted node: the processor's number modulo 2); a floating
// worker's, and every area on a machine of one node, as ever, without a node.
struct NumaScript {
    ULONG highestNode = 1;
    std::vector<std::pair<unsigned char*, DWORD>> commits;   // (area, node) through the NUMA call
    int plainCommits = 0;
} g_numa;

BOOL WINAPI ScriptedHighestNode(PULONG highest)
{
    *highest = g_numa.highestNode;
    return TRUE;
}

BOOL WINAPI ScriptedProcessorNode(PPROCESSOR_NUMBER processor, PUSHORT node)
{
    *node = static_cast<USHORT>(processor->Number % 2);
    return TRUE;
}

LPVOID WINAPI RecordingAllocNuma(HANDLE process, LPVOID address, SIZE_T size, DWORD type, DWORD protect, DWORD node)
{
    g_numa.commits.emplace_back(static_cast<unsigned char*>(address), node);
    return VirtualAllocEx(process, address, size, type, protect);
}

LPVOID WINAPI CountingAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    g_numa.plainCommits += type == MEM_COMMIT;
    return RealKernelServices().VirtualAlloc(address, size, type, protect);
}

TEST_F(Engine, CommitsEachWorkersMemoryInItsProcessorsNode)
{
    g_kernel.GetNumaHighestNodeNumber = ScriptedHighestNode;
    g_kernel.GetNumaProcessorNodeEx = ScriptedProcessorNode;
    g_kernel.VirtualAllocExNuma = RecordingAllocNuma;
    g_kernel.VirtualAlloc = CountingAlloc;
    for (ULONG highest : {1u, 0u}) {
        SCOPED_TRACE(highest ? "two nodes" : "one node");
        g_numa = NumaScript();
        g_numa.highestNode = highest;
        ASSERT_EQ(S_OK, Start(4, 1, 64));
        std::vector<std::pair<unsigned char*, DWORD>> expected;
        int plain = 0;
        for (unsigned int i = 0; i < 4; ++i) {
            const WorkerPlacement& p = engine.workerPlacements[i];
            if (highest && p.tied)
                expected.emplace_back(engine.workerAreas[i].base, p.processor.Number % 2);
            else
                ++plain;
        }
        EXPECT_EQ(expected, g_numa.commits);
        EXPECT_EQ(plain, g_numa.plainCommits);
        EXPECT_EQ(S_OK, engine.StopTest());
    }
}

// A bit flipped in a running worker's area ends the run as failed at the next
// sample, or at the stop if it comes first: workers ended, block released, the
// failure marker in place of the stop marker, and nothing more from a later stop.
// The marker names the first worker to find an error, a processor of this machine,
// exactly the flipped bit, and how many more workers found errors. A sign bit held
// at the value the plain pattern has (a stuck cell) is found after a complement.
// A bit is flipped right after its worker's first refill changes the word: the
// worker has passed over its area before, however late a busy machine runs it.
TEST_F(Engine, AFlippedBitEndsTheRunAsFailed)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    // The high half of a double in a quarter of a worker's 4 MB area.
    auto high = [&](unsigned int worker, unsigned int quarter, unsigned int j) {
        return reinterpret_cast<volatile LONG*>(engine.workerAreas[worker].base + quarter * (1 << 20) + 8 * j + 4);
    };
    auto flipAfterRefill = [&](volatile LONG* word) {
        const LONG filled = *word;
        return WaitUntil([&] { return *word != filled; }, 20000) && (InterlockedXor(word, 0x100000), true);
    };
    const struct {
        bool atSample, second, stuck;
        const char* line;
    } cases[] = {
        {true, false, false, "stream, input changed, worker 3, CPU (\\d), bits 0010000000000000"},
        {false, true, false, "stream, input changed, CPU (\\d+), bits 0010000000000000, 1 more"},
        {true, false, true, "stream, input changed, worker 2, CPU (\\d), bits 8000000000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        dir.WriteLog("");
        const ProcessCounters before = ReadProcessCounters();
        ASSERT_EQ(S_OK, Start(4, 1, 16));
        Sleep(100);
        EXPECT_EQ(nullptr, failedWorkerArea);
        if (c.stuck) {
            // Cleared again and again: a refill's complement sets it.
            ASSERT_TRUE(WaitUntil([&] { InterlockedAnd(high(1, 0, 5), 0x7FFFFFFF); return failedWorkerArea != nullptr; }, 20000));
        } else {
            ASSERT_TRUE(flipAfterRefill(high(2, 2, 100)));
            ASSERT_TRUE(WaitUntil([] { return failedWorkerArea != nullptr; }, 20000));
        }
        if (c.second) {
            ASSERT_TRUE(flipAfterRefill(high(0, 2, 9)));
            ASSERT_TRUE(WaitUntil([] { return failedWorkerCount == 2; }, 20000));
        }
        EXPECT_EQ(E_WRONG_RESULT, c.atSample ? engine.SampleTick() : engine.StopTest());
        ExpectAsBefore(before);
        EXPECT_EQ(S_OK, engine.StopTest());
        const std::vector<std::string> messages = Messages(dir.ReadLog());
        ASSERT_EQ(3u, messages.size());
        EXPECT_EQ("Test Started --", messages[0]);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(messages[2], match, std::regex(std::string("Test Failed -- ") + c.line)))
            << messages[2];
        EXPECT_LT(std::stoul(match[1]), system.dwNumberOfProcessors);
        // The same failure as data, for the result record.
        ASSERT_EQ(1u, engine.outcome.failures.size());
        EXPECT_EQ(std::stoul(match[1]), engine.outcome.failures[0].cpu);
        EXPECT_EQ(kCheckChangedInput, engine.outcome.failures[0].check);
        EXPECT_EQ(c.stuck ? 0x8000000000000000ull : 0x10000000000000ull, engine.outcome.failures[0].bits);
    }
}

// A log that cannot be written loses its lines, not the run's outcome: its last
// line is the run's own, as the record reports it, and its verdict stands.
TEST_F(Engine, ItsOutcomeKeepsItsLastLineWhenTheLogCannotBeWritten)
{
    ASSERT_TRUE(DeleteFileA("Burnwright.log"));
    ASSERT_TRUE(CreateDirectoryA("Burnwright.log", nullptr));   // a folder in its place: no line can be written
    ASSERT_EQ(S_OK, Start(2, 0, 0));
    EXPECT_EQ(kVerdictRunning, engine.outcome.verdict);
    EXPECT_NE(std::string::npos, engine.outcome.lastLine.find(", Testing 2 workers")) << engine.outcome.lastLine;
    EXPECT_EQ(S_OK, engine.StopTest(CTestEngine::kStopTimeUp));
    EXPECT_TRUE(RemoveDirectoryA("Burnwright.log")) << "a line was written";
    EXPECT_EQ(kVerdictPassed, engine.outcome.verdict);
    EXPECT_EQ(22u, engine.outcome.lastLine.find("Test Stopped --")) << engine.outcome.lastLine;
}

} // namespace
