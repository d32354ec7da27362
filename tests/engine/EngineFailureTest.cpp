// Every way a start can fail: the status it returns and what it leaves behind.
#include <gtest/gtest.h>

#include "support/EngineFakes.h"
#include "engine/Status.h"
#include "engine/TestEngine.h"
#include "support/LogLines.h"
#include "support/ProcessCounters.h"
#include "support/TestDirectory.h"

namespace {

const unsigned int MB = 1u << 20;

class EngineFailure : public ::testing::Test {
protected:
    TestDirectory dir;
    EngineFakes fakes;
    CTestEngine engine;

    void Configure(unsigned int threads, unsigned int memoryTest, unsigned int sizeMB)
    {
        TestConfig config = {};
        config.threadCount = threads;
        config.memoryTest = memoryTest;
        config.memorySizeMB = sizeMB;
        engine.SetConfig(config);
    }
};

DWORD WINAPI ReturnAtOnce(LPVOID)
{
    return 0;
}

} // namespace

TEST(StatusConversion, Win32ErrorsBecomeFailureStatuses)
{
    EXPECT_EQ(static_cast<HRESULT>(0x80070008), StatusFromWin32(8));
    EXPECT_EQ(static_cast<HRESULT>(0x80072345), StatusFromWin32(0x00012345));
    EXPECT_EQ(static_cast<HRESULT>(0x80070057), StatusFromWin32(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(0, StatusFromWin32(0));
    EXPECT_EQ(static_cast<HRESULT>(0x8000FFFF), StatusFromWin32(0x8000FFFF));
}

TEST_F(EngineFailure, MemoryStatusQueryFailsAndNothingChanges)
{
    g_fake.memoryStatusFails = true;
    g_fake.memoryStatusError = ERROR_ACCESS_DENIED;
    Configure(4, 1, 64);
    EXPECT_EQ(static_cast<HRESULT>(0x80070005), engine.StartTest());
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ(64u, engine.config.memorySizeMB);
    EXPECT_EQ(nullptr, engine.memoryBase);
    engine.StopTest();
    EXPECT_FALSE(dir.Exists());
}

TEST_F(EngineFailure, ReserveFailsAndNoBlockIsHeld)
{
    g_fake.reserveFails = true;
    Configure(2, 1, 32);
    EXPECT_EQ(static_cast<HRESULT>(0x80070008), engine.StartTest());
    EXPECT_EQ(nullptr, engine.memoryBase);
    EXPECT_EQ(0, g_fake.Count(KernelCall::Commit));
    EXPECT_EQ(0, g_fake.Count(KernelCall::Create));
    engine.StopTest();
    EXPECT_EQ(0, g_fake.Count(KernelCall::Release));
    EXPECT_FALSE(dir.Exists());
}

TEST_F(EngineFailure, CommitFailsAndTheReservedRangeIsGivenBack)
{
    g_fake.commitFails = true;
    g_fake.injectedError = ERROR_COMMITMENT_LIMIT;
    Configure(2, 1, 32);
    EXPECT_EQ(StatusFromWin32(ERROR_COMMITMENT_LIMIT), engine.StartTest());
    EXPECT_EQ(nullptr, engine.memoryBase);
    ASSERT_EQ(1, g_fake.Count(KernelCall::Reserve));
    ASSERT_EQ(1, g_fake.Count(KernelCall::Release));
    // The address space is free again: the same range can be reserved anew.
    void* range = g_fake.calls[1].address;
    EXPECT_EQ(KernelCall::Commit, g_fake.calls[1].kind);
    void* again = VirtualAlloc(range, 32 * MB, MEM_RESERVE, PAGE_READWRITE);
    EXPECT_EQ(range, again);
    VirtualFree(again, 0, MEM_RELEASE);
    EXPECT_EQ(0, g_fake.Count(KernelCall::Create));
    engine.StopTest();
    EXPECT_FALSE(dir.Exists());
}

TEST_F(EngineFailure, FewerMegabytesThanWorkersMakesAnEmptyBlockThatTheReserveRefuses)
{
    g_fake.availablePhysical = 10ull * MB;
    Configure(16, 1, 0);
    EXPECT_EQ(StatusFromWin32(ERROR_INVALID_PARAMETER), engine.StartTest());
    EXPECT_EQ(0u, engine.config.memorySizeMB);
    EXPECT_EQ(nullptr, engine.memoryBase);
    EXPECT_EQ(0, g_fake.Count(KernelCall::Create));
    engine.StopTest();
    EXPECT_FALSE(dir.Exists());
}

TEST_F(EngineFailure, WorkerCreationFailsAndTheStopEndsTheSuspendedWorkers)
{
    {
        // Let the runtime create its own helper threads before counting.
        HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    const ProcessCounters before = ReadProcessCounters();
    for (int failing : {0, 1, 5, 15}) {
        g_fake = EngineFakeState();
        g_fake.fakeThreads = false;   // real suspended threads, to see them ended
        g_fake.failCreateAt = failing;
        g_fake.injectedError = ERROR_NOT_ENOUGH_MEMORY;
        Configure(16, 1, 64);

        EXPECT_EQ(static_cast<HRESULT>(0x80070008), engine.StartTest()) << failing;
        EXPECT_EQ(0, testRunning);
        ASSERT_NE(nullptr, engine.memoryBase);
        for (int i = 0; i < failing; ++i) {
            ASSERT_NE(nullptr, workerThreads[i]);
            EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(workerThreads[i], 0)) << "worker " << i;
        }
        EXPECT_EQ(nullptr, workerThreads[failing]);
        EXPECT_EQ(0, g_fake.Count(KernelCall::Resume));
        // The block is filled: each area's first result is in place.
        for (unsigned int i = 0; i < 16; ++i) {
            const double* area = reinterpret_cast<const double*>(engine.workerAreas[i].base);
            const size_t n = engine.workerAreas[i].size / 32;
            const double product = area[0] * area[n];
            EXPECT_EQ(product + area[2 * n], area[3 * n]) << "area " << i;
        }

        EXPECT_EQ(S_OK, engine.StopTest());
        for (unsigned int i = 0; i < 16; ++i)
            EXPECT_EQ(nullptr, workerThreads[i]);
        EXPECT_EQ(nullptr, engine.memoryBase);
        EXPECT_EQ(failing, g_fake.Count(KernelCall::Close));
    }
    const ProcessCounters after = ReadProcessCounters();
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.threads, after.threads);
    EXPECT_LT(after.committedBytes, before.committedBytes + 16 * MB);
    EXPECT_FALSE(dir.Exists());
}

TEST_F(EngineFailure, AFailedStartLeavesTheEngineReadyForTheNextStart)
{
    g_fake.fakeThreads = false;
    g_fake.failCreateAt = 2;
    Configure(4, 0, 0);
    EXPECT_LT(engine.StartTest(), 0);
    engine.StopTest();

    g_fake.failCreateAt = -1;
    g_fake.createCount = 0;
    ASSERT_EQ(S_OK, engine.StartTest());
    EXPECT_EQ(1, testRunning);
    engine.StopTest();
    const std::vector<std::string> expected = {"Test Started --", "Test Stopped --"};
    EXPECT_EQ(expected, LogMessages(dir.ReadFile()));
}
