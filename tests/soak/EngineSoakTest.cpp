// Repeated use: many runs and many failed starts leave nothing behind.
#include <gtest/gtest.h>

#include "engine/TestEngine.h"
#include "support/EngineFakes.h"
#include "support/LogLines.h"
#include "support/ProcessCounters.h"
#include "support/TestDirectory.h"

namespace {

const size_t MB = 1u << 20;

TestConfig Config(unsigned int threads, unsigned int memoryTest, unsigned int sizeMB)
{
    TestConfig config = {};
    config.threadCount = threads;
    config.memoryTest = memoryTest;
    config.memorySizeMB = sizeMB;
    return config;
}

void WarmUp(CTestEngine& engine)
{
    engine.SetConfig(Config(2, 1, 16));
    engine.StartTest();
    engine.StopTest();
}

void ExpectNothingLeaked(const ProcessCounters& before)
{
    const ProcessCounters after = ReadProcessCounters();
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_EQ(before.threads, after.threads);
    EXPECT_LT(after.committedBytes, before.committedBytes + 8 * MB)
        << "before " << before.committedBytes << " after " << after.committedBytes;
}

} // namespace

TEST(EngineSoak, AThousandRunsLeaveHandlesThreadsAndMemoryWhereTheyWere)
{
    TestDirectory dir;
    CTestEngine engine;
    WarmUp(engine);
    const ProcessCounters before = ReadProcessCounters();

    const unsigned int threadCounts[] = {1, 2, 4, 8, 16};
    const unsigned int cycles = 1000;
    unsigned int started = 0;
    for (unsigned int cycle = 0; cycle < cycles; ++cycle) {
        const unsigned int threads = threadCounts[cycle % 5];
        const unsigned int memoryTest = (cycle / 5) % 2;
        engine.SetConfig(Config(threads, memoryTest, 16 * ((cycle % 3) + 1)));
        if (engine.StartTest() == S_OK)
            ++started;
        engine.StopTest();
    }
    EXPECT_EQ(cycles, started);
    ExpectNothingLeaked(before);

    const std::vector<std::string> messages = LogMessages(dir.ReadFile());
    ASSERT_EQ(2 * (cycles + 1), messages.size());
    for (size_t i = 0; i < messages.size(); ++i)
        ASSERT_EQ(i % 2 ? "Test Stopped --" : "Test Started --", messages[i]) << i;
}

TEST(EngineSoak, HundredsOfFailedStartsAtEveryFailurePointLeaveNothingBehind)
{
    TestDirectory dir;
    CTestEngine engine;
    WarmUp(engine);
    const std::string logBefore = dir.ReadFile();
    const ProcessCounters before = ReadProcessCounters();

    struct Fault { const char* name; int createIndex; bool status, reserve, commit; };
    const Fault faults[] = {
        {"memory status", -1, true, false, false}, {"reserve", -1, false, true, false},
        {"commit", -1, false, false, true},        {"worker 0", 0, false, false, false},
        {"worker 7", 7, false, false, false},      {"worker 15", 15, false, false, false},
    };
    unsigned int injected = 0;
    for (const Fault& fault : faults) {
        EngineFakes fakes;
        for (int round = 0; round < 100; ++round) {
            g_fake = EngineFakeState();
            g_fake.fakeThreads = false;
            g_fake.memoryStatusFails = fault.status;
            g_fake.reserveFails = fault.reserve;
            g_fake.commitFails = fault.commit;
            g_fake.failCreateAt = fault.createIndex;
            engine.SetConfig(Config(16, 1, 32));
            ASSERT_LT(engine.StartTest(), 0) << fault.name;
            ++injected;
            EXPECT_EQ(0, testRunning);
            engine.StopTest();
            ASSERT_EQ(nullptr, engine.memoryBase) << fault.name;
        }
    }
    EXPECT_EQ(600u, injected);
    ExpectNothingLeaked(before);
    EXPECT_EQ(logBefore, dir.ReadFile());
}
