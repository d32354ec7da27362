// The frequency probe against a reference of the same kind measured over a second,
// and against the probe it replaced (time-stamp counter ticks over 200,000 CPUID
// instructions at realtime priority), idle and under the test load; what one
// frequency and one load measurement cost.
#include <windows.h>
#include <intrin.h>

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

// The reference: a chain of dependent additions (64 to a block, written apart from
// the probe's) timed over at least a second. Valid only while this thread has a
// processor to itself, as it has with one worker fewer than processors.
double ReferenceHz()
{
    const unsigned int kBlocks = 1u << 20;   // 67 million cycles a round
    size_t value = 0, step = 1;
    unsigned long long rounds = 0;
    const double begin = NowMs();
    double elapsed;
    do {
        for (unsigned int i = kBlocks; i != 0; --i)
            asm volatile(".rept 64\n\tadd %1, %0\n\t.endr" : "+r"(value) : "r"(step));
        ++rounds;
        elapsed = NowMs() - begin;
    } while (elapsed < 1000.0);
    return static_cast<double>(rounds) * kBlocks * 64 / (elapsed * 1e-3);
}

// The replaced probe, as it was: stamps over 200,000 CPUID from a counter edge.
int StampProbe(double* frequencyHz)
{
    HANDLE process = GetCurrentProcess(), thread = GetCurrentThread();
    const DWORD savedClass = GetPriorityClass(process);
    const int savedPriority = GetThreadPriority(thread);
    SetPriorityClass(process, REALTIME_PRIORITY_CLASS);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    Sleep(1);
    LARGE_INTEGER frequency, start, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    unsigned long long s0;
    do {
        QueryPerformanceCounter(&t0);
        s0 = __rdtsc();
    } while (t0.LowPart == start.LowPart);
    for (int i = 0; i < 200000; ++i) {
        int regs[4];
        __cpuidex(regs, 0, 0);
        asm volatile("" : : "r"(regs[0]) : "memory");
    }
    QueryPerformanceCounter(&t1);
    const unsigned long long s1 = __rdtsc();
    SetPriorityClass(process, savedClass);
    SetThreadPriority(thread, savedPriority);
    Sleep(1);
    *frequencyHz = static_cast<double>(frequency.QuadPart) * static_cast<double>(s1 - s0) /
                   static_cast<double>(t1.QuadPart - t0.QuadPart);
    return 1;
}

void Measure(const char* probe, int (*measure)(double*), int rounds, double reference)
{
    double minFrequency = 1e300, maxFrequency = 0.0, totalMs = 0.0, worstMs = 0.0;
    for (int i = 0; i < rounds; ++i) {
        double frequency = 0.0;
        const double begin = NowMs();
        if (!measure(&frequency))
            std::printf("  measurement %d failed\n", i);
        const double cost = NowMs() - begin;
        if (frequency < minFrequency) minFrequency = frequency;
        if (frequency > maxFrequency) maxFrequency = frequency;
        totalMs += cost;
        if (cost > worstMs) worstMs = cost;
        Sleep(50);
    }
    std::printf("  %-22s %8.2f .. %8.2f MHz (%+6.2f%% .. %+6.2f%% of the reference), %7.2f ms mean, %7.2f ms worst\n",
                probe, minFrequency * 1e-6, maxFrequency * 1e-6, (minFrequency / reference - 1) * 100,
                (maxFrequency / reference - 1) * 100, totalMs / rounds, worstMs);
}

// Measures with `workers` workers of the engine running (0: idle).
void UnderLoad(unsigned int workers, double* reference)
{
    static CTestEngine engine;
    TestConfig config = {};
    config.threadCount = workers;
    if (workers && engine.SetConfig(config) == S_OK && engine.StartTest() != S_OK) {
        std::printf("%u workers: the run did not start\n", workers);
        engine.StopTest();
        return;
    }
    Sleep(200);
    if (*reference == 0.0) {
        *reference = ReferenceHz();
        std::printf("%u workers: reference %.2f MHz over 1 s\n", workers, *reference * 1e-6);
    } else {
        std::printf("%u workers: reference of the loaded case above, %.2f MHz\n", workers, *reference * 1e-6);
    }
    Measure("probe", MeasureCpuFrequency, 20, *reference);
    Measure("replaced stamp probe", StampProbe, 3, *reference);
    if (workers)
        engine.StopTest();
}

} // namespace

int main()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned int processors = info.dwNumberOfProcessors;
    std::printf("time-stamp counter rate: %.2f MHz, %u processors\n", StampRate() * 1e-6, processors);

    // The engine logs its start and stop; keep that log out of the way.
    char previousDir[MAX_PATH], scratchDir[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previousDir);
    GetTempPathA(MAX_PATH, scratchDir);
    std::snprintf(scratchDir + std::strlen(scratchDir), MAX_PATH - std::strlen(scratchDir),
                  "bw-bench-%lu", GetCurrentProcessId());
    if (!CreateDirectoryA(scratchDir, nullptr) || !SetCurrentDirectoryA(scratchDir))
        return 1;
    double idleReference = 0.0, loadedReference = 0.0;
    UnderLoad(0, &idleReference);
    // Every processor loaded: one worker fewer than processors, and this thread.
    UnderLoad(processors > 1 ? processors - 1 : 1, &loadedReference);
    UnderLoad(kMaxWorkers, &loadedReference);
    DeleteFileA("Burnwright.log");
    SetCurrentDirectoryA(previousDir);
    RemoveDirectoryA(scratchDir);

    const int kLoadCalls = 1000;
    double load = 0.0;
    const double loadBegin = NowMs();
    for (int i = 0; i < kLoadCalls; ++i)
        MeasureCpuLoad(&load);
    std::printf("load probe cost: %.1f us\n", (NowMs() - loadBegin) * 1000.0 / kLoadCalls);
    return 0;
}
