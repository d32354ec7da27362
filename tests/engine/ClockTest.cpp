// The millisecond clock: counter mode, tick-count fallback and failed reads.
#include <gtest/gtest.h>

#include "engine/Clock.h"
#include "support/KernelFake.h"

namespace {

LONGLONG g_frequency;
LONGLONG g_count;
BOOL g_counterReadOk;
int g_frequencyQueries;
DWORD g_ticks;

BOOL WINAPI FakeFrequency(LARGE_INTEGER* frequency)
{
    ++g_frequencyQueries;
    frequency->QuadPart = g_frequency;
    return g_frequency != 0;
}

BOOL WINAPI FakeCounter(LARGE_INTEGER* count)
{
    count->QuadPart = g_count;
    return g_counterReadOk;
}

DWORD WINAPI FakeTicks()
{
    return g_ticks;
}

class Clock : public ::testing::Test {
protected:
    ScopedKernelServices guard;

    Clock()
    {
        g_frequency = 10000000;
        g_count = 0;
        g_counterReadOk = TRUE;
        g_frequencyQueries = 0;
        g_ticks = 0;
        g_kernel.QueryPerformanceFrequency = FakeFrequency;
        g_kernel.QueryPerformanceCounter = FakeCounter;
        g_kernel.GetTickCount = FakeTicks;
    }
};

} // namespace

TEST_F(Clock, CountsMillisecondsOfThePerformanceCounterModuloTwoToTheThirtyTwo)
{
    g_count = 123456789;   // 12345.6789 ms at 10 MHz
    EXPECT_EQ(12345u, GetTimeMs());
    EXPECT_EQ(1, clockMode);
    EXPECT_DOUBLE_EQ(0.0001, msPerCount);
    g_count = 123456789 + 10000;
    EXPECT_EQ(12346u, GetTimeMs());
    g_count = (1ll << 32) * 10000 + 5005000;   // 2^32 + 500.5 ms
    EXPECT_EQ(500u, GetTimeMs());
    EXPECT_EQ(1, g_frequencyQueries);
}

TEST_F(Clock, FallsBackToTheTickCountForTheWholeProcess)
{
    g_frequency = 0;
    g_ticks = 4242;
    EXPECT_EQ(4242u, GetTimeMs());
    EXPECT_EQ(2, clockMode);
    g_frequency = 10000000;   // a counter appearing later changes nothing
    g_ticks = 5000;
    EXPECT_EQ(5000u, GetTimeMs());
    EXPECT_EQ(1, g_frequencyQueries);
}

TEST_F(Clock, AFailedCounterReadGivesZero)
{
    g_count = 50000000;
    EXPECT_EQ(5000u, GetTimeMs());
    g_counterReadOk = FALSE;
    EXPECT_EQ(0u, GetTimeMs());
    EXPECT_EQ(1, clockMode);
}

TEST(ClockReal, AdvancesWithRealTime)
{
    const unsigned int start = GetTimeMs();
    Sleep(50);
    const unsigned int elapsed = GetTimeMs() - start;
    EXPECT_GE(elapsed, 45u);
    EXPECT_LT(elapsed, 5000u);
}
