// Each core in turn against every core at once: the clock of one loaded core (the
// turn's worker measures it on its core, as the run logs it) against the clock of
// a core while a worker loads every logical processor (measured as the run logs
// it), alternated in one run; then the time from one turn to the next. Prints
// figures; nothing here passes or fails.
//
//   scripts/wine64-run build64/bench/each_core_bench.exe [switches]   (or scripts/wine-run build/...)
//   switches: the time from one turn to the next, and a Cancel during a refill, only
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
    // control's ticks (every kTurnTickMs) end the turn's worker and start the next
    // core's. Each tick holds the window's thread; the longest is what the window
    // waits for.
    g_kernel.QueryPerformanceCounter = SkippingCounter;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const unsigned int cores = topology.usableCores ? topology.usableCores : 1;
    auto msSince = [&](const LARGE_INTEGER& t0) {
        LARGE_INTEGER t1;
        RealKernelServices().QueryPerformanceCounter(&t1);
        return 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / frequency.QuadPart;
    };
    std::vector<double> switches, ticks;
    for (unsigned int run = 0; run < kSwitches; ++run) {
        engine.SetConfig(Config(1, 1, 60000 * cores));
        if (FAILED(engine.StartTest()))
            break;
        for (unsigned int turn = 0; turn + 1 < cores; ++turn) {
            Sleep(200);
            g_skipped += frequency.QuadPart * 60;
            LARGE_INTEGER t0;
            RealKernelServices().QueryPerformanceCounter(&t0);
            while (engine.currentTurn == turn) {
                LARGE_INTEGER tick;
                RealKernelServices().QueryPerformanceCounter(&tick);
                engine.TurnTick();
                ticks.push_back(msSince(tick));
                if (engine.currentTurn == turn)
                    Sleep(kTurnTickMs);
            }
            switches.push_back(msSince(t0));
        }
        engine.StopTest();
    }
    std::sort(switches.begin(), switches.end());
    std::sort(ticks.begin(), ticks.end());
    if (!switches.empty())
        std::printf("from one turn to the next (%zu turns, 8 KB): median %.2f ms, longest %.2f ms; "
                    "the longest of %zu ticks held the window %.2f ms\n",
                    switches.size(), Median(switches), switches.back(), ticks.size(), ticks.back());

    // Cancel while the next core's worker refills the memory under test: how long
    // the stop takes, and the longest the window waits between two answers.
    const unsigned int mb = sizeof(void*) == 8 ? 2048 : 1024;
    struct Answers {
        LARGE_INTEGER last;
        double longest;
    } answers = {};
    for (unsigned int run = 0; run < 3 && cores > 1; ++run) {
        TestConfig config = Config(1, 1, 60000 * cores);
        config.memoryTest = 1;
        config.memorySizeMB = mb;
        engine.SetConfig(config);
        if (FAILED(engine.StartTest())) {
            std::printf("a %u MB start failed\n", mb);
            break;
        }
        g_skipped += frequency.QuadPart * 60;
        while (engine.currentTurn == 0) {
            engine.TurnTick();
            Sleep(5);
        }
        Sleep(100);   // the fill is under way
        answers.longest = 0;
        RealKernelServices().QueryPerformanceCounter(&answers.last);
        engine.idleContext = &answers;
        engine.idle = [](void* context) -> BOOL {
            Answers* a = static_cast<Answers*>(context);
            LARGE_INTEGER now;
            RealKernelServices().QueryPerformanceCounter(&now);
            LARGE_INTEGER f;
            QueryPerformanceFrequency(&f);
            a->longest = std::max(a->longest, 1000.0 * static_cast<double>(now.QuadPart - a->last.QuadPart) / f.QuadPart);
            a->last = now;
            return TRUE;
        };
        LARGE_INTEGER t0;
        RealKernelServices().QueryPerformanceCounter(&t0);
        engine.StopTest();
        const double stopMs = msSince(t0);
        engine.idle = nullptr;
        std::printf("Cancel during the next core's refill of %u MB: the stop took %.0f ms, the window waited %.0f ms "
                    "at most between answers\n", mb, stopMs, answers.longest);
    }
    g_kernel = RealKernelServices();
    return 0;
}
