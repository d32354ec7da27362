// An "Each core" run: one worker tested on one core at a time, in placement order,
// the run's duration shared equally by the cores.
#include "engine/TestEngine.h"

#include <cstdio>
#include <string>

#include "engine/Clock.h"
#include "engine/FailureLine.h"
#include "engine/Status.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelServices.h"
#include "log/TestLog.h"

namespace {

const size_t kLineSize = kFailureLineLength + 1;
// How long a tick waits for a stopping worker before it looks again at the next
// tick: about the longest a worker takes to see its flag (a budget of passes,
// kClockMs), well within a tick's period, so that the window keeps answering.
const DWORD kTurnWaitMs = 100;

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

// Whether the turn's load ran for at least half of the turn. A fill that took
// longer (much memory under test for the turn's length) leaves the core not
// tested, and `why` says so.
bool LoadHadHalfTheTurn(const CoreTurnWork& work, char* why, size_t size)
{
    const long long length = work.endCount - work.beginCount;
    if (work.loadFrom != 0 && 2 * (work.endCount - work.loadFrom) >= length)
        return true;
    const long long perSecond = PerformanceFrequency();
    if (work.loadFrom == 0)
        std::snprintf(why, size, "its memory fill outlasted the turn");
    else
        std::snprintf(why, size, "its memory fill took %u of %u s",
                      static_cast<unsigned int>((work.loadFrom - work.beginCount + perSecond / 2) / perSecond),
                      static_cast<unsigned int>((length + perSecond / 2) / perSecond));
    return false;
}

} // namespace

unsigned int CTestEngine::TurnEnd(unsigned int turn) const
{
    return TurnEndMs(config.durationMs, coreTurnCount, turn);
}

// Starts the current turn's worker on its core's first logical processor (the
// first turn's worker was made, tied and filled for by the start) and logs the
// turn. A core whose worker cannot be made or tied there is not tested.
void CTestEngine::BeginTurn()
{
    CoreTurnResult& turn = outcome.turns[currentTurn];
    const PlacementSlot& slot = topology.order[currentTurn];
    const unsigned int lengthMs = TurnEnd(currentTurn) - (currentTurn ? TurnEnd(currentTurn - 1) : 0);
    turnStartMs = GetTimeMs();
    InterlockedExchange(&turnClockKHz, 0);
    // A fresh record: no core is charged with an earlier core's error.
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
    InterlockedExchange(&failedWorkerCount, 0);
    firstWorkerFailure = WorkerFailure();
    const long long perSecond = PerformanceFrequency();
    turnWork.running = 1;
    turnWork.fillSeed = currentTurn ? 0x9E37u * (currentTurn + 1) : 0;   // the start filled for the first core
    turnWork.beginCount = startCount + static_cast<long long>(currentTurn ? TurnEnd(currentTurn - 1) : 0) * perSecond / 1000;
    turnWork.endCount = startCount + static_cast<long long>(TurnEnd(currentTurn)) * perSecond / 1000;
    turnWork.loadFrom = turnWork.wideFrom = 0;
    turnWork.clockCount = 0;
    char why[sizeof turn.reason];
    if (currentTurn > 0) {
        workerPlacements[0] = WorkerPlacement{1, slot.processor, slot.cpu};
        workerThreads[0] = g_kernel.CreateThread(nullptr, 0, CoreTurnThreadProc, &turnWork, CREATE_SUSPENDED, nullptr);
        if (!workerThreads[0]) {
            std::snprintf(why, sizeof why, "no worker (error %08X)",
                          static_cast<unsigned int>(StatusFromWin32(g_kernel.GetLastError())));
            TurnNotTested(why);
            return;
        }
        TieWorker(0);
    }
    if (!workerPlacements[0].tied) {   // a floating worker would not test this core
        std::snprintf(why, sizeof why, "not tied to it (error %08X)", static_cast<unsigned int>(tieStatus));
        TurnNotTested(why);
        return;
    }
    g_kernel.ResumeThread(workerThreads[0]);
    turnPhase = kTurnRunning;
    turn.verdict = kCoreTesting;
    const KernelVariant best = BestKernelVariant();
    char line[kLineSize];
    std::snprintf(line, sizeof line, "Core %u of %u, CPU %u: %s%s for %s", turn.core, coreTurnCount, turn.cpu,
                  best != kKernelSse2 ? "SSE2 then " : "", GetKernelImpl(best).name, Duration(lengthMs).c_str());
    WriteLog(line);
}

// The current turn's core is not tested: its worker, if any, ends unrun.
void CTestEngine::TurnNotTested(const char* why)
{
    if (workerThreads[0]) {
        InterlockedExchange(&turnWork.running, 0);
        g_kernel.ResumeThread(workerThreads[0]);
        WaitForWorker(0);
    }
    CoreTurnResult& turn = outcome.turns[currentTurn];
    turn.verdict = kCoreNotTested;
    std::snprintf(turn.reason, sizeof turn.reason, "%s", why);
    turnPhase = kTurnIdle;
    char line[kLineSize];
    std::snprintf(line, sizeof line, "Core %u of %u, CPU %u: not tested, %s", turn.core, coreTurnCount, turn.cpu, why);
    WriteLog(line);
}

// Asks the turn's worker to stop; the turn's verdict is the one decided now
// (a failure its worker found before it stopped still wins).
void CTestEngine::AskTurnEnd(int verdict, unsigned int nowMs)
{
    InterlockedExchange(&turnWork.running, 0);
    turnVerdict = verdict;
    turnStopMs = nowMs;
    turnPhase = kTurnEnding;
}

bool CTestEngine::TurnWorkerEnded(DWORD waitMs)
{
    return !workerThreads[0] || g_kernel.WaitForSingleObject(workerThreads[0], waitMs) != WAIT_TIMEOUT;
}

// Logs how the turn whose worker has stopped went: its failure, if its worker
// found an error, then its verdict and its core's median clock. A turn whose
// load never had half of it does not pass.
void CTestEngine::FinishTurn()
{
    if (workerThreads[0]) {   // it has ended
        g_kernel.CloseHandle(workerThreads[0]);
        workerThreads[0] = nullptr;
    }
    turnPhase = kTurnIdle;
    CoreTurnResult& turn = outcome.turns[currentTurn];
    turn.seconds = (turnStopMs - turnStartMs) / 1000;
    turn.medianMHz = TurnMedianMHz(turnWork);
    char line[kLineSize];
    turn.verdict = failedWorkerArea ? kCoreFailed : turnVerdict;
    if (turn.verdict == kCorePassed && !LoadHadHalfTheTurn(turnWork, turn.reason, sizeof turn.reason)) {
        turn.verdict = kCoreNotTested;
        std::snprintf(line, sizeof line, "Core %u of %u, CPU %u: not tested, %s", turn.core, coreTurnCount, turn.cpu,
                      turn.reason);
        WriteLog(line);
        return;
    }
    if (turn.verdict == kCoreFailed) {
        // The turn's worker was tied to the turn's processor.
        WorkerFailure failure = firstWorkerFailure;
        failure.cpu = turn.cpu;
        FormatCoreFailureLine(line, failure, turn.core, coreTurnCount);
        WriteLog(line);
        NoteFailure(RunFailure{LastLogTime(), 1, failure.cpu, turn.core, failure.check, failure.bits, failure.load});
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
    const unsigned int nowMs = GetTimeMs();
    const bool timeIsUp = nowMs - startTimeMs >= TurnEnd(currentTurn);
    // A failed core's worker stops by itself: its failure is logged once it has,
    // and the core idles for the rest of its turn.
    if (turnPhase == kTurnRunning && (failedWorkerArea || timeIsUp))
        AskTurnEnd(failedWorkerArea ? kCoreFailed : kCorePassed, nowMs);
    if (turnPhase == kTurnEnding) {
        if (!TurnWorkerEnded(kTurnWaitMs))
            return S_OK;
        FinishTurn();
    }
    if (turnPhase == kTurnIdle && timeIsUp && ++currentTurn < coreTurnCount)
        BeginTurn();
    return currentTurn < coreTurnCount ? S_OK : S_FALSE;
}
