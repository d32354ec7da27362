// Worker kernel benchmark: prints tables of figures, each next to the reference
// it is measured against in the same run. Nothing here passes or fails.
//
//   bash scripts/test.sh (builds it), then
//       scripts/wine-run build/bench/kernel_bench.exe  (or scripts/wine64-run build64/...)
//
// Arguments name the sections to run (l1 sweep refill scaling fill stop classes); none: all.
//
// Single-thread figures are the best of several short runs, so that a run that
// shared its processor with something else does not count; the L1 figures are the
// best of many batches of a few microseconds, which a busy machine rarely interrupts.
#include <windows.h>

#include <immintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/AreaFill.h"
#include "kernel/KernelServices.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "probes/ProcessorBrand.h"
#include "probes/CpuFrequency.h"
#include "StampRate.h"

namespace {

const unsigned int kMB = 1u << 20;
const unsigned int kL1Repeats = 15;       // best of, for the L1 figures
const DWORD kL1RunMs = 40;                // one L1 measurement
const unsigned int kBatchPasses = 64;     // one timed batch of L1 passes
const unsigned int kSweepRepeats = 9;     // best of, for the bandwidth figures
const unsigned int kSweepBytes = 256 * kMB;
const DWORD kScalingRunMs = 500;          // one multi-thread measurement
const unsigned int kScalingRepeats = 3;   // best of
const unsigned int kStopRepeats = 5;

// --- clocks -----------------------------------------------------------------

double g_qpcPerSecond = 0.0;
double g_tscPerSecond = 0.0;
double g_coreHz = 0.0;   // this thread's core clock while it runs

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
    g_tscPerSecond = StampRate();
}

// The core clock with this thread busy, as the frequency probe measures it (the
// fastest of a few): what a kernel loop on this thread runs at.
double CoreClockHz()
{
    double best = 0.0;
    for (int i = 0; i < 10; ++i) {
        double hz = 0.0;
        if (MeasureCpuFrequency(&hz))
            best = std::max(best, hz);
    }
    return best;
}

// The processor this ran on, for every table.
const char* BrandForTables()
{
    static const std::string brand = ProcessorBrand().empty() ? "unknown processor" : ProcessorBrand();
    return brand.c_str();
}

// --- areas ------------------------------------------------------------------

// A committed area laid out and filled as the engine lays out and fills a worker's.
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
        FillWorkerArea(area.base, size, 0);
    return area;
}

void FreeArea(Area& area)
{
    if (area.base)
        VirtualFree(area.base, 0, MEM_RELEASE);
    area.base = nullptr;
}

// --- reference loops ----------------------------------------------------------
// Every loop has the kernel's shape: 16 indices per step, the flag read between
// passes. The ceiling makes the verified kernel's loads (a, b, c and the old d)
// and its store, without the arithmetic and the checks. "Unverified" is the kernel
// before verification: three loads, a multiply, an add and a store.

// Passes after which every loop returns, as KernelState::passLimit; 0: no limit.
unsigned long long g_passLimit = 0;

typedef unsigned long long (*LoopFn)(const double*, const double*, const double*, double*,
                                     unsigned int);

#define BENCH_LOOPS(suffix, isa, Reg, lanes, load, store, stream, mul, add, keep)           \
    template <bool kStream>                                                                     \
    __attribute__((target(isa))) unsigned long long Ceiling##suffix(                        \
        const double* a, const double* b, const double* c, double* d, unsigned int n)          \
    {                                                                                           \
        unsigned long long passes = 0;                                                          \
        do {                                                                                    \
            for (unsigned int j = 0; j < n; j += 16) {                                          \
                for (unsigned int k = 0; k < 16; k += lanes) {                                  \
                    const Reg x = load(a + j + k);                                              \
                    const Reg y = load(b + j + k);                                              \
                    const Reg z = load(c + j + k);                                              \
                    const Reg o = load(d + j + k);                                              \
                    asm volatile("" : : keep(y), keep(z), keep(o));                             \
                    if (kStream)                                                                \
                        stream(d + j + k, x);                                                   \
                    else                                                                        \
                        store(d + j + k, x);                                                    \
                }                                                                               \
            }                                                                                   \
            if (kStream)                                                                        \
                _mm_sfence();                                                                   \
            ++passes;                                                                           \
        } while (testRunning != 0 && passes != g_passLimit);                                    \
        return passes;                                                                          \
    }                                                                                           \
    template <bool kStream>                                                                     \
    __attribute__((target(isa))) unsigned long long Unverified##suffix(                     \
        const double* a, const double* b, const double* c, double* d, unsigned int n)          \
    {                                                                                           \
        unsigned long long passes = 0;                                                          \
        do {                                                                                    \
            for (unsigned int j = 0; j < n; j += 16) {                                          \
                for (unsigned int k = 0; k < 16; k += lanes) {                                  \
                    const Reg r = add(mul(load(a + j + k), load(b + j + k)), load(c + j + k)); \
                    if (kStream)                                                                \
                        stream(d + j + k, r);                                                   \
                    else                                                                        \
                        store(d + j + k, r);                                                    \
                }                                                                               \
            }                                                                                   \
            if (kStream)                                                                        \
                _mm_sfence();                                                                   \
            ++passes;                                                                           \
        } while (testRunning != 0 && passes != g_passLimit);                                    \
        return passes;                                                                          \
    }

#define KEEP_XMM(v) "x"(v)
#define KEEP_ZMM(v) "v"(v)
BENCH_LOOPS(Sse2, "sse2", __m128d, 2, _mm_loadu_pd, _mm_storeu_pd, _mm_stream_pd, _mm_mul_pd,
            _mm_add_pd, KEEP_XMM)
BENCH_LOOPS(Avx, "avx", __m256d, 4, _mm256_loadu_pd, _mm256_storeu_pd, _mm256_stream_pd,
            _mm256_mul_pd, _mm256_add_pd, KEEP_XMM)
BENCH_LOOPS(Avx512, "avx512f", __m512d, 8, _mm512_loadu_pd, _mm512_storeu_pd, _mm512_stream_pd,
            _mm512_mul_pd, _mm512_add_pd, KEEP_ZMM)

struct ReferenceLoops {
    LoopFn ceiling, ceilingStream, unverified, unverifiedStream;
};
const ReferenceLoops kReference[kKernelVariantCount] = {
    {CeilingSse2<false>, CeilingSse2<true>, UnverifiedSse2<false>, UnverifiedSse2<true>},
    {CeilingAvx<false>, CeilingAvx<true>, UnverifiedAvx<false>, UnverifiedAvx<true>},
    {CeilingAvx512<false>, CeilingAvx512<true>, UnverifiedAvx512<false>, UnverifiedAvx512<true>},
};

// Verified passes until the flag is cleared; the number of passes. (An error
// ends a kernel loop early; there are none here.)
unsigned long long RunVerified(KernelLoopFn loop, const double* a, const double* b, const double* c,
                               double* d, unsigned int n)
{
    KernelState state = {};
    state.passLimit = g_passLimit;
    while (loop(a, b, c, d, n, &state) != kCheckClean && testRunning != 0) {
    }
    return state.passes;
}

// The verified kernel's loop in the reference loops' form.
KernelLoopFn g_verified;
unsigned long long VerifiedLoop(const double* a, const double* b, const double* c, double* d,
                                unsigned int n)
{
    return RunVerified(g_verified, a, b, c, d, n);
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

// Elements per second over the area of run() (which returns the passes it made)
// on this thread, with testRunning cleared after ms.
template <class Run>
double ElementsPerSecond(const Area& area, DWORD ms, Run run)
{
    InterlockedExchange(&testRunning, 1);
    HANDLE stopper = CreateThread(nullptr, 0, StopAfter, reinterpret_cast<LPVOID>(ms), 0, nullptr);
    const double t0 = Seconds();
    const unsigned long long passes = run();
    const double seconds = Seconds() - t0;
    WaitForSingleObject(stopper, INFINITE);
    CloseHandle(stopper);
    return static_cast<double>(passes) * area.n() / seconds;
}

// Elements per core cycle of one loop on this thread, the best of batches of
// kBatchPasses passes run for ms: elements per time-stamp tick of the fastest
// batch, over the core clock measured right after the loop, still at its clock.
double ElementsPerCycle(LoopFn loop, const Area& area, DWORD ms)
{
    InterlockedExchange(&testRunning, 1);
    g_passLimit = kBatchPasses;
    unsigned long long best = ~0ull;
    const double end = Seconds() + ms / 1e3;
    do {
        const unsigned long long t0 = __rdtsc();
        loop(area.a(), area.b(), area.c(), area.d(), area.n());
        best = std::min(best, __rdtsc() - t0);
    } while (Seconds() < end);
    g_passLimit = 0;
    g_coreHz = CoreClockHz();
    return static_cast<double>(kBatchPasses) * area.n() * g_tscPerSecond / static_cast<double>(best) / g_coreHz;
}

// Best time of one pass of `loop` over the area (the flag is clear: one pass).
double BestPassSeconds(LoopFn loop, const Area& area, unsigned int repeats)
{
    InterlockedExchange(&testRunning, 0);
    double best = 1e30;
    for (unsigned int r = 0; r < repeats; ++r) {
        const double t0 = Seconds();
        loop(area.a(), area.b(), area.c(), area.d(), area.n());
        best = std::min(best, Seconds() - t0);
    }
    return best;
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
    const Area area = {worker->area.base, static_cast<unsigned int>(worker->area.size)};
    worker->passes = RunVerified(GetKernelImpl(BestKernelVariant()).loop, area.a(), area.b(),
                                 area.c(), area.d(), area.n());
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
        FillWorkerArea(workers[i].area.base, kSmallAreaBytes, i);
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

void Title(const char* text)
{
    std::printf("\n%s\n\n", text);
}

// Prints a table header and its Markdown separator row.
void Header(const char* header)
{
    std::printf("%s\n|", header);
    for (const char* p = header; *p; ++p)
        if (*p == '|' && p[1] != '\0')
            std::printf(" --- |");
    std::printf("\n");
}

// --- sections -------------------------------------------------------------------

void PrintL1(KernelVariant best)
{
    Area area = AllocArea(kSmallAreaBytes);
    double verified[kKernelVariantCount] = {};
    double ceiling[kKernelVariantCount] = {};
    double unverified[kKernelVariantCount] = {};
    for (unsigned int r = 0; r < kL1Repeats; ++r) {
        for (int v = 0; v <= best; ++v) {
            g_verified = GetKernelImpl(static_cast<KernelVariant>(v)).loop;
            verified[v] = std::max(verified[v], ElementsPerCycle(VerifiedLoop, area, kL1RunMs));
            ceiling[v] = std::max(ceiling[v], ElementsPerCycle(kReference[v].ceiling, area, kL1RunMs));
            unverified[v] =
                std::max(unverified[v], ElementsPerCycle(kReference[v].unverified, area, kL1RunMs));
        }
    }

    char title[260];
    std::snprintf(title, sizeof title,
                  "Kernel throughput per thread, 8192-byte area (L1), %s; elements per cycle, "
                  "the best batch of %u passes over %u runs of %lu ms",
                  BrandForTables(), kBatchPasses, kL1Repeats, static_cast<unsigned long>(kL1RunMs));
    Title(title);
    Header("| variant | verified kernel | GFLOP/s | ceiling (4 loads + 1 store, no arithmetic) "
           "| verified / ceiling | unverified kernel (3 loads, mul, add, store) "
           "| verified / unverified |");
    const double gflopsPerRate = 2.0 * g_coreHz / 1e9;
    for (int v = 0; v <= best; ++v) {
        std::printf("| %s | %.3f | %.2f | %.3f | %.1f%% | %.3f | %.1f%% |\n",
                    GetKernelImpl(static_cast<KernelVariant>(v)).name, verified[v],
                    verified[v] * gflopsPerRate, ceiling[v], 100.0 * verified[v] / ceiling[v],
                    unverified[v], 100.0 * verified[v] / unverified[v]);
    }
    std::printf("\nCycles are core cycles, the clock measured by the frequency probe after each loop "
                "(last %.3f GHz; the time-stamp counter runs at %.3f GHz).\n",
                g_coreHz / 1e9, g_tscPerSecond / 1e9);
    FreeArea(area);
}

void PrintSweep(KernelVariant best)
{
    Area area = AllocArea(kSweepBytes);
    const unsigned int n = area.n();
    const KernelImpl& impl = GetKernelImpl(best);
    const ReferenceLoops& reference = kReference[best];
    g_verified = impl.loop;
    // Interleaved, so that every loop meets the same conditions.
    double triad = 1e30, verified = 1e30, ceiling = 1e30, ceilingStream = 1e30, unverified = 1e30;
    for (unsigned int r = 0; r < kSweepRepeats; ++r) {
        const double t0 = Seconds();
        ReferenceTriad(area.d(), area.a(), area.b(), 3.0, n);
        triad = std::min(triad, Seconds() - t0);
        FillWorkerArea(area.base, area.size, 0);   // the kernel's d again
        verified = std::min(verified, BestPassSeconds(VerifiedLoop, area, 1));
        ceiling = std::min(ceiling, BestPassSeconds(reference.ceiling, area, 1));
        ceilingStream = std::min(ceilingStream, BestPassSeconds(reference.ceilingStream, area, 1));
        unverified = std::min(unverified, BestPassSeconds(reference.unverifiedStream, area, 1));
    }
    const double perPass = static_cast<double>(n);
    char title[300];
    std::snprintf(title, sizeof title,
                  "Memory-test sweep, one %u MB area, one thread, %s, %s; best of %u passes; "
                  "elements per ns and GB/s as STREAM counts (bytes the loop reads and writes)",
                  kSweepBytes / kMB, impl.name, BrandForTables(), kSweepRepeats);
    Title(title);
    Header("| loop | elements/ns | GB/s | of the ceiling |");
    std::printf("| verified kernel (4 reads, 1 write) | %.3f | %.2f | %.1f%% |\n",
                perPass / verified / 1e9, 40.0 * perPass / verified / 1e9,
                100.0 * ceiling / verified);
    std::printf("| ceiling: the same loads and stores, no arithmetic | %.3f | %.2f | 100%% |\n",
                perPass / ceiling / 1e9, 40.0 * perPass / ceiling / 1e9);
    std::printf("| the ceiling with non-temporal stores | %.3f | %.2f | %.1f%% |\n",
                perPass / ceilingStream / 1e9, 40.0 * perPass / ceilingStream / 1e9,
                100.0 * ceiling / ceilingStream);
    std::printf("| unverified kernel as before (non-temporal stores; 3 reads, 1 write) | %.3f | %.2f | |\n",
                perPass / unverified / 1e9, 32.0 * perPass / unverified / 1e9);
    std::printf("| reference triad x = y + s*z (plain loop) | %.3f | %.2f | |\n",
                perPass / triad / 1e9, 24.0 * perPass / triad / 1e9);
    FreeArea(area);
}

void PrintScaling()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    char title[160];
    std::snprintf(title, sizeof title,
                  "All workers together, 8192-byte areas, verified %s kernel; best of %u runs of "
                  "%lu ms; %lu processors",
                  GetKernelImpl(BestKernelVariant()).name, kScalingRepeats,
                  static_cast<unsigned long>(kScalingRunMs),
                  static_cast<unsigned long>(info.dwNumberOfProcessors));
    Title(title);
    Header("| threads | total Gelements/s | GFLOP/s | per thread Gelements/s | over 1 thread |");
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

// The engine fills its areas (CTestEngine::FillAreas, on fill threads) after it
// has made its workers suspended and before it resumes the first; these wrappers
// around the kernel services note both moments.
double g_lastWorkerCreated = 0.0;
double g_firstWorkerResumed = 0.0;

HANDLE WINAPI NotingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 LPDWORD threadId)
{
    const HANDLE thread = RealKernelServices().CreateThread(security, stackSize, start, parameter,
                                                            flags, threadId);
    if (start == WorkerThreadProc)
        g_lastWorkerCreated = Seconds();
    return thread;
}

DWORD WINAPI NotingResumeThread(HANDLE thread)
{
    if (g_firstWorkerResumed == 0.0)
        g_firstWorkerResumed = Seconds();
    return RealKernelServices().ResumeThread(thread);
}

void PrintFill()
{
    const unsigned int sizeMB = 256;
    const double bytes = static_cast<double>(sizeMB) * kMB;
    double engineFill = 1e30, fresh = 1e30, resident = 1e30, residentFill = 1e30;
    for (unsigned int r = 0; r < 3; ++r) {
        // The engine: a memory-test start with one worker.
        CTestEngine engine;
        engine.SetConfig(EngineConfig(1, 1, sizeMB));
        g_lastWorkerCreated = g_firstWorkerResumed = 0.0;
        g_kernel.CreateThread = NotingCreateThread;
        g_kernel.ResumeThread = NotingResumeThread;
        const HRESULT status = engine.StartTest();
        g_kernel = RealKernelServices();
        engine.StopTest();
        if (status == S_OK)
            engineFill = std::min(engineFill, g_firstWorkerResumed - g_lastWorkerCreated);

        // memset on a block just committed, then memset and the fill once it is resident.
        void* block = VirtualAlloc(nullptr, sizeMB * kMB, MEM_RESERVE, PAGE_READWRITE);
        block = VirtualAlloc(block, sizeMB * kMB, MEM_COMMIT, PAGE_READWRITE);
        double t0 = Seconds();
        std::memset(block, 0, sizeMB * kMB);
        double t1 = Seconds();
        fresh = std::min(fresh, t1 - t0);
        std::memset(block, 0, sizeMB * kMB);
        t0 = Seconds();
        resident = std::min(resident, t0 - t1);
        FillWorkerArea(static_cast<unsigned char*>(block), sizeMB * kMB, 0);
        residentFill = std::min(residentFill, Seconds() - t0);
        VirtualFree(block, sizeMB * kMB, MEM_DECOMMIT);
        VirtualFree(block, 0, MEM_RELEASE);
    }
    char title[160];
    std::snprintf(title, sizeof title, "Pattern fill of a %u MB block against memset, best of 3",
                  sizeMB);
    Title(title);
    Header("| fill | ms | GB/s | of memset in the same state |");
    std::printf("| the engine's fill (FillAreas on fill threads, from the last worker made to the "
                "first resumed) | %.1f | %.2f | %.1f%% |\n",
                engineFill * 1e3, bytes / engineFill / 1e9, 100.0 * fresh / engineFill);
    std::printf("| memset of a freshly committed block | %.1f | %.2f | 100%% |\n", fresh * 1e3,
                bytes / fresh / 1e9);
    std::printf("| pattern fill of a resident block | %.1f | %.2f | %.1f%% |\n",
                residentFill * 1e3, bytes / residentFill / 1e9, 100.0 * resident / residentFill);
    std::printf("| memset of a resident block | %.1f | %.2f | 100%% |\n", resident * 1e3,
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
    Header("| workers | memory test | runs | worst ms | median ms | then StopTest (release, log) ms |");
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


// --- refills ----------------------------------------------------------------------

// The verified kernel with its refills against the verified kernel alone, each run
// long enough for several refills, interleaved; and the two refills timed alone,
// which give the share of time they take at their spacing (RunWorkerArea).
void PrintRefillCost(KernelVariant best)
{
    const KernelLoopFn loop = GetKernelImpl(best).loop;
    Title("Refills: the verified kernel with its refills (every 800 ms or more, alternately the "
          "inputs' complement and a new pattern) against the verified kernel alone, one thread");
    Header("| area | runs | alone Gelements/s | with refills Gelements/s | cost | complement ms "
           "| new pattern ms | refill share at its spacing (800 ms and 20 times its own time) |");
    const struct {
        unsigned int bytes, runs;
        DWORD ms;
    } cases[] = {{kSmallAreaBytes, 3, 2500}, {kSweepBytes, 3, 3300}};
    for (const auto& c : cases) {
        Area area = AllocArea(c.bytes);
        KernelState state = {};
        WorkerArea worker = {area.base, area.size, nullptr, 0, FillWorkerArea(area.base, area.size, 0), nullptr};
        double alone = 0.0, refilled = 0.0, complement = 1e30, fresh = 1e30;
        for (unsigned int r = 0; r < c.runs; ++r) {
            alone = std::max(alone, ElementsPerSecond(area, c.ms, [&] {
                return RunVerified(loop, area.a(), area.b(), area.c(), area.d(), area.n());
            }));
            refilled = std::max(refilled, ElementsPerSecond(area, c.ms, [&] { return RunWorkerArea(&worker, loop); }));
            for (unsigned int refill = 1; refill <= 2; ++refill) {
                const double t0 = Seconds();
                RefillWorkerArea(&worker, refill + 2 * r, &state);
                (refill == 1 ? complement : fresh) = std::min(refill == 1 ? complement : fresh, Seconds() - t0);
            }
        }
        const double mean = (complement + fresh) / 2.0;
        char size[32];
        std::snprintf(size, sizeof size, c.bytes < kMB ? "%u bytes" : "%u MB", c.bytes < kMB ? c.bytes : c.bytes / kMB);
        std::printf("| %s | %u of %lu ms | %.3f | %.3f | %.1f%% | %.3f | %.3f | %.2f%% |\n", size, c.runs,
                    static_cast<unsigned long>(c.ms), alone / 1e9, refilled / 1e9, 100.0 * (1.0 - refilled / alone),
                    complement * 1e3, fresh * 1e3, 100.0 * mean / (mean + std::max(kRefillMs / 1e3, kRefillShare * mean)));
        FreeArea(area);
    }
    if (failedWorkerArea)
        std::printf("\nA worker area reported an error.\n");
}

} // namespace

#include "ClassBench.h"

int main(int argc, char** argv)
{
    // The engine writes its log to the current directory; keep it out of the tree.
    char temp[MAX_PATH];
    if (GetTempPathA(sizeof temp, temp))
        SetCurrentDirectoryA(temp);

    auto wanted = [&](const char* section) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], section) == 0)
                return true;
        return false;
    };

    CalibrateClocks();
    const KernelVariant best = BestKernelVariant();
    std::printf("Worker kernel benchmark on %s. Time-stamp counter %.3f GHz; widest kernel "
                "variant here: %s\n",
                BrandForTables(), g_tscPerSecond / 1e9, GetKernelImpl(best).name);
    if (wanted("l1"))
        PrintL1(best);
    if (wanted("sweep"))
        PrintSweep(best);
    if (wanted("refill"))
        PrintRefillCost(best);
    if (wanted("scaling"))
        PrintScaling();
    if (wanted("fill"))
        PrintFill();
    if (wanted("stop"))
        PrintStop();
    if (wanted("classes"))
        PrintClasses();
    return 0;
}
