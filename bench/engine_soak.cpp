// Soak: a thousand start/stop cycles of the engine (1 to 16 workers, with and
// without the memory test) and 600 failed starts at every failure point, then the
// process's handles, threads and private committed memory against the figures
// before. It finds slow leaks, a few bytes or kilobytes a run, that one run does
// not show. Prints the figures; the exit code is 1 if anything was left behind.
//   engine_soak.exe            the cycles and failed starts
//   engine_soak.exe MINUTES    long healthy runs instead: every thread count with
//                              8 KB areas, 64 MB, 256 MB and all available memory,
//                              MINUTES in all; a verification error on a healthy
//                              machine is a false alarm (exit code 1)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "kernel/KernelServices.h"
#include "engine/Status.h"
#include "engine/TestEngine.h"
#include "support/Support.h"

namespace {

// The process's handles, and its threads and private committed bytes.
struct Counters {
    DWORD handles = 0;
    ProcessCounters process;
};

Counters Read()
{
    Counters c;
    GetProcessHandleCount(GetCurrentProcess(), &c.handles);
    c.process = ReadProcessCounters();
    return c;
}

int g_failAt;   // 0 memory status, 1 reserve, 2 commit, 3.. creating worker (g_failAt - 3)
int g_created;

BOOL WINAPI FailingStatus(LPMEMORYSTATUSEX status)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return g_failAt == 0 ? FALSE : RealKernelServices().GlobalMemoryStatusEx(status);
}

LPVOID WINAPI FailingAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    if ((g_failAt == 1 && type == MEM_RESERVE) || (g_failAt == 2 && type == MEM_COMMIT))
        return nullptr;
    return RealKernelServices().VirtualAlloc(address, size, type, protect);
}

HANDLE WINAPI FailingCreate(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                            LPVOID parameter, DWORD flags, LPDWORD id)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    if (g_created++ == g_failAt - 3)
        return nullptr;
    return RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
}

HRESULT Start(CTestEngine& engine, unsigned int threads, unsigned int memoryTest, unsigned int sizeMB)
{
    TestConfig config = {};
    config.threadCount = threads;
    config.memoryTest = memoryTest;
    config.memorySizeMB = sizeMB;
    engine.SetConfig(config);
    return engine.StartTest();
}

bool Report(const char* what, const Counters& before, unsigned int done, unsigned int expected)
{
    const Counters after = Read();
    const bool clean = done == expected && after.handles == before.handles &&
                       after.process.threads == before.process.threads &&
                       after.process.committed < before.process.committed + (8u << 20);
    std::printf("%s: %u of %u; handles %lu -> %lu, threads %lu -> %lu, committed %.1f -> %.1f MB: %s\n", what,
                done, expected, before.handles, after.handles, before.process.threads, after.process.threads,
                before.process.committed / 1048576.0, after.process.committed / 1048576.0,
                clean ? "nothing left behind" : "LEAK");
    return clean;
}

} // namespace

// Runs every configuration in turn for its share of the minutes and reports any
// error the workers record.
int HealthyRuns(CTestEngine& engine, unsigned int minutes)
{
    const unsigned int threads[] = {1, 2, 4, 8, 16}, sizes[][2] = {{0, 0}, {1, 64}, {1, 256}, {1, 0}};
    const DWORD share = minutes * 60000u / 20;
    unsigned int errors = 0;
    for (const auto& size : sizes) {
        for (unsigned int count : threads) {
            if (Start(engine, count, size[0], size[1]) != S_OK) {
                std::printf("%2u workers, memory %u/%u MB: did not start\n", count, size[0], size[1]);
                engine.StopTest();
                continue;
            }
            Sleep(share);
            const unsigned int blockMB = engine.config.memorySizeMB;
            const bool failed = engine.StopTest() == E_WRONG_RESULT;   // any error of the run
            errors += failed;
            char block[32] = "8 KB areas";
            if (size[0])
                std::snprintf(block, sizeof block, "a %u MB block", blockMB);
            std::printf("%2u workers, %s, %lu s: %s\n", count, block, share / 1000,
                        failed ? "ERROR RECORDED" : "no error");
        }
    }
    return errors ? 1 : 0;
}

int main(int argc, char** argv)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetCurrentDirectoryA(temp);   // the engine logs to the current directory
    CTestEngine engine;
    if (argc > 1)
        return HealthyRuns(engine, static_cast<unsigned int>(std::atoi(argv[1])));
    Start(engine, 2, 1, 16);
    engine.StopTest();

    Counters before = Read();
    const unsigned int threadCounts[] = {1, 2, 4, 8, 16};
    unsigned int started = 0;
    for (unsigned int cycle = 0; cycle < 1000; ++cycle) {
        started += Start(engine, threadCounts[cycle % 5], (cycle / 5) % 2, 16 * (cycle % 3 + 1)) == S_OK;
        engine.StopTest();
    }
    bool clean = Report("1000 start/stop cycles", before, started, 1000);

    before = Read();
    unsigned int failed = 0;
    const int failurePoints[] = {0, 1, 2, 3, 10, 18};   // status, reserve, commit, workers 0, 7 and 15
    for (int point : failurePoints) {
        g_failAt = point;
        g_kernel.GlobalMemoryStatusEx = FailingStatus;
        g_kernel.VirtualAlloc = FailingAlloc;
        g_kernel.CreateThread = FailingCreate;
        for (int round = 0; round < 100; ++round) {
            g_created = 0;
            failed += Start(engine, 16, 1, 32) < 0;
            engine.StopTest();
        }
        g_kernel = RealKernelServices();
    }
    clean &= Report("600 failed starts", before, failed, 600);
    return clean ? 0 : 1;
}
