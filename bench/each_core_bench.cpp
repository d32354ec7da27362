// Each core in turn against every core at once: the clock of one loaded core (the
// turn's worker measures it on its core, as the run logs it) against the clock of
// a core while a worker loads every logical processor (measured as the run logs
// it), alternated in one run; then the time from one turn to the next. Prints
// figures; nothing here passes or fails.
//
//   scripts/wine64-run build64/bench/each_core_bench.exe [switches]   (or scripts/wine-run build/...)
//   switches: the time from one turn to the next only
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/ProcessorTopology.h"
#include "engine/TestEngine.h"
#include "kernel/KernelServices.h"
#include "probes/CpuFrequency.h"
#include "probes/ProcessorBrand.h"
#include "support/Support.h"

namespace {

const unsigned int kRounds = 5;         // of each kind, alternated
const DWORD kSettleMs = 1500;           // load before the first figure of a round
const unsigned int kFigures = 5;        // per round, one a second apart
const unsigned int kSwitches = 20;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

TestConfig Config(unsigned int threads, unsigned int eachCore, unsigned int durationMs)
{
    TestConfig config = {};
    config.threadCount = threads;
    config.durationMs = durationMs;
    config.logIntervalMs = 1000;
    config.eachCore = eachCore;
    return config;
}

// One round's clock figures in MHz: the turn's worker's, or this thread's under a full load.
std::vector<double> Round(CTestEngine& engine, bool oneCore)
{
    const unsigned int all = UsableProcessorCount();
    engine.SetConfig(Config(oneCore ? 1 : all, oneCore, 600000));
    std::vector<double> figures;
    if (FAILED(engine.StartTest()))
        return figures;
    Sleep(kSettleMs);
    for (unsigned int i = 0; i < kFigures; ++i) {
        double hz = 0.0;
        if (oneCore)
            hz = turnClockKHz * 1000.0;
        else
            MeasureCpuFrequency(&hz);
        if (hz > 0.0)
            figures.push_back(hz * 1e-6);
        Sleep(1000);
    }
    engine.StopTest();
    return figures;
}

LONGLONG g_skipped = 0;
BOOL WINAPI SkippingCounter(LARGE_INTEGER* count)
{
    const BOOL read = RealKernelServices().QueryPerformanceCounter(count);
    count->QuadPart += g_skipped;
    return read;
}

} // namespace

int main(int argc, char** argv)
{
    const bool switchesOnly = argc > 1 && std::strcmp(argv[1], "switches") == 0;
    TestDirectory dir;   // the engine's log goes there
    static CTestEngine engine;
    static ProcessorTopology topology;
    ReadProcessorTopology(&topology, kNarrowProgram);
    std::printf("Each core in turn: %s, %u logical processors, %u cores (%u usable), %u-bit program\n",
                ProcessorBrand().c_str(), topology.machineProcessors, topology.machineCores, topology.usableCores,
                static_cast<unsigned int>(8 * sizeof(void*)));

    std::vector<double> one, every;
    for (unsigned int r = 0; r < (switchesOnly ? 0 : kRounds); ++r) {
        const std::vector<double> a = Round(engine, true), b = Round(engine, false);
        std::printf("round %u: one core %.0f MHz, every core %.0f MHz\n", r + 1, Median(a), Median(b));
        one.insert(one.end(), a.begin(), a.end());
        every.insert(every.end(), b.begin(), b.end());
    }
    const double oneMHz = Median(one), everyMHz = Median(every);
    if (!switchesOnly)
        std::printf("clock, median of %zu and %zu figures: one loaded core %.0f MHz, every core loaded %.0f MHz (%+.1f%%)\n",
                one.size(), every.size(), oneMHz, everyMHz, everyMHz > 0 ? 100.0 * (oneMHz / everyMHz - 1.0) : 0.0);

    // From one turn to the next: the clock skips to each turn's end and the run
    // control's tick ends the turn's worker and starts the next core's.
    g_kernel.QueryPerformanceCounter = SkippingCounter;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const unsigned int cores = topology.usableCores ? topology.usableCores : 1;
    std::vector<double> switches;
    for (unsigned int run = 0; run < kSwitches; ++run) {
        engine.SetConfig(Config(1, 1, 60000 * cores));
        if (FAILED(engine.StartTest()))
            break;
        for (unsigned int turn = 0; turn + 1 < cores; ++turn) {
            Sleep(200);
            g_skipped += frequency.QuadPart * 60;
            LARGE_INTEGER t0, t1;
            RealKernelServices().QueryPerformanceCounter(&t0);
            engine.TurnTick();
            RealKernelServices().QueryPerformanceCounter(&t1);
            switches.push_back(1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / frequency.QuadPart);
        }
        engine.StopTest();
    }
    g_kernel = RealKernelServices();
    std::sort(switches.begin(), switches.end());
    if (!switches.empty())
        std::printf("from one turn to the next (%zu turns, 8 KB): median %.2f ms, longest %.2f ms\n", switches.size(),
                    Median(switches), switches.back());
    return 0;
}
