#pragma once

// The program's exit codes. An interactive start always ends with kExitPassed;
// the others tell how a run started with /run ended, or why it never started.
enum ExitCode {
    kExitPassed = 0,          // the run reached its time with no error
    kExitWrongResults = 1,    // the machine produced wrong results ("Test Failed --")
    kExitNotStarted = 2,      // an option was refused or the run could not start
    kExitEndedEarly = 3,      // the run was ended before its time
    kExitNotAllTested = 4,    // the run had its time with no error, but a core could not be tested
};
