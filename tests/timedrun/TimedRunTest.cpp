#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "engine/KernelServices.h"
#include "engine/TestEngine.h"
#include "support/KernelFake.h"
#include "support/StampRate.h"
#include "support/TestDirectory.h"

namespace {

// Whole runs on the real machine: real workers, the probes on the real
// counters and system figures, the real log. Each test's loop stands in for
// the dialog's timer.

const char kLinePattern[] =
    "(\\d\\d)/(\\d\\d)/(\\d{4}), (\\d\\d):(\\d\\d):(\\d\\d), "
    "(Test Started --|Test Stopped --|Freq (\\d+\\.\\d\\d) MHz(, Load (-?\\d+\\.\\d\\d)%)?)";

struct StatusLine {
    double frequencyMHz;
    bool hasLoad;
    double load;
};

struct ParsedLog {
    std::vector<std::string> messages;   // in file order
    std::vector<StatusLine> status;
};

// Splits the log into CR LF lines and checks each against the line format.
ParsedLog ParseLog(const std::string& bytes)
{
    ParsedLog log;
    const std::regex line(kLinePattern);
    size_t begin = 0;
    while (begin < bytes.size()) {
        const size_t end = bytes.find("\r\n", begin);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated last line: " << bytes.substr(begin);
            break;
        }
        const std::string text = bytes.substr(begin, end - begin);
        begin = end + 2;
        std::smatch match;
        if (!std::regex_match(text, match, line)) {
            ADD_FAILURE() << "malformed line: " << text;
            continue;
        }
        EXPECT_LE(text.size(), 99u) << text;
        const int month = std::stoi(match[1]), day = std::stoi(match[2]);
        const int hour = std::stoi(match[4]), minute = std::stoi(match[5]), second = std::stoi(match[6]);
        EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << text;
        EXPECT_TRUE(hour <= 23 && minute <= 59 && second <= 59) << text;
        log.messages.push_back(match[7]);
        if (match[8].matched) {
            StatusLine status = {std::stod(match[8]), match[10].matched, 0.0};
            if (status.hasLoad)
                status.load = std::stod(match[10]);
            log.status.push_back(status);
        }
    }
    return log;
}

unsigned int ProcessorCount()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned int count = info.dwNumberOfProcessors;
    return count < 1 ? 1 : (count > kMaxWorkers ? kMaxWorkers : count);
}

TestConfig RunConfig(unsigned int threadCount, unsigned int durationMs, unsigned int logIntervalMs,
                     unsigned int logCpuLoad)
{
    TestConfig config = {};
    config.threadCount = threadCount;
    config.durationMs = durationMs;
    config.logIntervalMs = logIntervalMs;
    config.logCpuLoad = logCpuLoad;
    return config;
}

// Executes every hundredth identification instruction only. Where CPUID
// traps to a hypervisor a full measurement costs seconds under load; the
// shorter interval still pairs real counter and stamp readings.
unsigned int cpuidRequests = 0;

void ThinnedCpuid(unsigned leaf, unsigned subLeaf)
{
    if (cpuidRequests++ % 100 == 0)
        RealKernelServices().ExecuteCpuid(leaf, subLeaf);
}

// The performance counter as the real one, plus a jump the test sets: the
// clock skips ahead between ticks but runs at its real rate within a probe.
long long counterJump = 0;

BOOL WINAPI JumpingCounter(LARGE_INTEGER* count)
{
    const BOOL ok = RealKernelServices().QueryPerformanceCounter(count);
    count->QuadPart += counterJump;
    return ok;
}

TEST(TimedRun, ClockThatJumpsALogIntervalPerTickEndsAfterTheDuration)
{
    ScopedKernelServices guard;
    g_kernel.QueryPerformanceCounter = JumpingCounter;
    g_kernel.ExecuteCpuid = ThinnedCpuid;
    LARGE_INTEGER frequency;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    const double stampRate = StampRate() * 1e-6;

    TestDirectory dir;
    CTestEngine engine;
    // Three minutes, a sample every minute.
    engine.SetConfig(RunConfig(ProcessorCount(), 180000, 60000, 1));
    ASSERT_EQ(S_OK, engine.StartTest());
    std::vector<HRESULT> results;
    for (int tick = 0; tick < 10; ++tick) {
        // Real time passes as well, for the load counters to see the workers.
        Sleep(400);
        counterJump += frequency.QuadPart * 60;
        results.push_back(engine.SampleTick());
        if (results.back() != S_OK)
            break;
    }
    EXPECT_EQ(S_OK, engine.StopTest());

    // Ticks at a minute, two and three minutes (each a little late): the third ends the run.
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_FALSE}), results);
    const ParsedLog log = ParseLog(dir.ReadFile());
    ASSERT_EQ(4u, log.messages.size());
    EXPECT_EQ("Test Started --", log.messages.front());
    EXPECT_EQ("Test Stopped --", log.messages.back());
    ASSERT_EQ(2u, log.status.size());
    for (const StatusLine& status : log.status) {
        std::printf("Freq %.2f MHz (stamp rate %.2f MHz), Load %.2f%%\n", status.frequencyMHz,
                    stampRate, status.load);
        EXPECT_NEAR(stampRate, status.frequencyMHz, stampRate * 0.03);
        // A worker per processor keeps every processor busy.
        ASSERT_TRUE(status.hasLoad);
        EXPECT_GE(status.load, 75.0);
        EXPECT_LE(status.load, 100.0);
    }
}

TEST(TimedRun, RealClockRunEndsOnlyAfterItsDuration)
{
    ScopedKernelServices guard;
    g_kernel.ExecuteCpuid = ThinnedCpuid;
    const unsigned int durationMs = 1500;
    const unsigned int intervalMs = 250;
    const double stampRate = StampRate() * 1e-6;
    LARGE_INTEGER frequency, before, ended;
    QueryPerformanceFrequency(&frequency);

    TestDirectory dir;
    CTestEngine engine;
    engine.SetConfig(RunConfig(ProcessorCount(), durationMs, intervalMs, 0));
    QueryPerformanceCounter(&before);
    ASSERT_EQ(S_OK, engine.StartTest());
    HRESULT result = S_OK;
    for (int tick = 0; tick < 40 && result == S_OK; ++tick) {
        Sleep(intervalMs);
        result = engine.SampleTick();
    }
    QueryPerformanceCounter(&ended);
    EXPECT_EQ(S_OK, engine.StopTest());

    EXPECT_EQ(S_FALSE, result);
    // The run began after `before`; the end was seen after the duration had passed.
    const double runMs = static_cast<double>(ended.QuadPart - before.QuadPart) * 1000.0 /
                         static_cast<double>(frequency.QuadPart);
    EXPECT_GE(runMs, static_cast<double>(durationMs));

    const ParsedLog log = ParseLog(dir.ReadFile());
    ASSERT_GE(log.messages.size(), 3u);
    EXPECT_EQ("Test Started --", log.messages.front());
    EXPECT_EQ("Test Stopped --", log.messages.back());
    EXPECT_EQ(log.messages.size() - 2, log.status.size());
    for (const StatusLine& status : log.status) {
        EXPECT_FALSE(status.hasLoad);
        EXPECT_NEAR(stampRate, status.frequencyMHz, stampRate * 0.03);
    }
}

} // namespace
