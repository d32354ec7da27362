#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/KernelServices.h"
#include "engine/TestEngine.h"
#include "probes/CpuLoad.h"
#include "support/KernelFake.h"
#include "support/TestDirectory.h"

namespace {

// --- A machine whose clock, counters and system figures the test sets ------

// The performance counter counts milliseconds, so GetTimeMs returns exactly
// the count. Every read moves it on by one, so the frequency probe sees an
// edge at once and an interval of one count.
struct FakeMachine {
    bool counterFrequencyAvailable;
    bool counterReadFails;
    long long counter;
    unsigned int counterReads;
    unsigned long long stamp;
    unsigned long long stampStep;   // stamp ticks per counter read
    unsigned int stampReads;
    unsigned int cpuidCalls;
    // load figures, 100 ns units
    bool systemQueryFails;
    unsigned char processors;
    long long systemTime;
    long long idleTime;
    unsigned int moduleLookups;
    unsigned int systemQueries;
};

FakeMachine machine;

BOOL WINAPI FakeQueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (!machine.counterFrequencyAvailable)
        return FALSE;
    frequency->QuadPart = 1000;
    return TRUE;
}

BOOL WINAPI FakeQueryPerformanceCounter(LARGE_INTEGER* count)
{
    ++machine.counterReads;
    if (machine.counterReadFails)
        return FALSE;
    count->QuadPart = machine.counter++;
    return TRUE;
}

unsigned long long FakeReadStampCounter()
{
    ++machine.stampReads;
    const unsigned long long value = machine.stamp;
    machine.stamp += machine.stampStep;
    return value;
}

void FakeExecuteCpuid(unsigned, unsigned)
{
    ++machine.cpuidCalls;
}

DWORD WINAPI FakeGetPriorityClass(HANDLE) { return NORMAL_PRIORITY_CLASS; }
BOOL WINAPI FakeSetPriorityClass(HANDLE, DWORD) { return TRUE; }
int WINAPI FakeGetThreadPriority(HANDLE) { return THREAD_PRIORITY_NORMAL; }
BOOL WINAPI FakeSetThreadPriority(HANDLE, int) { return TRUE; }
void WINAPI FakeSleep(DWORD) {}

void WINAPI FakeGetLocalTime(LPSYSTEMTIME time)
{
    std::memset(time, 0, sizeof *time);
    time->wYear = 2024;
    time->wMonth = 3;
    time->wDay = 7;
    time->wHour = 9;
    time->wMinute = 5;
    time->wSecond = 2;
}

LONG WINAPI FakeNtQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length, PULONG)
{
    ++machine.systemQueries;
    if (machine.systemQueryFails)
        return static_cast<LONG>(0xC0000001);
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    std::memset(bytes, 0, length);
    if (infoClass == 0)
        bytes[offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors)] = machine.processors;
    else if (infoClass == 3)
        std::memcpy(bytes + offsetof(SYSTEM_TIMEOFDAY_INFORMATION, CurrentTime), &machine.systemTime, 8);
    else if (infoClass == 2)
        std::memcpy(bytes, &machine.idleTime, 8);
    return 0;
}

HMODULE WINAPI FakeGetModuleHandleA(LPCSTR)
{
    ++machine.moduleLookups;
    return reinterpret_cast<HMODULE>(0x7C900000);
}

FARPROC WINAPI FakeGetProcAddress(HMODULE, LPCSTR)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeNtQuerySystemInformation));
}

const char kTimestamp[] = "03/07/2024, 09:05:02, ";

class SampleTick : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine = FakeMachine();
        machine.counterFrequencyAvailable = true;
        machine.stamp = 1000000;
        machine.stampStep = 3000000;   // 3 million per millisecond: 3 GHz
        machine.processors = 4;
        machine.systemTime = 133500000000000000ll;
        machine.idleTime = 5000000000ll;

        g_kernel.QueryPerformanceFrequency = FakeQueryPerformanceFrequency;
        g_kernel.QueryPerformanceCounter = FakeQueryPerformanceCounter;
        g_kernel.ReadStampCounter = FakeReadStampCounter;
        g_kernel.ExecuteCpuid = FakeExecuteCpuid;
        g_kernel.GetPriorityClass = FakeGetPriorityClass;
        g_kernel.SetPriorityClass = FakeSetPriorityClass;
        g_kernel.GetThreadPriority = FakeGetThreadPriority;
        g_kernel.SetThreadPriority = FakeSetThreadPriority;
        g_kernel.Sleep = FakeSleep;
        g_kernel.GetLocalTime = FakeGetLocalTime;
        g_kernel.GetModuleHandleA = FakeGetModuleHandleA;
        g_kernel.GetProcAddress = FakeGetProcAddress;

        engine.config.durationMs = 60000;
        engine.config.logIntervalMs = 10000;
    }

    // The next GetTimeMs reads this many milliseconds.
    void SetClock(long long ms) { machine.counter = ms; }

    // Lets `seconds` pass with `idleProcessors` idle throughout.
    void Pass(double seconds, double idleProcessors)
    {
        machine.systemTime += static_cast<long long>(seconds * 1e7);
        machine.idleTime += static_cast<long long>(seconds * idleProcessors * 1e7);
    }

    // Everything a tick after the clock read does: the probes and the log.
    unsigned int ProbeActivity() const
    {
        return machine.stampReads + machine.cpuidCalls + machine.moduleLookups +
               machine.systemQueries;
    }

    std::string Line(const char* message) const { return kTimestamp + std::string(message) + "\r\n"; }

    ScopedKernelServices guard;
    TestDirectory dir;
    CTestEngine engine;
};

TEST_F(SampleTick, RunEndsOnceElapsedExceedsTheDurationWithoutProbingOrLogging)
{
    const struct {
        const char* what;
        unsigned int start;
        long long clock;
        unsigned int durationMs;
        bool ends;
    } cases[] = {
        {"elapsed equal to the duration", 5000, 65000, 60000, false},
        {"one millisecond more", 5000, 65001, 60000, true},
        // Start at 2^32 - 1000, sample at 500: 1500 ms have passed.
        {"clock wrapped, 1500 ms of 1500", 0xFFFFFFFFu - 999u, 0x100000000ll + 500, 1500, false},
        {"clock wrapped, 1500 ms of 1499", 0xFFFFFFFFu - 999u, 0x100000000ll + 500, 1499, true},
        {"engine never started: measured from 0", 0, 60000, 60000, false},
        {"engine never started, 1 ms later", 0, 60001, 60000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.WriteFile("");
        engine.startTimeMs = c.start;
        engine.config.durationMs = c.durationMs;
        SetClock(c.clock);
        const unsigned int activity = ProbeActivity();
        const unsigned int cpuidCalls = machine.cpuidCalls;
        EXPECT_EQ(c.ends ? S_FALSE : S_OK, engine.SampleTick());
        EXPECT_EQ(c.ends ? "" : Line("Freq 3000.00 MHz"), dir.ReadFile());
        if (c.ends) {
            EXPECT_EQ(activity, ProbeActivity());
        } else {
            EXPECT_EQ(200000u, machine.cpuidCalls - cpuidCalls);
        }
    }
}

TEST_F(SampleTick, FailedClockReadEndsTheRun)
{
    // The clock has chosen the counter; a read that fails then yields 0,
    // which is 2^32 - 5000 ms after a start at 5000.
    SetClock(5000);
    engine.startTimeMs = GetTimeMs();
    ASSERT_EQ(1, clockMode);
    machine.counterReadFails = true;
    engine.config.logCpuLoad = 1;

    const unsigned int activity = ProbeActivity();
    EXPECT_EQ(S_FALSE, engine.SampleTick());
    EXPECT_FALSE(dir.Exists());
    EXPECT_EQ(activity, ProbeActivity());
}

TEST_F(SampleTick, WithoutLoadLoggingTheLoadProbeIsNotCalled)
{
    engine.config.logCpuLoad = 0;
    engine.startTimeMs = 1000;
    SetClock(11000);
    EXPECT_EQ(S_OK, engine.SampleTick());
    SetClock(21000);
    EXPECT_EQ(S_OK, engine.SampleTick());
    EXPECT_EQ(Line("Freq 3000.00 MHz") + Line("Freq 3000.00 MHz"), dir.ReadFile());
    EXPECT_EQ(0u, machine.moduleLookups);
    EXPECT_EQ(0u, machine.systemQueries);
}

TEST_F(SampleTick, WithLoadLoggingEachLineShowsTheLoadSinceThePreviousReading)
{
    engine.config.logCpuLoad = 1;
    engine.startTimeMs = 1000;
    double baseline = 0.0;
    ASSERT_EQ(1, MeasureCpuLoad(&baseline));   // as a start takes it

    Pass(10.0, 3.0);   // one of four processors busy
    SetClock(11000);
    EXPECT_EQ(S_OK, engine.SampleTick());
    Pass(10.0, 0.0);   // all busy
    SetClock(21000);
    EXPECT_EQ(S_OK, engine.SampleTick());
    Pass(10.0, 1.0);
    SetClock(31000);
    EXPECT_EQ(S_OK, engine.SampleTick());

    EXPECT_EQ(Line("Freq 3000.00 MHz, Load 25.00%") + Line("Freq 3000.00 MHz, Load 100.00%") +
                  Line("Freq 3000.00 MHz, Load 75.00%"),
              dir.ReadFile());
}

TEST_F(SampleTick, BothProbesFailingStillLogALineOfZeros)
{
    engine.config.logCpuLoad = 1;
    SetClock(2000);
    engine.startTimeMs = GetTimeMs();   // the clock keeps its counter mode
    machine.counterFrequencyAvailable = false;
    machine.systemQueryFails = true;

    SetClock(12000);
    EXPECT_EQ(S_OK, engine.SampleTick());
    EXPECT_EQ(Line("Freq 0.00 MHz, Load 0.00%"), dir.ReadFile());
}

TEST_F(SampleTick, MinuteRunWithTenSecondTicksLogsFiveLinesThenEnds)
{
    engine.config.logCpuLoad = 0;
    engine.startTimeMs = 123456;
    std::vector<HRESULT> results;
    for (int tick = 1; tick <= 6; ++tick) {
        SetClock(123456 + tick * 10000 + 1);
        results.push_back(engine.SampleTick());
    }
    EXPECT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK, S_OK, S_OK, S_FALSE}), results);
    std::string expected;
    for (int i = 0; i < 5; ++i)
        expected += Line("Freq 3000.00 MHz");
    EXPECT_EQ(expected, dir.ReadFile());
}

} // namespace
