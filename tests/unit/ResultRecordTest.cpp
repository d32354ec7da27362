// The result record: its shape and values as a JSON parser reads them, texts of
// any kind escaped, and the file written whole or refused with its reason.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>

#include "app/ResultRecord.h"
#include "engine/KernelLoads.h"
#include "log/FileReplace.h"
#include "log/JsonWriter.h"
#include "log/TextConversion.h"
#include "support/Support.h"

namespace {

using nlohmann::json;

// A run of "Each core" that failed on one core, with texts that need escaping and
// a byte that is no UTF-8; and a refused command line, with null for what it lacks.
TEST(ResultRecord, ParsesWithEveryFieldAndEscapedTexts)
{
    ResultRecord r;
    r.version = "1.0.0";
    r.build = "64-bit";
    r.computer = "Lab \"7\" \\ Zürich \xE6\x9D\xB1\t\x01";
    r.processor = "CPU @ 3.00GHz\xFF";
    r.logicalProcessors = 16, r.cores = 8, r.groups = 1, r.memoryMB = 32000, r.availableMB = 30000;
    r.hasSettings = true;
    r.threads = "each", r.memory = "256", r.hours = 0, r.minutes = 5, r.interval = 10, r.load = true;
    r.kernelSetting = "fma,crypto";
    r.hasTested = true;
    r.workers = 1, r.processors = 1, r.testedCores = 1, r.kernel = "AVX2", r.testedMB = 256;
    r.kernels = KernelLoadBit(kLoadFma) | KernelLoadBit(kLoadCrypto);
    r.started = SYSTEMTIME{2026, 1, 6, 3, 4, 5, 6, 0};
    r.ended = SYSTEMTIME{2026, 1, 6, 3, 4, 5, 10, 0};
    r.verdict = kVerdictFailed;
    r.clockMHz = {4000.5, 3900.25, 4100, 4050};
    RunFailure failure = {};   // by name: the struct may grow
    failure.time = r.ended, failure.worker = 1, failure.cpu = 6, failure.core = 4, failure.check = 2;
    failure.bits = 0x10000000000000ull;
    failure.load = kLoadCrypto;
    r.failures = {failure};
    r.coreTurns = {CoreTurnResult{1, 0, kCorePassed, 150, 4012.5, ""}, CoreTurnResult{4, 6, kCoreFailed, 20, 3990, ""},
                   CoreTurnResult{5, 8, kCoreNotTested, 0, 0, "no worker (error 80070008)"}};
    r.log = "C:\\Tests\\Ä\\Burnwright.log";
    r.lastLine = "01/03/2026, 04:05:10, Test Failed -- input changed, worker 1, CPU 6, bits 0010000000000000";

    const json j = json::parse(FormatResultRecord(r));
    EXPECT_EQ("Burnwright", j["program"]);
    EXPECT_EQ(r.computer, j["computer"]);
    EXPECT_EQ("CPU @ 3.00GHz\xEF\xBF\xBD", j["processor"]);
    EXPECT_EQ(json::parse(R"({"logicalProcessors": 16, "cores": 8, "groups": 1, "memoryMB": 32000, "availableMB": 30000})"),
              j["machine"]);
    EXPECT_EQ(json::parse(R"({"threads": "each", "memory": 256, "hours": 0, "minutes": 5, "interval": 10, "load": true,
                              "kernel": "fma,crypto"})"),
              j["settings"]);
    EXPECT_EQ(json::parse(R"({"workers": 1, "processors": 1, "cores": 1, "kernel": "AVX2", "kernels": ["fma", "crypto"],
                              "memoryMB": 256})"),
              j["tested"]);
    EXPECT_EQ(0u, j["started"].get<std::string>().find("2026-01-03T04:05:06")) << j["started"];
    EXPECT_TRUE(j["ended"].get<std::string>().size() == 25 && j["ended"].get<std::string>()[19] != 'Z') << j["ended"];
    EXPECT_EQ(4, j["seconds"]);
    EXPECT_EQ("failed", j["verdict"]);
    EXPECT_EQ(1, j["exitCode"]);
    EXPECT_TRUE(j["message"].is_null());
    EXPECT_EQ(json::parse(R"({"min": 3900.25, "median": 4025.25, "max": 4100.00})"), j["clockMHz"]);
    ASSERT_EQ(1u, j["failures"].size());
    const json& f = j["failures"][0];
    EXPECT_EQ(j["ended"], f["time"]);
    json rest = f;
    rest.erase("time");
    EXPECT_EQ(json::parse(R"({"worker": 1, "cpu": 6, "core": 4, "kind": "input changed", "kernel": "crypto", "bits": "0010000000000000"})"), rest);
    EXPECT_EQ(json::parse(R"J([{"core": 1, "cpu": 0, "verdict": "passed", "seconds": 150, "medianMHz": 4012.5, "reason": null},
                              {"core": 4, "cpu": 6, "verdict": "failed", "seconds": 20, "medianMHz": 3990, "reason": null},
                              {"core": 5, "cpu": 8, "verdict": "not tested", "seconds": 0, "medianMHz": 0,
                               "reason": "no worker (error 80070008)"}])J"),
              j["cores"]);
    EXPECT_EQ(r.log, j["log"]);
    EXPECT_EQ(r.lastLine, j["lastLine"]);

    ResultRecord refused;
    refused.message = "Unknown option /x. /? lists the options.";
    const json k = json::parse(FormatResultRecord(refused));
    for (const char* absent : {"settings", "tested", "lastLine"})
        EXPECT_TRUE(k[absent].is_null()) << absent;
    EXPECT_EQ(json::parse(R"({"min": null, "median": null, "max": null})"), k["clockMHz"]);
    EXPECT_EQ("not started", k["verdict"]);
    EXPECT_EQ(2, k["exitCode"]);
    EXPECT_EQ(refused.message, k["message"]);
    EXPECT_TRUE(k["failures"].empty() && k["cores"].empty());
    ResultRecord early = refused;
    early.verdict = kVerdictEndedEarly;
    EXPECT_EQ(3, json::parse(FormatResultRecord(early))["exitCode"]);
    early.verdict = kVerdictIncomplete;
    EXPECT_EQ(4, json::parse(FormatResultRecord(early))["exitCode"]);
    // A run under way has no end, no length and no exit code yet.
    ResultRecord running = r;
    running.verdict = kVerdictRunning;
    const json u = json::parse(FormatResultRecord(running));
    EXPECT_EQ("running", u["verdict"]);
    for (const char* absent : {"ended", "seconds", "exitCode"})
        EXPECT_TRUE(u[absent].is_null()) << absent;
    EXPECT_EQ("\"\\u0000\\u001f\\u007f\\\"\\\\\"", JsonQuoted(std::string("\0\x1f\x7f\"\\", 5)));
}

// The kernel loads: the setting is what /kernel asked for ("all" for none named),
// in load order whatever order it named them; what was tested is what the run
// rotated through, which leaves out a load asked for that this processor lacks.
TEST(ResultRecord, TellsTheKernelLoadsAskedForAndThoseThatRan)
{
    RunSelections s = {};
    s.kernelMask = KernelLoadBit(kLoadCrypto) | KernelLoadBit(kLoadStream) | KernelLoadBit(kLoadFma);
    RunOutcome outcome;
    outcome.verdict = kVerdictPassed;
    outcome.began = true;
    outcome.tested.kernel = "AVX2";
    outcome.tested.kernels = KernelLoadBit(kLoadFma) | KernelLoadBit(kLoadStream);
    ResultRecord r;
    FillRunRecord(&r, s, outcome);
    const json j = json::parse(FormatResultRecord(r));
    EXPECT_EQ("stream,fma,crypto", j["settings"]["kernel"]);
    EXPECT_EQ(json::parse(R"(["stream", "fma"])"), j["tested"]["kernels"]);

    s.kernelMask = 0;
    outcome.tested.kernels = kAllLoads;
    ResultRecord all;
    FillRunRecord(&all, s, outcome);
    const json k = json::parse(FormatResultRecord(all));
    EXPECT_EQ("all", k["settings"]["kernel"]);
    EXPECT_EQ(json::parse(R"(["stream", "fma", "integer", "vector", "crypto", "cache"])"), k["tested"]["kernels"]);

    outcome.began = false;   // a run that never began has settings and nothing tested
    outcome.verdict = kVerdictNotStarted;
    s.kernelMask = KernelLoadBit(kLoadCache);
    ResultRecord unbegun;
    FillRunRecord(&unbegun, s, outcome);
    const json u = json::parse(FormatResultRecord(unbegun));
    EXPECT_EQ("cache", u["settings"]["kernel"]);
    EXPECT_TRUE(u["tested"].is_null());
}

// Written whole over what was there; refused, with the system's reason, where it
// cannot be: a folder that does not exist, a read-only file, a folder in its place,
// no name; and refused as /result where it is the log. Nothing is left behind.
TEST(ResultRecord, ReplacesTheFileWholeOrSaysWhyNot)
{
    TestDirectory dir;
    const std::wstring file = L"r\u00e9sultat \u6771.json";
    std::ofstream(dir.path() + "\\old.json") << "old";
    ASSERT_TRUE(MoveFileW((WideFromUtf8(dir.path()) + L"\\old.json").c_str(), file.c_str()));
    EXPECT_EQ("", CheckReplaceable(file));
    EXPECT_EQ("", ReplaceFileWhole(file, "{}\n"));
    const std::wstring full = FullPath(file);
    EXPECT_EQ(WideFromUtf8(dir.path()) + L"\\" + file, full);
    HANDLE h = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char bytes[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, bytes, sizeof bytes, &got, nullptr));
    CloseHandle(h);
    EXPECT_EQ("{}\n", std::string(bytes, got));

    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA("folder", nullptr);
    const struct { std::wstring path; bool systemReason; } refused[] = {
        {L"missing\\r.json", true}, {file, false}, {L"folder", false}};
    for (const auto& r : refused) {
        const std::string why = CheckReplaceable(r.path);
        EXPECT_NE("", why);
        EXPECT_NE("", ReplaceFileWhole(r.path, "{}"));
        EXPECT_EQ(r.systemReason, why.find("read-only") == std::string::npos && why.find("folder") == std::string::npos) << why;
    }
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ("No file is named.", CheckReplaceable(L""));
    EXPECT_EQ("/result .\\burnwright.LOG: This is the log. Name another file.",
              TakeResultFile(L"Burnwright.exe /run /result .\\burnwright.LOG"));
    WIN32_FIND_DATAW found;
    unsigned int entries = 0;
    HANDLE search = FindFirstFileW((WideFromUtf8(dir.path()) + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        entries += found.cFileName[0] != L'.';
    FindClose(search);
    EXPECT_EQ(2u, entries);   // the record and the folder: no temporary file
    DeleteFileW(full.c_str());
    RemoveDirectoryA("folder");
}

} // namespace
