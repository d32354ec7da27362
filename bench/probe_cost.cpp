// Prints what one frequency and one load measurement cost on this machine,
// and the time-stamp counter rate the frequency probe should come close to.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "engine/TestEngine.h"
#include "probes/CpuFrequency.h"
#include "probes/CpuLoad.h"
#include "StampRate.h"

namespace {

double NowMs()
{
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void MeasureFrequencies(const char* setting, int rounds)
{
    double minFrequency = 1e300, maxFrequency = 0.0, totalMs = 0.0, worstMs = 0.0;
    for (int i = 0; i < rounds; ++i) {
        double frequency = 0.0;
        const double begin = NowMs();
        const int ok = MeasureCpuFrequency(&frequency);
        const double cost = NowMs() - begin;
        if (!ok)
            std::printf("frequency measurement %d failed\n", i);
        if (frequency < minFrequency) minFrequency = frequency;
        if (frequency > maxFrequency) maxFrequency = frequency;
        totalMs += cost;
        if (cost > worstMs) worstMs = cost;
    }
    std::printf("frequency probe, %s: %.2f .. %.2f MHz over %d calls, %.1f ms mean, %.1f ms worst\n",
                setting, minFrequency * 1e-6, maxFrequency * 1e-6, rounds, totalMs / rounds, worstMs);
}

} // namespace

int main()
{
    const int kRounds = 5;
    std::printf("time-stamp counter rate: %.2f MHz\n", StampRate() * 1e-6);
    MeasureFrequencies("idle machine", kRounds);

    // The same under a run: one worker per processor, as a test would load it.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    TestConfig config = {};
    config.threadCount = info.dwNumberOfProcessors < kMaxWorkers ? info.dwNumberOfProcessors : kMaxWorkers;
    // The engine logs its start and stop; keep that log out of the way.
    char previousDir[MAX_PATH], scratchDir[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previousDir);
    GetTempPathA(MAX_PATH, scratchDir);
    std::snprintf(scratchDir + std::strlen(scratchDir), MAX_PATH - std::strlen(scratchDir),
                  "bw-bench-%lu", GetCurrentProcessId());
    if (CreateDirectoryA(scratchDir, nullptr) && SetCurrentDirectoryA(scratchDir)) {
        static CTestEngine engine;
        engine.SetConfig(config);
        if (engine.StartTest() == S_OK) {
            char setting[64];
            std::snprintf(setting, sizeof setting, "%u workers running", config.threadCount);
            MeasureFrequencies(setting, kRounds);
        }
        engine.StopTest();
        DeleteFileA("Burnwright.log");
        SetCurrentDirectoryA(previousDir);
        RemoveDirectoryA(scratchDir);
    }

    const int kCpuidCalls = 200000;
    const double cpuidBegin = NowMs();
    for (int i = 0; i < kCpuidCalls; ++i) {
        int regs[4];
        __cpuidex(regs, 0, 0);
        asm volatile("" : : "r"(regs[0]) : "memory");
    }
    const double cpuidMs = NowMs() - cpuidBegin;
    std::printf("one CPUID: %.3f us\n", cpuidMs * 1000.0 / kCpuidCalls);

    const int kLoadCalls = 1000;
    double load = 0.0;
    const double loadBegin = NowMs();
    for (int i = 0; i < kLoadCalls; ++i)
        MeasureCpuLoad(&load);
    const double loadUs = (NowMs() - loadBegin) * 1000.0 / kLoadCalls;
    std::printf("load probe cost: %.1f us\n", loadUs);
    return 0;
}
