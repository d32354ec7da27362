// The frequency and load probes and the clock on scripted counters, and the sample.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>

#include "engine/Clock.h"
#include "engine/TestEngine.h"
#include "probes/CpuFrequency.h"
#include "probes/CpuLoad.h"
#include "support/Support.h"

namespace {

// A scripted machine.
struct Machine {
    bool counterFrequency = true;
    long long counterHz = 10000000;
    std::vector<long long> counts;   // counter reads in order; past the end: +1 each read
    size_t nextCount = 0;
    long long lastCount = 0;
    bool counterFails = false;
    std::vector<long long> windowCounts;   // counts each chain takes, in turn
    unsigned long long chainCycles = 0;
    unsigned int chains = 0;
    // The system's counters for the load probe, 100 ns units.
    unsigned char processors = 4;
    long long systemTime = 133500000000000000ll, idleTime = 987654321000ll;
    ULONG failingClass = 99;
    bool ntdllMissing = false;
    int queries = 0;
} m;

DWORD WINAPI Ticks() { return 777; }
BOOL WINAPI Frequency(LARGE_INTEGER* f) { f->QuadPart = m.counterHz; return m.counterFrequency; }
BOOL WINAPI Counter(LARGE_INTEGER* c)
{
    c->QuadPart = m.nextCount < m.counts.size() ? m.counts[m.nextCount] : m.counts.back() + 1 + (m.nextCount - m.counts.size());
    ++m.nextCount;
    m.lastCount = c->QuadPart;
    return !m.counterFails;
}
// A chain moves the counter on by the window's scripted counts.
void Chain(unsigned int blocks)
{
    m.chainCycles += static_cast<unsigned long long>(blocks) * kAddChainBlock;
    const long long counts = m.windowCounts[m.chains++ % m.windowCounts.size()];
    m.counts.push_back(m.lastCount + counts);
    m.nextCount = m.counts.size() - 1;
}

// NtQuerySystemInformation with this architecture's published records, checked
// as the system checks them.
LONG WINAPI Query(ULONG infoClass, PVOID buffer, ULONG length, PULONG)
{
    ++m.queries;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    std::memset(bytes, 0xCD, length);
    const LONG mismatch = static_cast<LONG>(0xC0000004);
    if (infoClass == m.failingClass)
        return static_cast<LONG>(0xC0000001);
    if (infoClass == 0 && length == sizeof(SYSTEM_BASIC_INFORMATION))
        bytes[offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors)] = m.processors;
    else if (infoClass == 3 && length <= sizeof(SYSTEM_TIMEOFDAY_INFORMATION) && length >= 16)
        std::memcpy(bytes + offsetof(SYSTEM_TIMEOFDAY_INFORMATION, CurrentTime), &m.systemTime, 8);
    else if (infoClass == 2 && length >= sizeof(SYSTEM_PERFORMANCE_INFORMATION))
        std::memcpy(bytes + offsetof(SYSTEM_PERFORMANCE_INFORMATION, IdleTime), &m.idleTime, 8);
    else
        return mismatch;
    return 0;
}
HMODULE WINAPI Module(LPCSTR name) { return m.ntdllMissing || lstrcmpiA(name, "ntdll") ? nullptr : reinterpret_cast<HMODULE>(0x7C900000); }
FARPROC WINAPI Procedure(HMODULE, LPCSTR name)
{
    return lstrcmpA(name, "NtQuerySystemInformation") ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Query));
}

class Probes : public ::testing::Test {
protected:
    void SetUp() override
    {
        m = Machine();
        g_kernel.QueryPerformanceFrequency = Frequency;
        g_kernel.QueryPerformanceCounter = Counter;
        g_kernel.GetTickCount = Ticks;
        g_kernel.RunAddChain = Chain;
        g_kernel.GetModuleHandleA = Module;
        g_kernel.GetProcAddress = Procedure;
        previousIdleTime = previousSystemTime = 0.0;
        clockMode = 0;
    }
    ScopedKernelServices guard;
};

// Nine windows of 262,144 core cycles timed by a 10 MHz counter: the median, 874
// counts, gives 2999.36 MHz however slow the interrupted windows were (the fastest
// would give 3048.19); without a counter, or with no window timed, nothing is written.
TEST_F(Probes, FrequencyIsChainCyclesOverTheMedianWindow)
{
    const struct {
        const char* what;
        bool counterFrequency, counterFails;
        std::vector<long long> windowCounts;
        int result;
        double mhz;
    } cases[] = {
        {"four of nine interrupted", true, false, {874, 5000, 880, 870, 9000, 874, 3000, 860, 874}, 1, 2999.36},
        {"no counter frequency", false, false, {874}, 0, -1.0},
        {"counter reads fail", true, true, {874}, 0, -1.0},
        {"counter stands still", true, false, {0}, 0, -1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m = Machine();
        m.counterFrequency = c.counterFrequency;
        m.counterFails = c.counterFails;
        m.windowCounts = c.windowCounts;
        m.counts = {5};
        double hz = -1.0;
        EXPECT_EQ(c.result, MeasureCpuFrequency(&hz));
        EXPECT_NEAR(c.mhz, c.result ? hz * 1e-6 : hz, 0.005);
        EXPECT_EQ(m.chains * 262144ull, m.chainCycles);
        EXPECT_LE(m.chainCycles, 3000000000ull / 100) << "more than 10 ms of chains at 3 GHz";
    }
}

// Each reading gives the busy share of all processors since the last reading
// that succeeded; a failed or impossible reading gives 0 and keeps that baseline.
TEST_F(Probes, LoadIsTheBusyShareOfAllProcessorsSinceTheLastGoodReading)
{
    const struct {
        const char* what;
        unsigned char processors;
        double seconds, idleProcessors;
        ULONG failingClass;
        bool ntdllMissing;
        int result;
        double load;
    } steps[] = {
        {"first reading", 4, 0, 0, 99, false, 1, 0.0},
        {"one of four busy", 4, 1, 3, 99, false, 1, 25.0},
        {"basic query fails", 2, 1, 1, 0, false, 0, 0.0},
        {"time query fails", 2, 1, 1, 3, false, 0, 0.0},
        {"idle query fails", 2, 1, 1, 2, false, 0, 0.0},
        {"ntdll missing", 2, 0, 0, 99, true, 0, 0.0},
        {"spanning the failures", 2, 1, 1, 99, false, 1, 50.0},
        {"no time since", 2, 0, 0, 99, false, 0, 0.0},
        {"no processors", 0, 0, 0, 99, false, 0, 0.0},
        {"one processor, a quarter idle", 1, 2, 0.25, 99, false, 1, 75.0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        m.processors = step.processors;
        m.systemTime += static_cast<long long>(step.seconds * 1e7);
        m.idleTime += static_cast<long long>(step.seconds * step.idleProcessors * 1e7);
        m.failingClass = step.failingClass;
        m.ntdllMissing = step.ntdllMissing;
        double load = -1.0;
        EXPECT_EQ(step.result, MeasureCpuLoad(&load));
        EXPECT_DOUBLE_EQ(step.load, load);
    }
}

// A tick logs the frequency (and the load when asked) while the elapsed time is
// at most the duration, in unsigned 32-bit arithmetic, and ends the run after it.
TEST_F(Probes, SampleLogsUntilTheDurationHasPassedThenEndsTheRun)
{
    TestDirectory dir;
    CTestEngine engine;
    engine.config.durationMs = 60000;
    double baseline;
    MeasureCpuLoad(&baseline);
    const struct {
        const char* what;
        unsigned int start, now;
        bool counterFails, logLoad;
        HRESULT status;
        const char* line;   // nullptr: none
    } ticks[] = {
        {"exactly the duration", 1000, 61000, false, true, S_OK, "Freq 2999.36 MHz, Load 25.00%"},
        {"one millisecond more", 1000, 61001, false, true, S_FALSE, nullptr},
        {"across the clock's wrap", 0xFFFFFC18u, 500, false, true, S_OK, "Freq 2999.36 MHz, Load 25.00%"},
        {"without the load", 1000, 2000, false, false, S_OK, "Freq 2999.36 MHz"},
        {"a failed clock read", 5000, 6000, true, true, S_FALSE, nullptr},
    };
    for (const auto& tick : ticks) {
        SCOPED_TRACE(tick.what);
        dir.WriteLog("");
        engine.startTimeMs = tick.start;
        engine.config.logCpuLoad = tick.logLoad;
        m.systemTime += 10000000;
        m.idleTime += 30000000;
        m.counts = {tick.now * 10000ll};   // the clock's read
        m.nextCount = 0;
        m.windowCounts = {874};
        m.counterFails = tick.counterFails;
        const int queries = m.queries;
        EXPECT_EQ(tick.status, engine.SampleTick());
        EXPECT_EQ(tick.line ? std::vector<std::string>{tick.line} : std::vector<std::string>(), Messages(dir.ReadLog()));
        EXPECT_EQ(tick.line && tick.logLoad ? 3 : 0, m.queries - queries);
    }
    // The figures the result record summarises: those of the lines logged.
    EXPECT_EQ(std::vector<double>(3, 2999.36), engine.outcome.clockMHz);
}

// The clock: counter milliseconds, only their low 32 bits; 0 for a failed read;
// without a counter the tick count, for the rest of the process.
TEST_F(Probes, ClockCountsCounterMillisecondsOrElseTicks)
{
    m.counterHz = 1000;
    m.counts = {(5000ll << 32) + 2};
    EXPECT_EQ(2u, GetTimeMs());
    m.counterFails = true;
    EXPECT_EQ(0u, GetTimeMs());
    clockMode = 0;
    m.counterFrequency = false;
    EXPECT_EQ(777u, GetTimeMs());
    m.counterFrequency = true;
    m.counterFails = false;
    EXPECT_EQ(777u, GetTimeMs());
}

} // namespace
