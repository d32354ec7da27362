// Block sizing, worker layout and the start/stop order, with recorded kernel calls.
#include <gtest/gtest.h>

#include "support/EngineFakes.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "support/LogLines.h"
#include "support/TestDirectory.h"

namespace {

const unsigned int MB = 1u << 20;

TestConfig Config(unsigned int threads, unsigned int memoryTest = 0, unsigned int sizeMB = 0)
{
    TestConfig config = {};
    config.threadCount = threads;
    config.memoryTest = memoryTest;
    config.memorySizeMB = sizeMB;
    return config;
}

class EngineSizing : public ::testing::Test {
protected:
    TestDirectory dir;
    EngineFakes fakes;
    CTestEngine engine;

    void ExpectAreas(unsigned int threads, unsigned int areaSize)
    {
        for (unsigned int i = 0; i < threads; ++i) {
            EXPECT_EQ(engine.memoryBase + i * areaSize, engine.workerAreas[i].base) << i;
            EXPECT_EQ(areaSize, engine.workerAreas[i].size) << i;
        }
    }
};

} // namespace

TEST_F(EngineSizing, SmallAreasWithoutMemoryTest)
{
    engine.SetConfig(Config(4, 0, 77));
    ASSERT_EQ(S_OK, engine.StartTest());
    EXPECT_EQ(32768u, engine.memorySize);
    EXPECT_EQ(77u, engine.config.memorySizeMB);
    ExpectAreas(4, 8192);
    EXPECT_EQ(nullptr, engine.workerAreas[4].base);
    engine.StopTest();
}

TEST_F(EngineSizing, MemoryTestSplitsRequestedSizeEvenly)
{
    struct Case { unsigned int requested, threads, expectedMB, perWorkerMB; };
    const Case cases[] = {{256, 16, 256, 16}, {48, 16, 48, 3}, {96, 8, 96, 12}, {16, 1, 16, 16}};
    g_fake.availablePhysical = 1000ull * MB;
    for (const Case& c : cases) {
        engine.SetConfig(Config(c.threads, 1, c.requested));
        ASSERT_EQ(S_OK, engine.StartTest()) << c.requested;
        EXPECT_EQ(c.expectedMB, engine.config.memorySizeMB);
        EXPECT_EQ(c.expectedMB * MB, engine.memorySize);
        ExpectAreas(c.threads, c.perWorkerMB * MB);
        engine.StopTest();
    }
}

TEST_F(EngineSizing, AllAvailableMemoryIsRoundedDownToWholeMegabytesPerWorker)
{
    g_fake.availablePhysical = 1000ull * MB + 123;
    g_fake.largestFreeRange = 0x7FFF0000;
    engine.SetConfig(Config(16, 1, 0));
    ASSERT_EQ(S_OK, engine.StartTest());
    EXPECT_EQ(992u, engine.config.memorySizeMB);
    EXPECT_EQ(992u * MB, engine.memorySize);
    ExpectAreas(16, 62 * MB);
    engine.StopTest();
}

TEST_F(EngineSizing, AllAvailableMemoryIsLimitedToTheLargestFreeAddressRange)
{
    g_fake.availablePhysical = 3000ull * MB;
    g_fake.largestFreeRange = 600 * MB;
    engine.SetConfig(Config(8, 1, 0));
    // The fake address space cannot really hold the block; only the sizing matters.
    g_fake.reserveFails = true;
    EXPECT_LT(engine.StartTest(), 0);
    EXPECT_LT(engine.config.memorySizeMB, 600u);
    EXPECT_GE(engine.config.memorySizeMB, 400u);
    EXPECT_EQ(0u, engine.config.memorySizeMB % 8);
    ASSERT_EQ(1, g_fake.Count(KernelCall::Reserve));
    EXPECT_EQ(engine.config.memorySizeMB * MB, g_fake.calls[0].size);
}

TEST_F(EngineSizing, AllAvailableMemoryOnALargeMachineIsCappedToAReservableBlock)
{
    g_fake.availablePhysical = 64ull << 30;   // more than a 32-bit process can address
    engine.SetConfig(Config(16, 1, 0));
    ASSERT_EQ(S_OK, engine.StartTest());
    EXPECT_GT(engine.config.memorySizeMB, 0u);
    EXPECT_LT(engine.config.memorySizeMB, 4096u);
    EXPECT_EQ(0u, engine.config.memorySizeMB % 16);
    EXPECT_EQ(engine.config.memorySizeMB * MB, engine.memorySize);
    engine.StopTest();
    EXPECT_EQ(nullptr, engine.memoryBase);
}

TEST_F(EngineSizing, RequestEqualToAvailableIsAcceptedOneMoreIsRefused)
{
    g_fake.availablePhysical = 64ull * MB;
    engine.SetConfig(Config(2, 1, 64));
    ASSERT_EQ(S_OK, engine.StartTest());
    engine.StopTest();

    g_fake.calls.clear();
    engine.SetConfig(Config(2, 1, 65));
    EXPECT_EQ(E_OUTOFMEMORY, engine.StartTest());
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ(nullptr, engine.memoryBase);
    EXPECT_EQ(65u, engine.config.memorySizeMB);
}

TEST_F(EngineSizing, StartCreatesSuspendedWorkersAndResumesThemAfterRaisingTheFlag)
{
    engine.SetConfig(Config(3));
    ASSERT_EQ(S_OK, engine.StartTest());
    EXPECT_EQ(1, testRunning);

    ASSERT_EQ(3, g_fake.createCount);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(&WorkerThreadProc, g_fake.startRoutines[i]);
        EXPECT_EQ(&engine.workerAreas[i], g_fake.parameters[i]);
        EXPECT_EQ(static_cast<DWORD>(CREATE_SUSPENDED), g_fake.createFlags[i]);
        EXPECT_EQ(FakeHandle(i), workerThreads[i]);
    }

    // Reserve, commit, three creations with the flag down, three resumes with it up, in order.
    std::vector<KernelCall::Kind> kinds;
    int resumed = 0;
    for (const KernelCall& call : g_fake.calls) {
        kinds.push_back(call.kind);
        if (call.kind == KernelCall::Create) {
            EXPECT_EQ(0, call.runFlag);
        }
        if (call.kind == KernelCall::Resume) {
            EXPECT_EQ(1, call.runFlag);
            EXPECT_EQ(FakeHandle(resumed++), call.handle);
        }
    }
    const std::vector<KernelCall::Kind> expected = {
        KernelCall::Reserve, KernelCall::Commit, KernelCall::Create, KernelCall::Create,
        KernelCall::Create, KernelCall::Resume, KernelCall::Resume, KernelCall::Resume};
    EXPECT_EQ(expected, kinds);
    EXPECT_EQ(std::vector<std::string>{"Test Started --"}, LogMessages(dir.ReadFile()));
    engine.StopTest();
}

TEST_F(EngineSizing, StopWaitsForEachWorkerInOrderThenReleasesTheBlock)
{
    engine.SetConfig(Config(3));
    ASSERT_EQ(S_OK, engine.StartTest());
    unsigned char* const block = engine.memoryBase;
    g_fake.calls.clear();

    EXPECT_EQ(S_OK, engine.StopTest());
    EXPECT_EQ(0, testRunning);

    ASSERT_EQ(8u, g_fake.calls.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(KernelCall::Wait, g_fake.calls[2 * i].kind);
        EXPECT_EQ(0, g_fake.calls[2 * i].runFlag);
        EXPECT_EQ(FakeHandle(i), g_fake.calls[2 * i].handle);
        EXPECT_EQ(KernelCall::Close, g_fake.calls[2 * i + 1].kind);
        EXPECT_EQ(FakeHandle(i), g_fake.calls[2 * i + 1].handle);
        EXPECT_EQ(nullptr, workerThreads[i]);
    }
    EXPECT_EQ(KernelCall::Decommit, g_fake.calls[6].kind);
    EXPECT_EQ(block, g_fake.calls[6].address);
    EXPECT_EQ(3u * 8192u, g_fake.calls[6].size);
    EXPECT_EQ(KernelCall::Release, g_fake.calls[7].kind);
    EXPECT_EQ(block, g_fake.calls[7].address);
    EXPECT_EQ(0u, g_fake.calls[7].size);
    EXPECT_EQ(nullptr, engine.memoryBase);

    const std::vector<std::string> expected = {"Test Started --", "Test Stopped --"};
    EXPECT_EQ(expected, LogMessages(dir.ReadFile()));
}

TEST_F(EngineSizing, StopWritesTheStopMarkerOnlyOnceAndOnlyAfterAStart)
{
    EXPECT_EQ(S_OK, engine.StopTest());
    EXPECT_EQ(S_OK, engine.StopTest());
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_FALSE(dir.Exists());

    engine.SetConfig(Config(1));
    ASSERT_EQ(S_OK, engine.StartTest());
    engine.StopTest();
    engine.StopTest();
    const std::vector<std::string> expected = {"Test Started --", "Test Stopped --"};
    EXPECT_EQ(expected, LogMessages(dir.ReadFile()));
}

TEST_F(EngineSizing, ThreadCountOutsideOneToSixteenIsRefusedBeforeAnythingHappens)
{
    for (unsigned int threads : {0u, 17u, 0xFFFFFFFFu}) {
        engine.SetConfig(Config(threads, 1, 0));
        EXPECT_EQ(E_INVALIDARG, engine.StartTest()) << threads;
    }
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ(0, testRunning);
    EXPECT_FALSE(dir.Exists());
}
