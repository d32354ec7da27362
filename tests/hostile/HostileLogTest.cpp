// A run whose log cannot be written goes on, and nothing claims a line was written.
#include <gtest/gtest.h>

#include <windows.h>

#include "engine/TestEngine.h"
#include "log/TestLog.h"
#include "support/KernelFake.h"
#include "support/TestDirectory.h"

namespace {

// The frequency probe's delay is shortened; counters and stamps stay real.
void SkipCpuid(unsigned, unsigned) {}

unsigned int RunWithUnwritableLog()
{
    ScopedKernelServices guard;
    g_kernel.ExecuteCpuid = SkipCpuid;
    CTestEngine engine;
    TestConfig config = {};
    config.threadCount = 2;
    config.memoryTest = 1;
    config.memorySizeMB = 32;
    config.durationMs = 60000;
    config.logCpuLoad = 1;
    engine.SetConfig(config);
    EXPECT_EQ(S_OK, engine.StartTest());
    EXPECT_EQ(1, testRunning);
    unsigned int ticks = 0;
    for (int i = 0; i < 3; ++i)
        ticks += engine.SampleTick() == S_OK;
    EXPECT_EQ(S_OK, engine.StopTest());
    EXPECT_EQ(nullptr, engine.memoryBase);
    EXPECT_EQ(nullptr, workerThreads[0]);
    return ticks;
}

} // namespace

TEST(HostileLog, ADirectoryNamedLikeTheLogDoesNotStopTheRun)
{
    TestDirectory dir;
    ASSERT_TRUE(CreateDirectoryA("Burnwright.log", nullptr));
    EXPECT_EQ(3u, RunWithUnwritableLog());
    const DWORD attributes = GetFileAttributesA("Burnwright.log");
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);

    unsigned int runs = 9, completed = 9;
    int succeeded = 9;
    ReadLogHistory(&runs, &completed, &succeeded, nullptr);
    EXPECT_EQ(0u, runs);
}

TEST(HostileLog, ALockedLogDoesNotStopTheRunAndGainsNoLines)
{
    TestDirectory dir;
    dir.WriteFile("before\r\n");
    HANDLE lock = CreateFileA("Burnwright.log", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    EXPECT_EQ(3u, RunWithUnwritableLog());
    CloseHandle(lock);
    EXPECT_EQ("before\r\n", dir.ReadFile());
}
