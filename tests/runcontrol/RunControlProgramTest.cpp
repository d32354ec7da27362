// The whole tool driven through its window: starting, watching, stopping and
// failing runs, the summary of earlier runs, and runs that end by themselves.
#include "RunProgramFixture.h"

#include "log/LogHistory.h"

namespace {

const size_t MB = 1u << 20;
const char kStarted[] = "Test Started --";
const char kStopped[] = "Test Stopped --";

} // namespace

TEST_F(RunProgram, DefaultRunIsWatchedKeptGoingAndTerminated)
{
    // The fault build only shortens the frequency probe's delay, so samples come
    // at the interval on a loaded machine.
    Start("cpuid=100");
    Configure("1", false);
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStarted, 1));
    ASSERT_TRUE(program.WaitUntilResponsive());
    EXPECT_FALSE(program.IsEnabled(1020));
    EXPECT_EQ(nullptr, program.WaitForMessageBox(0));

    ASSERT_TRUE(WaitForMessages("Freq ", 2));
    ASSERT_TRUE(program.WaitUntilResponsive());
    // The list shows exactly what the file holds, without line ends (the file
    // may already be a line ahead: it is written first).
    const std::vector<std::string> list = program.ListItems(1023);
    const std::vector<std::string> file = SplitLogLines(dir.ReadFile());
    ASSERT_GE(list.size(), 3u);
    ASSERT_GE(file.size(), list.size());
    EXPECT_EQ(list, std::vector<std::string>(file.begin(), file.begin() + list.size()));
    // The newest line is selected (read again if a line arrived in between).
    for (int attempt = 0; attempt < 5; ++attempt) {
        const size_t count = program.ListItems(1023).size();
        const int selection = program.ListSelection(1023);
        if (program.ListItems(1023).size() != count)
            continue;
        EXPECT_EQ(static_cast<int>(count) - 1, selection);
        break;
    }
    for (const std::string& message : Messages())
        EXPECT_TRUE(message == kStarted || message.compare(0, 5, "Freq ") == 0) << message;

    // Cancel, then Cancel again: the run goes on, and samples continue while asking.
    ASSERT_TRUE(program.Click(2));
    HWND box = program.WaitForMessageBox();
    ASSERT_NE(nullptr, box);
    const size_t before = StatusLines(Messages());
    EXPECT_TRUE(WaitForMessages("Freq ", before + 1));
    const MessageBoxInfo question = ReadMessageBox(box);
    EXPECT_EQ("Terminate the test?", question.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), question.icon);
    ASSERT_TRUE(PressMessageBoxButton(box, IDCANCEL));
    ASSERT_TRUE(WaitForWindowGone(box, 15000));
    ASSERT_TRUE(program.WaitUntilResponsive());
    EXPECT_FALSE(program.IsEnabled(1020));
    EXPECT_TRUE(WaitForMessages("Freq ", before + 2));
    EXPECT_EQ(0u, Count(Messages(), kStopped));

    // Cancel, then OK: the run stops and the window stays open.
    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ("Terminate the test?", Answer(IDOK).text);
    EXPECT_TRUE(program.IsEnabled(1020));
    EXPECT_TRUE(IsWindow(program.MainWindow()));
    std::vector<std::string> messages = Messages();
    EXPECT_EQ(kStopped, messages.back());
    EXPECT_EQ(1u, Count(messages, kStopped));
    EXPECT_EQ(messages.size(), program.ListItems(1023).size());

    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ(0u, ExitCode());
}

TEST_F(RunProgram, SummaryOfEarlierRunsComesBeforeTheRunStarts)
{
    const std::string start = "12/05/2026, 21:47:05, Test Started --\r\n";
    const std::string status = "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n";
    const std::string stop = "12/05/2026, 21:47:31, Test Stopped --\r\n";
    struct Case { std::string file; bool exists; std::string text; unsigned icon; };
    const Case cases[] = {
        {"", false, "Burnwright is running for the first time.", MB_ICONASTERISK},
        {start + status + stop + start + status, true,
         "Burnwright was run for 2 times so far (1 completed successfully)\n"
         "Last test status is FAILED (last log line is shown below)\n"
         "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n",
         MB_ICONEXCLAMATION},
        {start + status + stop, true,
         "Burnwright was run for 1 times so far (1 completed successfully)\n"
         "Last test status is SUCCESSFUL\n",
         MB_ICONASTERISK},
    };
    for (const Case& c : cases) {
        TestDirectory caseDir;
        if (c.exists)
            caseDir.WriteFile(c.file);
        WindowDriver run;
        ASSERT_TRUE(run.Start(caseDir.path(), ProductPath()));
        ASSERT_EQ(1, run.CheckState(1024));
        ASSERT_TRUE(run.Click(1020));

        HWND box = run.WaitForMessageBox();
        ASSERT_NE(nullptr, box);
        const MessageBoxInfo summary = ReadMessageBox(box);
        EXPECT_EQ("Burnwright", summary.caption);
        EXPECT_EQ(c.text, summary.text);
        EXPECT_EQ(c.icon, summary.icon);
        EXPECT_EQ(std::vector<int>{IDOK}, summary.buttons);
        // Nothing has started while the summary is open.
        EXPECT_EQ(c.exists, caseDir.Exists());
        EXPECT_EQ(c.file, caseDir.ReadFile());

        ASSERT_TRUE(PressMessageBoxButton(box, IDOK));
        ASSERT_TRUE(WaitForWindowGone(box, 15000));
        ASSERT_TRUE(run.WaitUntilResponsive());
        const std::vector<std::string> messages = LogMessages(caseDir.ReadFile());
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(kStarted, messages.back());
        EXPECT_FALSE(run.IsEnabled(1020));

        ASSERT_TRUE(run.Click(2));
        HWND question = run.WaitForMessageBox();
        ASSERT_NE(nullptr, question);
        ASSERT_TRUE(PressMessageBoxButton(question, IDOK));
        ASSERT_TRUE(WaitForWindowGone(question, 15000));
        ASSERT_TRUE(run.WaitUntilResponsive());
        ASSERT_TRUE(run.Click(2));
        DWORD code = 1;
        EXPECT_TRUE(run.WaitForExit(30000, &code));
        EXPECT_EQ(0u, code);
    }
}

TEST_F(RunProgram, WithoutTheSummaryTheRunStartsAtOnce)
{
    dir.WriteFile("12/05/2026, 21:47:05, Test Started --\r\n");
    Start();
    Configure("10", false);
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStarted, 2));
    EXPECT_EQ(nullptr, program.WaitForMessageBox(0));
    EXPECT_FALSE(program.IsEnabled(1020));
}

TEST_F(RunProgram, FailedStartIsReportedAndTheDialogStaysIdle)
{
    struct Case { const char* faults; bool memoryTest; const char* text; };
    const Case cases[] = {
        {"commit=8", false, "Test Initialization Failed. Error 80070008"},
        {"avail=100", true, "Test Initialization Failed. Error 8007000E"},
        {"create=3:1450", false, "Test Initialization Failed. Error 800705AA"},
    };
    for (const Case& c : cases) {
        TestDirectory caseDir;
        SetEnvironmentVariableA("BURNWRIGHT_FAULTS", c.faults);
        WindowDriver run;
        ASSERT_TRUE(run.Start(caseDir.path(), WindowDriver::WindowsPath(BURNWRIGHT_FAULTS_EXE)));
        ASSERT_TRUE(run.SetText(1017, "1"));
        ASSERT_TRUE(run.SetCheckState(1024, 0));
        ASSERT_TRUE(run.SelectComboItem(1005, 4));   // 16 workers
        if (c.memoryTest) {
            ASSERT_TRUE(run.SetCheckState(1001, 1));
            ASSERT_TRUE(run.SelectComboItem(1010, 7));   // 256 MB of the 100 available
        }
        ASSERT_TRUE(run.Click(1020));
        HWND box = run.WaitForMessageBox();
        ASSERT_NE(nullptr, box) << c.faults;
        const MessageBoxInfo failure = ReadMessageBox(box);
        EXPECT_EQ(c.text, failure.text);
        EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), failure.icon);
        EXPECT_EQ(std::vector<int>{IDOK}, failure.buttons);
        ASSERT_TRUE(PressMessageBoxButton(box, IDOK));
        ASSERT_TRUE(WaitForWindowGone(box, 15000));
        ASSERT_TRUE(run.WaitUntilResponsive());

        EXPECT_TRUE(run.IsEnabled(1020));
        // No timer: two log intervals later still nothing was written or shown.
        Sleep(2500);
        ASSERT_TRUE(run.WaitUntilResponsive());
        EXPECT_FALSE(caseDir.Exists()) << caseDir.ReadFile();
        EXPECT_TRUE(run.ListItems(1023).empty());
        EXPECT_EQ(nullptr, run.WaitForMessageBox(0));

        ASSERT_TRUE(run.Click(2));
        DWORD code = 1;
        EXPECT_TRUE(run.WaitForExit(30000, &code));
        EXPECT_EQ(0u, code);
    }
}

TEST_F(RunProgram, RunStopsByItselfAtTheFirstTickAfterTheDuration)
{
    // Time runs twenty times faster: one-second ticks are twenty seconds apart.
    Start("clock=20,cpuid=100");
    Configure("1", false);
    ASSERT_TRUE(program.SetText(1015, "1"));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStopped, 1, 60000));
    ASSERT_TRUE(program.WaitUntilResponsive());
    EXPECT_TRUE(program.IsEnabled(1020));

    const std::string log = dir.ReadFile();
    const std::vector<std::string> messages = LogMessages(log);
    EXPECT_EQ(kStarted, messages.front());
    EXPECT_EQ(kStopped, messages.back());
    EXPECT_GE(StatusLines(messages), 1u);
    EXPECT_LE(StatusLines(messages), 3u);
    // Stopped once: later ticks add nothing.
    Sleep(2500);
    ASSERT_TRUE(program.WaitUntilResponsive());
    EXPECT_EQ(log, dir.ReadFile());
    EXPECT_EQ(nullptr, program.WaitForMessageBox(0));
}

TEST_F(RunProgram, TerminationConfirmedAfterTheRunEndedWritesNothingMore)
{
    Start("clock=20,cpuid=100");
    Configure("1", false);
    ASSERT_TRUE(program.SetText(1015, "1"));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStarted, 1));
    ASSERT_TRUE(program.WaitUntilResponsive());
    ASSERT_TRUE(program.Click(2));
    HWND box = program.WaitForMessageBox();
    ASSERT_NE(nullptr, box);

    // The duration ends while the question is open.
    ASSERT_TRUE(WaitForMessages(kStopped, 1, 60000));
    const std::string log = dir.ReadFile();

    ASSERT_TRUE(PressMessageBoxButton(box, IDOK));
    ASSERT_TRUE(WaitForWindowGone(box, 15000));
    ASSERT_TRUE(program.WaitUntilResponsive());
    EXPECT_EQ(log, dir.ReadFile());
    EXPECT_EQ(1u, Count(Messages(), kStopped));
    EXPECT_TRUE(program.IsEnabled(1020));

    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ(0u, ExitCode());
}

TEST_F(RunProgram, MemoryTestCommitsTheChosenSizeForTheRunOnly)
{
    Start("cpuid=100");
    Configure("1", false);
    ASSERT_TRUE(program.SetCheckState(1001, 1));
    ASSERT_TRUE(program.SelectComboItem(1010, 5));   // 128 MB
    ASSERT_TRUE(program.SelectComboItem(1005, 2));   // 4 workers
    const size_t before = CommittedBytes();
    ASSERT_GT(before, 0u);

    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStarted, 1));
    ASSERT_TRUE(program.WaitUntilResponsive());
    const size_t during = CommittedBytes();
    EXPECT_GE(during, before + 128 * MB);
    EXPECT_LT(during, before + 160 * MB);

    ASSERT_TRUE(program.Click(2));
    Answer(IDOK);
    const size_t after = CommittedBytes();
    EXPECT_LT(after, before + 16 * MB);
    EXPECT_EQ(kStopped, Messages().back());
}

namespace {

// The block of a 16 MB memory-test run in the program's address space: the one
// committed private region of exactly that size.
unsigned char* FindBlock(HANDLE process, SIZE_T size)
{
    const unsigned char* address = reinterpret_cast<const unsigned char*>(0x10000);
    MEMORY_BASIC_INFORMATION region;
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE && region.RegionSize == size &&
            region.BaseAddress == region.AllocationBase)
            return static_cast<unsigned char*>(region.BaseAddress);
        const unsigned char* next = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return nullptr;
}

} // namespace

// A machine that keeps a value wrongly fails the run: a bit of an input flips in
// the block, from inside the fault build or written by this process into the
// program's memory. The next sample ends the run as failed.
class FlippedBit : public RunProgram, public ::testing::WithParamInterface<bool> {};

TEST_P(FlippedBit, FailsTheRun)
{
    const bool fromOutside = GetParam();
    Start(fromOutside ? "" : "flip=1500,cpuid=100");
    Configure("1", false);
    ASSERT_TRUE(program.SetCheckState(1001, 1));
    ASSERT_TRUE(program.SelectComboItem(1010, 0));   // 16 MB, one worker
    const size_t idle = CommittedBytes();
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStarted, 1));

    if (fromOutside) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                         PROCESS_VM_READ | PROCESS_VM_WRITE,
                                     FALSE, program.ProcessId());
        ASSERT_NE(nullptr, process);
        unsigned char* const exponentByte = FindBlock(process, 16 * MB) + 8 * MB + 6;   // c[0]
        unsigned char byte = 0;
        SIZE_T done = 0;
        EXPECT_TRUE(ReadProcessMemory(process, exponentByte, &byte, 1, &done));
        byte ^= 0x10;
        EXPECT_TRUE(WriteProcessMemory(process, exponentByte, &byte, 1, &done));
        CloseHandle(process);
    }

    ASSERT_TRUE(WaitForMessages("Test Failed --", 1, 30000));
    const MessageBoxInfo box = Answer(IDOK);
    EXPECT_EQ(fromOutside ? "Burnwright" : "BurnwrightFaults", box.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), box.icon);
    EXPECT_NE(std::string::npos, box.text.find("wrong results")) << box.text;
    EXPECT_TRUE(program.IsEnabled(1020));
    EXPECT_LT(CommittedBytes(), idle + 4 * MB);   // workers ended, block released

    const std::vector<std::string> lines = SplitLogLines(dir.ReadFile());
    const std::vector<std::string> messages = Messages();
    EXPECT_EQ("Test Failed -- wrong result in worker 1 of 1", messages.back());
    EXPECT_EQ(0u, Count(messages, kStopped));
    EXPECT_EQ(lines, program.ListItems(1023));

    unsigned int runs = 0, completed = 0;
    int succeeded = 1;
    char lastLine[256] = "";
    ReadLogHistory(&runs, &completed, &succeeded, lastLine);
    EXPECT_EQ("Burnwright was run for 1 times so far (0 completed successfully)\n"
              "Last test status is FAILED (last log line is shown below)\n" +
                  lines.back() + "\n",
              FormatHistorySummary(runs, completed, succeeded, lastLine).text);
}

INSTANTIATE_TEST_SUITE_P(By, FlippedBit, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "AnotherProcess" : "TheFaultBuild");
                         });
