// MAX from the start to the stop, against the machine: the start (plan, commit,
// fill on every processor) against touching the same memory once with every
// processor in the same run; the longest the starting thread goes without
// answering; the workers' sweep bandwidth over all the memory against the
// memory's ceiling (every processor reading three streams and writing one); and
// the stop. Usage: max_start [workers...] (default: 1 and 16; one count per run
// where other programs share the memory: each takes all of it twice).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"

namespace {

const SIZE_T kMB = 1u << 20;

double Seconds()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

unsigned int Processors()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

struct Slice {
    unsigned char* base;
    SIZE_T bytes;
    int mode;        // 0: write once; 1: d = a*b + c over the slice's quarters until stop
    double seconds;
    unsigned long long bytesDone;
    volatile LONG* stop;
};

DWORD WINAPI RunSlice(LPVOID parameter)
{
    Slice* slice = static_cast<Slice*>(parameter);
    const double t0 = Seconds();
    if (slice->mode == 0) {
        std::memset(slice->base, 0x3F, slice->bytes);
        slice->bytesDone = slice->bytes;
    } else {
        const SIZE_T n = slice->bytes / 32;
        const double* a = reinterpret_cast<const double*>(slice->base);
        const double* b = a + n;
        const double* c = b + n;
        double* d = const_cast<double*>(c + n);
        while (!*slice->stop) {
            for (SIZE_T j = 0; j < n; ++j)
                d[j] = a[j] * b[j] + c[j];
            slice->bytesDone += 4 * n * sizeof(double);
        }
    }
    slice->seconds = Seconds() - t0;
    return 0;
}

// Runs one slice per processor over the memory; returns the seconds the slowest took.
double OnEveryProcessor(unsigned char* base, SIZE_T bytes, int mode, DWORD runMs, unsigned long long* done)
{
    const unsigned int count = Processors();
    std::vector<Slice> slices(count);
    std::vector<HANDLE> threads(count);
    volatile LONG stop = 0;
    const SIZE_T each = bytes / count / 4096 * 4096;
    for (unsigned int i = 0; i < count; ++i) {
        slices[i] = Slice{base + i * each, i + 1 == count ? bytes - i * each : each, mode, 0.0, 0, &stop};
        threads[i] = CreateThread(nullptr, 0, RunSlice, &slices[i], 0, nullptr);
    }
    if (mode == 1) {
        Sleep(runMs);
        InterlockedExchange(const_cast<LONG*>(&stop), 1);
    }
    WaitForMultipleObjects(count, threads.data(), TRUE, INFINITE);
    double slowest = 0.0;
    *done = 0;
    for (unsigned int i = 0; i < count; ++i) {
        CloseHandle(threads[i]);
        slowest = std::max(slowest, slices[i].seconds);
        *done += slices[i].bytesDone;
    }
    return slowest;
}

double g_lastAnswer, g_longestGap;

BOOL NoteAnswer(void*)
{
    const double now = Seconds();
    g_longestGap = std::max(g_longestGap, now - g_lastAnswer);
    g_lastAnswer = now;
    return TRUE;
}

void Measure(unsigned int workers)
{
    CTestEngine engine;
    engine.SetConfig(TestConfig{1, 0, 0, workers, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    engine.idle = NoteAnswer;
    g_longestGap = 0.0;
    const double t0 = Seconds();
    g_lastAnswer = t0;
    const HRESULT status = engine.StartTest();
    const double started = Seconds() - t0;
    if (FAILED(status)) {
        std::printf("| %u | start failed: %08lX |\n", workers, static_cast<unsigned long>(status));
        engine.StopTest();
        return;
    }
    const unsigned long long testedMB = engine.config.memorySizeMB;
    const double startGap = g_longestGap;
    const double runFrom = Seconds();
    Sleep(10000);
    const double t1 = Seconds();
    g_longestGap = 0.0;
    g_lastAnswer = t1;
    engine.StopTest();
    const double stopped = Seconds() - t1;
    const double stopGap = std::max(g_longestGap, Seconds() - g_lastAnswer);
    unsigned long long swept = 0;
    for (unsigned int i = 0; i < workers; ++i)
        swept += engine.workerAreas[i].swept;
    const double sweepGBs = static_cast<double>(swept) / (t1 - runFrom) / 1e9;

    // The same memory touched once, then streamed, with every processor.
    unsigned char* block = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, static_cast<SIZE_T>(testedMB) * kMB, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    double touch = 0.0, ceilingGBs = 0.0;
    if (block) {
        unsigned long long done = 0;
        touch = OnEveryProcessor(block, static_cast<SIZE_T>(testedMB) * kMB, 0, 0, &done);
        const double s0 = Seconds();
        OnEveryProcessor(block, static_cast<SIZE_T>(testedMB) * kMB, 1, 10000, &done);
        ceilingGBs = static_cast<double>(done) / (Seconds() - s0) / 1e9;
        VirtualFree(block, 0, MEM_RELEASE);
    }
    std::printf("| %u | %llu of %llu MB | %.2f s | %.2f s | %.2f | %.0f ms | %.2f GB/s | %.2f GB/s | %.0f%% | %.0f ms "
                "| %.0f ms |\n",
                workers, testedMB, engine.memoryAvailableMB, started, touch, touch > 0 ? started / touch : 0.0,
                startGap * 1e3, sweepGBs, ceilingGBs, ceilingGBs > 0 ? 100.0 * sweepGBs / ceilingGBs : 0.0,
                stopped * 1e3, stopGap * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    char temp[MAX_PATH];
    if (GetTempPathA(sizeof temp, temp))
        SetCurrentDirectoryA(temp);
    std::printf("MAX start, run and stop; %u processors, %s kernel\n\n", Processors(),
                GetKernelImpl(BestKernelVariant()).name);
    std::printf("| workers | tested | start | touch once, every processor | start / touch | longest "
                "without answering in the start | sweep over 10 s | ceiling (3 reads + 1 write, every processor) "
                "| sweep / ceiling | stop | longest without answering in the stop |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::vector<unsigned int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(static_cast<unsigned int>(std::atoi(argv[i])));
    if (counts.empty())
        counts = {1, 16};
    for (unsigned int workers : counts)
        Measure(workers);
    return 0;
}
