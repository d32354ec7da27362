// MAX on this machine, for real: one worker sweeps all the available memory less
// the system's reserve (in the 32-bit build, all its addresses hold, over several
// blocks), the run states exactly what the process committed, the memory stays
// resident, and the stop gives it all back.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "engine/TestEngine.h"
#include "support/Support.h"

namespace {

const SIZE_T MB = 1u << 20;

SIZE_T WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

unsigned long long AvailableMemory()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
}

TEST(MaxRun, OneWorkerSweepsAllAvailableMemoryAndStatesIt)
{
    if (AvailableMemory() < 4ull << 30)
        GTEST_SKIP() << "less than 4 GB available";
    TestDirectory dir;
    CTestEngine engine;
    const ProcessCounters before = ReadProcessCounters();
    MachineMemory machine;
    ASSERT_EQ(S_OK, ReadMachineMemory(&machine));
    std::printf("largest free ranges (MB):");
    for (unsigned int i = 0; i < machine.rangeCount; ++i)
        std::printf(" %llu", static_cast<unsigned long long>(machine.ranges[i].bytes / MB));
    std::printf("\n");
    const SIZE_T setBefore = WorkingSet();
    engine.SetConfig(TestConfig{1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(S_OK, engine.StartTest());
    const unsigned long long stated = engine.config.memorySizeMB, available = engine.memoryAvailableMB;
    const ProcessCounters during = ReadProcessCounters();
    Sleep(1000);
    const SIZE_T resident = WorkingSet() - setBefore;
    std::printf("MAX, one worker: %llu of %llu MB (%.1f%%) in %u blocks, committed %llu MB more, "
                "working set %llu MB more\n",
                stated, available, 100.0 * stated / available, engine.blockCount,
                static_cast<unsigned long long>((during.committed - before.committed) / MB),
                static_cast<unsigned long long>(resident / MB));
#if defined(_WIN64)
    EXPECT_GE(stated, available * 85 / 100);
#else
    // Bound by the address space: all that its free ranges of 16 MB or more hold
    // (not only the largest) less the address reserve, within 64 MB of what moved
    // since they were read.
    unsigned long long holds = 0;
    for (unsigned int i = 0; i < machine.rangeCount; ++i)
        if (machine.ranges[i].bytes / MB >= kMinBlockMB)
            holds += machine.ranges[i].bytes / MB;
    const unsigned long long budget = available - SystemReserveMB(available);
    EXPECT_GE(stated + kAddressReserveMB + 64, holds < budget ? holds : budget);
    if (budget > holds) {   // the addresses were the limit: little is left to reserve
        SIZE_T low = 0, high = 4095;
        while (low < high) {
            const SIZE_T mid = low + (high - low + 1) / 2;
            void* range = VirtualAlloc(nullptr, mid * MB, MEM_RESERVE, PAGE_READWRITE);
            if (range)
                VirtualFree(range, 0, MEM_RELEASE);
            (range ? low : high) = range ? mid : mid - 1;
        }
        std::printf("largest range left to reserve: %lu MB\n", static_cast<unsigned long>(low));
        EXPECT_LT(low, 2 * kAddressReserveMB);
    }
#endif
    EXPECT_EQ(stated * MB, engine.memorySize);
    // Committed: what the run states, and no more than the heap's growth besides.
    EXPECT_GE(during.committed, before.committed + engine.memorySize);
    EXPECT_LT(during.committed, before.committed + engine.memorySize + 64 * MB);
    if (setBefore) {   // where a working set is reported, at least 99% of the block is in it
        EXPECT_GE(resident, engine.memorySize / 100 * 99);
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(workerThreads[0], 0));
    EXPECT_EQ(S_OK, engine.StopTest());
    EXPECT_LT(ReadProcessCounters().committed, before.committed + 64 * MB);
    EXPECT_GT(engine.workerAreas[0].swept, 0u) << "the worker swept nothing";
}

// Every worker a 32-bit program can run starts with MAX: the addresses the plan
// leaves free hold each worker's and fill thread's stack and its cache-sized areas.
TEST(MaxRun, ThirtyTwoWorkersStartInTheAddressesMaxLeaves)
{
#if defined(_WIN64)
    GTEST_SKIP() << "the address space is no limit here";
#else
    if (AvailableMemory() < 4ull << 30)
        GTEST_SKIP() << "less than 4 GB available";
    TestDirectory dir;
    CTestEngine engine;
    engine.SetConfig(TestConfig{1, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(S_OK, engine.StartTest());
    std::printf("MAX, 32 workers: %u MB in %u blocks\n", engine.config.memorySizeMB, engine.blockCount);
    EXPECT_EQ(S_OK, engine.StopTest());
#endif
}

} // namespace
