// Reading the history of earlier runs and the summary shown before a run.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "log/TestLog.h"
#include "support/TestDirectory.h"

namespace {

const char kStart[] = "12/05/2026, 21:47:05, Test Started --\r\n";
const char kStop[] = "12/05/2026, 21:47:31, Test Stopped --\r\n";
const char kStatus[] = "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n";

struct History {
    unsigned int runs = 0xDEAD;
    unsigned int completed = 0xDEAD;
    int succeeded = 0xDEAD;
    char lastLine[256];
    std::string last() const { return lastLine; }
};

History Read()
{
    History history;
    std::memset(history.lastLine, '#', sizeof history.lastLine);
    history.lastLine[255] = '\0';
    ReadLogHistory(&history.runs, &history.completed, &history.succeeded, history.lastLine);
    return history;
}

class LogHistory : public ::testing::Test {
protected:
    TestDirectory dir;
};

} // namespace

TEST_F(LogHistory, NoFileReadsAsAProgramThatNeverRanAndIsNotCreated)
{
    const History history = Read();
    EXPECT_EQ(0u, history.runs);
    EXPECT_EQ(0u, history.completed);
    EXPECT_EQ(1, history.succeeded);
    EXPECT_EQ(std::string(255, '#'), history.last());
    EXPECT_FALSE(dir.Exists());
}

TEST_F(LogHistory, CountsRunsAndCompletionsAndKeepsTheLastLine)
{
    const std::string longLine = std::string(260, 'a') + "Test Started --" + std::string(25, 'b');
    const std::string longLineLastPiece = longLine.substr(255) + "\n";
    const struct {
        const char* what;
        std::string file;
        unsigned int runs, completed;
        int succeeded;
        const char* last;   // nullptr: not checked
    } cases[] = {
        {"empty file", "", 0, 0, 0, ""},
        {"no markers", "hello\r\nworld\r\n", 0, 0, 0, "world\n"},
        {"completed last run", std::string(kStart) + kStatus + kStop + kStart + kStatus + kStop, 2, 2, 1,
         "12/05/2026, 21:47:31, Test Stopped --\n"},
        {"unfinished last run shows its last status line",
         std::string(kStart) + kStop + kStart + kStop + kStart + kStatus, 3, 2, 0,
         "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n"},
        {"starts without any stop", std::string(kStart) + kStatus + kStart, 2, 0, 0, nullptr},
        {"stops without starts count as completed", std::string(kStop) + kStop, 0, 2, 1, nullptr},
        // Same position: the stop is not after the start.
        {"markers anywhere, a line with both counts for both",
         "edited: Test Stopped -- and Test Started -- here\r\n", 1, 1, 0, nullptr},
        {"markers are case sensitive", "test started --\r\nTEST STOPPED --\r\n", 0, 0, 0, nullptr},
        {"last line without line feed is examined and kept as it is",
         std::string(kStop) + "12/05/2026, 21:48:00, Test Started --", 1, 1, 0,
         "12/05/2026, 21:48:00, Test Started --"},
        // Long lines are read in pieces of 255 characters.
        {"marker wholly in the second piece of a long line", longLine + "\r\n", 1, 0, 0,
         longLineLastPiece.c_str()},
        {"marker split across the piece boundary is not found",
         std::string(kStart) + std::string(248, 'a') + "Test Stopped --\r\n", 1, 0, 0, nullptr},
        // Start marker in the second piece of a long line, stop marker in its first.
        {"pieces count as positions for the order of markers",
         "Test Stopped --" + std::string(250, 'x') + "Test Started --\r\n", 1, 1, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.WriteFile(c.file);
        const History history = Read();
        EXPECT_EQ(c.runs, history.runs);
        EXPECT_EQ(c.completed, history.completed);
        EXPECT_EQ(c.succeeded, history.succeeded);
        if (c.last) {
            EXPECT_EQ(c.last, history.last());
        }
    }
}

TEST_F(LogHistory, NullLastLineBufferIsAllowed)
{
    dir.WriteFile(std::string(kStart) + kStop);
    unsigned int runs = 0, completed = 0;
    int succeeded = 0;
    ReadLogHistory(&runs, &completed, &succeeded, nullptr);
    EXPECT_EQ(1u, runs);
    EXPECT_EQ(1, succeeded);
}

TEST(HistorySummaryText, FirstTimeSuccessfulOrFailedWithTheLastLineVerbatim)
{
    const char kFailed[] = "Last test status is FAILED (last log line is shown below)\n";
    const struct {
        unsigned int runs, completed;
        int succeeded;
        const char* lastLine;
        std::string text;
        UINT icon;
    } cases[] = {
        {0, 3, 1, "ignored", "Burnwright is running for the first time.", MB_ICONINFORMATION},
        {1, 1, 1, "last\n",
         "Burnwright was run for 1 times so far (1 completed successfully)\nLast test status is SUCCESSFUL\n",
         MB_ICONINFORMATION},
        {3, 2, 0, "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n",
         std::string("Burnwright was run for 3 times so far (2 completed successfully)\n") + kFailed +
             "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n",
         MB_ICONEXCLAMATION},
        // Format characters in the last line are not interpreted.
        {4000000000u, 0, 0, "%s%n%d 100%%",
         std::string("Burnwright was run for 4000000000 times so far (0 completed successfully)\n") + kFailed +
             "%s%n%d 100%%",
         MB_ICONEXCLAMATION},
    };
    for (const auto& c : cases) {
        const HistorySummary summary = FormatHistorySummary(c.runs, c.completed, c.succeeded, c.lastLine);
        EXPECT_EQ(c.text, summary.text);
        EXPECT_EQ(static_cast<unsigned>(c.icon), summary.icon) << c.text;
    }
}

TEST_F(LogHistory, ReaderAndSummaryAgreeOnAWrittenLog)
{
    WriteLog("Test Started --");
    WriteLog("Freq 3000.00 MHz, Load 50.00%");
    History history = Read();
    HistorySummary summary = FormatHistorySummary(history.runs, history.completed, history.succeeded,
                                                  history.lastLine);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), summary.icon);
    EXPECT_NE(std::string::npos, summary.text.find("Freq 3000.00 MHz, Load 50.00%\n"));

    WriteLog("Test Stopped --");
    history = Read();
    summary = FormatHistorySummary(history.runs, history.completed, history.succeeded, history.lastLine);
    EXPECT_EQ("Burnwright was run for 1 times so far (1 completed successfully)\n"
              "Last test status is SUCCESSFUL\n",
              summary.text);
}
