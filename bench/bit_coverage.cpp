// Bit coverage of a running memory test, measured from outside the kernel: the
// engine runs in this process as the program runs it, and this thread snapshots
// its block every 100 ms for ten seconds. For every quarter (a, b, c and the
// results d) of every worker's area it prints the share of bits that have held
// both 0 and 1 after 2.5, 5 and 10 seconds. Nothing here passes or fails.
//   scripts/wine64-run build64/bench/bit_coverage.exe [MB]   (default 64; 0: 8 KB areas)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/TestEngine.h"

namespace {

const unsigned int kWorkers = 2;
const DWORD kSnapshotMs = 100;
const DWORD kCheckpointsMs[] = {2500, 5000, 10000};

// The share of bits of words [begin, end) that have held both values.
double Coverage(const std::vector<unsigned long long>& ones, const std::vector<unsigned long long>& zeros,
                size_t begin, size_t end)
{
    unsigned long long both = 0;
    for (size_t i = begin; i < end; ++i)
        both += __builtin_popcountll(ones[i] & zeros[i]);
    return static_cast<double>(both) / (64.0 * static_cast<double>(end - begin));
}

} // namespace

int main(int argc, char** argv)
{
    char temp[MAX_PATH];
    if (GetTempPathA(sizeof temp, temp))
        SetCurrentDirectoryA(temp);   // the engine's log
    const unsigned int sizeMB = argc > 1 ? static_cast<unsigned int>(std::atoi(argv[1])) : 64;

    CTestEngine engine;
    TestConfig config = {};
    config.threadCount = kWorkers;
    config.memoryTest = sizeMB != 0;
    config.memorySizeMB = sizeMB;
    config.durationMs = 60000;
    engine.SetConfig(config);
    if (engine.StartTest() != S_OK) {
        std::printf("the engine did not start\n");
        return 1;
    }
    const unsigned long long* const block = reinterpret_cast<const unsigned long long*>(engine.memoryBase);
    const size_t words = engine.memorySize / 8, quarterWords = engine.workerAreas[0].size / 32;
    std::vector<unsigned long long> ones(words, 0), zeros(words, 0);

    std::printf("Bits that have held both 0 and 1, %u workers, %s areas of %lu bytes, snapshots every %lu ms\n\n",
                kWorkers, sizeMB ? "memory-test" : "small", static_cast<unsigned long>(engine.workerAreas[0].size),
                static_cast<unsigned long>(kSnapshotMs));
    std::printf("| after | worker | a | b | c | d (results) |\n| --- | --- | --- | --- | --- | --- |\n");
    const DWORD start = GetTickCount();
    unsigned int snapshots = 0;
    for (DWORD checkpoint : kCheckpointsMs) {
        while (GetTickCount() - start < checkpoint) {
            for (size_t i = 0; i < words; ++i) {
                const unsigned long long word = block[i];
                ones[i] |= word;
                zeros[i] |= ~word;
            }
            ++snapshots;
            Sleep(kSnapshotMs);
        }
        for (unsigned int w = 0; w < kWorkers; ++w) {
            std::printf("| %.1f s | %u |", checkpoint / 1000.0, w + 1);
            for (unsigned int q = 0; q < 4; ++q) {
                const size_t begin = (4 * w + q) * quarterWords;
                std::printf(" %.4f%% |", 100.0 * Coverage(ones, zeros, begin, begin + quarterWords));
            }
            std::printf("\n");
        }
    }
    const bool failed = failedWorkerArea != nullptr;
    engine.StopTest();
    std::printf("\n%u snapshots; %s\n", snapshots, failed ? "a worker reported an error" : "no error");
    return 0;
}
