// The end of a run, decided in one place: its verdict and its last log line.
#include "engine/TestEngine.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/FailureLine.h"
#include "engine/Status.h"
#include "log/TestLog.h"

namespace {

const size_t kLineSize = kFailureLineLength + 1;

// "CPU 0, CPU 4 and 2 more failed": the first `named` of the CPUs, the rest counted.
std::string Named(const std::vector<unsigned int>& cpus, size_t named, const char* what)
{
    std::string text;
    for (size_t i = 0; i < named; ++i)
        text += (i ? ", CPU " : "CPU ") + std::to_string(cpus[i]);
    if (named < cpus.size())
        text += (named ? " and " : "") + std::to_string(cpus.size() - named) + (named ? " more" : " cores");
    return text + " " + what;
}

// "Test Failed -- CPU 0, CPU 4 failed, CPU 6 not tested; 5 of 8 cores passed",
// naming as many cores as fit and counting the rest; the cores named not tested
// are those with a reason, not those whose turn a stop called off.
void FormatTurnsEndLine(char* line, const std::vector<CoreTurnResult>& turns)
{
    std::vector<unsigned int> failed, untested;
    unsigned int passed = 0;
    for (const CoreTurnResult& turn : turns) {
        if (turn.verdict == kCoreFailed)
            failed.push_back(turn.cpu);
        else if (turn.verdict == kCoreNotTested && turn.reason[0])   // not a turn called off
            untested.push_back(turn.cpu);
        passed += turn.verdict == kCorePassed;
    }
    const std::string tail = "; " + std::to_string(passed) + " of " + std::to_string(turns.size()) + " cores passed";
    size_t namedFailed = failed.size(), namedUntested = untested.size();
    for (;;) {
        std::string names;
        if (!failed.empty())
            names = Named(failed, namedFailed, "failed");
        if (!untested.empty())
            names += (names.empty() ? "" : ", ") + Named(untested, namedUntested, "not tested");
        const std::string text = "Test Failed -- " + names + tail;
        if (text.size() <= kFailureLineLength || namedFailed + namedUntested == 0) {
            std::snprintf(line, kLineSize, "%s", text.c_str());
            return;
        }
        size_t& fewer = namedUntested > namedFailed ? namedUntested : namedFailed;
        --fewer;
    }
}

} // namespace

// Every worker has ended. The verdict: a failure found in any pass wins; then a
// run stopped before its time ended early; then a core not tested leaves the run
// incomplete; otherwise it passed. The end line says the same.
HRESULT CTestEngine::EndRun(unsigned int stopMs, bool timeIsUp)
{
    char line[kLineSize];
    RunVerdict verdict;
    if (coreTurnCount) {
        const bool wholeTime = timeIsUp || currentTurn >= coreTurnCount || stopMs >= config.durationMs;
        unsigned int failed = 0, untested = 0, passed = 0;
        for (CoreTurnResult& turn : outcome.turns) {
            // The run's time passed before these turns came (the clock jumped, the
            // machine slept): their cores were not tested, and the end line says so.
            if (wholeTime && turn.verdict == kCoreNotTested && !turn.reason[0])
                std::snprintf(turn.reason, sizeof turn.reason, "the run's time passed before its turn");
            failed += turn.verdict == kCoreFailed;
            untested += turn.verdict == kCoreNotTested;
            passed += turn.verdict == kCorePassed;
        }
        verdict = failed ? kVerdictFailed : !wholeTime ? kVerdictEndedEarly : untested ? kVerdictIncomplete
                                                                                     : kVerdictPassed;
        if (verdict == kVerdictFailed || verdict == kVerdictIncomplete) {
            FormatTurnsEndLine(line, outcome.turns);
            WriteLog(line);
        } else {
            if (verdict == kVerdictPassed) {
                std::snprintf(line, sizeof line, "Every core passed: %u of %u", passed, coreTurnCount);
                WriteLog(line);
            }
            WriteLog("Test Stopped --");
        }
    } else if (const WorkerArea* failed = failedWorkerArea) {
        // Workers run only on the engine's own areas.
        const unsigned int worker = static_cast<unsigned int>(failed - workerAreas) + 1;
        // A tied worker ran only on its own processor.
        WorkerFailure failure = firstWorkerFailure;
        if (workerPlacements[worker - 1].tied)
            failure.cpu = workerPlacements[worker - 1].cpu;
        FormatFailureLine(line, failure, worker, config.threadCount, failedWorkerCount);
        WriteLog(line);
        const unsigned int core =
            workerPlacements[worker - 1].tied ? topology.order[(worker - 1) % topology.usableCount].core + 1 : 0;
        NoteFailure(RunFailure{LastLogTime(), worker, failure.cpu, core, failure.check, failure.bits, failure.load});
        verdict = kVerdictFailed;
    } else {
        WriteLog("Test Stopped --");
        verdict = timeIsUp || stopMs > config.durationMs ? kVerdictPassed : kVerdictEndedEarly;
    }
    outcome.verdict = verdict;
    outcome.endedAt = LastLogTime();
    outcome.lastLine = LastLogLine();
    return verdict == kVerdictFailed ? E_WRONG_RESULT : verdict == kVerdictIncomplete ? E_NOT_ALL_TESTED : S_OK;
}

void CTestEngine::NoteFailure(const RunFailure& failure)
{
    if (outcome.failures.size() < kMaxProcessors)
        outcome.failures.push_back(failure);
}
