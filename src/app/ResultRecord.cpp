#include "app/ResultRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/CommandLine.h"
#include "app/ExitCodes.h"
#include "app/StandardStreams.h"
#include "engine/KernelLoads.h"
#include "engine/MemoryPlan.h"
#include "engine/ProcessorTopology.h"
#include "log/FileReplace.h"
#include "log/JsonWriter.h"
#include "log/LogHistory.h"
#include "log/TextConversion.h"
#include "probes/ProcessorBrand.h"

#ifndef BURNWRIGHT_VERSION
#define BURNWRIGHT_VERSION "0"
#endif

namespace {

std::wstring g_resultFile;            // full path; empty: no record
unsigned long long g_availableMB = 0;   // as the last run started

const unsigned long long kMB = 1ull << 20;

void Settings(JsonWriter& json, const ResultRecord& r)
{
    // Numbers as numbers, words as strings.
    auto numberOrWord = [&](const std::string& text) {
        if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos)
            json.Number(std::stoull(text));
        else
            json.String(text);
    };
    json.BeginObject();
    json.Key("threads");
    numberOrWord(r.threads);
    json.Key("memory");
    numberOrWord(r.memory);
    json.Member("hours", r.hours);
    json.Member("minutes", r.minutes);
    json.Member("interval", r.interval);
    json.Key("load");
    json.Bool(r.load);
    json.Member("kernel", r.kernelSetting);
    json.EndObject();
}

// A text member, null when there is none.
void TextOrNull(JsonWriter& json, const char* name, const std::string& text)
{
    json.Key(name);
    if (text.empty())
        json.Null();
    else
        json.String(text);
}

void ClockFigures(JsonWriter& json, std::vector<double> mhz)
{
    json.BeginObject();
    std::sort(mhz.begin(), mhz.end());
    const size_t n = mhz.size();
    const double figures[3] = {n ? mhz.front() : 0, n ? (mhz[(n - 1) / 2] + mhz[n / 2]) / 2 : 0, n ? mhz.back() : 0};
    const char* names[3] = {"min", "median", "max"};
    for (int i = 0; i < 3; ++i) {
        json.Key(names[i]);
        if (n)
            json.Number(figures[i], 2);
        else
            json.Null();
    }
    json.EndObject();
}

void Failures(JsonWriter& json, const std::vector<RunFailure>& failures)
{
    json.BeginArray();
    for (const RunFailure& f : failures) {
        char bits[24];
        std::snprintf(bits, sizeof bits, "%016llX", f.bits);
        json.BeginObject();
        json.Member("time", IsoLocalTime(f.time));
        json.Member("worker", f.worker);
        json.Member("cpu", f.cpu);
        json.Member("core", f.core);
        json.Member("kind", FailureKindName(f.check));
        json.Member("kernel", KernelLoadName(f.load));
        json.Member("bits", bits);
        json.EndObject();
    }
    json.EndArray();
}

void CoreTurns(JsonWriter& json, const std::vector<CoreTurnResult>& turns)
{
    json.BeginArray();
    for (const CoreTurnResult& t : turns) {
        json.BeginObject();
        json.Member("core", t.core);
        json.Member("cpu", t.cpu);
        json.Member("verdict", CoreVerdictName(t.verdict));
        json.Member("seconds", t.seconds);
        json.Member("medianMHz", t.medianMHz, 2);
        TextOrNull(json, "reason", t.reason);
        json.EndObject();
    }
    json.EndArray();
}

unsigned long long FileTimeOf(const SYSTEMTIME& time)
{
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    return (static_cast<unsigned long long>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

std::string ComputerName()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) {
        size = 256;
        if (!GetComputerNameExW(ComputerNameNetBIOS, name, &size))
            size = 0;
    }
    return Utf8FromWide(std::wstring(name, size));
}

// The machine's part of a record, and its times set to now.
ResultRecord MachineRecord()
{
    ResultRecord r;
    r.version = BURNWRIGHT_VERSION;
    r.build = sizeof(void*) == 8 ? "64-bit" : "32-bit";
    r.computer = ComputerName();
    r.processor = ProcessorBrand();
    static ProcessorTopology topology;
    if (ReadProcessorTopology(&topology, kNarrowProgram)) {
        r.logicalProcessors = topology.machineProcessors;
        r.cores = topology.machineCores;
    } else {
        r.logicalProcessors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    }
    r.groups = GetActiveProcessorGroupCount();
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory)) {
        r.memoryMB = memory.ullTotalPhys / kMB;
        r.availableMB = memory.ullAvailPhys / kMB;
    }
    GetLocalTime(&r.started);
    r.ended = r.started;
    r.log = Utf8FromWide(FullPath(WideFromUtf8(kLogFileName)));
    return r;
}

// Writes the record; a failure is told, never passed over.
void Write(const ResultRecord& record, const RecordTelling& telling)
{
    const std::string failure = ReplaceFileWhole(g_resultFile, FormatResultRecord(record));
    if (failure.empty())
        return;
    const std::string text = "The result record could not be written to " + Utf8FromWide(g_resultFile) + ": " + failure;
    if (HANDLE errors = RedirectedStandardHandle(STD_ERROR_HANDLE))
        WriteTextLine(errors, text.c_str());
    else if (!telling.unattended)
        MessageBoxW(nullptr, WideFromUtf8(text).c_str(), WideFromUtf8(telling.caption).c_str(), MB_OK | MB_ICONSTOP);
}

} // namespace

int ExitCodeOf(RunVerdict verdict)
{
    switch (verdict) {
    case kVerdictPassed: return kExitPassed;
    case kVerdictFailed: return kExitWrongResults;
    case kVerdictEndedEarly: return kExitEndedEarly;
    case kVerdictIncomplete: return kExitNotAllTested;
    case kVerdictRunning: return -1;
    default: return kExitNotStarted;
    }
}

std::string IsoLocalTime(const SYSTEMTIME& local)
{
    SYSTEMTIME utc = {};
    long offsetMinutes = 0;
    if (TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc))
        offsetMinutes = static_cast<long>((static_cast<long long>(FileTimeOf(local)) -
                                           static_cast<long long>(FileTimeOf(utc))) / 600000000LL);
    const long size = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond, offsetMinutes < 0 ? '-' : '+', size / 60,
                  size % 60);
    return text;
}

std::string FormatResultRecord(const ResultRecord& r)
{
    JsonWriter json;
    json.BeginObject();
    json.Member("program", "Burnwright");
    json.Member("version", r.version);
    json.Member("build", r.build);
    json.Member("computer", r.computer);
    json.Member("processor", r.processor);

    json.Key("machine");
    json.BeginObject();
    json.Member("logicalProcessors", r.logicalProcessors);
    json.Member("cores", r.cores);
    json.Member("groups", r.groups);
    json.Member("memoryMB", r.memoryMB);
    json.Member("availableMB", r.availableMB);
    json.EndObject();

    json.Key("settings");
    if (r.hasSettings)
        Settings(json, r);
    else
        json.Null();

    json.Key("tested");
    if (r.hasTested) {
        json.BeginObject();
        json.Member("workers", r.workers);
        json.Member("processors", r.processors);
        json.Member("cores", r.testedCores);
        json.Member("kernel", r.kernel);
        json.Key("kernels");
        json.BeginArray();
        for (unsigned int load = 0; load < kLoadCount; ++load)
            if (r.kernels & KernelLoadBit(load))
                json.String(KernelLoadName(load));
        json.EndArray();
        json.Member("memoryMB", r.testedMB);
        json.EndObject();
    } else {
        json.Null();
    }

    const bool running = r.verdict == kVerdictRunning;
    json.Member("started", IsoLocalTime(r.started));
    TextOrNull(json, "ended", running ? "" : IsoLocalTime(r.ended));
    json.Key("seconds");
    const unsigned long long started = FileTimeOf(r.started), ended = FileTimeOf(r.ended);
    if (running)
        json.Null();
    else
        json.Number(ended > started ? (ended - started) / 10000000ull : 0);
    json.Member("verdict", RunVerdictName(r.verdict));
    json.Key("exitCode");
    if (running)
        json.Null();
    else
        json.Number(static_cast<unsigned long long>(ExitCodeOf(r.verdict)));
    TextOrNull(json, "message", r.message);
    json.Key("clockMHz");
    ClockFigures(json, r.clockMHz);
    json.Key("failures");
    Failures(json, r.failures);
    json.Key("cores");
    CoreTurns(json, r.coreTurns);
    json.Member("log", r.log);
    TextOrNull(json, "lastLine", r.lastLine);
    json.EndObject();
    return json.Text();
}

std::string TakeResultFile(const wchar_t* commandLine)
{
    std::wstring file;
    if (!FindOptionValue(ArgumentsOf(commandLine), "result", &file))
        return std::string();
    const std::string problem = CheckReplaceable(file);
    if (!problem.empty())
        return "/result " + Utf8FromWide(file) + ": " + problem;
    const std::wstring full = FullPath(file);
    const std::wstring log = FullPath(std::wstring(kLogFileName, kLogFileName + std::strlen(kLogFileName)));
    // The record would replace the log and its history of earlier runs.
    if (CompareStringOrdinal(full.c_str(), -1, log.c_str(), -1, TRUE) == CSTR_EQUAL)
        return "/result " + Utf8FromWide(file) + ": This is the log. Name another file.";
    g_resultFile = full;
    return std::string();
}

void NoteRunStarting()
{
    if (FAILED(QueryAvailableMB(&g_availableMB)))
        g_availableMB = 0;
}

void RecordRefusal(const std::string& message, const RecordTelling& telling)
{
    if (g_resultFile.empty())
        return;
    ResultRecord r = MachineRecord();
    r.verdict = kVerdictNotStarted;
    r.message = message;
    Write(r, telling);
}

void FillRunRecord(ResultRecord* record, const RunSelections& s, const RunOutcome& outcome)
{
    ResultRecord& r = *record;
    r.hasSettings = true;
    const TestConfig config = BuildTestConfig(s);
    r.threads = s.threadIndex == kAllThreadsItem ? "all"
                : s.threadIndex == kEachCoreItem   ? "each"
                                                       : std::to_string(config.threadCount);
    r.memory = !s.testMemory ? "off" : config.memorySizeMB == 0 ? "max" : std::to_string(config.memorySizeMB);
    r.hours = s.hours;
    r.minutes = s.minutes;
    r.interval = s.logIntervalSeconds;
    r.load = s.logCpuLoad != 0;
    char kernels[64] = "all";
    if (s.kernelMask)
        FormatKernelLoads(kernels, sizeof kernels, s.kernelMask);
    r.kernelSetting = kernels;
    r.verdict = outcome.verdict;
    r.message = outcome.message;
    if (outcome.began) {
        const TestedScope& t = outcome.tested;
        r.hasTested = true;
        r.workers = t.workers;
        r.processors = t.processors;
        r.testedCores = t.cores;
        r.kernel = t.kernel ? t.kernel : "";
        r.kernels = t.kernels;
        r.testedMB = t.testedMB;
        r.started = outcome.startedAt;
        r.ended = outcome.endedAt;
        r.clockMHz = outcome.clockMHz;
        r.failures = outcome.failures;
        r.coreTurns = outcome.turns;
        r.lastLine = outcome.lastLine;
    }
}

void RecordRun(const RunSelections& s, const RunOutcome& outcome, const RecordTelling& telling)
{
    if (g_resultFile.empty())
        return;
    ResultRecord r = MachineRecord();
    r.availableMB = g_availableMB;
    FillRunRecord(&r, s, outcome);
    Write(r, telling);
}
