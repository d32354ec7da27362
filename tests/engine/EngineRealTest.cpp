// The engine on the real kernel: workers really run, the block is really
// committed, and a stop gives every thread, handle and byte back.
#include <gtest/gtest.h>

#include "engine/Status.h"
#include "engine/TestEngine.h"
#include "support/LogLines.h"
#include "support/ProcessCounters.h"
#include "support/TestDirectory.h"

namespace {

const size_t MB = 1u << 20;

unsigned long long UserTime100ns(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<unsigned long long>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
}

// Waits (bounded) until every worker has spent processor time in its kernel.
bool AllWorkersRan(unsigned int threads)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        unsigned int running = 0;
        for (unsigned int i = 0; i < threads; ++i)
            running += UserTime100ns(workerThreads[i]) > 0;
        if (running == threads)
            return true;
        Sleep(25);
    }
    return false;
}

// One short run first, so that whatever the runtime sets up once (log file
// buffers, the system's own helper threads) is not counted as a leak.
void WarmUp()
{
    TestDirectory dir;
    CTestEngine engine;
    TestConfig config = {};
    config.threadCount = 1;
    engine.SetConfig(config);
    engine.StartTest();
    engine.StopTest();
}

void RunAndStop(unsigned int threads, unsigned int memoryTest, unsigned int sizeMB)
{
    WarmUp();
    TestDirectory dir;
    const ProcessCounters before = ReadProcessCounters();

    CTestEngine engine;
    TestConfig config = {};
    config.threadCount = threads;
    config.memoryTest = memoryTest;
    config.memorySizeMB = sizeMB;
    engine.SetConfig(config);
    ASSERT_EQ(S_OK, engine.StartTest());

    const size_t blockBytes = engine.memorySize;
    if (memoryTest) {
        if (sizeMB) {
            EXPECT_EQ(sizeMB, engine.config.memorySizeMB);
        }
        EXPECT_EQ(engine.config.memorySizeMB * MB, blockBytes);
    } else {
        EXPECT_EQ(threads * 8192u, blockBytes);
    }

    const ProcessCounters during = ReadProcessCounters();
    EXPECT_EQ(before.threads + threads, during.threads);
    EXPECT_GE(during.committedBytes, before.committedBytes + blockBytes);
    EXPECT_TRUE(AllWorkersRan(threads));
    for (unsigned int i = 0; i < threads; ++i)
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(workerThreads[i], 0)) << i;

    EXPECT_EQ(S_OK, engine.StopTest());
    const ProcessCounters after = ReadProcessCounters();
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.threads, after.threads);
    EXPECT_LT(after.committedBytes, before.committedBytes + 4 * MB);
    for (unsigned int i = 0; i < kMaxWorkers; ++i)
        EXPECT_EQ(nullptr, workerThreads[i]);
    EXPECT_EQ(nullptr, engine.memoryBase);

    const std::vector<std::string> expected = {"Test Started --", "Test Stopped --"};
    EXPECT_EQ(expected, LogMessages(dir.ReadFile()));
}

} // namespace

TEST(EngineReal, SixteenWorkersWithTheMemoryTest)
{
    RunAndStop(16, 1, 256);
}

TEST(EngineReal, OneWorkerOnItsSmallArea)
{
    RunAndStop(1, 0, 0);
}

TEST(EngineReal, SixteenWorkersWithAllAvailableMemory)
{
    RunAndStop(16, 1, 0);
}

// A bit flipped in a running worker's area ends the run as failed at the next
// sample, before anything is measured: workers ended, block released, the
// failure marker in place of the stop marker. A stop afterwards writes nothing.
// An error found between the last sample and a stop fails the run as well.
TEST(EngineReal, AFlippedBitEndsTheRunAsFailed)
{
    for (bool atSample : {true, false}) {
        SCOPED_TRACE(atSample ? "found by the sample" : "found by the stop");
        TestDirectory dir;
        CTestEngine engine;
        TestConfig config = {};
        config.threadCount = 4;
        config.memoryTest = 1;
        config.memorySizeMB = 16;
        config.durationMs = 60000;
        engine.SetConfig(config);
        ASSERT_EQ(S_OK, engine.StartTest());
        ASSERT_TRUE(AllWorkersRan(4));
        EXPECT_EQ(nullptr, failedWorkerArea);

        // An exponent bit of c[100] in the third worker's area.
        volatile LONG* word = reinterpret_cast<volatile LONG*>(
            engine.workerAreas[2].base + engine.workerAreas[2].size / 2 + 8 * 100 + 4);
        InterlockedXor(word, 0x00100000);
        const DWORD start = GetTickCount();
        while (!failedWorkerArea && GetTickCount() - start < 20000)
            Sleep(1);

        EXPECT_EQ(E_WRONG_RESULT, atSample ? engine.SampleTick() : engine.StopTest());
        EXPECT_EQ(0, testRunning);
        EXPECT_EQ(nullptr, engine.memoryBase);
        for (unsigned int i = 0; i < kMaxWorkers; ++i)
            EXPECT_EQ(nullptr, workerThreads[i]);
        EXPECT_EQ(S_OK, engine.StopTest());
        const std::vector<std::string> expected = {"Test Started --",
                                                   "Test Failed -- wrong result in worker 3 of 4"};
        EXPECT_EQ(expected, LogMessages(dir.ReadFile()));
    }
}
