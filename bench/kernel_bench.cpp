// Worker kernel benchmark: prints tables of figures, each next to the reference
// it is measured against in the same run. Nothing here passes or fails.
//
//   source scripts/common.sh && configure_and_build && prepare_wine_prefix &&
//       scripts/wine-run build/bench/kernel_bench.exe
//
// Single-thread figures are the best of several short runs, so that a run that
// shared its processor with something else does not count.
#include <windows.h>

#include <immintrin.h>
#include <intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/KernelServices.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "probes/CpuFrequency.h"
#include "probes/CpuLoad.h"

namespace {

const unsigned int kMB = 1u << 20;
const unsigned int kL1Repeats = 15;       // best of, for the L1 figures
const DWORD kL1RunMs = 40;                // one L1 measurement
const unsigned int kSweepRepeats = 5;     // best of, for the bandwidth figures
const unsigned int kSweepBytes = 256 * kMB;
const DWORD kScalingRunMs = 500;          // one multi-thread measurement
const unsigned int kScalingRepeats = 3;   // best of
const unsigned int kStopRepeats = 5;
const unsigned int kLoadProbeCalls = 100;
const unsigned int kFrequencyProbeCalls = 5;

// --- clocks -----------------------------------------------------------------

double g_qpcPerSecond = 0.0;
double g_tscPerSecond = 0.0;

double Seconds()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / g_qpcPerSecond;
}

void CalibrateClocks()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_qpcPerSecond = static_cast<double>(frequency.QuadPart);
    const double t0 = Seconds();
    const unsigned long long c0 = __rdtsc();
    Sleep(300);
    const double t1 = Seconds();
    const unsigned long long c1 = __rdtsc();
    g_tscPerSecond = static_cast<double>(c1 - c0) / (t1 - t0);
}

// --- areas ------------------------------------------------------------------

// A committed, zero-filled area laid out as the engine lays out a worker's.
struct Area {
    unsigned char* base;
    unsigned int size;
    const double* a() const { return reinterpret_cast<const double*>(base); }
    const double* b() const { return reinterpret_cast<const double*>(base + size / 4); }
    const double* c() const { return reinterpret_cast<const double*>(base + size / 2); }
    double* d() const { return reinterpret_cast<double*>(base + 3 * (size / 4)); }
    unsigned int n() const { return size / 32; }
};

Area AllocArea(unsigned int size)
{
    Area area;
    area.base = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    area.size = area.base ? size : 0;
    if (area.base)
        std::memset(area.base, 0, size);
    return area;
}

void FreeArea(Area& area)
{
    if (area.base)
        VirtualFree(area.base, 0, MEM_RELEASE);
    area.base = nullptr;
}

// --- reference loops ----------------------------------------------------------
// Same loop shape as the kernel (16 indices per step, flag read between passes),
// same three loads and one store per element, but no arithmetic: the L1 ceiling.
// The "with arithmetic" forms add the kernel's multiply and add per vector on
// registers, independent of the loads: what the machine allows for this mix.

typedef unsigned long long (*LoopFn)(const double*, const double*, const double*, double*,
                                     unsigned int);

template <bool kArithmetic>
unsigned long long CopyLoopSse2(const double* a, const double* b, const double* c, double* d,
                                unsigned int n)
{
    __m128d t = _mm_setzero_pd();
    unsigned long long passes = 0;
    do {
        for (unsigned int j = 0; j < n; j += 16) {
            for (unsigned int k = 0; k < 16; k += 2) {
                const __m128d x = _mm_load_pd(a + j + k);
                const __m128d y = _mm_load_pd(b + j + k);
                const __m128d z = _mm_load_pd(c + j + k);
                asm volatile("" : : "x"(y), "x"(z));
                if (kArithmetic) {
                    __m128d u;
                    asm volatile("movapd %1, %0\n\tmulpd %1, %0\n\taddpd %1, %0" : "=&x"(u) : "x"(t));
                }
                _mm_store_pd(d + j + k, x);
            }
        }
        ++passes;
    } while (testRunning != 0);
    return passes;
}

template <bool kArithmetic>
__attribute__((target("avx"))) unsigned long long CopyLoopAvx(const double* a, const double* b,
                                                              const double* c, double* d,
                                                              unsigned int n)
{
    __m256d t = _mm256_setzero_pd();
    unsigned long long passes = 0;
    do {
        for (unsigned int j = 0; j < n; j += 16) {
            for (unsigned int k = 0; k < 16; k += 4) {
                const __m256d x = _mm256_loadu_pd(a + j + k);
                const __m256d y = _mm256_loadu_pd(b + j + k);
                const __m256d z = _mm256_loadu_pd(c + j + k);
                asm volatile("" : : "x"(y), "x"(z));
                if (kArithmetic) {
                    __m256d u;
                    asm volatile("vmulpd %1, %1, %0\n\tvaddpd %1, %0, %0" : "=&x"(u) : "x"(t));
                }
                _mm256_storeu_pd(d + j + k, x);
            }
        }
        ++passes;
    } while (testRunning != 0);
    return passes;
}

template <bool kArithmetic>
__attribute__((target("avx512f"))) unsigned long long CopyLoopAvx512(const double* a,
                                                                    const double* b,
                                                                    const double* c, double* d,
                                                                    unsigned int n)
{
    __m512d t = _mm512_setzero_pd();
    unsigned long long passes = 0;
    do {
        for (unsigned int j = 0; j < n; j += 16) {
            for (unsigned int k = 0; k < 16; k += 8) {
                const __m512d x = _mm512_loadu_pd(a + j + k);
                const __m512d y = _mm512_loadu_pd(b + j + k);
                const __m512d z = _mm512_loadu_pd(c + j + k);
                asm volatile("" : : "v"(y), "v"(z));
                if (kArithmetic) {
                    __m512d u;
                    asm volatile("vmulpd %1, %1, %0\n\tvaddpd %1, %0, %0" : "=&v"(u) : "v"(t));
                }
                _mm512_storeu_pd(d + j + k, x);
            }
        }
        ++passes;
    } while (testRunning != 0);
    return passes;
}

const LoopFn kCopyLoops[kKernelVariantCount] = {CopyLoopSse2<false>, CopyLoopAvx<false>,
                                                CopyLoopAvx512<false>};
const LoopFn kCopyArithmeticLoops[kKernelVariantCount] = {
    CopyLoopSse2<true>, CopyLoopAvx<true>, CopyLoopAvx512<true>};

// The kernel as it was before vector variants: one scalar multiply and add per element.
__attribute__((optimize("no-tree-vectorize"))) unsigned long long ScalarLoop(
    const double* a, const double* b, const double* c, double* d, unsigned int n)
{
    unsigned long long passes = 0;
    do {
        for (unsigned int j = 0; j < n; j += 16) {
            for (unsigned int k = 0; k < 16; ++k) {
                const double product = a[j + k] * b[j + k];
                d[j + k] = product + c[j + k];
            }
        }
        ++passes;
    } while (testRunning != 0);
    return passes;
}

// STREAM's triad as a plain loop: x = y + s * z.
void ReferenceTriad(double* __restrict x, const double* __restrict y, const double* __restrict z,
                    double s, unsigned int n)
{
    for (unsigned int j = 0; j < n; ++j)
        x[j] = y[j] + s * z[j];
}

// --- running a loop for a while -------------------------------------------------

DWORD WINAPI StopAfter(LPVOID parameter)
{
    Sleep(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(parameter)));
    InterlockedExchange(&testRunning, 0);
    return 0;
}

// Elements per time-stamp-counter cycle of one loop on this thread, run for ms.
double ElementsPerCycle(LoopFn loop, const Area& area, DWORD ms)
{
    InterlockedExchange(&testRunning, 1);
    HANDLE stopper = CreateThread(nullptr, 0, StopAfter, reinterpret_cast<LPVOID>(ms), 0, nullptr);
    const unsigned long long c0 = __rdtsc();
    const unsigned long long passes = loop(area.a(), area.b(), area.c(), area.d(), area.n());
    const unsigned long long c1 = __rdtsc();
    WaitForSingleObject(stopper, INFINITE);
    CloseHandle(stopper);
    return static_cast<double>(passes) * area.n() / static_cast<double>(c1 - c0);
}

// --- worker threads as the engine runs them -------------------------------------

struct Worker {
    WorkerArea area;
    unsigned long long passes;
};

// WorkerThreadProc's choices, plus a count of the passes.
__attribute__((force_align_arg_pointer)) DWORD WINAPI CountingWorker(LPVOID parameter)
{
    Worker* worker = static_cast<Worker*>(parameter);
    const Area area = {worker->area.base, worker->area.size};
    const KernelImpl& impl = GetKernelImpl(BestKernelVariant());
    const KernelLoopFn loop = UsesStreamStores(area.base, area.size) ? impl.streamLoop : impl.loop;
    worker->passes = loop(area.a(), area.b(), area.c(), area.d(), area.n());
    return 0;
}

// Total elements per second of `threads` workers on 8192-byte areas.
double WorkersElementsPerSecond(unsigned int threads)
{
    Area block = AllocArea(threads * kSmallAreaBytes);
    Worker workers[kMaxWorkers] = {};
    HANDLE handles[kMaxWorkers] = {};
    for (unsigned int i = 0; i < threads; ++i) {
        workers[i].area.base = block.base + i * kSmallAreaBytes;
        workers[i].area.size = kSmallAreaBytes;
        handles[i] = CreateThread(nullptr, 0, CountingWorker, &workers[i], CREATE_SUSPENDED, nullptr);
    }
    InterlockedExchange(&testRunning, 1);
    const double t0 = Seconds();
    for (unsigned int i = 0; i < threads; ++i)
        ResumeThread(handles[i]);
    Sleep(kScalingRunMs);
    InterlockedExchange(&testRunning, 0);
    const double t1 = Seconds();
    double elements = 0.0;
    for (unsigned int i = 0; i < threads; ++i) {
        WaitForSingleObject(handles[i], INFINITE);
        CloseHandle(handles[i]);
        elements += static_cast<double>(workers[i].passes) * (kSmallAreaBytes / 32);
    }
    FreeArea(block);
    return elements / (t1 - t0);
}

// --- output ---------------------------------------------------------------------

class Table {
public:
    explicit Table(const char* header)
    {
        std::printf("%s\n", header);
        Separator(header);
    }
    // Cells are printf formats with one argument each, joined with " | ".
    static void Separator(const char* header)
    {
        std::printf("|");
        for (const char* p = header; *p; ++p)
            if (*p == '|' && p[1] != '\0')
                std::printf(" --- |");
        std::printf("\n");
    }
};

void Title(const char* text)
{
    std::printf("\n%s\n\n", text);
}

// --- sections -------------------------------------------------------------------

void PrintL1(KernelVariant best)
{
    Area area = AllocArea(kSmallAreaBytes);
    double scalar = 0.0;
    double kernelRate[kKernelVariantCount] = {};
    double copyRate[kKernelVariantCount] = {};
    double mixRate[kKernelVariantCount] = {};
    for (unsigned int r = 0; r < kL1Repeats; ++r) {
        scalar = std::max(scalar, ElementsPerCycle(ScalarLoop, area, kL1RunMs));
        for (int v = 0; v <= best; ++v) {
            const KernelImpl& impl = GetKernelImpl(static_cast<KernelVariant>(v));
            kernelRate[v] = std::max(kernelRate[v], ElementsPerCycle(impl.loop, area, kL1RunMs));
            copyRate[v] = std::max(copyRate[v], ElementsPerCycle(kCopyLoops[v], area, kL1RunMs));
            mixRate[v] =
                std::max(mixRate[v], ElementsPerCycle(kCopyArithmeticLoops[v], area, kL1RunMs));
        }
    }

    char title[160];
    std::snprintf(title, sizeof title,
                  "Kernel throughput per thread, 8192-byte area (L1); best of %u runs of %lu ms",
                  kL1Repeats, static_cast<unsigned long>(kL1RunMs));
    Title(title);
    Table("| loop | elements/cycle | GFLOP/s | L1 ceiling (3 loads + 1 store, no arithmetic) "
          "| kernel / ceiling | ceiling with the arithmetic on registers | kernel / that |");
    const double gflopsPerRate = 2.0 * g_tscPerSecond / 1e9;
    std::printf("| scalar SSE2 loop (the kernel before) | %.3f | %.2f | | | | |\n", scalar,
                scalar * gflopsPerRate);
    for (int v = 0; v <= best; ++v) {
        std::printf("| %s kernel | %.3f | %.2f | %.3f | %.1f%% | %.3f | %.1f%% |\n",
                    GetKernelImpl(static_cast<KernelVariant>(v)).name, kernelRate[v],
                    kernelRate[v] * gflopsPerRate, copyRate[v],
                    100.0 * kernelRate[v] / copyRate[v], mixRate[v],
                    100.0 * kernelRate[v] / mixRate[v]);
    }
    std::printf("\nWidest variant (%s) over the scalar loop: %.2fx. Cycles are time-stamp-counter"
                " cycles (%.3f GHz).\n",
                GetKernelImpl(best).name, kernelRate[best] / scalar, g_tscPerSecond / 1e9);
    FreeArea(area);
}

// Best time of one pass of `pass` over the area.
double BestPassSeconds(KernelPassFn pass, const Area& area, unsigned int repeats)
{
    double best = 1e30;
    for (unsigned int r = 0; r < repeats; ++r) {
        const double t0 = Seconds();
        pass(area.a(), area.b(), area.c(), area.d(), area.n());
        best = std::min(best, Seconds() - t0);
    }
    return best;
}

void PrintStoreChoice(KernelVariant best)
{
    const KernelImpl& impl = GetKernelImpl(best);
    Title("Cached against non-temporal stores by area size, one thread; kernel GB/s "
          "(32 bytes per element: three read, one written)");
    Table("| area | cached stores | non-temporal stores | the worker uses |");
    const unsigned int sizesMB[] = {1, 2, 4, 8, 16, 64};
    for (unsigned int mb : sizesMB) {
        Area area = AllocArea(mb * kMB);
        const unsigned int repeats = std::max(3u, 256u / mb);
        const double cached = BestPassSeconds(impl.pass, area, repeats);
        const double stream = BestPassSeconds(impl.streamPass, area, repeats);
        std::printf("| %u MB | %.2f | %.2f | %s |\n", mb, 32.0 * area.n() / cached / 1e9,
                    32.0 * area.n() / stream / 1e9,
                    UsesStreamStores(area.base, area.size) ? "non-temporal" : "cached");
        FreeArea(area);
    }
}

void PrintSweep(KernelVariant best)
{
    Area area = AllocArea(kSweepBytes);
    const unsigned int n = area.n();
    const KernelImpl& impl = GetKernelImpl(best);
    // Interleaved, so that every loop meets the same conditions.
    double triad = 1e30, setTime = 1e30, cached = 1e30, stream = 1e30;
    for (unsigned int r = 0; r < kSweepRepeats; ++r) {
        double t0 = Seconds();
        ReferenceTriad(area.d(), area.a(), area.b(), 3.0, n);
        triad = std::min(triad, Seconds() - t0);
        cached = std::min(cached, BestPassSeconds(impl.pass, area, 1));
        stream = std::min(stream, BestPassSeconds(impl.streamPass, area, 1));
        t0 = Seconds();
        std::memset(area.base, 0, area.size);
        setTime = std::min(setTime, Seconds() - t0);
    }
    const bool streams = UsesStreamStores(area.base, area.size);
    const double kernel = 32.0 * n / (streams ? stream : cached) / 1e9;
    const double triadRate = 24.0 * n / triad / 1e9;

    char title[200];
    std::snprintf(title, sizeof title,
                  "Memory-test sweep, one %u MB area, one thread, %s kernel; best of %u passes; "
                  "GB/s as STREAM counts (bytes the loop reads and writes; 1 GB = 1e9 bytes)",
                  kSweepBytes / kMB, impl.name, kSweepRepeats);
    Title(title);
    Table("| loop | GB/s | of reference triad |");
    std::printf("| kernel as the worker runs it (%s stores) | %.2f | %.1f%% |\n",
                streams ? "non-temporal" : "cached", kernel, 100.0 * kernel / triadRate);
    std::printf("| kernel, cached stores | %.2f | %.1f%% |\n", 32.0 * n / cached / 1e9,
                100.0 * 32.0 * n / cached / 1e9 / triadRate);
    std::printf("| kernel, non-temporal stores | %.2f | %.1f%% |\n", 32.0 * n / stream / 1e9,
                100.0 * 32.0 * n / stream / 1e9 / triadRate);
    std::printf("| reference triad x = y + s*z (plain loop) | %.2f | 100%% |\n", triadRate);
    std::printf("| memset of the same %u MB | %.2f | |\n", kSweepBytes / kMB,
                area.size / setTime / 1e9);
    FreeArea(area);
}

void PrintScaling()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    char title[160];
    std::snprintf(title, sizeof title,
                  "All workers together, 8192-byte areas, %s kernel; best of %u runs of %lu ms; "
                  "%lu processors",
                  GetKernelImpl(BestKernelVariant()).name, kScalingRepeats,
                  static_cast<unsigned long>(kScalingRunMs),
                  static_cast<unsigned long>(info.dwNumberOfProcessors));
    Title(title);
    Table("| threads | total Gelements/s | GFLOP/s | per thread Gelements/s | over 1 thread |");
    const unsigned int counts[] = {1, 2, 4, 8, 16};
    double one = 0.0;
    for (unsigned int threads : counts) {
        double rate = 0.0;
        for (unsigned int r = 0; r < kScalingRepeats; ++r)
            rate = std::max(rate, WorkersElementsPerSecond(threads));
        if (threads == 1)
            one = rate;
        std::printf("| %u | %.2f | %.1f | %.2f | %.2fx |\n", threads, rate / 1e9, 2.0 * rate / 1e9,
                    rate / threads / 1e9, rate / one);
    }
}

TestConfig EngineConfig(unsigned int threads, unsigned int memoryTest, unsigned int memorySizeMB)
{
    TestConfig config = {};
    config.threadCount = threads;
    config.memoryTest = memoryTest;
    config.memorySizeMB = memorySizeMB;
    config.durationMs = 60000;
    config.logIntervalMs = 1000;
    return config;
}

// The engine's zero fill runs between the commit and the first CreateThread;
// these wrappers around the kernel services note both moments.
double g_commitReturned = 0.0;
double g_firstThreadCreated = 0.0;

LPVOID WINAPI NotingVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    LPVOID result = RealKernelServices().VirtualAlloc(address, size, type, protect);
    if (type & MEM_COMMIT)
        g_commitReturned = Seconds();
    return result;
}

HANDLE WINAPI NotingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 LPDWORD threadId)
{
    if (g_firstThreadCreated == 0.0)
        g_firstThreadCreated = Seconds();
    return RealKernelServices().CreateThread(security, stackSize, start, parameter, flags,
                                             threadId);
}

void PrintZeroFill()
{
    const unsigned int sizeMB = 256;
    const double bytes = static_cast<double>(sizeMB) * kMB;
    double engineFill = 1e30, fresh = 1e30, resident = 1e30;
    for (unsigned int r = 0; r < 3; ++r) {
        // The engine: a memory-test start with one worker.
        CTestEngine engine;
        engine.SetConfig(EngineConfig(1, 1, sizeMB));
        g_commitReturned = g_firstThreadCreated = 0.0;
        g_kernel.VirtualAlloc = NotingVirtualAlloc;
        g_kernel.CreateThread = NotingCreateThread;
        const HRESULT status = engine.StartTest();
        g_kernel = RealKernelServices();
        engine.StopTest();
        if (status == S_OK)
            engineFill = std::min(engineFill, g_firstThreadCreated - g_commitReturned);

        // memset on a block just committed, then on the same block once resident.
        void* block = VirtualAlloc(nullptr, sizeMB * kMB, MEM_RESERVE, PAGE_READWRITE);
        block = VirtualAlloc(block, sizeMB * kMB, MEM_COMMIT, PAGE_READWRITE);
        const double t0 = Seconds();
        std::memset(block, 0, sizeMB * kMB);
        const double t1 = Seconds();
        fresh = std::min(fresh, t1 - t0);
        std::memset(block, 0, sizeMB * kMB);
        resident = std::min(resident, Seconds() - t1);
        VirtualFree(block, sizeMB * kMB, MEM_DECOMMIT);
        VirtualFree(block, 0, MEM_RELEASE);
    }
    char title[160];
    std::snprintf(title, sizeof title, "Zero fill of a %u MB block, best of 3", sizeMB);
    Title(title);
    Table("| fill | ms | GB/s | of memset on a fresh block |");
    std::printf("| the engine's fill in StartTest (commit to first worker created) | %.1f | %.2f "
                "| %.1f%% |\n",
                engineFill * 1e3, bytes / engineFill / 1e9, 100.0 * fresh / engineFill);
    std::printf("| memset of a freshly committed block | %.1f | %.2f | 100%% |\n", fresh * 1e3,
                bytes / fresh / 1e9);
    std::printf("| memset of the same block once resident | %.1f | %.2f | |\n", resident * 1e3,
                bytes / resident / 1e9);
}

struct StopFigures {
    double worst;
    double median;
    double release;
};

// From clearing the flag to the last worker ended, with the engine's own workers.
StopFigures MeasureStop(unsigned int threads, unsigned int memoryTest, unsigned int memorySizeMB,
                        unsigned int repeats, unsigned int* blockMB)
{
    double times[kStopRepeats] = {};
    double release = 0.0;
    unsigned int done = 0;
    for (unsigned int r = 0; r < repeats; ++r) {
        CTestEngine engine;
        engine.SetConfig(EngineConfig(threads, memoryTest, memorySizeMB));
        if (engine.StartTest() != S_OK) {
            engine.StopTest();
            continue;
        }
        *blockMB = memoryTest ? engine.config.memorySizeMB : 0;
        Sleep(300);   // every worker well inside its passes
        const double t0 = Seconds();
        InterlockedExchange(&testRunning, 0);
        for (unsigned int i = 0; i < threads; ++i)
            WaitForSingleObject(workerThreads[i], INFINITE);
        const double t1 = Seconds();
        engine.StopTest();   // closes the handles, releases the block
        release = std::max(release, Seconds() - t1);
        times[done++] = t1 - t0;
    }
    StopFigures figures = {0.0, 0.0, release};
    if (done) {
        for (unsigned int i = 1; i < done; ++i)   // insertion sort, a handful of values
            for (unsigned int j = i; j > 0 && times[j - 1] > times[j]; --j)
                std::swap(times[j - 1], times[j]);
        figures.worst = times[done - 1];
        figures.median = times[done / 2];
    }
    return figures;
}

void PrintStop()
{
    Title("Stop: from clearing testRunning to the last worker ended (engine workers; "
          "workers ran 300 ms first)");
    Table("| workers | memory test | runs | worst ms | median ms | then StopTest (release, log) ms |");
    struct Case {
        unsigned int threads, memoryTest, memorySizeMB, repeats;
    };
    const Case cases[] = {{16, 0, 0, kStopRepeats},
                          {16, 1, 256, kStopRepeats},
                          {16, 1, 1024, 3},
                          {1, 1, 256, 3}};
    for (const Case& c : cases) {
        unsigned int blockMB = 0;
        const StopFigures f = MeasureStop(c.threads, c.memoryTest, c.memorySizeMB, c.repeats, &blockMB);
        char memory[32];
        if (c.memoryTest)
            std::snprintf(memory, sizeof memory, "%u MB", blockMB);
        else
            std::snprintf(memory, sizeof memory, "off");
        std::printf("| %u | %s | %u | %.1f | %.1f | %.1f |\n", c.threads, memory, c.repeats,
                    f.worst * 1e3, f.median * 1e3, f.release * 1e3);
    }
}

void PrintProbes()
{
    Title("Cost of one probe measurement, idle machine (mean and worst of consecutive calls)");
    Table("| probe | calls | mean ms | worst ms |");
    double value = 0.0;
    MeasureCpuLoad(&value);
    struct Probe {
        const char* name;
        int (*measure)(double*);
        unsigned int calls;
    };
    const Probe probes[] = {{"MeasureCpuFrequency", MeasureCpuFrequency, kFrequencyProbeCalls},
                            {"MeasureCpuLoad", MeasureCpuLoad, kLoadProbeCalls}};
    for (const Probe& probe : probes) {
        double total = 0.0, worst = 0.0;
        for (unsigned int i = 0; i < probe.calls; ++i) {
            const double t0 = Seconds();
            probe.measure(&value);
            const double cost = Seconds() - t0;
            total += cost;
            worst = std::max(worst, cost);
        }
        std::printf("| %s | %u | %.3f | %.3f |\n", probe.name, probe.calls,
                    total * 1e3 / probe.calls, worst * 1e3);
    }
}

} // namespace

int main()
{
    // The engine writes its log to the current directory; keep it out of the tree.
    char temp[MAX_PATH];
    if (GetTempPathA(sizeof temp, temp))
        SetCurrentDirectoryA(temp);

    CalibrateClocks();
    const KernelVariant best = BestKernelVariant();
    std::printf("Worker kernel benchmark. Time-stamp counter %.3f GHz; widest kernel variant "
                "here: %s\n",
                g_tscPerSecond / 1e9, GetKernelImpl(best).name);
    PrintL1(best);
    PrintStoreChoice(best);
    PrintSweep(best);
    PrintScaling();
    PrintZeroFill();
    PrintStop();
    PrintProbes();
    return 0;
}
