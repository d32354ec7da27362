// The log: its lines on disk, the history reader's rules, the summary's texts, and
// the reader against its model on generated and hostile files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "LogReaderModel.h"
#include "log/LogHistory.h"
#include "log/TestLog.h"
#include "support/Support.h"

namespace {

void WINAPI NewYearsEve(LPSYSTEMTIME time) { *time = SYSTEMTIME{2026, 12, 4, 31, 23, 59, 58, 0}; }
void WINAPI EarlyJanuary(LPSYSTEMTIME time) { *time = SYSTEMTIME{2026, 1, 6, 3, 4, 5, 6, 0}; }

// Month first, padded fields, 24-hour clock, CR LF; appended to what was there; a
// message cut at 77 characters; nothing written where the file cannot be opened.
TEST(LogWriter, AppendsStampedLinesEndingInCrLf)
{
    TestDirectory dir;
    ScopedKernelServices guard;
    dir.WriteLog("earlier line\r\n");
    g_kernel.GetLocalTime = NewYearsEve;
    WriteLog("Freq 2992.51 MHz, Load 100.00%");
    g_kernel.GetLocalTime = EarlyJanuary;
    WriteLog((std::string(200, 'y') + "tail").c_str());
    EXPECT_EQ("earlier line\r\n12/31/2026, 23:59:58, Freq 2992.51 MHz, Load 100.00%\r\n"
              "01/03/2026, 04:05:06, " + std::string(77, 'y') + "\r\n",
              dir.ReadLog());

    const std::string before = dir.ReadLog();
    HANDLE lock = CreateFileA("Burnwright.log", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    WriteLog("Test Stopped --");
    CloseHandle(lock);
    EXPECT_EQ(before, dir.ReadLog());
}

// Flushes to the disk, counted when the line just written is already in the file
// (read through an open of its own) and the handle is the file's.
unsigned int g_flushes = 0, g_flushedLines = 0;
BOOL WINAPI CheckingFlush(HANDLE file)
{
    ++g_flushes;
    std::ifstream in("Burnwright.log", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string line = std::string(LastLogLine()) + "\r\n";
    const BOOL flushed = RealKernelServices().FlushFileBuffers(file);
    if (flushed && bytes.size() >= line.size() && bytes.compare(bytes.size() - line.size(), line.size(), line) == 0)
        ++g_flushedLines;
    return flushed;
}

// Each line is on the disk before the next is written: a machine that dies mid-run
// leaves every line so far complete.
TEST(LogWriter, FlushesEachLineToTheDisk)
{
    TestDirectory dir;
    ScopedKernelServices guard;
    g_kernel.FlushFileBuffers = CheckingFlush;
    g_flushes = g_flushedLines = 0;
    WriteLog("Test Started --");
    WriteLog("Freq 2992.51 MHz, Load 100.00%");
    EXPECT_EQ(2u, g_flushes);
    EXPECT_EQ(2u, g_flushedLines);
}

// The reader's rules, file by file: counts, the last run's status, the last piece.
// No log, or a directory in its place, reads as a program that never ran, and
// reading creates nothing.
TEST(LogHistory, CountsMarkersAndJudgesTheLastRun)
{
    const std::string start = "12/05/2026, 21:47:05, Test Started --\r\n", stop = "12/05/2026, 21:47:31, Test Stopped --\r\n";
    const std::string status = "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n";
    const std::string scope = "12/05/2026, 21:47:05, Testing 32 workers on 32 of 32 processors (16 of 16 cores), "
                              "AVX-512, 28412 of 30120 MB\r\n";
    const struct {
        const char* what;
        std::string file;   // "none": no log; "directory": a directory in its place
        unsigned int runs, completed;
        int succeeded;
        std::string lastLine;
    } cases[] = {
        {"no log", "none", 0, 0, 1, "untouched"},
        {"a directory", "directory", 0, 0, 1, "untouched"},
        {"empty", "", 0, 0, 0, ""},
        {"no marker", "hello\r\n", 0, 0, 0, "hello\n"},
        {"completed", start + status + stop, 1, 1, 1, stop.substr(0, 37) + "\n"},
        {"ended in a status line", start + stop + start + status, 2, 1, 0, status.substr(0, 51) + "\n"},
        {"ended in the tested line", start + stop + start + scope, 2, 1, 0, scope.substr(0, scope.size() - 2) + "\n"},
        {"stop markers only", stop + stop, 0, 2, 1, stop.substr(0, 37) + "\n"},
        {"both markers on the last line", start + "Test Started -- Test Stopped --", 2, 1, 0, "Test Started -- Test Stopped --"},
        {"a marker cut by the 255-character piece", start + std::string(250, 'x') + "Test Stopped --\r\n", 1, 0, 0, "Stopped --\n"},
        {"a marker inside a long line", std::string(300, 'x') + "Test Started --", 1, 0, 0, std::string(45, 'x') + "Test Started --"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestDirectory dir;
        if (c.file == "directory")
            CreateDirectoryA("Burnwright.log", nullptr);
        else if (c.file != "none")
            dir.WriteLog(c.file);
        unsigned int runs = 99, completed = 99;
        int succeeded = 99;
        char lastLine[256] = "untouched";
        ReadLogHistory(&runs, &completed, &succeeded, lastLine);
        EXPECT_EQ(c.runs, runs);
        EXPECT_EQ(c.completed, completed);
        EXPECT_EQ(c.succeeded, succeeded);
        EXPECT_EQ(c.lastLine, lastLine);
        EXPECT_EQ(c.file != "none", GetFileAttributesA("Burnwright.log") != INVALID_FILE_ATTRIBUTES);
    }
}

// A crash or reset can leave the log's tail as zero bytes (the file grew, its data
// never reached the disk) and the next run appends after them; a Ctrl-Z is junk
// like any other byte. Neither hides a run nor blanks the last line.
TEST(LogHistory, ZerosAndCtrlZHideNoRun)
{
    const std::string start = "12/05/2026, 21:47:05, Test Started --\r\n", stop = "12/05/2026, 21:47:31, Test Stopped --\r\n";
    const std::string status = "12/05/2026, 21:47:15, Freq 2394.56 MHz, Load 99.87%\r\n";
    const std::string zeros(300, '\0');
    struct History {
        unsigned int runs = 99, completed = 99;
        int succeeded = 99;
        char lastLine[256] = "untouched";
    };
    const auto read = [](const std::string& bytes) {
        TestDirectory dir;
        dir.WriteLog(bytes);
        History history;
        ReadLogHistory(&history.runs, &history.completed, &history.succeeded, history.lastLine);
        return history;
    };

    const History crashed = read(start + status + stop + start + status + zeros + start + status + stop);
    EXPECT_EQ(3u, crashed.runs);
    EXPECT_EQ(2u, crashed.completed);
    EXPECT_EQ(1, crashed.succeeded);

    const History zeroTail = read(start + status + zeros);
    EXPECT_EQ(1u, zeroTail.runs);
    EXPECT_EQ(0u, zeroTail.completed);
    EXPECT_EQ(0, zeroTail.succeeded);
    EXPECT_STREQ((status.substr(0, 51) + "\n").c_str(), zeroTail.lastLine);

    const History ctrlZ = read(start + stop + "\x1a" + start + status);
    EXPECT_EQ(2u, ctrlZ.runs);
    EXPECT_EQ(1u, ctrlZ.completed);
    EXPECT_EQ(0, ctrlZ.succeeded);
    EXPECT_STREQ((status.substr(0, 51) + "\n").c_str(), ctrlZ.lastLine);
}

TEST(LogHistory, SummaryTextsAndIcons)
{
    const struct {
        unsigned int runs, completed;
        int succeeded;
        const char* text;
        unsigned int icon;
    } cases[] = {
        {0, 5, 0, "Burnwright is running for the first time.", kIconInformation},
        {1, 1, 1, "Burnwright was run for 1 times so far (1 completed successfully)\nLast test status is SUCCESSFUL\n", kIconInformation},
        {3, 2, 0, "Burnwright was run for 3 times so far (2 completed successfully)\n"
                  "Last test status is FAILED (last log line is shown below)\nx, Load 99.87%%\n", kIconExclamation},
    };
    for (const auto& c : cases) {
        const HistorySummary summary = FormatHistorySummary(c.runs, c.completed, c.succeeded, "x, Load 99.87%%\n");
        EXPECT_EQ(c.text, summary.text);
        EXPECT_EQ(c.icon, summary.icon);
    }
}

TEST(LogHistory, AgreesWithItsModelOnGeneratedFiles)
{
    TestDirectory dir;
    const ModelHistory model =
        ModelReadHistory("a Test Started --\r\nb Test Stopped --\r\n\x1a" + std::string(300, '\0') + "c Test Started --\r");
    EXPECT_EQ(2u, model.runs);   // the model itself follows the rules
    EXPECT_EQ(1u, model.completed);
    EXPECT_EQ(0, model.succeeded);
    EXPECT_EQ("\x1a" "c Test Started --\r", model.lastLine);
    EXPECT_EQ("", FuzzLogReader(3000, 20261206));
}

} // namespace
