#!/usr/bin/env python3
"""Replays a list of plausible faults against the test suite: each fault is made in
the sources, the x86-64 twin is rebuilt, its suite runs (stopping at the first
failure), and the fault counts as caught when a test fails (or the build does).
The sources are put back after each fault. Needs the builds of scripts/test.sh.

    python3 scripts/fault-replay.py            # every fault
    python3 scripts/fault-replay.py F05 F12    # some of them
CTEST_ARGS adds arguments for CTest (for example -E to leave tests out);
REPLAY_BITS=32 replays against the PE32 build instead (its suite on this machine).
"""
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# id, what the owner would mind, file, text as it stands, the faulty text
FAULTS = [
    ("F01", "a refused field still starts a run", "src/ui/TestDlg.cpp",
     "    if (!UpdateData(TRUE))\n        return;\n", "    UpdateData(TRUE);\n"),
    ("F02", "a failed start (and a late answer) leaves a stop marker", "src/engine/TestEngine.cpp",
     "    if (!wasRunning)\n        return S_OK;\n", ""),
    ("F03", "the stop does not wait for the workers before releasing the block",
     "src/engine/TestEngine.cpp",
     "    if (idle) {\n        while (g_kernel.WaitForSingleObject(thread, kIdleMs) == WAIT_TIMEOUT)\n"
     "            idle(idleContext);\n    } else {\n        g_kernel.WaitForSingleObject(thread, INFINITE);\n    }\n", ""),
    ("F04", "a missing log file is summarised as a run that never ended", "src/log/LogHistory.cpp",
     "        *runCount = 0;\n        *completedCount = 0;\n        *lastRunSucceeded = 1;",
     "        *runCount = 1;\n        *completedCount = 0;\n        *lastRunSucceeded = 0;"),
    ("F05", "a stored result that changed goes unnoticed", "src/engine/WorkerKernelBody.h",
     "        state->bits = changedBits;\n        return kCheckChangedInput;\n    }\n    if (V::AnyBit(wrong)) {",
     "        state->bits = changedBits;\n        return kCheckChangedInput;\n    }\n    if (false) {"),
    ("F06", "an input that changed without changing its result goes unnoticed",
     "src/engine/WorkerKernelBody.h",
     "    if (changedBits) {", "    if (false) {"),
    ("F07", "a worker's error does not end the run at the next sample",
     "src/engine/PeriodicSample.cpp",
     "    if (failedWorkerArea && !coreTurnCount)\n        return StopTest();\n", ""),
    ("F08", "a failed start is not reported and the dialog goes on as if running",
     "src/ui/TestDlg.cpp", "    if (status < 0) {", "    if (status > 0) {"),
    ("F09", "log lines carry the day before the month", "src/log/TestLog.cpp",
     "now.wMonth, now.wDay,", "now.wDay, now.wMonth,"),
    ("F10", "the stop keeps the memory block", "src/engine/TestEngine.cpp",
     "    ReleaseBlock();\n\n    if (!wasRunning)", "\n    if (!wasRunning)"),
    ("F11", "workers left suspended by a failed start hang the stop", "src/engine/TestEngine.cpp",
     "        if (workerThreads[i] && !wasRunning)\n            g_kernel.ResumeThread(workerThreads[i]);\n", ""),
    ("F12", "a tick exactly at the duration ends the run", "src/engine/PeriodicSample.cpp",
     "if (elapsedMs > config.durationMs)", "if (elapsedMs >= config.durationMs)"),
    ("F13", "the frequency probe takes its fastest window, a brief peak, not the median",
     "src/probes/CpuFrequency.cpp", "static_cast<double>(ticks[timed / 2])",
     "static_cast<double>(*std::min_element(ticks, ticks + timed))"),
    ("F14", "the load figure is the idle share", "src/probes/CpuLoad.cpp",
     "    *load = 100.0 - idlePercent;", "    *load = idlePercent;"),
    ("F15", "a line holding both markers, or no marker at all, counts as a completed last run",
     "src/log/LogHistory.cpp", "lastStop > lastStart ? 1 : 0", "lastStop >= lastStart ? 1 : 0"),
    ("F16", "the summary swaps the run and completed counts", "src/log/LogHistory.cpp",
     "                  runCount, completedCount);", "                  completedCount, runCount);"),
    ("F17", "Cancel during a run stops it without asking", "src/ui/TestDlg.cpp",
     '    const int answer = AfxMessageBox("Terminate the test?", MB_OKCANCEL | MB_ICONEXCLAMATION);\n',
     "    const int answer = IDOK;\n"),
    ("F18", 'thread item "16" starts 8 workers', "src/ui/RunConfig.cpp",
     "{ 1, 2, 4, 8, 16, 32, 64 }", "{ 1, 2, 4, 8, 8, 32, 64 }"),
    ("F19", "each line overwrites the log instead of appending", "src/log/TestLog.cpp",
     'std::fopen(kLogFileName, "at")', 'std::fopen(kLogFileName, "wt")'),
    ("F20", "log lines do not reach the list on screen", "src/log/TestLog.cpp",
     "        g_sink(g_sinkContext, line);", "        ;"),
    ("F21", "the clock counts seconds as milliseconds", "src/engine/Clock.cpp",
     "msPerCount = 1000.0 /", "msPerCount = 1.0 /"),
    ("F22", "an error found after the last sample is reported as a completed run",
     "src/engine/RunEnd.cpp", "} else if (const WorkerArea* failed = failedWorkerArea) {",
     "} else if (const WorkerArea* failed = nullptr) {"),
    ("F23", "the status line shows kHz as MHz", "src/engine/PeriodicSample.cpp",
     "frequency * 0.000001", "frequency * 0.001"),
    ("F24", "a failed counter read gives the tick count, not 0 (which ends the run)",
     "src/engine/Clock.cpp", "    if (!g_kernel.QueryPerformanceCounter(&count))\n        return 0;",
     "    if (!g_kernel.QueryPerformanceCounter(&count))\n        return g_kernel.GetTickCount();"),
    ("F25", "the stop leaves the workers' handles open", "src/engine/TestEngine.cpp",
     "    g_kernel.CloseHandle(thread);\n    thread = nullptr;\n", "    thread = nullptr;\n"),
    ("F26", "a run of 24 hours is refused", "src/ui/FieldRules.h",
     "kHoursRange = { 0, 24 };", "kHoursRange = { 0, 23 };"),
    ("F27", "0 hours 0 minutes is accepted", "src/ui/FieldRules.h",
     "hours == 0 ? 1u : 0u", "hours == 0 ? 0u : 0u"),
    ("F28", "a whole number of hours (minutes 0) is refused", "src/ui/FieldRules.h",
     "hours == 0 ? 1u : 0u", "1u"),
    ("F29", "60 minutes are accepted", "src/ui/FieldRules.h",
     "hours == 0 ? 1u : 0u, 59 };", "hours == 0 ? 1u : 0u, 60 };"),
    ("F30", "the longest log interval, 60 s, is refused", "src/ui/FieldRules.h",
     "kLogIntervalRange = { 1, 60 };", "kLogIntervalRange = { 1, 59 };"),
    ("F31", "a number past 32 bits is taken as its low 32 bits", "src/framework/DataExchange.cpp",
     "        if (number > 0xFFFFFFFFull)\n            return false;\n", ""),
    ("F32", "the interval's range is checked before the hours'", "src/ui/TestDlg.cpp",
     "    pDX->PrepareEditCtrl(IDC_HOURS);\n    DDV_MinMaxUInt(pDX, m_nHours, kHoursRange.min, kHoursRange.max);\n",
     "    pDX->PrepareEditCtrl(IDC_LOG_INTERVAL);\n"
     "    DDV_MinMaxUInt(pDX, m_nLogInterval, kLogIntervalRange.min, kLogIntervalRange.max);\n"
     "    pDX->PrepareEditCtrl(IDC_HOURS);\n    DDV_MinMaxUInt(pDX, m_nHours, kHoursRange.min, kHoursRange.max);\n"),
    ("F33", "refused minutes send the cursor to the hours", "src/ui/TestDlg.cpp",
     "    pDX->PrepareEditCtrl(IDC_MINUTES);\n", ""),
    ("F34", "an empty field reads as 0", "src/framework/DataExchange.cpp",
     "    if (!text || !*text)\n        return false;\n", "    if (!text)\n        return false;\n"),
    ("F35", "the cursor stays where it was after a refusal", "src/framework/DataExchange.cpp",
     "    SendMessageA(m_pDlgWnd->m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);\n", ""),
    ("F36", "a failure names CPU number = worker's core x 2, not the processor it is tied to",
     "src/engine/RunEnd.cpp", "failure.cpu = workerPlacements[worker - 1].cpu;", "failure.cpu = 2 * (worker - 1);"),
    ("F37", "efficiency cores get workers before performance cores", "src/engine/ProcessorTopology.cpp",
     "a.efficiency > b.efficiency", "a.efficiency < b.efficiency"),
    ("F38", "a core's second logical processor gets a worker before every core has one",
     "src/engine/ProcessorTopology.cpp",
     "    for (unsigned int round = 0; round < kMaxCoreThreads; ++round)\n        for (unsigned int c = 0; c < coreCount; ++c)\n",
     "    for (unsigned int c = 0; c < coreCount; ++c)\n        for (unsigned int round = 0; round < kMaxCoreThreads; ++round)\n"),
    ("F39", "workers float although the machine reports its topology", "src/engine/TestEngine.cpp",
     "        TieWorker(i);\n", ""),
    ("F40", "a /run start that found wrong results ends with 0", "src/app/ResultRecord.cpp",
     "    case kVerdictFailed: return kExitWrongResults;", "    case kVerdictFailed: return kExitPassed;"),
    ("F41", "an option given twice is accepted, the last one counting", "src/app/CommandLine.cpp",
     '                ok = reader.Refuse("The option " + option + " is given twice.");\n', ""),
    ("F42", "a line reaches the redirected output without its line end", "src/log/TestLog.cpp",
     '"%s\\r\\n", line);', '"%s", line);'),
    ("F43", "MAX in the 32-bit program uses only the largest free range", "src/engine/MemoryPlan.cpp",
     "for (unsigned int i = 0; i < machine.rangeCount; ++i) {",
     "for (unsigned int i = 0; i < 1 && i < machine.rangeCount; ++i) {"),
    ("F44", "every new pattern is the same: no rotation through the value ranges", "src/engine/WorkerKernel.cpp",
     "reinterpret_cast<UINT_PTR>(area->base) >> 12) + refill / 2;",
     "reinterpret_cast<UINT_PTR>(area->base) >> 12) + 0 * refill;"),
    ("F45", "a commit that fails part-way starts the run with less memory, silently",
     "src/engine/TestEngine.cpp",
     "        if (!committed) {\n            const HRESULT status = LastErrorStatus();\n            ReleaseBlock();\n"
     "            return status;\n        }\n",
     "        if (!committed)\n            continue;\n"),
    ("F46", "the start fills the memory without the window answering", "src/ui/TestDlg.cpp",
     "    m_bCancelStart = 0;\n    theApp.m_engine.idle = AnswerWhileWaiting;\n", "    m_bCancelStart = 0;\n"),
    ("F47", "each core in turn runs every turn on the first core", "src/engine/EachCoreRun.cpp",
     "WorkerPlacement{1, slot.processor, slot.cpu}", "WorkerPlacement{1, topology.order[0].processor, slot.cpu}"),
    ("F48", "a core's error is charged to the cores after it as well", "src/engine/EachCoreRun.cpp",
     "    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);\n", ""),
    ("F49", "each core's clock is measured on the window's thread, not on the core under test",
     "src/engine/PeriodicSample.cpp", "    if (coreTurnCount)\n        frequency = turnClockKHz * 1000.0;\n    else\n", ""),
    ("F50", "a run of each core in turn shorter than a minute per core is accepted", "src/ui/RunConfig.cpp",
     "hours) * 60 + minutes >= cores", "hours) * 60 + minutes + cores >= cores"),
    ("F51", "a core's failure is logged only at the end of its turn", "src/engine/EachCoreRun.cpp",
     "    if (turnPhase == kTurnRunning && (failedWorkerArea || timeIsUp))",
     "    if (turnPhase == kTurnRunning && timeIsUp)"),
    ("F52", "the outcome of a run that found wrong results says passed", "src/engine/RunEnd.cpp",
     "        verdict = kVerdictFailed;\n    } else {", "        verdict = kVerdictPassed;\n    } else {"),
    ("F53", "the record is written in place, so a reader can see half of it", "src/log/FileReplace.cpp",
     '    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,\n                              nullptr);\n    DWORD written = 0;\n    bool ok = file != INVALID_HANDLE_VALUE &&\n              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&\n              written == bytes.size() && FlushFileBuffers(file);\n    error = ok ? 0 : GetLastError();\n    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) {\n        ok = false;\n        error = GetLastError();\n    }\n    // A reader that holds the file for a moment keeps it from being replaced: try again a while.\n    for (int attempt = 0; ok && !MoveFileExW(temporary.c_str(), full.c_str(),\n                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); ++attempt) {\n        error = GetLastError();\n        ok = attempt < kMoveAttempts && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION);\n        if (ok)\n            Sleep(kMoveRetryMs);\n    }\n',
     '    DeleteFileW(temporary.c_str());\n    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,\n                              nullptr);\n    DWORD written = 0;\n    bool ok = file != INVALID_HANDLE_VALUE &&\n              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&\n              written == bytes.size() && FlushFileBuffers(file);\n    error = ok ? 0 : GetLastError();\n    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) {\n        ok = false;\n        error = GetLastError();\n    }\n'),
    ("F54", "a refused command line writes no record", "src/app/TestApp.cpp",
     "        RecordRefusal(commandLine.message, RecordTelling{settings.run, AfxGetAppName()});\n", ""),
    ("F55", "an area is refilled after every pass of equal time: half of the time goes to refills",
     "src/engine/WorkerKernel.cpp", "run.refillGap = kRefillShare * (run.lastRefill - now);",
     "run.refillGap = run.lastRefill - now;"),
    ("F56", "a stored result that changed while a loop runs is overwritten unnoticed after its first pass",
     "src/engine/WorkerKernelBody.h", "if (V::AnyBit(V::Merge(V::Merge(inputs, last, false), wrong, true)))",
     "if (V::AnyBit(V::Merge(inputs, last, false)))"),
    ("F57", "a worker's run cut into parts checks only its first areas", "src/engine/WorkerKernel.cpp",
     "        return kCheckClean;\n    for (;;) {", "        return kCheckClean;\n    worker->next = 0;\n    for (;;) {"),
    ("F58", "a turn runs the widest kernel from its start: no SSE2 half", "src/engine/TurnTimeline.cpp",
     "wideFrom_(loadFrom + (end > loadFrom ? (end - loadFrom) / 2 : 0))", "wideFrom_(loadFrom)"),
    ("F59", "an input changed before an area's first pass is taken as its reference",
     "src/engine/WorkerKernelBody.h", "const bool compare = state->passes != 0 || state->inputKnown != 0;",
     "const bool compare = state->passes != 0;"),
    ("F60", "the same bit changed in two lanes cancels when the lanes are folded", "src/engine/WorkerKernelBody.h",
     "return CheckLanes<V>(inputs, last, wrong, state);", "return Check<V>(inputs, wrong, state);"),
    ("F61", "a run in which a core was not tested ends as passed", "src/engine/RunEnd.cpp",
     "untested ? kVerdictIncomplete", "false ? kVerdictIncomplete"),
    ("F62", "the end is judged after the workers and the memory were released", "src/engine/TestEngine.cpp",
     "    return EndRun(stopMs, reason == kStopTimeUp);", "    return EndRun(GetTimeMs() - startTimeMs, reason == kStopTimeUp);"),
    ("F63", "a failed core's clock is logged for the rest of its turn", "src/engine/CoreTurn.cpp",
     "    InterlockedExchange(&turnClockKHz, 0);   // no core is under load now\n", ""),
    ("F64", "no record is written as the run starts: a killed run leaves the one before", "src/ui/TestDlg.cpp",
     "    RecordRun(Selections(), theApp.m_engine.outcome, Telling());\n}", "}"),
    ("F65", "a refused Each core duration writes no record", "src/ui/TestDlg.cpp",
     "        RecordRun(Selections(), Unbegun(kVerdictNotStarted, refusal), Telling());\n", ""),
    ("F66", "with a log that cannot be written the outcome's last line is stale", "src/log/TestLog.cpp",
     "    std::memcpy(g_lastLine, line, sizeof line);\n    // The echo", "    // The echo"),
    ("F67", "the next core's refill cannot be called off", "src/engine/CoreTurn.cpp",
     "                if (testRunning == 0 || *running == 0)\n                    return false;\n", ""),
    ("F68", "the stop waits for the workers without answering", "src/engine/TestEngine.cpp",
     "    if (idle) {\n        while", "    if (false) {\n        while"),
    ("F69", "a tick waits without a limit for a stopping worker", "src/engine/EachCoreRun.cpp",
     "if (!TurnWorkerEnded(kTurnWaitMs))", "if (!TurnWorkerEnded(INFINITE))"),
    ("F70", "a turn whose worker cannot be tied to its core runs floating and passes", "src/engine/EachCoreRun.cpp",
     "    if (!workerPlacements[0].tied) {   // a floating worker would not test this core",
     "    if (false) {"),
    ("F71", "the fma class compares only its first chain's results", "src/engine/KernelClassFmaBody.h",
     "    for (unsigned int c = 0; c < V::kChains; ++c)\n        wrong = V::OrXor(",
     "    for (unsigned int c = 0; c < 1; ++c)\n        wrong = V::OrXor("),
    ("F72", "the fma class's reference rounds the product and the sum apart: every healthy pass fails", "src/engine/KernelClassFma.cpp",
     "        v = _mm_fmadd_sd(v, mv, v);",
     "        v = _mm_add_sd(_mm_mul_sd(v, mv), v);"),
    ("F73", "a kernel class's changed input goes unnoticed unless it lies in the first two lanes", "src/engine/KernelClassVariants.h",
     "    const __m128i any = _mm_or_si128(_mm_or_si128(s0, s1), _mm_or_si128(s2, s3));",
     "    const __m128i any = s0;"),
    ("F74", "the integer class's division chain is never compared", "src/engine/KernelClassIntegerChains.h",
     "        out[kMulChains + kShiftChains] = y;",
     "        out[kMulChains + kShiftChains] = 0;"),
    ("F75", "the integer reference's high product drops the middle carry", "src/engine/KernelClassInteger.cpp",
     "(p10 >> kHalf) + (middle >> kHalf));",
     "(p10 >> kHalf));"),
    ("F76", "the integer reference leaves out the bit counts the BMI2 passes add", "src/engine/KernelClassInteger.cpp",
     "    IntegerReference(workspace->input, bitCounts, workspace->expected);",
     "    IntegerReference(workspace->input, false, workspace->expected);"),
    ("F77", "the vector class compares only its first chain's results", "src/engine/KernelClassVectorBody.h",
     "    for (unsigned int c = 1; c < V::kChains; ++c)\n        wrong = V::Differ(",
     "    for (unsigned int c = 1; c < 1; ++c)\n        wrong = V::Differ("),
    ("F78", "the AVX-512 vector class sees a wrong result only in its first lane", "src/engine/KernelClassVectorAvx512.cpp",
     "    CLASS_INLINE bool AnyBit(Reg v) { return _mm512_test_epi64_mask(v, v) != 0; }",
     "    CLASS_INLINE bool AnyBit(Reg v) { return (_mm512_test_epi64_mask(v, v) & 1) != 0; }"),
    ("F79", "AES decryption is never compared with the plaintext", "src/engine/KernelClassCryptoAes.cpp",
     "        wrong = _mm_or_si128(wrong, _mm_xor_si128(x[b], ClassWord(in, 22 + b)));\n",
     "        wrong = _mm_or_si128(wrong, _mm_setzero_si128());\n"),
    ("F80", "the carry-less reference shifts the high half one bit short", "src/engine/KernelClassCryptoClmul.cpp",
     "*hi ^= a >> (64 - bit);",
     "*hi ^= a >> (63 - bit);"),
    ("F81", "the CRC reference uses the other CRC-32 polynomial", "src/engine/KernelClassCryptoCrc32.cpp",
     "(crc >> 1) ^ 0x82F63B78u",
     "(crc >> 1) ^ 0xEDB88320u"),
    ("F82", "a kernel class's loop does not publish its count of passes", "src/engine/KernelClasses.cpp",
     "        StorePassCount(state, ++passes);\n",
     "        ++passes;\n"),
    ("F83", "AVX-512 classes run where the operating system does not save the ZMM state", "src/engine/CpuFeatures.cpp",
     "        if ((words.xcr0 & kXcr0Avx512) == kXcr0Avx512 && (ebx7 & kAvx512fBit)) {",
     "        if (ebx7 & kAvx512fBit) {"),
    ("F84", "a /kernel list is refused when this processor lacks one of its loads, though the others run",
     "src/app/CommandLine.cpp", "    if ((asked & available) == 0) {", "    if ((asked & available) != asked) {"),
    ("F85", "the loads /kernel names never reach the run's configuration", "src/ui/RunConfig.cpp",
     "    config.kernelMask = s.kernelMask;\n", "    config.kernelMask = 0;\n"),
    ("F86", "the record's tested.kernels lists the loads asked for, not those that ran", "src/app/ResultRecord.cpp",
     "        r.kernels = t.kernels;\n", "        r.kernels = s.kernelMask ? s.kernelMask : kAllLoads;\n"),
    ("F87", "the kernel loads do not rotate: the first load takes every slot", "src/engine/KernelRotation.cpp",
     "        slot.load = plan.loads[index % plan.count];", "        slot.load = plan.loads[0];"),
    ("F88", "with System Memory the sweep takes every slot: no other load runs", "src/engine/KernelRotation.cpp",
     "if (index % 4 == 3 && plan.count)", "if (false)"),
    ("F89", "a unit class's error is charged to the stream", "src/engine/LoadRunner.cpp",
     "RecordWorkerError(loads->stream.first, check, state.bits, slot.load, loads->stream.counted);",
     "RecordWorkerError(loads->stream.first, check, state.bits, kLoadStream, loads->stream.counted);"),
    ("F90", "a turn's half that changes load within a slot runs on the other load's workspace: a false failure",
     "src/engine/LoadRunner.cpp",
     "loads->preparedShare != share || loads->prepared != &variant) {", "loads->preparedShare != share) {"),
    ("F91", "a unit class's workspace is replaced unchecked: a change after its last pass is lost",
     "src/engine/LoadRunner.cpp", "        if (loads->prepared) {\n            loads->classState.passLimit",
     "        if (false) {\n            loads->classState.passLimit"),
    ("F92", "the BMI2 integer pass takes its full products with MUL: MULX is never run", "src/engine/KernelClassIntegerBmi2.cpp",
     'asm("mulx %3, %0, %1" : "=r"(lo), "=r"(*hi) : "d"(a), "rm"(b));',
     'asm("mul%z3 %3" : "=a"(lo), "=d"(*hi) : "a"(a), "rm"(b) : "cc");'),
    ("F93", "the integer class's multiply chains never take the full product", "src/engine/KernelClassIntegerChains.h",
     "if ((step + c) % 3 == 0) {", "if (false) {"),
    ("F94", "a unit class's inputs end inside a 64-byte block: the input check reads words left from the load before",
     "src/engine/KernelClassInteger.cpp", "workspace->inputWords = (kIntegerInputs + 7) & ~7u;",
     "workspace->inputWords = kIntegerInputs;"),
    ("F95", "the SHA unit's message schedule is never extended: rounds 16 to 63 reuse the block's words",
     "src/engine/KernelClassCryptoSha.cpp", "            if (i >= 1 && i <= 12)\n", "            if (false)\n"),
    ("F96", "the AVX sweep enters an odd number of 16-word blocks two vectors early: it reads and writes "
     "before the area and skips its last vectors",
     "src/engine/WorkerKernelAvx.cpp", '"sub $128, %[j]', '"sub $64, %[j]'),
    ("F97", "the AVX sweep leaves every other vector's a and b out of the inputs' sum",
     "src/engine/WorkerKernelAvx.cpp", "Avx::Merge(Avx::Merge(in0, in1, false), cs, false)",
     "Avx::Merge(in0, cs, false)"),
    ("F98", "the AVX loop's later passes leave the wrong results out of their check: a wrong result ends "
     "the loop only when the run ends",
     "src/engine/WorkerKernelAvx.cpp", '"vorpd %[wrong], %[check], %[check]\\n\\t"', '"\\n\\t"'),
    ("F99", "the AVX loop's later passes compare their inputs' sum with nothing",
     "src/engine/WorkerKernelAvx.cpp", '"vxorpd %[last], %[sum], %[check]\\n\\t"',
     '"vxorpd %[sum], %[sum], %[check]\\n\\t"'),
    ("F100", "the AVX loop's later passes fold the lanes of a changed sum: the same bit changed in two "
     "lanes cancels",
     "src/engine/WorkerKernelAvx.cpp", "return CheckLanes<Avx>(sum, last, found, state);",
     "return Check<Avx>(sum, found, state);"),
    ("F101", "the AVX loop's written-out pass serves every area of 8192 bytes or more: a larger area's "
     "later passes sweep only the last 2048 bytes of each quarter",
     "src/engine/WorkerKernelAvx.cpp", "if (n == kWholeSweepElements) {", "if (n >= kWholeSweepElements) {"),
    ("F102", "the AVX loop's written-out pass keeps the sums of the pass before: a clean area fails",
     "src/engine/WorkerKernelAvx.cpp", '"1:\\n\\t"\n                         AVX_ZERO_SUMS\n',
     '"1:\\n\\t"\n'),
    ("F103", "the AVX loop's later passes never branch on a pass's check: an error is seen only if the last "
     "pass before the limit or the flag finds it",
     "src/engine/WorkerKernelAvx.cpp", '"jnz 4f\\n\\t"', '"\\n\\t"'),
    ("F104", "the AVX loop leaves out the check of the pass that reaches its limit: a result changed in "
     "that pass is stored over unnoticed",
     "src/engine/WorkerKernelAvx.cpp", "        if (Avx::AnyBit(check)) {",
     "        if (left != 0 && Avx::AnyBit(check)) {"),
    ("F107", "a core whose memory fill outlasted its turn, or took most of it, passes with no load run on it",
     "src/engine/EachCoreRun.cpp",
     "if (turn.verdict == kCorePassed && !LoadHadHalfTheTurn(",
     "if (turn.verdict == kCorePassed && false && !LoadHadHalfTheTurn("),
    ("F108", "cores whose turns the run's time passed are counted not tested but never named: "
     "\"Test Failed -- ; 2 of 8 cores passed\"",
     "src/engine/RunEnd.cpp", "            if (wholeTime && turn.verdict == kCoreNotTested && !turn.reason[0])",
     "            if (false)"),
    ("F109", "a record is first written once the start has filled the memory: a machine that stops during "
     "the fill leaves an earlier run's record, perhaps \"passed\", standing for this one",
     "src/ui/TestDlg.cpp", "    RecordRun(Selections(), Unbegun(kVerdictRunning, \"\"), Telling());\n", ""),
    ("F110", "a refused /run's record says no memory is available",
     "src/ui/TestDlg.cpp", "    NoteRunStarting();   // a refused run's record", "    // a refused run's record"),
    ("F111", "/result \"\" is refused with whatever error was left over (\"Success.\")",
     "src/log/FileReplace.cpp", "    if (path.empty())\n        return \"No file is named.\";\n", ""),
    ("F112", "/result naming the log is accepted: the record replaces the log and its history",
     "src/app/ResultRecord.cpp", "    if (CompareStringOrdinal(full.c_str(), -1, log.c_str(), -1, TRUE) == CSTR_EQUAL)",
     "    if (false)"),
    ("F113", "a tested line with many loads named is cut at the log's limit, through the memory figure",
     "src/engine/TestedScopeLine.cpp", "    if (names) {", "    if (names && false) {"),
    ("F114", "MAX leaves the address space only its fixed reserve: a 32-bit start of 16 or 32 workers "
     "finds no room for their stacks and fails with 80070008 (replay with REPLAY_BITS=32)",
     "src/engine/TestEngine.cpp", "                                (besideBytes + kMB - 1) / kMB);",
     "                                0 * besideBytes);"),
    ("F105", "a log line sits only in the system's cache: a machine that resets mid-run loses the last lines",
     "src/log/TestLog.cpp",
     "    std::fflush(file);\n    g_kernel.FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));\n",
     "    std::fflush(file);\n"),
    ("F106", "a crash's zero bytes are read as characters: the next run's start is missed (a crashed run is "
     "hidden) and a log ending in zeros shows an empty last line",
     "src/log/LogHistory.cpp", "        if (c == '\\0')\n            continue;\n", ""),
    ("F115", "the end of the session leaves a run in the window unstopped: no stop line, and the next "
     "summary calls the run failed", "src/ui/TestDlg.cpp", "    if (!ending)\n        return;\n    m_bSessionEnding = 1;",
     "    if (!ending || !m_bUnattended)\n        return;\n    m_bSessionEnding = 1;"),
    ("F116", "a size asked for is always one block: in the 32-bit build a size the largest free range cannot "
     "hold fails with 80070008 where MAX would start",
     "src/engine/MemoryPlan.cpp",
     "if (requestedMB != 0 && (machine.rangeCount == 0 || machine.ranges[0].bytes / kMB >= totalMB)) {",
     "if (requestedMB != 0) {"),
]


def run(command, log):
    with open(log, "w") as out:
        return subprocess.call(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT)


def first_failure(log):
    text = open(log, errors="replace").read()
    match = re.search(r"Test +#\d+: (\S+) .*\*\*\*(Failed|Timeout|Exception)", text)
    return "%s (%s)" % (match.group(1), match.group(2)) if match else "-"


def suite_verdict(suite, log):
    """Runs the suite with the fault in place. Only a failing test catches a fault: a
    run that fails with none named (a Wine process that died while CTest listed the
    tests) is run again, and counts as an error if it fails so once more."""
    for attempt in range(2):
        if not run(suite, log):
            return "MISSED", "-"
        by = first_failure(log)
        if by != "-":
            return "caught", by
    return "ERROR", "the suite failed with no test named (%s)" % os.path.basename(log)


def main(selected):
    bits = os.environ.get("REPLAY_BITS", "64")
    if bits == "32":
        build = os.environ.get("BUILD_DIR", os.path.join(ROOT, "build"))
    else:
        build = os.environ.get("BUILD64_DIR", os.path.join(ROOT, "build64"))
    logs = os.path.join(build, "faults")
    os.makedirs(logs, exist_ok=True)
    suite = ["bash", "scripts/suite.sh", bits, "--stop-on-failure"] + os.environ.get("CTEST_ARGS", "").split()
    build_cmd = ["cmake", "--build", build, "-j%d" % os.cpu_count()]

    if run(build_cmd, os.path.join(logs, "build.log")) or run(suite, os.path.join(logs, "clean.log")):
        print("the suite does not pass without faults; see %s" % logs)
        return 1

    rows, missed = [], 0
    for fault_id, what, path, original, faulty in FAULTS:
        if selected and fault_id not in selected:
            continue
        source = os.path.join(ROOT, path)
        text = open(source).read()
        if text.count(original) != 1:
            print("%s: the text to change is not in %s exactly once" % (fault_id, path))
            return 1
        start = time.time()
        log = os.path.join(logs, fault_id + ".log")
        try:
            open(source, "w").write(text.replace(original, faulty))
            if run(build_cmd, log):
                outcome, by = "caught", "the build"
            else:
                outcome, by = suite_verdict(suite, log)
        finally:
            open(source, "w").write(text)
        missed += outcome != "caught"
        rows.append("| %s | %s | %s | %s | %d s |" % (fault_id, what, outcome, by, time.time() - start))
        print(rows[-1], flush=True)

    run(build_cmd, os.path.join(logs, "build.log"))   # the build without faults again
    print("\n| fault | what | outcome | first failing test | time |\n| --- | --- | --- | --- | --- |")
    print("\n".join(rows))
    print("\n%d of %d caught" % (len(rows) - missed, len(rows)))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(set(sys.argv[1:])))
