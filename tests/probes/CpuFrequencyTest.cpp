#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/KernelServices.h"
#include "probes/CpuFrequency.h"
#include "support/KernelFake.h"
#include "support/StampRate.h"

namespace {

// --- A scripted machine: counter and stamp values in the order they are read ---

HANDLE const kProcess = reinterpret_cast<HANDLE>(0x1110);
HANDLE const kThread = reinterpret_cast<HANDLE>(0x2220);
const unsigned int kCpuidCount = 200000;

struct ScriptedMachine {
    DWORD priorityClass;
    int threadPriority;
    bool classReadable;
    bool threadReadable;
    bool counterFrequencyAvailable;
    long long counterFrequency;
    std::vector<long long> counterReads;           // one per QueryPerformanceCounter
    int failingCounterRead;                        // index of a read that fails, or -1
    size_t nextCounterRead;
    std::vector<unsigned long long> stampReads;    // one per ReadStampCounter
    size_t nextStampRead;
    unsigned int cpuidCalls;
    bool cpuidWithOtherLeaf;
    bool wrongHandle;
    // Priorities seen at every counter read, stamp read and CPUID.
    bool alwaysRaisedWhileMeasuring;
    // Calls in order; runs of the same call are counted, not repeated.
    std::vector<std::pair<std::string, unsigned int>> trace;
};

ScriptedMachine machine;

void Note(const std::string& call)
{
    if (!machine.trace.empty() && machine.trace.back().first == call)
        ++machine.trace.back().second;
    else
        machine.trace.push_back(std::make_pair(call, 1u));
}

void NoteFormatted(const char* format, long value)
{
    char call[64];
    std::snprintf(call, sizeof call, format, value);
    Note(call);
}

void NoteRaised()
{
    if (machine.priorityClass != REALTIME_PRIORITY_CLASS ||
        machine.threadPriority != THREAD_PRIORITY_TIME_CRITICAL)
        machine.alwaysRaisedWhileMeasuring = false;
}

HANDLE WINAPI FakeGetCurrentProcess() { return kProcess; }
HANDLE WINAPI FakeGetCurrentThread() { return kThread; }

DWORD WINAPI FakeGetPriorityClass(HANDLE process)
{
    Note("GetPriorityClass");
    machine.wrongHandle |= process != kProcess;
    return machine.classReadable ? machine.priorityClass : 0;
}

BOOL WINAPI FakeSetPriorityClass(HANDLE process, DWORD priorityClass)
{
    NoteFormatted("SetPriorityClass 0x%lX", static_cast<long>(priorityClass));
    machine.wrongHandle |= process != kProcess;
    if (priorityClass == 0)
        return FALSE;
    machine.priorityClass = priorityClass;
    return TRUE;
}

int WINAPI FakeGetThreadPriority(HANDLE thread)
{
    Note("GetThreadPriority");
    machine.wrongHandle |= thread != kThread;
    return machine.threadReadable ? machine.threadPriority : THREAD_PRIORITY_ERROR_RETURN;
}

BOOL WINAPI FakeSetThreadPriority(HANDLE thread, int priority)
{
    NoteFormatted("SetThreadPriority %ld", priority);
    machine.wrongHandle |= thread != kThread;
    if (priority == THREAD_PRIORITY_ERROR_RETURN)
        return FALSE;
    machine.threadPriority = priority;
    return TRUE;
}

void WINAPI FakeSleep(DWORD milliseconds)
{
    NoteFormatted("Sleep %ld", static_cast<long>(milliseconds));
}

BOOL WINAPI FakeQueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    Note("QueryPerformanceFrequency");
    if (!machine.counterFrequencyAvailable)
        return FALSE;
    frequency->QuadPart = machine.counterFrequency;
    return TRUE;
}

BOOL WINAPI FakeQueryPerformanceCounter(LARGE_INTEGER* count)
{
    Note("QueryPerformanceCounter");
    NoteRaised();
    const size_t index = machine.nextCounterRead++;
    if (static_cast<int>(index) == machine.failingCounterRead)
        return FALSE;
    if (index >= machine.counterReads.size()) {
        // Off the end of the script: fail the test, but let the probe finish.
        ADD_FAILURE() << "counter read " << index << " was not expected";
        count->QuadPart = machine.counterReads.back() + static_cast<long long>(index);
        return TRUE;
    }
    count->QuadPart = machine.counterReads[index];
    return TRUE;
}

unsigned long long FakeReadStampCounter()
{
    Note("ReadStampCounter");
    NoteRaised();
    const size_t index = machine.nextStampRead++;
    if (index >= machine.stampReads.size()) {
        ADD_FAILURE() << "stamp read " << index << " was not expected";
        return 0;
    }
    return machine.stampReads[index];
}

void FakeExecuteCpuid(unsigned leaf, unsigned subLeaf)
{
    Note("Cpuid");
    NoteRaised();
    ++machine.cpuidCalls;
    machine.cpuidWithOtherLeaf |= leaf != 0 || subLeaf != 0;
}

class CpuFrequencyScripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine = ScriptedMachine();
        machine.priorityClass = NORMAL_PRIORITY_CLASS;
        machine.threadPriority = THREAD_PRIORITY_NORMAL;
        machine.classReadable = true;
        machine.threadReadable = true;
        machine.counterFrequencyAvailable = true;
        machine.counterFrequency = 10000000;
        machine.failingCounterRead = -1;
        machine.alwaysRaisedWhileMeasuring = true;

        g_kernel.GetCurrentProcess = FakeGetCurrentProcess;
        g_kernel.GetCurrentThread = FakeGetCurrentThread;
        g_kernel.GetPriorityClass = FakeGetPriorityClass;
        g_kernel.SetPriorityClass = FakeSetPriorityClass;
        g_kernel.GetThreadPriority = FakeGetThreadPriority;
        g_kernel.SetThreadPriority = FakeSetThreadPriority;
        g_kernel.Sleep = FakeSleep;
        g_kernel.QueryPerformanceFrequency = FakeQueryPerformanceFrequency;
        g_kernel.QueryPerformanceCounter = FakeQueryPerformanceCounter;
        g_kernel.ReadStampCounter = FakeReadStampCounter;
        g_kernel.ExecuteCpuid = FakeExecuteCpuid;
    }

    void TearDown() override
    {
        EXPECT_FALSE(machine.wrongHandle) << "a priority call got another handle";
    }

    // The counter moves on right after the start read; the interval then
    // lasts `counterTicks` counts and `stampTicks` stamps.
    void ScriptSimpleInterval(long long startCount, long long counterTicks,
                              unsigned long long firstStamp, unsigned long long stampTicks)
    {
        machine.counterReads = {startCount, startCount + 1, startCount + 1 + counterTicks};
        machine.stampReads = {firstStamp, firstStamp + stampTicks};
    }

    ScopedKernelServices guard;
};

TEST_F(CpuFrequencyScripted, FrequencyIsStampsPerCounterSecondWithSixtyFourBitDifferences)
{
    const struct {
        long long startCount, counterTicks;
        unsigned long long firstStamp, stampTicks;
        double expected;
    } cases[] = {
        // 100000 counts (10 ms) and 30 million stamps: 3 GHz.
        {5000, 100000, 777, 30000000, 3e9},
        // Four seconds at 3 GHz: the counter crosses 2^32 and the stamp wraps
        // past 2^64 during the interval; both differences exceed 32 bits.
        {0xFFFFFF00ll, 40000000, ~0ull - 1000000000ull, 12000000000ull, 3e9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startCount);
        machine.nextCounterRead = machine.nextStampRead = 0;
        ScriptSimpleInterval(c.startCount, c.counterTicks, c.firstStamp, c.stampTicks);
        double frequency = -1.0;
        EXPECT_EQ(1, MeasureCpuFrequency(&frequency));
        EXPECT_EQ(c.expected, frequency);
    }
}

TEST_F(CpuFrequencyScripted, MakesItsCallsInOrder)
{
    machine.priorityClass = HIGH_PRIORITY_CLASS;
    machine.threadPriority = THREAD_PRIORITY_BELOW_NORMAL;
    // The counter changes on the third read after the start read.
    machine.counterReads = {100, 100, 100, 101, 20101};
    machine.stampReads = {1, 2, 3, 4};

    double frequency = 0.0;
    ASSERT_EQ(1, MeasureCpuFrequency(&frequency));

    const std::vector<std::pair<std::string, unsigned int>> expected = {
        {"GetPriorityClass", 1},
        {"GetThreadPriority", 1},
        {"SetPriorityClass 0x100", 1},
        {"SetThreadPriority 15", 1},
        {"Sleep 1", 1},
        {"QueryPerformanceFrequency", 1},
        {"QueryPerformanceCounter", 2},   // start value, then the first t0
        {"ReadStampCounter", 1},
        {"QueryPerformanceCounter", 1},
        {"ReadStampCounter", 1},
        {"QueryPerformanceCounter", 1},   // the edge
        {"ReadStampCounter", 1},
        {"Cpuid", kCpuidCount},
        {"QueryPerformanceCounter", 1},   // t1
        {"ReadStampCounter", 1},      // s1
        {"SetPriorityClass 0x80", 1},
        {"SetThreadPriority -1", 1},
        {"Sleep 1", 1},
    };
    EXPECT_EQ(expected, machine.trace);
    EXPECT_FALSE(machine.cpuidWithOtherLeaf);
    EXPECT_TRUE(machine.alwaysRaisedWhileMeasuring);
}

TEST_F(CpuFrequencyScripted, IntervalStartsAtTheFirstChangedCounterValue)
{
    // A long wait, and a change in the high half alone that is not an edge
    // (only the low 32 bits are compared). Every stamp is distinct, so the
    // figure shows which reads were paired.
    const long long start = 0x100000005ll;
    const int unchangedReads = 1000;
    machine.counterReads.assign(1 + unchangedReads, start);
    machine.counterReads.push_back(0x200000005ll);
    const long long edge = 0x200000006ll;
    machine.counterReads.push_back(edge);
    machine.counterReads.push_back(edge + 250000);
    for (int i = 0; i < unchangedReads + 2; ++i)
        machine.stampReads.push_back(1000000ull * (i + 1));
    const unsigned long long stampAtEdge = machine.stampReads.back();
    machine.stampReads.push_back(stampAtEdge + 100000000ull);

    double frequency = 0.0;
    ASSERT_EQ(1, MeasureCpuFrequency(&frequency));
    EXPECT_EQ(machine.counterReads.size(), machine.nextCounterRead);
    EXPECT_EQ(machine.stampReads.size(), machine.nextStampRead);
    // 100 million stamps in 25 ms.
    EXPECT_EQ(4e9, frequency);
}

TEST_F(CpuFrequencyScripted, PutsBackWhateverPrioritiesItFound)
{
    const std::pair<DWORD, int> entries[] = {
        {HIGH_PRIORITY_CLASS, THREAD_PRIORITY_BELOW_NORMAL},
        {IDLE_PRIORITY_CLASS, THREAD_PRIORITY_LOWEST},
        {BELOW_NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL},
        {NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_IDLE},
        {REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_TIME_CRITICAL},
    };
    for (const auto& entry : entries) {
        SCOPED_TRACE(testing::Message() << "class 0x" << std::hex << entry.first << std::dec
                                        << ", thread " << entry.second);
        machine.priorityClass = entry.first;
        machine.threadPriority = entry.second;
        machine.alwaysRaisedWhileMeasuring = true;
        machine.nextCounterRead = 0;
        machine.nextStampRead = 0;
        ScriptSimpleInterval(10, 1000, 10, 2000000);

        double frequency = 0.0;
        EXPECT_EQ(1, MeasureCpuFrequency(&frequency));
        EXPECT_TRUE(machine.alwaysRaisedWhileMeasuring);
        EXPECT_EQ(entry.first, machine.priorityClass);
        EXPECT_EQ(entry.second, machine.threadPriority);
    }
}

TEST_F(CpuFrequencyScripted, MissingCounterFrequencyLeavesOutputAndPrioritiesAsTheyWere)
{
    machine.priorityClass = HIGH_PRIORITY_CLASS;
    machine.threadPriority = THREAD_PRIORITY_BELOW_NORMAL;
    machine.counterFrequencyAvailable = false;

    double frequency = 1234.5;
    EXPECT_EQ(0, MeasureCpuFrequency(&frequency));
    EXPECT_EQ(1234.5, frequency);
    EXPECT_EQ(static_cast<DWORD>(HIGH_PRIORITY_CLASS), machine.priorityClass);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, machine.threadPriority);
    EXPECT_EQ(0u, machine.nextCounterRead);
    EXPECT_EQ(0u, machine.nextStampRead);
    EXPECT_EQ(0u, machine.cpuidCalls);
    ASSERT_FALSE(machine.trace.empty());
    EXPECT_EQ("SetThreadPriority -1", machine.trace.back().first);
}

TEST_F(CpuFrequencyScripted, PriorityThatCannotBeReadIsLeftAlone)
{
    // Raising without a value to go back to would strand the process in the
    // realtime class; the measurement runs at the current priorities instead.
    machine.priorityClass = HIGH_PRIORITY_CLASS;
    machine.threadPriority = THREAD_PRIORITY_LOWEST;
    machine.classReadable = false;
    machine.threadReadable = false;
    ScriptSimpleInterval(5000, 100000, 777, 30000000);

    double frequency = 0.0;
    EXPECT_EQ(1, MeasureCpuFrequency(&frequency));
    EXPECT_EQ(3e9, frequency);
    EXPECT_EQ(static_cast<DWORD>(HIGH_PRIORITY_CLASS), machine.priorityClass);
    EXPECT_EQ(THREAD_PRIORITY_LOWEST, machine.threadPriority);
    for (const auto& call : machine.trace)
        EXPECT_NE(0u, call.first.find("Set")) << call.first;
}

TEST_F(CpuFrequencyScripted, CounterThatFailsAtTheEndGivesNoFigure)
{
    machine.priorityClass = HIGH_PRIORITY_CLASS;
    machine.threadPriority = THREAD_PRIORITY_BELOW_NORMAL;
    ScriptSimpleInterval(5000, 100000, 777, 30000000);
    machine.failingCounterRead = 2;   // t1

    double frequency = 1234.5;
    EXPECT_EQ(0, MeasureCpuFrequency(&frequency));
    EXPECT_EQ(1234.5, frequency);
    EXPECT_EQ(static_cast<DWORD>(HIGH_PRIORITY_CLASS), machine.priorityClass);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, machine.threadPriority);
}

// --- The real machine -------------------------------------------------------

// Restores the test thread's and process's normal priorities at scope end.
struct NormalPrioritiesAfterwards {
    ~NormalPrioritiesAfterwards()
    {
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    }
};

DWORD classDuringMeasurement;
int threadPriorityDuringMeasurement;

BOOL WINAPI CounterFrequencyNotingPriorities(LARGE_INTEGER* frequency)
{
    classDuringMeasurement = GetPriorityClass(GetCurrentProcess());
    threadPriorityDuringMeasurement = GetThreadPriority(GetCurrentThread());
    return RealKernelServices().QueryPerformanceFrequency(frequency);
}

BOOL WINAPI CounterFrequencyMissing(LARGE_INTEGER*)
{
    return FALSE;
}

TEST(CpuFrequencyMachine, AgreesWithTheStampRate)
{
    const double reference = StampRate();
    double frequency = 0.0;
    ASSERT_EQ(1, MeasureCpuFrequency(&frequency));
    std::printf("probe %.2f MHz, stamp rate %.2f MHz\n", frequency * 1e-6, reference * 1e-6);
    EXPECT_NEAR(reference, frequency, reference * 0.03);
}

TEST(CpuFrequencyMachine, ProcessAndThreadAreBackAtTheirPrioritiesAfterMeasuringAndAfterAFailure)
{
    NormalPrioritiesAfterwards cleanup;
    for (bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "counter frequency missing" : "measuring");
        ScopedKernelServices guard;
        g_kernel.QueryPerformanceFrequency = fails ? CounterFrequencyMissing : CounterFrequencyNotingPriorities;
        ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
        ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));

        double frequency = 42.0;
        EXPECT_EQ(fails ? 0 : 1, MeasureCpuFrequency(&frequency));
        if (fails) {
            EXPECT_EQ(42.0, frequency);
        } else {
            std::printf("during the measurement: class 0x%lX, thread %d\n", classDuringMeasurement,
                        threadPriorityDuringMeasurement);
            // The thread is raised in any case; the realtime class may be refused
            // without privileges, which leaves the process where it was.
            EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, threadPriorityDuringMeasurement);
            EXPECT_TRUE(classDuringMeasurement == REALTIME_PRIORITY_CLASS ||
                        classDuringMeasurement == HIGH_PRIORITY_CLASS);
        }
        EXPECT_EQ(static_cast<DWORD>(HIGH_PRIORITY_CLASS), GetPriorityClass(GetCurrentProcess()));
        EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(GetCurrentThread()));
    }
}

} // namespace
