// The engine on the real kernel: workers really run, the block is really
// committed, and a stop gives every thread, handle and byte back.
#include <gtest/gtest.h>

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

TEST(EngineReal, TheBlockIsStillZeroAfterTheWorkersRan)
{
    TestDirectory dir;
    CTestEngine engine;
    TestConfig config = {};
    config.threadCount = 4;
    config.memoryTest = 1;
    config.memorySizeMB = 16;
    engine.SetConfig(config);
    ASSERT_EQ(S_OK, engine.StartTest());
    ASSERT_TRUE(AllWorkersRan(4));
    Sleep(100);
    unsigned char* const block = engine.memoryBase;
    const size_t size = engine.memorySize;
    // Workers only write D = 0 * 0 + 0; reading while they run is safe.
    size_t nonZero = 0;
    for (size_t i = 0; i < size; ++i)
        nonZero += block[i] != 0;
    EXPECT_EQ(0u, nonZero);
    engine.StopTest();
}
