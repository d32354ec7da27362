// The frequency probe against a reference of the same kind measured over a second,
// and against the probe it replaced (time-stamp counter ticks over 200,000 CPUID
// instructions at realtime priority), idle and under the test load; what one
// frequency and one load measurement cost.
#include <windows.h>
#include <intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

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
// the probe's) in windows of 262,144 cycles, run for 50 ms after each measurement,
// a second in all: the clock over the same span of time as the measurements, as
// the median window (the clock while the core runs) and as the plain average (which
// also counts the moments the core ran something else, or, in a virtual machine,
// the host took it away). Valid only while this thread has a processor to itself,
// as it has with one worker fewer than processors.
struct Reference {
    std::vector<double> windowHz;
    unsigned long long cycles = 0;
    double ms = 0.0;
    void Run()
    {
        const unsigned int kBlocks = 4096;
        size_t value = 0, step = 1;
        const double begin = NowMs();
        double elapsed;
        do {
            const double t0 = NowMs();
            for (unsigned int i = kBlocks; i != 0; --i)
                asm volatile(".rept 64\n\tadd %1, %0\n\t.endr" : "+r"(value) : "r"(step));
            windowHz.push_back(kBlocks * 64 / ((NowMs() - t0) * 1e-3));
            cycles += kBlocks * 64;
            elapsed = NowMs() - begin;
        } while (elapsed < 50.0);
        ms += elapsed;
    }
    double Hz()
    {
        std::nth_element(windowHz.begin(), windowHz.begin() + windowHz.size() / 2, windowHz.end());
        return windowHz[windowHz.size() / 2];
    }
    double AverageHz() const { return static_cast<double>(cycles) / (ms * 1e-3); }
};

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

// rounds measurements, each followed by 50 ms of the reference, or compared with
// a reference taken before.
void Measure(const char* probe, int (*measure)(double*), int rounds, Reference* reference, bool interleave)
{
    double figures[100], totalMs = 0.0, worstMs = 0.0;
    for (int i = 0; i < rounds; ++i) {
        figures[i] = 0.0;
        const double begin = NowMs();
        if (!measure(&figures[i]))
            std::printf("  measurement %d failed\n", i);
        const double cost = NowMs() - begin;
        totalMs += cost;
        worstMs = std::max(worstMs, cost);
        if (interleave)
            reference->Run();
    }
    std::sort(figures, figures + rounds);
    double mean = 0.0;
    for (int i = 0; i < rounds; ++i)
        mean += figures[i] / rounds;
    const double hz = reference->Hz();
    std::printf("  %-20s mean %8.2f MHz (%+6.2f%%), range %+6.2f%% .. %+6.2f%% of the reference %8.2f MHz "
                "(average %8.2f MHz); %7.2f ms mean, %7.2f ms worst\n",
                probe, mean * 1e-6, (mean / hz - 1) * 100, (figures[0] / hz - 1) * 100,
                (figures[rounds - 1] / hz - 1) * 100, hz * 1e-6, reference->AverageHz() * 1e-6,
                totalMs / rounds, worstMs);
}

// Measures with `workers` workers of the engine running (0: idle), against a
// reference taken between the measurements, or else against `loaded`.
Reference UnderLoad(unsigned int workers, const Reference* loaded)
{
    static CTestEngine engine;
    TestConfig config = {};
    config.threadCount = workers;
    if (workers && (engine.SetConfig(config) != S_OK || engine.StartTest() != S_OK)) {
        std::printf("%u workers: the run did not start\n", workers);
        engine.StopTest();
        return Reference();
    }
    Sleep(200);
    std::printf("%u workers%s\n", workers, loaded ? " (reference: the run before, every processor loaded)" : "");
    Reference probeReference = loaded ? *loaded : Reference(), stampReference = probeReference;
    Measure("probe", MeasureCpuFrequency, 20, &probeReference, !loaded);
    Measure("replaced stamp probe", StampProbe, 3, &stampReference, !loaded);
    if (workers) {
        // A whole sample as the window's thread takes it: probes, line to file and list.
        engine.config.durationMs = 0xFFFFFFFFu;
        engine.config.logCpuLoad = 1;
        double totalMs = 0.0, worstMs = 0.0;
        const int kSamples = 20;
        for (int i = 0; i < kSamples; ++i) {
            const double begin = NowMs();
            engine.SampleTick();
            const double cost = NowMs() - begin;
            totalMs += cost;
            worstMs = std::max(worstMs, cost);
            Sleep(100);
        }
        std::printf("  whole sample (both probes, the line to the file): %.2f ms mean, %.2f ms worst\n",
                    totalMs / kSamples, worstMs);
        engine.StopTest();
    }
    return probeReference;
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
    UnderLoad(0, nullptr);
    // Every processor loaded: one worker fewer than processors, and this thread.
    const Reference loaded = UnderLoad(processors > 1 ? processors - 1 : 1, nullptr);
    UnderLoad(kMaxWorkers, &loaded);
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
