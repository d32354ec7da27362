// Writing log lines: format, line ends on disk, long messages, unwritable files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "log/TestLog.h"
#include "support/KernelFake.h"
#include "support/LogLines.h"
#include "support/TestDirectory.h"

namespace {

SYSTEMTIME g_now;

void WINAPI FakeLocalTime(LPSYSTEMTIME time)
{
    *time = g_now;
}

class LogWriter : public ::testing::Test {
protected:
    TestDirectory dir;
    ScopedKernelServices guard;

    LogWriter()
    {
        g_kernel.GetLocalTime = FakeLocalTime;
        SetTime(2026, 1, 3, 4, 5, 6);
    }

    void SetTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
    {
        g_now = SYSTEMTIME{year, month, 0, day, hour, minute, second, 0};
    }
};

} // namespace

TEST_F(LogWriter, StampsMonthFirstWithPaddedFieldsAndTheTwentyFourHourClockEndingInCrLf)
{
    SetTime(2026, 12, 31, 23, 59, 58);
    WriteLog("Freq 2992.51 MHz, Load 100.00%");
    SetTime(2026, 1, 3, 4, 5, 6);
    WriteLog("Test Started --");
    WriteLog("");   // an empty message still gives a stamped line
    EXPECT_EQ("12/31/2026, 23:59:58, Freq 2992.51 MHz, Load 100.00%\r\n"
              "01/03/2026, 04:05:06, Test Started --\r\n"
              "01/03/2026, 04:05:06, \r\n",
              dir.ReadFile());
}

TEST_F(LogWriter, AppendsAcrossCallsAndKeepsWhatWasThere)
{
    dir.WriteFile("earlier line\r\n");
    WriteLog("one");
    SetTime(2026, 1, 3, 4, 5, 7);
    WriteLog("two");
    EXPECT_EQ("earlier line\r\n01/03/2026, 04:05:06, one\r\n01/03/2026, 04:05:07, two\r\n",
              dir.ReadFile());
}

TEST_F(LogWriter, CutsLongMessagesSoALineNeverExceedsNinetyNineCharacters)
{
    const std::string exact(77, 'x');
    WriteLog(exact.c_str());
    WriteLog((std::string(200, 'y') + "tail").c_str());
    const std::vector<std::string> lines = SplitLogLines(dir.ReadFile());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(99u, lines[0].size());
    EXPECT_EQ(exact, lines[0].substr(22));
    EXPECT_EQ(99u, lines[1].size());
    EXPECT_EQ(std::string(77, 'y'), lines[1].substr(22));
}

TEST_F(LogWriter, DropsTheLineWhenTheFileIsReadOnly)
{
    dir.WriteFile("kept\r\n");
    const std::string path = dir.path() + "\\Burnwright.log";
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "the read-only attribute is not enforced here (Wine run as root)";
    }
    WriteLog("lost");
    EXPECT_EQ("kept\r\n", dir.ReadFile());
}

TEST_F(LogWriter, DropsTheLineWhenAnotherProgramHoldsTheFileLocked)
{
    dir.WriteFile("kept\r\n");
    const std::string path = dir.path() + "\\Burnwright.log";
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    WriteLog("lost");
    CloseHandle(lock);
    EXPECT_EQ("kept\r\n", dir.ReadFile());
    WriteLog("written");
    EXPECT_EQ("kept\r\n01/03/2026, 04:05:06, written\r\n", dir.ReadFile());
}

TEST_F(LogWriter, DropsTheLineWhenADirectoryHasTheLogsName)
{
    ASSERT_TRUE(CreateDirectoryA((dir.path() + "\\Burnwright.log").c_str(), nullptr));
    WriteLog("lost");
    DWORD attributes = GetFileAttributesA((dir.path() + "\\Burnwright.log").c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
