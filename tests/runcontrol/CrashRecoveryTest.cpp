// A run that never ends normally (the process is killed at some moment of it)
// leaves a log of whole lines that the next summary reads correctly.
#include "RunProgramFixture.h"

#include <random>

namespace {

const char kStarted[] = "Test Started --";
const char kStopped[] = "Test Stopped --";

bool IsWholeLine(const std::string& line)
{
    // "MM/DD/YYYY, hh:mm:ss, " then one of the messages the program writes.
    if (line.size() < 22 || line[2] != '/' || line[5] != '/' || line.compare(10, 2, ", ") != 0
        || line[14] != ':' || line[17] != ':' || line.compare(20, 2, ", ") != 0)
        return false;
    const std::string message = line.substr(22);
    if (message == kStarted || message == kStopped)
        return true;
    return message.compare(0, 5, "Freq ") == 0 && message.find(" MHz") != std::string::npos
        && (message.find(", Load ") == std::string::npos || message.back() == '%');
}

void Kill(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    ASSERT_NE(nullptr, process);
    TerminateProcess(process, 3);
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
}

} // namespace

class CrashRecovery : public RunProgram {
protected:
    // The log is whole lines, and a new start of the program summarises it as it is.
    void ExpectSummaryMatchesTheLog()
    {
        const std::string log = dir.ReadFile();
        ASSERT_FALSE(log.empty());
        ASSERT_EQ("\r\n", log.substr(log.size() - 2)) << "last line cut short";
        const std::vector<std::string> lines = SplitLogLines(log);
        size_t runs = 0, completed = 0;
        bool lastIsStop = false;
        for (const std::string& line : lines) {
            EXPECT_TRUE(IsWholeLine(line)) << line;
            const std::string message = line.size() > 22 ? line.substr(22) : "";
            if (message == kStarted) {
                ++runs;
                lastIsStop = false;
            } else if (message == kStopped) {
                ++completed;
                lastIsStop = true;
            }
        }
        char head[160];
        std::snprintf(head, sizeof head,
                      "Burnwright was run for %zu times so far (%zu completed successfully)\n"
                      "Last test status is ",
                      runs, completed);
        const std::string expected = std::string(head)
            + (lastIsStop ? "SUCCESSFUL\n"
                          : "FAILED (last log line is shown below)\n" + lines.back() + "\n");

        WindowDriver next;
        ASSERT_TRUE(next.Start(dir.path(), ProductPath()));
        ASSERT_TRUE(next.Click(1020));
        HWND box = next.WaitForMessageBox();
        ASSERT_NE(nullptr, box);
        const MessageBoxInfo summary = ReadMessageBox(box);
        EXPECT_EQ(expected, summary.text);
        EXPECT_EQ(static_cast<unsigned>(lastIsStop ? MB_ICONASTERISK : MB_ICONEXCLAMATION),
                  summary.icon);
        Kill(next.ProcessId());
    }
};

TEST_F(CrashRecovery, KilledBeforeTheFirstStatusLine)
{
    Start();
    Configure("60", false);
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages(kStarted, 1));
    Kill(program.ProcessId());
    EXPECT_EQ(std::vector<std::string>{kStarted}, Messages());
    ExpectSummaryMatchesTheLog();
}

TEST_F(CrashRecovery, KilledAtRandomMomentsBetweenStatusLines)
{
    std::mt19937 random(GetTickCount());
    for (int round = 0; round < 3; ++round) {
        WindowDriver run;
        SetEnvironmentVariableA("BURNWRIGHT_FAULTS", "cpuid=100");
        ASSERT_TRUE(run.Start(dir.path(), WindowDriver::WindowsPath(BURNWRIGHT_FAULTS_EXE)));
        ASSERT_TRUE(run.SetText(1017, "1"));
        ASSERT_TRUE(run.SetCheckState(1024, 0));
        ASSERT_TRUE(run.Click(1020));
        ASSERT_TRUE(WaitForMessages(kStarted, round + 1));
        ASSERT_TRUE(WaitForMessages("Freq ", StatusLines(Messages()) + 1 + random() % 2));
        Sleep(random() % 1000);
        Kill(run.ProcessId());
    }
    ExpectSummaryMatchesTheLog();
}

TEST_F(CrashRecovery, KilledWhileARunIsStopping)
{
    Start("cpuid=100");
    Configure("1", false);
    ASSERT_TRUE(program.SetCheckState(1001, 1));
    ASSERT_TRUE(program.SelectComboItem(1010, 7));   // 256 MB: the stop takes a moment
    ASSERT_TRUE(program.SelectComboItem(1005, 4));
    ASSERT_TRUE(program.Click(1020));
    ASSERT_TRUE(WaitForMessages("Freq ", 1));
    ASSERT_TRUE(program.WaitUntilResponsive());
    ASSERT_TRUE(program.Click(2));
    HWND box = program.WaitForMessageBox();
    ASSERT_NE(nullptr, box);
    ASSERT_TRUE(PressMessageBoxButton(box, IDOK));
    Kill(program.ProcessId());
    ExpectSummaryMatchesTheLog();
}
