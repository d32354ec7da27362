#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/CoreTurns.h"
#include "engine/RunFailure.h"
#include "engine/TestedScopeLine.h"

// How a run ended, or that it is under way.
enum RunVerdict {
    kVerdictRunning,      // under way: a record that still says so tells of a run that never ended
    kVerdictPassed,       // its whole time with no error, everything it set out to test tested
    kVerdictFailed,       // a worker found a wrong value: "Test Failed --"
    kVerdictIncomplete,   // its whole time with no error, but a core could not be tested
    kVerdictNotStarted,   // an option was refused or the start failed
    kVerdictEndedEarly,   // stopped before its time, or its start called off
};

inline const char* RunVerdictName(RunVerdict verdict)
{
    switch (verdict) {
    case kVerdictRunning: return "running";
    case kVerdictPassed: return "passed";
    case kVerdictFailed: return "failed";
    case kVerdictIncomplete: return "incomplete";
    case kVerdictEndedEarly: return "ended early";
    default: return "not started";
    }
}

// Everything a run's end is told from: its last log line, the box, the exit
// code and the result record all come from this one value, which the engine
// keeps as the run goes on and decides when it stops.
struct RunOutcome {
    RunVerdict verdict = kVerdictNotStarted;
    bool began = false;                  // it started: what it tested and its times are known
    SYSTEMTIME startedAt = {};           // local time of its "Test Started --" line
    SYSTEMTIME endedAt = {};             // local time of its last line (once it has ended)
    TestedScope tested = {};             // as its tested line says
    std::vector<RunFailure> failures;    // its failure lines, in order
    std::vector<CoreTurnResult> turns;   // an "Each core" run's turns, in order (empty otherwise)
    std::vector<double> clockMHz;        // the clock of every status line that measured one, as logged
    std::string lastLine;                // its last log line, written to the file or not
    std::string message;                 // why it did not start ("" when it did)
};
