// The whole program driven through its window from another process: a run from a
// refused field and a failed start to its stop, a failed machine, killed runs.
#include <gtest/gtest.h>

#include <intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>

#include "log/LogHistory.h"
#include "support/Support.h"

namespace {

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

// This thread's core clock in hertz: dependent additions (100 to a block, one
// cycle each) in windows of a million cycles for about two seconds. The window
// at the fastest quarter counts: the product's workers interrupt many windows.
double CoreClockHz()
{
    LARGE_INTEGER frequency, begin, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    std::vector<long long> windows;
    size_t value = 0, step = 1;
    do {
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < 10000; ++i)
            asm volatile(".rept 100\n\tadd %1, %0\n\t.endr" : "+r"(value) : "r"(step));
        QueryPerformanceCounter(&t1);
        windows.push_back(t1.QuadPart - t0.QuadPart);
    } while (t1.QuadPart - begin.QuadPart < 2 * frequency.QuadPart);
    std::nth_element(windows.begin(), windows.begin() + windows.size() / 4, windows.end());
    return 1e6 * static_cast<double>(frequency.QuadPart) / static_cast<double>(windows[windows.size() / 4]);
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

    ASSERT_TRUE(program.Click(2));   // idle: Cancel ends the program
    DWORD code = 1;
    EXPECT_TRUE(program.WaitForExit(&code));
    EXPECT_EQ(0u, code);
}

// Under a full load (16 workers sweeping 256 MB) the window answers within 250 ms
// at every moment, samples included, and each sample logs the loaded cores' real
// clock: within 15% of this process's own measurement under the same load.
TEST_F(Program, UnderFullLoadAnswersAtOnceAndLogsTheLoadedCoresClock)
{
    Start();
    ASSERT_TRUE(program.Select(1005, 4));
    ASSERT_TRUE(program.SetCheck(1001, true));
    ASSERT_TRUE(program.Select(1010, 7));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForLines(kStarted, 1));
    ASSERT_TRUE(WaitUntil([&] { return !program.IsEnabled(1020); }, 30000));   // the run is under way

    HWND dialog = GetParent(program.Control(1020));
    LARGE_INTEGER frequency, begin, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    double longestMs = 0.0;
    do {   // over at least four samples
        DWORD_PTR result;
        QueryPerformanceCounter(&t0);
        ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result));
        QueryPerformanceCounter(&t1);
        longestMs = std::max(longestMs, 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart));
        Sleep(20);
    } while (Count("Freq ") < 4 && t1.QuadPart - begin.QuadPart < 30 * frequency.QuadPart);
    // Then the same load measured from here.
    const double referenceHz = CoreClockHz();

    const bool emulated = UnderEmulation();
    std::printf("longest answer %.1f ms; reference clock %.2f MHz%s\n", longestMs, referenceHz * 1e-6,
                emulated ? " (emulated processor: the figure need only be plausible)" : "");
    EXPECT_LT(longestMs, emulated ? 2000.0 : 250.0);
    const std::vector<std::string> messages = Messages(dir.ReadLog());
    ASSERT_GE(messages.size(), 5u);   // the start and four samples
    for (size_t i = 1; i < messages.size(); ++i) {
        double mhz = 0.0;
        ASSERT_EQ(1, std::sscanf(messages[i].c_str(), "Freq %lf MHz", &mhz)) << messages[i];
        if (emulated)
            EXPECT_TRUE(mhz > 1.0 && mhz < 100000.0) << messages[i];
        else
            EXPECT_NEAR(referenceHz * 1e-6, mhz, referenceHz * 1e-6 * 0.15) << messages[i];
    }
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
    EXPECT_EQ((std::vector<std::string>{kStarted, kStopped}), Messages(dir.ReadLog()));
    EXPECT_TRUE(WaitUntil([&] { return program.IsEnabled(1020); }, 10000));
}

// A machine that keeps a value wrongly fails the run: this process flips a bit of an
// input in the product's 16 MB block. The next sample ends the run as failed.
TEST_F(Program, AFlippedBitFailsTheRun)
{
    Start();
    ASSERT_TRUE(program.SetCheck(1001, true));
    ASSERT_TRUE(program.Select(1010, 0));
    const SIZE_T idle = ReadProcessCounters(program.Process()).committed;
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForLines(kStarted, 1));
    EXPECT_GE(ReadProcessCounters(program.Process()).committed, idle + 16 * MB);
    // The block: the one committed private region of 16 MB. Flip c[0]'s lowest exponent bit.
    MEMORY_BASIC_INFORMATION region = {};
    for (const char* at = nullptr; VirtualQueryEx(program.Process(), at, &region, sizeof region) &&
                                   !(region.State == MEM_COMMIT && region.RegionSize == 16 * MB);
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    }
    unsigned char* const byte = static_cast<unsigned char*>(region.BaseAddress) + 8 * MB + 6;
    unsigned char value = 0;
    ASSERT_TRUE(ReadProcessMemory(program.Process(), byte, &value, 1, nullptr));
    value ^= 0x10;
    ASSERT_TRUE(WriteProcessMemory(program.Process(), byte, &value, 1, nullptr));
    ASSERT_TRUE(WaitForLines("Test Failed --", 1, 30000));
    const WindowDriver::Box box = program.Answer(IDOK);
    EXPECT_EQ(static_cast<UINT>(MB_ICONHAND), box.icon);
    EXPECT_NE(std::string::npos, box.text.find("wrong results")) << box.text;
    EXPECT_TRUE(program.IsEnabled(1020));
    EXPECT_LT(ReadProcessCounters(program.Process()).committed, idle + 4 * MB);   // workers ended, block released

    const std::vector<std::string> lines = LogLines(dir.ReadLog());
    // The worker, a processor of this machine and exactly the flipped bit.
    std::smatch match;
    const std::string failed = Messages(dir.ReadLog()).back();
    ASSERT_TRUE(std::regex_match(failed, match, std::regex(R"(Test Failed -- input changed in worker 1 of 1 on CPU (\d), bits 0010000000000000)")))
        << failed;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    EXPECT_LT(std::stoul(match[1]), system.dwNumberOfProcessors);
    EXPECT_EQ(0u, Count(kStopped));
    EXPECT_EQ(lines, program.ListItems(1023));
    EXPECT_EQ("Burnwright was run for 1 times so far (0 completed successfully)\n"
              "Last test status is FAILED (last log line is shown below)\n" + lines.back() + "\n",
              Summary());
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
    const std::regex whole(R"(\d\d/\d\d/20\d\d, \d\d:\d\d:\d\d, (Test S(tart|topp)ed --|Freq \d+\.\d\d MHz, Load \d+\.\d\d%))");
    const std::vector<std::string> lines = LogLines(log);
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    EXPECT_EQ("Burnwright was run for 3 times so far (" + std::to_string(Count(kStopped)) + " completed successfully)\n" +
                  (Messages(log).back() == kStopped ? "Last test status is SUCCESSFUL\n"
                                                    : "Last test status is FAILED (last log line is shown below)\n" + lines.back() + "\n"),
              Summary());
}

} // namespace
