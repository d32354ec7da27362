// An "Each core" run: one worker tested on one core at a time, in placement order,
// the run's duration shared equally by the cores.
#include "engine/TestEngine.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/Clock.h"
#include "engine/FailureLine.h"
#include "engine/Status.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelServices.h"
#include "log/TestLog.h"

namespace {

const size_t kLineSize = kFailureLineLength + 1;

std::string Duration(unsigned int ms)
{
    const unsigned int seconds = (ms + 500) / 1000;
    char text[48];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u h %u min %u s", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%u min %u s", seconds / 60, seconds % 60);
    return text;
}

// "Test Failed -- CPU 0, CPU 4 failed; 6 of 8 cores passed", naming as many
// failed cores as fit and counting the rest.
void FormatTurnsFailedLine(char* line, const CoreTurnResult* turns, unsigned int count)
{
    unsigned int failed = 0, passed = 0;
    for (unsigned int k = 0; k < count; ++k) {
        failed += turns[k].verdict == kCoreFailed;
        passed += turns[k].verdict == kCorePassed;
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, " failed; %u of %u cores passed", passed, count);
    std::string names;
    unsigned int named = 0;
    for (unsigned int k = 0; k < count; ++k) {
        if (turns[k].verdict != kCoreFailed)
            continue;
        const std::string next = (named ? ", CPU " : "CPU ") + std::to_string(turns[k].cpu);
        char more[32] = "";
        if (named + 1 < failed)
            std::snprintf(more, sizeof more, " and %u more", failed - named - 1);
        if (std::strlen("Test Failed -- ") + names.size() + next.size() + std::strlen(more) + std::strlen(tail) >
            kFailureLineLength)
            break;
        names += next;
        ++named;
    }
    if (named < failed)
        names += " and " + std::to_string(failed - named) + " more";
    std::snprintf(line, kLineSize, "Test Failed -- %s%s", names.c_str(), tail);
}

} // namespace

unsigned int CTestEngine::TurnEndMs(unsigned int turn) const
{
    return static_cast<unsigned int>(static_cast<unsigned long long>(config.durationMs) * (turn + 1) / coreTurnCount);
}

// The performance count halfway between now and `untilMs` of the run: there the
// turn's load changes from SSE2 to the widest kernel.
long long CTestEngine::WideFrom(unsigned int untilMs) const
{
    LARGE_INTEGER frequency, now;
    if (!g_kernel.QueryPerformanceFrequency(&frequency) || !g_kernel.QueryPerformanceCounter(&now))
        return 0;
    const unsigned int elapsed = GetTimeMs() - startTimeMs;
    const unsigned int left = untilMs > elapsed ? untilMs - elapsed : 0;
    return now.QuadPart + static_cast<long long>(left / 2) * frequency.QuadPart / 1000;
}

// Starts the current turn's worker on its core's first logical processor (the
// first turn's worker was started with the run) and logs the turn.
void CTestEngine::BeginTurn()
{
    CoreTurnResult& turn = coreTurns[currentTurn];
    const PlacementSlot& slot = topology.order[currentTurn];
    const unsigned int lengthMs = TurnEndMs(currentTurn) - (currentTurn ? TurnEndMs(currentTurn - 1) : 0);
    turnStartMs = GetTimeMs();
    if (currentTurn > 0) {
        // A fresh record: no later core is charged with an earlier core's error.
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
        InterlockedExchange(&failedWorkerCount, 0);
        firstWorkerFailure = WorkerFailure();
        workerPlacements[0] = WorkerPlacement{1, slot.processor, slot.cpu};
        turnWork.running = 1;
        turnWork.fillSeed = 0x9E37u * (currentTurn + 1);
        turnWork.clockCount = 0;
        turnWork.wideFrom = WideFrom(TurnEndMs(currentTurn));
        workerThreads[0] = g_kernel.CreateThread(nullptr, 0, CoreTurnThreadProc, &turnWork, CREATE_SUSPENDED, nullptr);
        if (!workerThreads[0]) {
            char line[kLineSize];
            std::snprintf(line, sizeof line, "Core %u of %u, CPU %u: not tested, no worker (error %08X)", turn.core,
                          coreTurnCount, turn.cpu, static_cast<unsigned int>(StatusFromWin32(g_kernel.GetLastError())));
            WriteLog(line);
            return;
        }
        TieWorker(0);
        g_kernel.ResumeThread(workerThreads[0]);
    }
    turnActive = 1;
    turn.verdict = kCoreTesting;
    const KernelVariant best = BestKernelVariant();
    char line[kLineSize];
    std::snprintf(line, sizeof line, "Core %u of %u, CPU %u%s: %s%s for %s", turn.core, coreTurnCount, turn.cpu,
                  workerPlacements[0].tied ? "" : " (floating)", best != kKernelSse2 ? "SSE2 then " : "",
                  GetKernelImpl(best).name, Duration(lengthMs).c_str());
    WriteLog(line);
}

// Ends the current turn's worker and logs how the turn went: its failure, if its
// worker found an error, then its verdict and its core's median clock.
void CTestEngine::EndTurn(bool timeIsUp)
{
    InterlockedExchange(&turnWork.running, 0);
    if (workerThreads[0]) {
        g_kernel.WaitForSingleObject(workerThreads[0], INFINITE);
        g_kernel.CloseHandle(workerThreads[0]);
        workerThreads[0] = nullptr;
    }
    turnActive = 0;
    CoreTurnResult& turn = coreTurns[currentTurn];
    turn.seconds = (GetTimeMs() - turnStartMs) / 1000;
    turn.medianMHz = TurnMedianMHz(turnWork);
    char line[kLineSize];
    if (failedWorkerArea) {
        WorkerFailure failure = firstWorkerFailure;
        if (workerPlacements[0].tied)
            failure.cpu = turn.cpu;
        FormatCoreFailureLine(line, failure, turn.core, coreTurnCount);
        WriteLog(line);
        NoteFailure(RunFailure{LastLogTime(), 1, failure.cpu, turn.core, failure.check, failure.bits});
        turn.verdict = kCoreFailed;
    } else {
        turn.verdict = timeIsUp ? kCorePassed : kCoreEndedEarly;
    }
    char how[32] = "passed";
    if (turn.verdict != kCorePassed)
        std::snprintf(how, sizeof how, "%s after %u s", turn.verdict == kCoreFailed ? "failed" : "ended early",
                      turn.seconds);
    std::snprintf(line, sizeof line, "Core %u of %u, CPU %u: %s, median %.2f MHz", turn.core, coreTurnCount, turn.cpu,
                  how, turn.medianMHz);
    WriteLog(line);
}

HRESULT CTestEngine::TurnTick()
{
    if (coreTurnCount == 0 || currentTurn >= coreTurnCount)
        return coreTurnCount ? S_FALSE : S_OK;
    // A failed core's worker has stopped: its failure is logged at once, and the
    // core idles for the rest of its turn.
    if (turnActive && failedWorkerArea)
        EndTurn(false);
    if (GetTimeMs() - startTimeMs >= TurnEndMs(currentTurn)) {
        if (turnActive)
            EndTurn(true);
        if (++currentTurn < coreTurnCount)
            BeginTurn();
    }
    return currentTurn < coreTurnCount ? S_OK : S_FALSE;
}

// The end of an "Each core" run, its workers ended: the turn under way is logged,
// then "Test Failed --" naming the failed cores, or "Test Stopped --" (after a
// line saying so when every core passed).
HRESULT CTestEngine::FinishTurns()
{
    if (turnActive)
        EndTurn(GetTimeMs() - startTimeMs >= TurnEndMs(currentTurn));
    currentTurn = coreTurnCount;
    unsigned int failed = 0, passed = 0;
    for (unsigned int k = 0; k < coreTurnCount; ++k) {
        failed += coreTurns[k].verdict == kCoreFailed;
        passed += coreTurns[k].verdict == kCorePassed;
    }
    char line[kLineSize];
    if (failed) {
        FormatTurnsFailedLine(line, coreTurns, coreTurnCount);
        WriteLog(line);
        return E_WRONG_RESULT;
    }
    if (passed == coreTurnCount) {
        std::snprintf(line, sizeof line, "Every core passed: %u of %u", passed, coreTurnCount);
        WriteLog(line);
    }
    WriteLog("Test Stopped --");
    return S_OK;
}
