// Placement benchmark: one worker per usable logical processor, each tied to its
// processor in placement order, against the same workers floating, alternated in
// one run. Prints the elements per second of all workers together and the
// slowest worker's share; nothing here passes or fails.
//
//   scripts/wine64-run build64/bench/placement_bench.exe   (or scripts/wine-run build/...)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/AreaFill.h"
#include "engine/ProcessorTopology.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"

namespace {

const unsigned int kMB = 1u << 20;
const DWORD kRunMs = 1000;         // one measurement
const unsigned int kRounds = 7;    // of each kind, alternated; the median counts
const unsigned long long kPassesPerCheck = 16;

volatile LONG g_stop = 0;

struct Worker {
    WorkerArea area;
    unsigned long long passes;
};

__attribute__((force_align_arg_pointer)) DWORD WINAPI CountingWorker(LPVOID parameter)
{
    Worker* worker = static_cast<Worker*>(parameter);
    const KernelLoopFn loop = GetKernelImpl(BestKernelVariant()).loop;
    unsigned char* const base = worker->area.base;
    const unsigned int size = worker->area.size;
    KernelState state = {};
    while (g_stop == 0) {
        state.passLimit = state.passes + kPassesPerCheck;
        loop(reinterpret_cast<const double*>(base), reinterpret_cast<const double*>(base + size / 4),
             reinterpret_cast<const double*>(base + size / 2), reinterpret_cast<double*>(base + 3 * (size / 4)),
             size / 32, &state);
    }
    worker->passes = state.passes;
    return 0;
}

struct Figures {
    double elementsPerSecond;
    double slowestShare;   // slowest worker's passes against the mean
};

Figures Measure(std::vector<Worker>& workers, const ProcessorTopology& topology, bool tied)
{
    const unsigned int count = static_cast<unsigned int>(workers.size());
    std::vector<HANDLE> handles(count);
    for (unsigned int i = 0; i < count; ++i) {
        workers[i].passes = 0;
        handles[i] = CreateThread(nullptr, 0, CountingWorker, &workers[i], CREATE_SUSPENDED, nullptr);
        if (tied) {
            GROUP_AFFINITY affinity = {};
            affinity.Group = topology.order[i].processor.Group;
            affinity.Mask = static_cast<KAFFINITY>(1) << topology.order[i].processor.Number;
            SetThreadGroupAffinity(handles[i], &affinity, nullptr);
        }
    }
    InterlockedExchange(&g_stop, 0);
    InterlockedExchange(&testRunning, 1);
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    for (HANDLE handle : handles)
        ResumeThread(handle);
    Sleep(kRunMs);
    InterlockedExchange(&g_stop, 1);
    for (HANDLE handle : handles) {
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
    }
    QueryPerformanceCounter(&t1);
    InterlockedExchange(&testRunning, 0);
    double total = 0.0, slowest = 1e300;
    for (const Worker& w : workers) {
        total += static_cast<double>(w.passes);
        slowest = std::min(slowest, static_cast<double>(w.passes));
    }
    const double seconds = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart);
    return {total * (workers[0].area.size / 32) / seconds, total > 0 ? slowest * count / total : 0.0};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    static ProcessorTopology topology;
    if (!ReadProcessorTopology(&topology, kNarrowProgram)) {
        std::printf("The system reports no processor topology: nothing to compare.\n");
        return 1;
    }
    const unsigned int count = topology.usableCount;
    std::printf("Placement benchmark: %u workers (every usable logical processor of %u, %u cores), %s kernel;\n"
                "%u rounds of %lu ms each, tied and floating alternated; medians.\n\n",
                count, topology.machineProcessors, topology.machineCores, GetKernelImpl(BestKernelVariant()).name,
                kRounds, static_cast<unsigned long>(kRunMs));
    std::printf("| area per worker | tied, G elements/s | floating, G elements/s | tied / floating | "
                "slowest worker's share, tied | floating |\n|---|---|---|---|---|---|\n");
    const unsigned int sizes[] = {kSmallAreaBytes, 16 * kMB};
    for (unsigned int size : sizes) {
        unsigned char* block = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, static_cast<SIZE_T>(size) * count, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!block) {
            std::printf("| %u bytes | no memory | | | | |\n", size);
            continue;
        }
        std::vector<Worker> workers(count);
        for (unsigned int i = 0; i < count; ++i) {
            workers[i].area.base = block + static_cast<SIZE_T>(i) * size;
            workers[i].area.size = size;
            FillWorkerArea(workers[i].area.base, size, i);
        }
        std::vector<double> rate[2], share[2];
        for (unsigned int r = 0; r < 2 * kRounds; ++r) {
            const bool tied = r % 2 == 0;
            const Figures f = Measure(workers, topology, tied);
            rate[tied].push_back(f.elementsPerSecond);
            share[tied].push_back(f.slowestShare);
        }
        char label[32];
        std::snprintf(label, sizeof label, size < kMB ? "%u bytes" : "%u MB", size < kMB ? size : size / kMB);
        std::printf("| %s | %.3f | %.3f | %.3f | %.2f | %.2f |\n", label, Median(rate[1]) / 1e9,
                    Median(rate[0]) / 1e9, Median(rate[1]) / Median(rate[0]), Median(share[1]), Median(share[0]));
        VirtualFree(block, 0, MEM_RELEASE);
    }
    return 0;
}
