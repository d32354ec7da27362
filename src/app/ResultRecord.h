#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/CoreTurns.h"
#include "engine/RunFailure.h"
#include "engine/RunOutcome.h"
#include "ui/RunConfig.h"

// The exit code that tells a verdict (a run still under way has none: -1).
int ExitCodeOf(RunVerdict verdict);

// Everything the record holds. Texts are UTF-8.
struct ResultRecord {
    std::string version, build, computer, processor;
    unsigned int logicalProcessors = 0, cores = 0, groups = 0;
    unsigned long long memoryMB = 0, availableMB = 0;
    bool hasSettings = false;   // false: the command line was refused
    std::string threads;        // "all", "each" or a number
    std::string memory;         // "off", "max" or a number of MB
    unsigned int hours = 0, minutes = 0, interval = 0;
    bool load = false;
    std::string kernelSetting;  // "all" or the loads /kernel named, "fma,integer"
    bool hasTested = false;     // false: nothing ran
    unsigned int workers = 0, processors = 0, testedCores = 0;
    std::string kernel;
    unsigned int kernels = 0;   // the loads the run rotated through (KernelLoadBit)
    unsigned long long testedMB = 0;
    SYSTEMTIME started = {}, ended = {};   // local times; ended is null while it runs
    RunVerdict verdict = kVerdictNotStarted;
    std::string message;        // why it did not start ("" when it did)
    std::vector<double> clockMHz;
    std::vector<RunFailure> failures;
    std::vector<CoreTurnResult> coreTurns;
    std::string log;
    std::string lastLine;       // "" when the run wrote none
};

// The settings of a run from the dialog's choices and, when it began, what it
// tested and how it went from its outcome (the machine's part is left as it is).
void FillRunRecord(ResultRecord* record, const RunSelections& selections, const RunOutcome& outcome);

// The record as JSON. Absent figures are null: the settings of a refused command
// line, what a run that never began tested, the clock when no status line was
// logged, the message of a run that started, the last line of one that wrote none,
// the end, the length and the exit code of a run still under way.
std::string FormatResultRecord(const ResultRecord& record);

// A local time as ISO 8601 with the offset from UTC that applied then.
std::string IsoLocalTime(const SYSTEMTIME& local);

// The record's file, from the wide command line: "" when /result names none or
// one that can be written (it is kept), else why it cannot ("/result FILE: ...").
std::string TakeResultFile(const wchar_t* commandLine);

// Takes the available memory as a run starts (before its memory is committed).
void NoteRunStarting();

// Where a record that cannot be written is told: on standard error when it is
// redirected, else in a message box with this caption unless nobody watches.
struct RecordTelling {
    bool unattended;
    std::string caption;
};

// Write the record when there is a /result file: a refused command line's, or a
// run's from its outcome (as it starts, and again when it has ended or did not start).
void RecordRefusal(const std::string& message, const RecordTelling& telling);
void RecordRun(const RunSelections& selections, const RunOutcome& outcome, const RecordTelling& telling);
