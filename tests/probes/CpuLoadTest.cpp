#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "engine/KernelServices.h"
#include "probes/CpuLoad.h"
#include "support/KernelFake.h"

namespace {

// --- A scripted system-information service --------------------------------

HMODULE const kNtdll = reinterpret_cast<HMODULE>(0x7C900000);

struct Query {
    ULONG infoClass;
    ULONG length;
    bool returnedLengthIsNull;
};

struct FakeSystem {
    bool moduleMissing;
    bool procedureMissing;
    std::vector<std::string> modulesAsked;
    std::vector<std::string> proceduresAsked;
    bool procedureAskedOfOtherModule;
    // What the next queries report, in 100 ns units.
    unsigned char processors;
    long long systemTime;
    long long idleTime;
    ULONG failingClass;       // a class that fails, or kNoFailure
    LONG failureStatus;
    std::vector<Query> queries;
};

const ULONG kNoFailure = 0xFFFFFFFF;
FakeSystem fake;

LONG WINAPI FakeNtQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length,
                                         PULONG returnedLength)
{
    fake.queries.push_back(Query{infoClass, length, returnedLength == nullptr});
    if (infoClass == fake.failingClass)
        return fake.failureStatus;
    // Everything but the fields the probe should read is filled with noise. The
    // records are this architecture's published ones, checked as the system does.
    std::memset(buffer, 0xCD, length);
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    const LONG lengthMismatch = static_cast<LONG>(0xC0000004);
    switch (infoClass) {
    case 0:
        if (length != sizeof(SYSTEM_BASIC_INFORMATION))
            return lengthMismatch;
        bytes[offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors)] = fake.processors;
        return 0;
    case 3:
        if (length > sizeof(SYSTEM_TIMEOFDAY_INFORMATION) ||
            length < offsetof(SYSTEM_TIMEOFDAY_INFORMATION, TimeZoneBias))
            return lengthMismatch;
        std::memcpy(bytes + offsetof(SYSTEM_TIMEOFDAY_INFORMATION, CurrentTime), &fake.systemTime, 8);
        return 0;
    case 2:
        if (length < sizeof(SYSTEM_PERFORMANCE_INFORMATION))
            return lengthMismatch;
        std::memcpy(bytes + offsetof(SYSTEM_PERFORMANCE_INFORMATION, IdleTime), &fake.idleTime, 8);
        return 0;
    default:
        return static_cast<LONG>(0xC0000003);   // invalid information class
    }
}

HMODULE WINAPI FakeGetModuleHandleA(LPCSTR name)
{
    fake.modulesAsked.push_back(name ? name : "(null)");
    return fake.moduleMissing ? nullptr : kNtdll;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    fake.proceduresAsked.push_back(name);
    fake.procedureAskedOfOtherModule |= module != kNtdll;
    if (fake.procedureMissing)
        return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeNtQuerySystemInformation));
}

class CpuLoadScripted : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = FakeSystem();
        fake.processors = 4;
        fake.systemTime = 133500000000000000ll;   // a date in 2024
        fake.idleTime = 987654321000ll;
        fake.failingClass = kNoFailure;
        g_kernel.GetModuleHandleA = FakeGetModuleHandleA;
        g_kernel.GetProcAddress = FakeGetProcAddress;
    }

    // Lets `seconds` pass with `idleProcessors` idle throughout.
    void Pass(double seconds, double idleProcessors)
    {
        fake.systemTime += static_cast<long long>(seconds * 1e7);
        fake.idleTime += static_cast<long long>(seconds * idleProcessors * 1e7);
    }

    void ExpectPreviousReadingIs(long long idleTime, long long systemTime)
    {
        EXPECT_EQ(static_cast<double>(idleTime), previousIdleTime);
        EXPECT_EQ(static_cast<double>(systemTime), previousSystemTime);
    }

    ScopedKernelServices guard;
};

TEST_F(CpuLoadScripted, FirstReadingOfTheProcessIsExactlyZero)
{
    fake.processors = 2;
    double load = -1.0;
    EXPECT_EQ(1, MeasureCpuLoad(&load));
    EXPECT_EQ(0.0, load);
    ExpectPreviousReadingIs(fake.idleTime, fake.systemTime);
}

TEST_F(CpuLoadScripted, AsksNtdllForBasicTimeOfDayAndPerformanceInformationAtEveryCall)
{
    double load = 0.0;
    ASSERT_EQ(1, MeasureCpuLoad(&load));
    Pass(1.0, 2.0);
    ASSERT_EQ(1, MeasureCpuLoad(&load));

    EXPECT_EQ((std::vector<std::string>{"ntdll", "ntdll"}), fake.modulesAsked);
    EXPECT_EQ((std::vector<std::string>{"NtQuerySystemInformation", "NtQuerySystemInformation"}),
              fake.proceduresAsked);
    EXPECT_FALSE(fake.procedureAskedOfOtherModule);
    ASSERT_EQ(6u, fake.queries.size());
    const ULONG classes[] = {0, 3, 2};
#ifdef _WIN64
    const ULONG lengths[] = {64, 48, 312};   // the native 64-bit records
#else
    const ULONG lengths[] = {44, 32, 312};
#endif
    for (size_t i = 0; i < fake.queries.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(classes[i % 3], fake.queries[i].infoClass);
        EXPECT_EQ(lengths[i % 3], fake.queries[i].length);
        EXPECT_TRUE(fake.queries[i].returnedLengthIsNull);
    }
}

TEST_F(CpuLoadScripted, LoadIsTheBusyShareOfAllProcessorsSinceThePreviousReading)
{
    struct Case {
        unsigned char processors;
        double idleProcessors;
        double expectedLoad;
    };
    const Case cases[] = {
        {4, 3.0, 25.0},    // one busy processor of four
        {2, 2.0, 0.0},     // all idle
        {2, 0.0, 100.0},   // all busy
        {1, 0.5, 50.0},    // one processor, half the time idle
        {8, 6.0, 25.0},
    };
    double load = -1.0;
    ASSERT_EQ(1, MeasureCpuLoad(&load));
    // Each case measures from the reading that ended the case before.
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.processors) << " processors, "
                                        << c.idleProcessors << " idle");
        fake.processors = c.processors;
        Pass(2.0, c.idleProcessors);
        EXPECT_EQ(1, MeasureCpuLoad(&load));
        EXPECT_DOUBLE_EQ(c.expectedLoad, load);
    }
}

TEST_F(CpuLoadScripted, ProcessorCountIsOneByte)
{
    // The noise around offset 40 must not enter the count: 200 processors
    // read as a byte, not as a wider field.
    fake.processors = 200;
    double load = 0.0;
    ASSERT_EQ(1, MeasureCpuLoad(&load));
    Pass(1.0, 150.0);
    ASSERT_EQ(1, MeasureCpuLoad(&load));
    EXPECT_DOUBLE_EQ(25.0, load);
}

TEST_F(CpuLoadScripted, MissingModuleOrProcedureGivesNoReadingAndKeepsThePreviousOne)
{
    for (bool moduleMissing : {true, false}) {
        SCOPED_TRACE(moduleMissing ? "module missing" : "procedure missing");
        fake.moduleMissing = fake.procedureMissing = false;
        fake.proceduresAsked.clear();
        fake.queries.clear();
        Pass(1.0, 1.0);   // after the previous case's reading
        double load = 0.0;
        ASSERT_EQ(1, MeasureCpuLoad(&load));
        const long long idle = fake.idleTime, time = fake.systemTime;

        fake.moduleMissing = moduleMissing;
        fake.procedureMissing = !moduleMissing;
        Pass(1.0, 1.0);
        load = 55.0;
        EXPECT_EQ(0, MeasureCpuLoad(&load));
        EXPECT_EQ(0.0, load);
        EXPECT_EQ(moduleMissing ? 1u : 2u, fake.proceduresAsked.size());
        EXPECT_EQ(3u, fake.queries.size());   // only the first call's
        ExpectPreviousReadingIs(idle, time);
    }
}

struct FailingQuery {
    ULONG infoClass;
    size_t queriesMade;   // including the failing one
    LONG status;
};

void PrintTo(const FailingQuery& query, std::ostream* out)
{
    *out << "class " << query.infoClass << " failing with 0x" << std::hex << query.status;
}

class CpuLoadFailingQuery : public CpuLoadScripted,
                            public ::testing::WithParamInterface<FailingQuery> {};

TEST_P(CpuLoadFailingQuery, GivesZeroKeepsThePreviousReadingAndStops)
{
    double load = 0.0;
    ASSERT_EQ(1, MeasureCpuLoad(&load));
    const long long idle = fake.idleTime, time = fake.systemTime;
    fake.queries.clear();

    fake.failingClass = GetParam().infoClass;
    fake.failureStatus = GetParam().status;
    Pass(1.0, 2.0);
    load = 55.0;
    EXPECT_EQ(0, MeasureCpuLoad(&load));
    EXPECT_EQ(0.0, load);
    ExpectPreviousReadingIs(idle, time);
    ASSERT_EQ(GetParam().queriesMade, fake.queries.size());
    EXPECT_EQ(GetParam().infoClass, fake.queries.back().infoClass);
}

std::string FailingQueryName(const ::testing::TestParamInfo<FailingQuery>& info)
{
    char name[64];
    std::snprintf(name, sizeof name, "Class%luStatus%08lX", info.param.infoClass,
                  static_cast<unsigned long>(info.param.status));
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    EachQuery, CpuLoadFailingQuery,
    ::testing::Values(FailingQuery{0, 1, static_cast<LONG>(0xC0000004)},
                      FailingQuery{3, 2, static_cast<LONG>(0xC0000004)},
                      FailingQuery{2, 3, static_cast<LONG>(0xC0000004)},
                      // informational and warning statuses are failures too
                      FailingQuery{0, 1, 0x40000000},
                      FailingQuery{3, 2, static_cast<LONG>(0x80000005)},
                      FailingQuery{2, 3, 1}),
    FailingQueryName);

TEST_F(CpuLoadScripted, IntervalAfterAFailedQuerySpansIt)
{
    double load = 0.0;
    ASSERT_EQ(1, MeasureCpuLoad(&load));

    // One second with all four processors busy, then a failed reading.
    Pass(1.0, 0.0);
    fake.failingClass = 2;
    fake.failureStatus = static_cast<LONG>(0xC0000004);
    EXPECT_EQ(0, MeasureCpuLoad(&load));

    // Three more seconds with all idle: four seconds since the last good
    // reading, one of them busy.
    fake.failingClass = kNoFailure;
    Pass(3.0, 4.0);
    EXPECT_EQ(1, MeasureCpuLoad(&load));
    EXPECT_DOUBLE_EQ(25.0, load);
}

TEST_F(CpuLoadScripted, ReadingsWithNoTimeBetweenThemOrNoProcessorsGiveNoFigure)
{
    for (bool noProcessors : {false, true}) {
        SCOPED_TRACE(noProcessors ? "no processors" : "no time");
        Pass(1.0, 1.0);   // after the previous case's reading
        double load = 0.0;
        ASSERT_EQ(1, MeasureCpuLoad(&load));
        const long long idle = fake.idleTime, time = fake.systemTime;

        if (noProcessors) {
            fake.processors = 0;
            Pass(1.0, 1.0);
        } else {
            fake.idleTime += 5000;   // same system time tick; the idle time may still have moved
        }
        load = 55.0;
        EXPECT_EQ(0, MeasureCpuLoad(&load));
        EXPECT_TRUE(std::isfinite(load));
        EXPECT_EQ(0.0, load);
        ExpectPreviousReadingIs(idle, time);

        // The next good reading measures from the last good one.
        fake.processors = 4;
        fake.idleTime = idle + (fake.systemTime - time) * 2;   // two of four idle so far
        Pass(2.0, 2.0);
        EXPECT_EQ(1, MeasureCpuLoad(&load));
        EXPECT_DOUBLE_EQ(50.0, load);
    }
}

// --- The real machine -------------------------------------------------------

TEST(CpuLoadMachine, BusyThreadShowsInTheSystemCounters)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const double processors = info.dwNumberOfProcessors;

    double load = -1.0;
    ASSERT_EQ(1, MeasureCpuLoad(&load));
    EXPECT_EQ(0.0, load);

    // Keep this thread busy for half a second of counter time.
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    volatile double sink = 1.0;
    do {
        for (int i = 0; i < 1000; ++i)
            sink = sink * 1.0000001 + 1e-9;
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < frequency.QuadPart / 2);

    ASSERT_EQ(1, MeasureCpuLoad(&load));
    std::printf("load with one busy thread of %.0f processors: %.2f%%\n", processors, load);
    // At least this thread's share (less the counters' tick granularity);
    // other processes may add to it.
    EXPECT_GE(load, 100.0 / processors * 0.8);
    EXPECT_LE(load, 100.0 + 1e-9);
}

} // namespace
