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

TEST_F(LogHistory, EmptyFileHasNoRunsAndAnEmptyLastLine)
{
    dir.WriteFile("");
    const History history = Read();
    EXPECT_EQ(0u, history.runs);
    EXPECT_EQ(0u, history.completed);
    EXPECT_EQ(0, history.succeeded);
    EXPECT_EQ("", history.last());
}

TEST_F(LogHistory, FileWithoutMarkersHasNoRuns)
{
    dir.WriteFile("hello\r\nworld\r\n");
    const History history = Read();
    EXPECT_EQ(0u, history.runs);
    EXPECT_EQ(0, history.succeeded);
    EXPECT_EQ("world\n", history.last());
}

TEST_F(LogHistory, CompletedLastRunSucceeds)
{
    dir.WriteFile(std::string(kStart) + kStatus + kStop + kStart + kStatus + kStop);
    const History history = Read();
    EXPECT_EQ(2u, history.runs);
    EXPECT_EQ(2u, history.completed);
    EXPECT_EQ(1, history.succeeded);
    EXPECT_EQ("12/05/2026, 21:47:31, Test Stopped --\n", history.last());
}

TEST_F(LogHistory, UnfinishedLastRunFailsAndShowsTheLastStatusLine)
{
    dir.WriteFile(std::string(kStart) + kStop + kStart + kStop + kStart + kStatus);
    const History history = Read();
    EXPECT_EQ(3u, history.runs);
    EXPECT_EQ(2u, history.completed);
    EXPECT_EQ(0, history.succeeded);
    EXPECT_EQ("12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n", history.last());
}

TEST_F(LogHistory, StartMarkersWithoutAnyStopMarkerFail)
{
    dir.WriteFile(std::string(kStart) + kStatus + kStart);
    const History history = Read();
    EXPECT_EQ(2u, history.runs);
    EXPECT_EQ(0u, history.completed);
    EXPECT_EQ(0, history.succeeded);
}

TEST_F(LogHistory, StopMarkersWithoutStartMarkersCountAsCompleted)
{
    dir.WriteFile(std::string(kStop) + kStop);
    const History history = Read();
    EXPECT_EQ(0u, history.runs);
    EXPECT_EQ(2u, history.completed);
    EXPECT_EQ(1, history.succeeded);
}

TEST_F(LogHistory, MarkersAreFoundAnywhereAndALineWithBothCountsForBoth)
{
    dir.WriteFile(std::string("edited: Test Stopped -- and Test Started -- here\r\n"));
    const History history = Read();
    EXPECT_EQ(1u, history.runs);
    EXPECT_EQ(1u, history.completed);
    EXPECT_EQ(0, history.succeeded);   // same position: the stop is not after the start
}

TEST_F(LogHistory, MarkersAreCaseSensitive)
{
    dir.WriteFile("test started --\r\nTEST STOPPED --\r\n");
    const History history = Read();
    EXPECT_EQ(0u, history.runs);
    EXPECT_EQ(0u, history.completed);
}

TEST_F(LogHistory, LastLineWithoutLineFeedIsExaminedAndKeptAsIs)
{
    dir.WriteFile(std::string(kStop) + "12/05/2026, 21:48:00, Test Started --");
    const History history = Read();
    EXPECT_EQ(1u, history.runs);
    EXPECT_EQ(0, history.succeeded);
    EXPECT_EQ("12/05/2026, 21:48:00, Test Started --", history.last());
}

TEST_F(LogHistory, LongLinesAreReadInPiecesOf255Characters)
{
    // The marker lies wholly in the second piece of a 300-character line.
    std::string longLine = std::string(260, 'a') + "Test Started --" + std::string(25, 'b');
    dir.WriteFile(longLine + "\r\n");
    History history = Read();
    EXPECT_EQ(1u, history.runs);
    EXPECT_EQ(longLine.substr(255) + "\n", history.last());

    // A marker split across the piece boundary is not found.
    std::string split = std::string(248, 'a') + "Test Stopped --" + "\r\n";
    dir.WriteFile(std::string(kStart) + split);
    history = Read();
    EXPECT_EQ(1u, history.runs);
    EXPECT_EQ(0u, history.completed);
    EXPECT_EQ(0, history.succeeded);
}

TEST_F(LogHistory, PiecesCountAsPositionsForTheOrderOfMarkers)
{
    // Start marker in the second piece of a long line, stop marker in its first.
    std::string line = "Test Stopped --" + std::string(250, 'x') + "Test Started --";
    dir.WriteFile(line + "\r\n");
    const History history = Read();
    EXPECT_EQ(1u, history.runs);
    EXPECT_EQ(1u, history.completed);
    EXPECT_EQ(0, history.succeeded);
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

TEST(HistorySummaryText, FirstTime)
{
    const HistorySummary summary = FormatHistorySummary(0, 3, 1, "ignored");
    EXPECT_EQ("Burnwright is running for the first time.", summary.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONINFORMATION), summary.icon);
}

TEST(HistorySummaryText, Successful)
{
    const HistorySummary summary = FormatHistorySummary(1, 1, 1, "last\n");
    EXPECT_EQ("Burnwright was run for 1 times so far (1 completed successfully)\n"
              "Last test status is SUCCESSFUL\n",
              summary.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONINFORMATION), summary.icon);
}

TEST(HistorySummaryText, FailedShowsTheLastLineVerbatim)
{
    const HistorySummary summary =
        FormatHistorySummary(3, 2, 0, "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n");
    EXPECT_EQ("Burnwright was run for 3 times so far (2 completed successfully)\n"
              "Last test status is FAILED (last log line is shown below)\n"
              "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\n",
              summary.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), summary.icon);
}

TEST(HistorySummaryText, FormatCharactersInTheLastLineAreNotInterpreted)
{
    const HistorySummary summary = FormatHistorySummary(4000000000u, 0, 0, "%s%n%d 100%%");
    EXPECT_EQ("Burnwright was run for 4000000000 times so far (0 completed successfully)\n"
              "Last test status is FAILED (last log line is shown below)\n%s%n%d 100%%",
              summary.text);
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
