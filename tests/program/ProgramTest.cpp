// The whole program driven through its window from another process: a run from a
// refused field and a failed start to its stop, a failed machine, killed runs.
#include <gtest/gtest.h>

#include <intrin.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <regex>
#include <utility>
#include <vector>

#include "engine/ProcessorTopology.h"
#include "log/TextConversion.h"
#include "log/LogHistory.h"
#include "support/Support.h"

namespace {

using nlohmann::json;

const char kStarted[] = "Test Started --", kStopped[] = "Test Stopped --";
const SIZE_T MB = 1u << 20;

// The emulator here (its hypervisor signature) runs code at no fixed clock, so
// only the figure's plausibility and a looser answering time are checked there.
bool UnderEmulation()
{
    int regs[4] = {};
    __cpuid(regs, 0x40000000);
    return std::memcmp(&regs[1], "TCGTCGTCGTCG", 12) == 0;
}

// This thread's core clock in hertz, measured as the product measures it: nine
// windows of a million dependent additions (100 to a block, one cycle each), the
// median window. A few milliseconds; interruptions only make a window slower.
double CoreClockHz()
{
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    long long windows[9];
    size_t value = 0, step = 1;
    for (long long& window : windows) {
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < 10000; ++i)
            asm volatile(".rept 100\n\tadd %1, %0\n\t.endr" : "+r"(value) : "r"(step));
        QueryPerformanceCounter(&t1);
        window = t1.QuadPart - t0.QuadPart;
    }
    std::nth_element(windows, windows + 4, windows + 9);
    return 1e6 * static_cast<double>(frequency.QuadPart) / static_cast<double>(windows[4]);
}

// The value at fraction q of the sorted values (0.5: the median).
double Quantile(std::vector<double> values, double q)
{
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// A file's bytes, read while others may replace it ("" when there is none).
std::string ReadShared(const std::string& path)
{
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// The file's identity on its volume (0: no file).
unsigned long long FileIndex(const std::string& path)
{
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known ? (static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow) : 0;
}

// A result record agrees with its run's log and exit code: the verdict, the last
// line ("Test Failed --" exactly when failed), the times of the first and last
// lines, the logged clock figures and the failure lines; one that never started
// has a message and nothing tested.
void ExpectRecordAgrees(const std::string& text, const std::string& log, DWORD code)
{
    ASSERT_TRUE(json::accept(text)) << text;
    const json r = json::parse(text);
    const char* verdicts[] = {"passed", "failed", "not started", "ended early", "incomplete"};
    ASSERT_LT(code, 5u);
    EXPECT_EQ(code, r["exitCode"]);
    EXPECT_EQ(verdicts[code], r["verdict"]);
    EXPECT_EQ("Burnwright", r["program"]);
    EXPECT_EQ(sizeof(void*) == 8 ? "64-bit" : "32-bit", r["build"]);
    EXPECT_NE("", r["computer"]);
    std::vector<double> mhz;
    size_t failed = 0;
    for (const std::string& message : Messages(log)) {
        double figure = 0;
        if (std::sscanf(message.c_str(), "Freq %lf MHz", &figure) == 1 && figure > 0)   // 0.00: none measured
            mhz.push_back(figure);
        failed += message.find("Test Failed --") == 0;
    }
    EXPECT_EQ(failed, r["failures"].size());
    const std::vector<std::string> lines = LogLines(log);
    if (code == 2) {
        EXPECT_NE("", r["message"].get<std::string>());
        EXPECT_TRUE(r["tested"].is_null() && r["lastLine"].is_null());
        EXPECT_TRUE(lines.empty());
        return;
    }
    EXPECT_TRUE(r["message"].is_null());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), r["lastLine"]);
    EXPECT_EQ(code == 1, lines.back().find("Test Failed --") == 22) << lines.back();
    auto iso = [](const std::string& line) {   // MM/DD/YYYY, hh:mm:ss
        return line.substr(6, 4) + "-" + line.substr(0, 2) + "-" + line.substr(3, 2) + "T" + line.substr(12, 8);
    };
    EXPECT_EQ(iso(lines.front()), r["started"].get<std::string>().substr(0, 19));
    EXPECT_EQ(iso(lines.back()), r["ended"].get<std::string>().substr(0, 19));
    std::sort(mhz.begin(), mhz.end());
    const json& clock = r["clockMHz"];
    if (mhz.empty()) {
        EXPECT_TRUE(clock["min"].is_null() && clock["median"].is_null() && clock["max"].is_null()) << clock;
    } else {
        EXPECT_DOUBLE_EQ(mhz.front(), clock["min"].get<double>());
        EXPECT_NEAR((mhz[(mhz.size() - 1) / 2] + mhz[mhz.size() / 2]) / 2, clock["median"].get<double>(), 0.0051);
        EXPECT_DOUBLE_EQ(mhz.back(), clock["max"].get<double>());
    }
}

class Program : public ::testing::Test {
protected:
    // The fault build with `faults`, or the product itself.
    void Start(const std::string& faults = "", bool showHistory = false)
    {
        ASSERT_TRUE(program.Start(dir.path(), faults.empty() ? BURNWRIGHT_EXE : BURNWRIGHT_FAULTS_EXE, faults));
        ASSERT_TRUE(program.SetText(1017, "1"));   // log interval
        ASSERT_TRUE(program.SetCheck(1024, showHistory));
    }
    size_t Count(const std::string& prefix) const
    {
        size_t n = 0;
        for (const std::string& message : Messages(dir.ReadLog()))
            n += message.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    bool WaitForLines(const std::string& prefix, size_t count, DWORD timeoutMs = 60000) const
    {
        return WaitUntil([&] { return Count(prefix) >= count; }, timeoutMs);
    }
    // Starts the program with `arguments` and waits for its end (null if either
    // fails). Now and then Wine's process dies in the host's loader as it exits
    // right after it started ("Inconsistency detected by ld.so", exit code 1): a
    // start that ends with another code than `expected` is made again, three times
    // at most, so a program that gives a wrong code still fails every time.
    std::unique_ptr<WindowDriver> RunToExit(const char* exe, const char* arguments, const char* faults,
                                            DWORD expected, DWORD* code)
    {
        std::unique_ptr<WindowDriver> run;
        for (int attempt = 0; attempt < 3; ++attempt) {
            run.reset(new WindowDriver);
            if (!run->StartWith(dir.path(), exe, arguments, faults) || !run->WaitForExit(code))
                return nullptr;
            if (*code == expected)
                break;
        }
        return run;
    }
    // What the summary says of the log as it is now.
    std::string Summary() const
    {
        unsigned int runs, completed;
        int succeeded;
        char lastLine[256] = "";
        ReadLogHistory(&runs, &completed, &succeeded, lastLine);
        return FormatHistorySummary(runs, completed, succeeded, lastLine).text;
    }

    TestDirectory dir;
    WindowDriver program;
};

TEST_F(Program, RunsFromTheSummaryThroughItsSamplesToTheStop)
{
    const std::string earlier = "12/05/2026, 21:47:05, Test Started --\r\n12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n";
    dir.WriteLog(earlier);
    Start("commit=8", true);   // the first start fails
    // Each field just outside its bounds, the minutes with and without hours, texts
    // that are no 32-bit number; of several wrong fields the first refused (every text
    // before every range; texts: interval, hours, minutes; ranges: hours, minutes,
    // interval) is reported, the cursor put into it, and nothing starts.
    const struct { const char *interval, *hours, *minutes; int field; const char* range; } refused[] = {
        {"61", "0", "0", 1015, "1 and 59"},
        {"10", "0", "60", 1015, "1 and 59"},
        {"61", "1", "60", 1015, "0 and 59"},
        {"0", "25", "0", 1008, "0 and 24"},
        {"10", "4294967295", "60", 1008, "0 and 24"},
        {"0", "0", "1", 1017, "1 and 60"},
        {"61", "0", "1", 1017, "1 and 60"},
        {"", "-1", "1", 1017, nullptr},
        {"10", "x", "", 1008, nullptr},
        {"0", "30", "4294967297", 1015, nullptr},
    };
    auto enter = [&](const char* interval, const char* hours, const char* minutes) {
        return program.SetText(1017, interval) && program.SetText(1008, hours) && program.SetText(1015, minutes);
    };
    for (const auto& f : refused) {
        SCOPED_TRACE(std::string(f.interval) + " s, " + f.hours + " h " + f.minutes + " min");
        ASSERT_TRUE(enter(f.interval, f.hours, f.minutes) && program.Click(1020));
        const WindowDriver::Box box = program.Answer(IDOK);
        ASSERT_EQ(f.range ? std::string("Please enter an integer between ") + f.range + "." : "Please enter an unsigned integer.", box.text);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), box.icon);
        ASSERT_EQ(program.Control(f.field), program.Focus());
    }
    EXPECT_EQ(earlier, dir.ReadLog());

    ASSERT_TRUE(program.Select(1005, 4));   // 16 workers
    const ProcessCounters idle = ReadProcessCounters(program.Process());
    const std::string expected = Summary();
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The longest duration, then the shortest: accepted.
        ASSERT_TRUE(attempt ? enter("1", "0", "1") : enter("1", "24", "59"));
        ASSERT_TRUE(program.Click(1020));
        const WindowDriver::Box summary = program.Answer(IDOK);
        EXPECT_EQ("BurnwrightFaults", summary.caption);   // the executable's name
        ASSERT_EQ(expected, summary.text);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), summary.icon);
        if (attempt == 0) {   // the failed start: reported, then idle with no timer
            const WindowDriver::Box failure = program.Answer(IDOK);
            EXPECT_EQ("Test Initialization Failed. Error 80070008", failure.text);
            EXPECT_EQ(static_cast<UINT>(MB_ICONHAND), failure.icon);
            EXPECT_TRUE(program.IsEnabled(1020));
            Sleep(2500);   // two log intervals
            EXPECT_EQ(earlier, dir.ReadLog());
            EXPECT_TRUE(program.ListItems(1023).empty());
        }
    }
    ASSERT_TRUE(WaitForLines(kStarted, 2));
    EXPECT_EQ(idle.threads + 16, ReadProcessCounters(program.Process()).threads);
    EXPECT_FALSE(program.IsEnabled(1020));

    // Samples reach file and list alike.
    ASSERT_TRUE(WaitForLines("Freq ", 3));
    ASSERT_TRUE(program.WaitUntilResponsive());
    // The list first: a line reaches the file before the list, so the file then holds them all.
    const std::vector<std::string> list = program.ListItems(1023), lines = LogLines(dir.ReadLog());
    ASSERT_GE(list.size(), 2u);
    ASSERT_GE(lines.size(), list.size() + 2);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 2 + list.size()), list);

    // Cancel asks; answered Cancel, the run goes on.
    ASSERT_TRUE(program.Click(2));
    const WindowDriver::Box question = program.Answer(IDCANCEL);
    EXPECT_EQ("Terminate the test?", question.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), question.icon);
    EXPECT_TRUE(WaitForLines("Freq ", Count("Freq ") + 1));
    EXPECT_FALSE(program.IsEnabled(1020));
    // Answered OK, the run stops, every worker gone, and the window stays.
    ASSERT_TRUE(program.Click(2));
    EXPECT_TRUE(program.Answer(IDOK).found);
    EXPECT_EQ(kStopped, Messages(dir.ReadLog()).back());
    EXPECT_EQ(1u, Count(kStopped));
    EXPECT_TRUE(program.IsEnabled(1020));
    EXPECT_EQ(idle.threads, ReadProcessCounters(program.Process()).threads);
    EXPECT_EQ(LogLines(dir.ReadLog()).size() - 2, program.ListItems(1023).size());

    // The end of the session stops a run too, with its stop line and no box.
    ASSERT_TRUE(program.SetCheck(1024, false));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForLines(kStarted, 3));
    ASSERT_TRUE(WaitUntil([&] { return Messages(dir.ReadLog()).back().compare(0, 5, "Freq ") == 0; }, 60000));
    HWND dialog = GetParent(program.Control(1020));
    DWORD_PTR agreed = 0;
    ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &agreed) && agreed);
    ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 30000, &agreed));
    EXPECT_EQ(kStopped, Messages(dir.ReadLog()).back());
    EXPECT_EQ(2u, Count(kStopped));
    EXPECT_EQ(nullptr, program.FindBox(0));
    ASSERT_TRUE(program.WaitUntilResponsive());

    ASSERT_TRUE(program.Click(2));   // idle: Cancel ends the program
    DWORD code = 1;
    EXPECT_TRUE(program.WaitForExit(&code));
    EXPECT_EQ(0u, code);
}

// The placement slots of the process's threads that are tied to one processor each.
std::vector<unsigned int> TiedSlots(HANDLE process, const ProcessorTopology& topology)
{
    std::vector<unsigned int> slots;
    for (const GROUP_AFFINITY& affinity : ThreadAffinities(process))
        for (unsigned int s = 0; s < topology.usableCount; ++s)
            if (affinity.Group == topology.order[s].processor.Group &&
                affinity.Mask == static_cast<KAFFINITY>(1) << topology.order[s].processor.Number)
                slots.push_back(s);
    std::sort(slots.begin(), slots.end());
    return slots;
}

// Each logical processor's busy and idle time so far, from the system's
// per-processor counters (index: the processor's number in its group).
std::vector<std::pair<double, double>> ProcessorTimes()
{
    typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    const QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll"), "NtQuerySystemInformation")));
    struct Times {
        LARGE_INTEGER idle, kernel, user, dpc, interrupt;
        ULONG interrupts;
    } times[256];
    ULONG got = 0;
    std::vector<std::pair<double, double>> busyIdle;
    if (query && query(8, times, sizeof times, &got) >= 0)
        for (size_t i = 0; i < got / sizeof(Times); ++i)   // kernel time includes idle time
            busyIdle.emplace_back(static_cast<double>(times[i].kernel.QuadPart + times[i].user.QuadPart - times[i].idle.QuadPart),
                                  static_cast<double>(times[i].idle.QuadPart));
    return busyIdle;
}

// While the start fills the memory (held for 4 s a time here) the window answers,
// a second "Run Test" starts nothing, and Cancel calls the start off without a
// question or a log line; the next start runs as usual, and the window answers
// while its stop releases the memory (held as well).
TEST_F(Program, TheStartKeepsTheWindowAnsweringAndCanBeCalledOff)
{
    Start("holdfill=4000");
    ASSERT_TRUE(program.SetCheck(1001, true) && program.Select(1010, 0));
    const ProcessCounters idle = ReadProcessCounters(program.Process());
    HWND dialog = GetParent(program.Control(1020));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitUntil([&] { return !program.IsEnabled(1020); }, 15000));
    DWORD_PTR result;
    EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1500, &result)) << "the window does not answer";
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(1020, BN_CLICKED), reinterpret_cast<LPARAM>(program.Control(1020)));
    ASSERT_TRUE(program.Click(2));
    ASSERT_TRUE(WaitUntil([&] { return program.IsEnabled(1020); }, 30000));
    EXPECT_EQ(nullptr, program.FindBox(1000));
    EXPECT_EQ("", dir.ReadLog());
    EXPECT_TRUE(WaitUntil([&] { return ReadProcessCounters(program.Process()).threads == idle.threads; }, 10000));
    EXPECT_LT(ReadProcessCounters(program.Process()).committed, idle.committed + 4 * MB);

    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForLines(kStarted, 1));
    ASSERT_TRUE(program.WaitUntilResponsive());
    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ("Terminate the test?", program.Answer(IDOK).text);
    // The release is held as well: the window answers meanwhile.
    EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 1500, &result)) << "the window does not answer";
    ASSERT_TRUE(WaitForLines(kStopped, 1));
    const std::vector<std::string> messages = Messages(dir.ReadLog());
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(kStarted, messages[0]);
    EXPECT_EQ(0u, messages[1].find("Testing 1 worker")) << messages[1];
    EXPECT_EQ(kStopped, messages[2]);
    EXPECT_TRUE(WaitUntil([&] { return program.IsEnabled(1020); }, 10000));
}

// Flips the lowest exponent bit of the input word `offset` bytes into the product's
// block, found from outside as the one committed private region of `blockBytes`.
// The flip comes right after the worker's first refill changes the word, so that
// the worker has passed over its area before (however late a busy machine runs it)
// and its next refill, 800 ms later, cannot come between this read and write.
bool FlipABitOfTheBlock(HANDLE process, SIZE_T blockBytes, SIZE_T offset)
{
    MEMORY_BASIC_INFORMATION region = {};
    for (const char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) &&
                                   !(region.State == MEM_COMMIT && region.RegionSize == blockBytes);
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    }
    unsigned char* const word = static_cast<unsigned char*>(region.BaseAddress) + offset;
    unsigned long long filled = 0, value = 0;
    if (!ReadProcessMemory(process, word, &filled, 8, nullptr) ||
        !WaitUntil([&] { return ReadProcessMemory(process, word, &value, 8, nullptr) && value != filled; }, 30000))
        return false;
    value ^= 1ull << 52;
    return WriteProcessMemory(process, word + 6, reinterpret_cast<unsigned char*>(&value) + 6, 1, nullptr) != 0;
}

// "All" over 256 MB ties one worker to each logical processor in the placement
// order (read from outside) and keeps each 90% busy or more (other programs only
// add to it); the window keeps answering; its lines log the loaded cores' clock;
// a flipped bit fails the run, naming the processor its worker is tied to. The
// verdicts hold on a busy, shared machine (virtual processors whose clocks change
// from moment to moment, now and then paused) and bound what a fault changes:
// - The clock: each of the first five lines against the median of this process's
//   measurements on the same loaded cores from the line before it to the line after
//   it; the median ratio within 25% (the clock moves between levels some 14% apart
//   within a second; two lines may be taken by an interruption). Faults are further
//   off: kHz as MHz (x1000), a chain counted twice or half (x2), the time-stamp
//   counter's nominal rate for the boosted clock (-27% or more here).
// - The answers: the fifth-longest, as many as the samples, under 500 ms (2 s on an
//   emulated processor): a window blocked at every sample stalls five answers;
//   Wine's scheduling with every processor busy stalls one now and then.
TEST_F(Program, UnderFullLoadTiesEveryProcessorAnswersLogsTheClockAndNamesTheFailingOne)
{
    static ProcessorTopology topology;   // the machine as the program sees it
    ASSERT_TRUE(ReadProcessorTopology(&topology, kNarrowProgram));
    const unsigned int all = topology.usableCount;
    const std::string n = std::to_string(all), p = std::to_string(topology.machineProcessors);
    Start();
    const ProcessCounters idle = ReadProcessCounters(program.Process());
    ASSERT_TRUE(program.Select(1005, 7) && program.SetCheck(1001, true) && program.Select(1010, 7));   // 256 MB
    EXPECT_EQ("All (" + n + ")", program.Text(1005));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForLines(kStarted, 1));
    ASSERT_TRUE(WaitUntil([&] { return !program.IsEnabled(1020); }, 30000));   // the run is under way
    EXPECT_EQ(idle.threads + all, ReadProcessCounters(program.Process()).threads);
    std::vector<unsigned int> each(all);
    for (unsigned int s = 0; s < all; ++s)
        each[s] = s;
    EXPECT_EQ(each, TiedSlots(program.Process(), topology));
    const std::string tested = Messages(dir.ReadLog()).at(1);
    EXPECT_TRUE(std::regex_search(tested, std::regex("^Testing " + n + " workers( on " + n + " of " + p +
                                                     " processors|, " + n + "/" + p + " CPUs)"))) << tested;

    HWND dialog = GetParent(program.Control(1020));
    LARGE_INTEGER frequency, begin, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    const std::vector<std::pair<double, double>> before = ProcessorTimes();
    std::vector<double> answersMs;
    std::vector<std::pair<size_t, double>> references;   // lines logged before it, MHz
    size_t lines = 0;
    do {   // until a sixth line: the fifth has references after it
        DWORD_PTR result;
        QueryPerformanceCounter(&t0);
        ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result));
        QueryPerformanceCounter(&t1);
        answersMs.push_back(1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
        lines = Count("Freq ");
        references.emplace_back(lines, CoreClockHz() * 1e-6);
        Sleep(20);
    } while (lines < 6 && t1.QuadPart - begin.QuadPart < 60 * frequency.QuadPart);
    const std::vector<std::pair<double, double>> after = ProcessorTimes();
    for (unsigned int s = 0; s < all; ++s) {
        const PROCESSOR_NUMBER& at = topology.order[s].processor;
        ASSERT_LT(at.Number, std::min(before.size(), after.size()));
        const double busy = after[at.Number].first - before[at.Number].first;
        if (at.Group == 0) {
            EXPECT_GE(busy / (busy + after[at.Number].second - before[at.Number].second), 0.90)
                << "CPU " << topology.order[s].cpu;
        }
    }

    const std::vector<std::string> messages = Messages(dir.ReadLog());
    ASSERT_GE(messages.size(), 8u);   // the start, the tested line and six samples
    std::vector<double> ratios;
    std::string figures;
    for (size_t i = 1; i + 1 < messages.size(); ++i) {   // sample i is message i + 1
        double mhz = 0.0;
        ASSERT_EQ(1, std::sscanf(messages[i + 1].c_str(), "Freq %lf MHz", &mhz)) << messages[i + 1];
        EXPECT_TRUE(mhz > 1.0 && mhz < 100000.0) << messages[i + 1];
        std::vector<double> around;
        for (const auto& reference : references)
            if (reference.first + 1 == i || reference.first == i)
                around.push_back(reference.second);
        if (i > 5 || around.empty())
            continue;
        ratios.push_back(mhz / Quantile(around, 0.5));
        figures += " " + std::to_string(std::lround(mhz)) + "/" + std::to_string(std::lround(Quantile(around, 0.5)));
    }
    std::sort(answersMs.rbegin(), answersMs.rend());
    const double fifthLongestMs = answersMs[std::min<size_t>(4, answersMs.size() - 1)];
    const bool emulated = UnderEmulation();
    std::printf("answers: %zu, longest %.1f ms, fifth-longest %.1f ms; clock, line/reference MHz:%s\n",
                answersMs.size(), answersMs[0], fifthLongestMs, figures.c_str());
    EXPECT_LT(fifthLongestMs, emulated ? 2000.0 : 500.0);
    if (!emulated) {   // an emulated processor's figures need only be plausible
        ASSERT_GE(ratios.size(), 3u) << "lines with no references around them";
        EXPECT_LT(std::fabs(std::log(Quantile(ratios, 0.5))), std::log(1.25)) << figures;
    }

    // A bit flipped in the second worker's area (the first's on one processor): the
    // message, the block released, and the line naming the worker, its processor and the bit.
    const unsigned int worker = all > 1 ? 1 : 0;
    const SIZE_T area = 256 / all * MB;
    ASSERT_TRUE(FlipABitOfTheBlock(program.Process(), all * area, worker * area + area / 2));
    ASSERT_TRUE(WaitForLines("Test Failed --", 1));
    const WindowDriver::Box box = program.Answer(IDOK);
    EXPECT_EQ(static_cast<UINT>(MB_ICONHAND), box.icon);
    EXPECT_NE(std::string::npos, box.text.find("wrong results")) << box.text;
    EXPECT_TRUE(program.IsEnabled(1020));
    EXPECT_LT(ReadProcessCounters(program.Process()).committed, idle.committed + 4 * MB);
    EXPECT_EQ(LogLines(dir.ReadLog()), program.ListItems(1023));
    const std::string failed = Messages(dir.ReadLog()).back();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(failed, match, std::regex("^Test Failed -- (?:input changed in stream, |stream, input changed, )worker (\\d+)"
                                                            "(?: of \\d+ on|,) CPU (\\d+), bits 0*10000000000000$"))) << failed;
    EXPECT_EQ(worker + 1, std::stoul(match[1])) << failed;
    EXPECT_EQ(topology.order[worker].cpu, std::stoul(match[2])) << failed;
}

// Started with /run, the program runs at once with the options' settings, shows no
// window but its dialog and no message box of its own, writes each log line to its
// redirected output as well, and ends by itself: with 0 at the end of its time (each
// core in turn: its one worker, read from outside, moves from core to core in the
// placement order, and the log names each core and says every one passed); with
// 1 when this process flips a bit of an input in its 16 MB block, the failure line
// naming the worker, a processor and exactly that bit; with 3 and the stop line when
// ended early, by a person who answers "Terminate the test?", by closing the window
// or by the end of the session. Each writes its result record over the last one
// (a path with a blank and a non-ASCII letter), agreeing with its log and exit code;
// the record is replaced whole by another file, never written in place, and a
// poller never reads part of one.
TEST_F(Program, UnattendedRunsEndByThemselvesWithTheirExitCodes)
{
    static ProcessorTopology topology;   // the machine as the program sees it
    ASSERT_TRUE(ReadProcessorTopology(&topology, kNarrowProgram));
    const unsigned int cores = topology.usableCores;
    const std::string eachCore = "/run /threads each -MINUTES " + std::to_string(cores) + " /interval 5 /load off";
    const struct { std::string how; DWORD code; } ends[] = {
        {"its time", 0}, {"a flipped bit", 1}, {"Cancel", 3}, {"WM_CLOSE", 3}, {"WM_ENDSESSION", 3}};
    const std::string record = dir.path() + "\\Ergebnis \xC3\xBC.json";
    for (const auto& end : ends) {
        SCOPED_TRACE(end.how);
        TestDirectory own;
        WindowDriver run;
        const DWORD start = GetTickCount();
        const unsigned long long earlier = FileIndex(record);
        ASSERT_TRUE(run.StartWith(own.path(), BURNWRIGHT_EXE, (end.code ? "/run /memory 16 /interval 1" : eachCore) +
                                                                  " /result \"" + record + "\""));
        ASSERT_TRUE(run.HasDialog());
        const char* awaited = end.code == 0 ? "" : end.code == 1 ? kStarted : "Freq ";
        ASSERT_TRUE(WaitUntil([&] { return own.ReadLog().find(awaited) != std::string::npos; }, 60000));
        // Under way: its record says so, with no end and no exit code yet.
        EXPECT_TRUE(WaitUntil([&] {
            const std::string now = ReadShared(record);
            const json r = json::accept(now) ? json::parse(now) : json();
            return r.is_object() && r["verdict"] == "running" && r["exitCode"].is_null() && r["ended"].is_null() &&
                   r["tested"].is_object();
        }, 30000)) << "no record said the run was under way";
        HWND dialog = GetParent(run.Control(1020));
        DWORD_PTR agreed = 0;
        if (end.code == 1) {
            ASSERT_TRUE(FlipABitOfTheBlock(run.Process(), 16 * MB, 8 * MB));
        } else if (end.how == "Cancel") {
            ASSERT_TRUE(run.Click(2));
            EXPECT_EQ("Terminate the test?", run.Answer(IDOK).text);
        } else if (end.how == "WM_CLOSE") {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        } else if (end.how == "WM_ENDSESSION") {
            ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &agreed) && agreed);
            PostMessageA(dialog, WM_ENDSESSION, TRUE, 0);
        }
        bool boxSeen = false, partial = false;
        DWORD code = 99;
        std::vector<unsigned int> slots;   // the tied workers' slots, as they changed
        ASSERT_TRUE(WaitUntil([&] {
            boxSeen = boxSeen || run.FindBox(0);
            const std::string now = ReadShared(record);
            partial = partial || (!now.empty() && !json::accept(now));
            const std::vector<unsigned int> tied = TiedSlots(run.Process(), topology);
            if (tied.size() > 1 || (tied.size() == 1 && (slots.empty() || slots.back() != tied[0])))
                slots.insert(slots.end(), tied.begin(), tied.end());
            return run.WaitForExit(&code, 0);
        }, 60000 * cores + 120000));
        EXPECT_EQ(end.code, code);
        EXPECT_FALSE(boxSeen);
        EXPECT_FALSE(partial);
        EXPECT_NE(earlier, FileIndex(record)) << "the record was written in place";
        const std::string text = ReadShared(record);
        ExpectRecordAgrees(text, own.ReadLog(), code);
        const json r = json::accept(text) ? json::parse(text) : json();
        EXPECT_EQ(own.path() + "\\Burnwright.log", r["log"]);
        EXPECT_EQ(json::parse(end.code ? R"({"threads": 1, "memory": 16, "hours": 0, "minutes": 10, "interval": 1, "load": true,
                                             "kernel": "all"})"
                                       : R"({"threads": "each", "memory": "off", "hours": 0, "interval": 5, "load": false,
                                             "kernel": "all", "minutes": )" + std::to_string(cores) + "}"),
                  r["settings"]);
        EXPECT_EQ(end.code ? 16 : 0, r["tested"]["memoryMB"]);
        json turns = json::array();   // each core's turn, as the log has them
        for (unsigned int k = 0; k < (end.code ? 0 : cores); ++k)
            turns.push_back({{"core", k + 1}, {"cpu", topology.order[k].cpu}, {"verdict", "passed"}, {"reason", nullptr}});
        json got = r["cores"];
        for (json& turn : got) {
            EXPECT_GT(turn.value("seconds", 0.0), 50.0) << turn;
            EXPECT_GT(turn.value("medianMHz", 0.0), 0.0) << turn;
            turn.erase("seconds");
            turn.erase("medianMHz");
        }
        EXPECT_EQ(turns, got);
        EXPECT_EQ(own.ReadLog(), run.Output());
        EXPECT_EQ("", run.Errors());
        const std::vector<std::string> messages = Messages(own.ReadLog());
        ASSERT_GE(messages.size(), 3u);
        EXPECT_EQ(kStarted, messages.front());
        EXPECT_EQ(0u, messages[1].find("Testing ")) << messages[1];
        if (end.code == 1) {
            std::smatch cpu;
            EXPECT_TRUE(std::regex_match(messages.back(), cpu, std::regex(R"(Test Failed -- (?:input changed in stream, worker 1 of 1 on|stream, input changed, worker 1,) CPU (\d+), bits 0+10000000000000)")))
                << messages.back();
            json failure = r["failures"].size() == 1 ? r["failures"][0] : json::object();
            EXPECT_EQ(r["ended"], failure["time"]);
            EXPECT_EQ(cpu.size() > 1 ? std::stoi(cpu[1]) : -1, failure["cpu"]);
            failure.erase("time");
            failure.erase("cpu");
            EXPECT_EQ(json::parse(R"({"worker": 1, "core": 1, "kind": "input changed", "kernel": "stream", "bits": "0010000000000000"})"), failure);
            EXPECT_EQ("Burnwright was run for 1 times so far (0 completed successfully)\n"
                      "Last test status is FAILED (last log line is shown below)\n" + LogLines(own.ReadLog()).back() + "\n",
                      Summary());
            continue;
        }
        EXPECT_EQ(kStopped, messages.back());
        if (end.code == 0) {
            EXPECT_GE(GetTickCount() - start, 60000u * cores);
            std::vector<unsigned int> each(cores);
            for (unsigned int k = 0; k < cores; ++k)
                each[k] = k;
            EXPECT_EQ(each, slots) << "the worker's processors, in the order they were seen";
            std::string named;
            for (size_t i = 2; i + 1 < messages.size(); ++i) {
                if (messages[i].compare(0, 5, "Core ") == 0)
                    named += messages[i].substr(0, messages[i].find(':')) + "; ";
                else if (!std::regex_match(messages[i], std::regex(R"(Freq (0\.00|[1-9]\d*\.\d\d) MHz|Every core passed: \d+ of \d+)")))
                    ADD_FAILURE() << messages[i];
            }
            std::string expected;
            for (unsigned int k = 0; k < cores; ++k) {
                const std::string core = "Core " + std::to_string(k + 1) + " of " + std::to_string(cores) + ", CPU " +
                                         std::to_string(topology.order[k].cpu) + "; ";
                expected += core + core;   // its turn's beginning and its end
            }
            EXPECT_EQ(expected, named);
            EXPECT_EQ("Every core passed: " + std::to_string(cores) + " of " + std::to_string(cores),
                      messages[messages.size() - 2]);
        }
    }
    DeleteFileW(WideFromUtf8(record).c_str());
}

// Each core over 2 GB (1 GB in the 32-bit program, whose address space holds
// less): a bit flipped in the block's last MB while the first core's turn runs is
// named with that turn's CPU, and the run, closed then, ends "Test Failed --"
// naming that CPU only, with exit code 1. The time from the flip to the line is
// printed.
TEST_F(Program, EachCoreFindsABitFlippedAtTheEndOfALargeBlock)
{
    static ProcessorTopology topology;
    ASSERT_TRUE(ReadProcessorTopology(&topology, kNarrowProgram));
    const unsigned int cores = topology.usableCores, mb = sizeof(void*) == 8 ? 2048 : 1024;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
    if (memory.ullAvailPhys < (mb + 1024ull) * MB)
        GTEST_SKIP() << "less than " << mb + 1024 << " MB available";
    WindowDriver run;
    ASSERT_TRUE(run.StartWith(dir.path(), BURNWRIGHT_EXE, "/run /threads each /memory " + std::to_string(mb) +
                                                              " /interval 1 /minutes " + std::to_string(2 * cores)));
    const std::string first = "Core 1 of " + std::to_string(cores) + ", CPU " + std::to_string(topology.order[0].cpu);
    ASSERT_TRUE(WaitForLines(first + ": SSE2", 1, 120000));
    ASSERT_TRUE(FlipABitOfTheBlock(run.Process(), mb * MB, mb * MB - MB / 2));
    const DWORD flipped = GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return Count(first + ": wrong result in stream, worker 1, bits ") == 1; }, 60000))
        << dir.ReadLog();
    std::printf("named %lu ms after the flip\n", static_cast<unsigned long>(GetTickCount() - flipped));
    PostMessageA(GetParent(run.Control(1020)), WM_CLOSE, 0, 0);
    DWORD code = 99;
    ASSERT_TRUE(run.WaitForExit(&code, 60000));
    EXPECT_EQ(1u, code);
    EXPECT_EQ("Test Failed -- CPU " + std::to_string(topology.order[0].cpu) + " failed; 0 of " +
                  std::to_string(cores) + " cores passed",
              Messages(dir.ReadLog()).back());
}

// A record is written as soon as a run is under way, before its start fills the
// memory (held for 3 s here), so an earlier record never stands for it: a run
// killed after its start (as a machine that stops would end it) leaves a record
// that says "running", with no end and no exit code, and the log's summary calls
// it failed. An Each core duration too short for the cores is refused with a
// "not started" record.
TEST_F(Program, AKilledRunsRecordSaysRunningAndARefusedDurationsNotStarted)
{
    static ProcessorTopology topology;
    ASSERT_TRUE(ReadProcessorTopology(&topology, kNarrowProgram));
    const unsigned int cores = topology.usableCores;
    const std::string record = dir.path() + "\\r.json";
    if (cores > 1) {
        DWORD code = 99;
        const std::unique_ptr<WindowDriver> refused = RunToExit(
            BURNWRIGHT_EXE, ("/run /threads each /minutes 1 /result \"" + record + "\"").c_str(), "", 2, &code);
        ASSERT_TRUE(refused);
        EXPECT_EQ(2u, code);
        const json r = json::parse(ReadShared(record));
        EXPECT_EQ("not started", r["verdict"]);
        EXPECT_EQ(2, r["exitCode"]);
        EXPECT_EQ(0u, r["message"].get<std::string>().find("Each core needs at least one minute")) << r["message"];
        EXPECT_EQ("each", r["settings"]["threads"]);
        EXPECT_TRUE(r["tested"].is_null());
        EXPECT_GT(r["machine"]["availableMB"], 0) << "a refused run's record tells the memory available";
        EXPECT_EQ("", dir.ReadLog());
    }
    WindowDriver run;
    ASSERT_TRUE(run.StartWith(dir.path(), BURNWRIGHT_FAULTS_EXE,
                              "/run /threads each /memory 16 /minutes " + std::to_string(cores) + " /result \"" +
                                  record + "\"",
                              "holdfill=3000"));
    json r;
    const auto running = [&](bool tested) {
        const std::string text = ReadShared(record);
        r = json::accept(text) ? json::parse(text) : json();
        return r.is_object() && r["verdict"] == "running" && r["tested"].is_null() != tested;
    };
    ASSERT_TRUE(WaitUntil([&] { return running(false) || running(true); }, 60000));
    EXPECT_TRUE(r["tested"].is_null()) << "the first running record came after the start";
    EXPECT_EQ("", dir.ReadLog());
    ASSERT_TRUE(WaitUntil([&] { return running(true); }, 60000));
    TerminateProcess(run.Process(), 3);
    WaitForSingleObject(run.Process(), 30000);
    r = json::parse(ReadShared(record));
    EXPECT_EQ("running", r["verdict"]);
    for (const char* absent : {"exitCode", "ended", "seconds", "message"})
        EXPECT_TRUE(r[absent].is_null()) << absent;
    EXPECT_EQ(cores, r["tested"]["cores"]);
    EXPECT_EQ(cores, r["cores"].size());
    const std::vector<std::string> lines = LogLines(dir.ReadLog());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front().substr(12, 8), r["started"].get<std::string>().substr(11, 8));
    EXPECT_EQ("Burnwright was run for 1 times so far (0 completed successfully)\n"
              "Last test status is FAILED (last log line is shown below)\n" + lines.back() + "\n",
              Summary());
    DeleteFileW(WideFromUtf8(record).c_str());
}

// Options fill the dialog's fields: without /run the user starts the run, with the
// options' settings (a memory size the list lacks becomes an item; /kernel, which no
// field shows, reaches the record; the two workers go to two different physical
// cores, read from outside), and the program ends with
// 0 as ever; /? lists them. A refused option (every kind: the unit test) starts
// nothing, logs nothing, and ends the program with 2 and its message on standard
// error; so does a /run start that fails, with the dialog's message. Each writes a
// result record that says so; a /result file that cannot be written is refused
// the same way, before anything else. A run in the window writes its record too.
TEST_F(Program, OptionsFillTheFieldsOrAreRefusedWithTwo)
{
    const std::string record = dir.path() + "\\r.json", missing = dir.path() + "\\missing\\r.json";
    const struct { std::string arguments; const char* message; } refused[] = {
        {"/run /hours 1 -HOURS 2", "The option /hours is given twice."},
        {"/run /threads 3", "/threads 3: Please choose one of 1, 2, 4, 8, 16"},
        {"/run /kernel fma,fmx", "/kernel fma,fmx: Please choose from stream, fma, integer, vector, crypto, cache, or all"},
        {"/run /memory 16", "Test Initialization Failed. Error 80070008\r\n"},   // the commit fails
        {"/run /hours 99 /result " + missing, "/result "},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.arguments);
        const bool failsToStart = r.message[1] == 'e', unwritable = std::string(r.message) == "/result ";
        DeleteFileA(record.c_str());
        DWORD code = 99;
        const auto run = RunToExit(failsToStart ? BURNWRIGHT_FAULTS_EXE : BURNWRIGHT_EXE,
                                   (r.arguments + (unwritable ? "" : " /result " + record)).c_str(),
                                   failsToStart ? "commit=8" : "", 2, &code);
        ASSERT_TRUE(run);
        EXPECT_EQ(2u, code);
        EXPECT_EQ(0u, run->Errors().find(r.message)) << run->Errors();
        EXPECT_EQ("", run->Output());
        EXPECT_EQ("", dir.ReadLog());
        if (unwritable) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((dir.path() + "\\missing").c_str()));
            continue;
        }
        const std::string text = ReadShared(record);
        ExpectRecordAgrees(text, dir.ReadLog(), code);
        const json j = json::accept(text) ? json::parse(text) : json();
        EXPECT_EQ(run->Errors(), j["message"].get<std::string>() + "\r\n");
        EXPECT_EQ(failsToStart, j["settings"].is_object()) << j["settings"];
    }

    DWORD helped = 99;   // /? explains the options on the output and starts nothing
    const auto help = RunToExit(BURNWRIGHT_EXE, "/?", "", 0, &helped);
    ASSERT_TRUE(help);
    EXPECT_EQ(0u, helped);
    for (const char* option : {"/threads", "/memory", "/hours", "/minutes", "/interval", "/load", "/kernel", "/result", "/run"})
        EXPECT_NE(std::string::npos, help->Output().find(option)) << option;
    EXPECT_EQ("", dir.ReadLog());

    ASSERT_TRUE(program.StartWith(dir.path(), BURNWRIGHT_EXE, "/threads 2 /memory 300 /hours 2 /minutes 0 /interval 7 /load off /kernel Stream /result " + record));
    ASSERT_TRUE(program.HasDialog());
    EXPECT_EQ("2", program.Text(1005));
    EXPECT_EQ("300", program.Text(1010));
    EXPECT_EQ(BST_CHECKED, SendMessageA(program.Control(1001), BM_GETCHECK, 0, 0));
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(program.Control(1019), BM_GETCHECK, 0, 0));
    EXPECT_EQ("2", program.Text(1008));
    EXPECT_EQ("0", program.Text(1015));
    EXPECT_EQ("7", program.Text(1017));
    const ProcessCounters idle = ReadProcessCounters(program.Process());
    ASSERT_TRUE(program.SetCheck(1024, false) && program.Click(1020));
    ASSERT_TRUE(WaitForLines(kStarted, 1));
    const ProcessCounters running = ReadProcessCounters(program.Process());
    EXPECT_EQ(idle.threads + 2, running.threads);
    EXPECT_GE(running.committed, idle.committed + 300 * MB);
    EXPECT_LT(running.committed, idle.committed + 350 * MB);   // not the next size, MAX
    static ProcessorTopology topology;
    ASSERT_TRUE(ReadProcessorTopology(&topology, kNarrowProgram));
    const std::vector<unsigned int> two = TiedSlots(program.Process(), topology);
    ASSERT_EQ(2u, two.size());
    if (topology.usableCores >= 2) {
        EXPECT_NE(topology.order[two[0]].core, topology.order[two[1]].core);
    }
    const std::string tested = Messages(dir.ReadLog()).at(1), p = std::to_string(topology.machineProcessors),
                      k = topology.usableCores >= 2 ? "2" : "1", c = std::to_string(topology.machineCores);
    EXPECT_TRUE(std::regex_search(tested, std::regex("^Testing 2 workers( on 2 of " + p + " processors \\(" + k + " of " + c +
                                                     " cores\\)|, 2/" + p + " CPUs, " + k + "/" + c + " cores)"))) << tested;
    ASSERT_TRUE(program.WaitUntilResponsive() && program.Click(2));
    EXPECT_TRUE(program.Answer(IDOK).found);
    // The window answers while the stop releases the memory, and Cancel then waits for the stop.
    ASSERT_TRUE(WaitUntil([&] { return program.IsEnabled(1020); }, 60000));
    ASSERT_TRUE(program.Click(2));
    DWORD code = 99;
    EXPECT_TRUE(program.WaitForExit(&code));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(program.Output(), dir.ReadLog());   // the output holds a run in the window too
    // Its record: ended early, with the code a /run start would have ended with.
    const std::string text = ReadShared(record);
    ExpectRecordAgrees(text, dir.ReadLog(), 3);
    const json j = json::accept(text) ? json::parse(text) : json();
    EXPECT_EQ(json::parse(R"({"threads": 2, "memory": 300, "hours": 2, "minutes": 0, "interval": 7, "load": false,
                              "kernel": "stream"})"),
              j["settings"]);
    EXPECT_EQ(2, j["tested"]["workers"]);
    EXPECT_EQ(300, j["tested"]["memoryMB"]);
    EXPECT_EQ(std::stoi(k), j["tested"]["cores"]);
    DeleteFileA(record.c_str());
}

struct ScopedLogPixels {   // Wine's display scale, read by each process as it starts
    explicit ScopedLogPixels(DWORD dpi) { Set(dpi); }
    ~ScopedLogPixels() { Set(96); }
    static void Set(DWORD dpi) { RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi, sizeof dpi); }
};

// Killed before its first sample, between samples and while stopping, a run leaves
// only whole lines, and the summary counts it as started and not completed. The
// first starts at 144 DPI: its window is 1.5 times the size, and its log list still
// holds the widest status line in the dialog's font (8-point MS Sans Serif) there.
TEST_F(Program, AKilledRunLeavesWholeLinesAndIsSummarisedAsFailed)
{
    RECT client[3], list[3];
    for (int round = 0; round < 3; ++round) {
        WindowDriver run;
        {
            ScopedLogPixels scale(round == 0 ? 144 : 96);
            ASSERT_TRUE(run.Start(dir.path(), BURNWRIGHT_FAULTS_EXE));
        }
        GetClientRect(GetParent(run.Control(1023)), &client[round]);
        GetClientRect(run.Control(1023), &list[round]);
        ASSERT_TRUE(run.SetText(1017, "1") && run.SetCheck(1024, false));
        ASSERT_TRUE(run.SetCheck(1001, round == 2) && run.Select(1010, 7));   // 256 MB: the stop takes a while
        ASSERT_TRUE(run.Click(1020));
        ASSERT_TRUE(WaitForLines(kStarted, round + 1));
        ASSERT_TRUE(round == 0 || WaitForLines("Freq ", Count("Freq ") + round));
        if (round == 2) {
            ASSERT_TRUE(run.WaitUntilResponsive() && run.Click(2));
            HWND box = run.FindBox();
            PostMessageA(box, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        }
        TerminateProcess(run.Process(), 3);
        WaitForSingleObject(run.Process(), 30000);
    }
    EXPECT_NEAR(1.5, client[0].right / double(client[1].right), 0.06);
    EXPECT_NEAR(1.5, client[0].bottom / double(client[1].bottom), 0.06);
    const std::string widest = "12/31/2026, 23:59:58, Freq 9999.99 MHz, Load 100.00%";
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ font = SelectObject(dc, CreateFontA(-MulDiv(8, 144, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                                                0, 0, 0, 0, "MS Sans Serif"));
    SIZE text = {};
    GetTextExtentPoint32A(dc, widest.c_str(), static_cast<int>(widest.size()), &text);
    DeleteObject(SelectObject(dc, font));
    DeleteDC(dc);
    EXPECT_LT(text.cx + 4, list[0].right) << "a status line is " << text.cx << " pixels wide";
    const std::string log = dir.ReadLog();
    EXPECT_EQ("\r\n", log.substr(log.size() - 2));
    const std::regex whole(R"(\d\d/\d\d/20\d\d, \d\d:\d\d:\d\d, (Test S(tart|topp)ed --|Testing \d+ workers?[ ,].*|Freq \d+\.\d\d MHz, Load \d+\.\d\d%))");
    const std::vector<std::string> lines = LogLines(log);
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    EXPECT_EQ("Burnwright was run for 3 times so far (" + std::to_string(Count(kStopped)) + " completed successfully)\n" +
                  (Messages(log).back() == kStopped ? "Last test status is SUCCESSFUL\n"
                                                    : "Last test status is FAILED (last log line is shown below)\n" + lines.back() + "\n"),
              Summary());
}

} // namespace
