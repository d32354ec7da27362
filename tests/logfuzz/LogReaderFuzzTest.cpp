// The history reader against a reference model on thousands of generated files,
// and on things that are not log files at all.
#include <gtest/gtest.h>

#include <windows.h>

#include "log/LogHistory.h"
#include "logfuzz/LogReaderModel.h"
#include "support/TestDirectory.h"

TEST(LogReaderFuzz, AgreesWithTheModelOnGeneratedFiles)
{
    TestDirectory dir;
    const FuzzResult result = FuzzLogReader(3000, 20261206, true);
    EXPECT_EQ(3000u, result.files);
    EXPECT_EQ(0u, result.mismatches) << result.firstMismatch;
}

TEST(LogReaderFuzz, ModelFollowsTheReadersRulesOnKnownFiles)
{
    // The model itself must reproduce the documented cases.
    ModelHistory model = ModelReadHistory("a Test Started --\r\nb Test Stopped --\r\n", true);
    EXPECT_EQ(1u, model.runs);
    EXPECT_EQ(1u, model.completed);
    EXPECT_EQ(1, model.succeeded);
    EXPECT_EQ("b Test Stopped --\n", model.lastLine);
    model = ModelReadHistory(std::string(250, 'x') + "Test Stopped --", true);
    EXPECT_EQ(0u, model.completed);
    model = ModelReadHistory("", true);
    EXPECT_EQ(0, model.succeeded);
}

TEST(LogReaderHostile, ADirectoryInPlaceOfTheLogReadsAsNoHistory)
{
    TestDirectory dir;
    ASSERT_TRUE(CreateDirectoryA("Burnwright.log", nullptr));
    unsigned int runs = 7, completed = 7;
    int succeeded = 7;
    char lastLine[256] = "untouched";
    ReadLogHistory(&runs, &completed, &succeeded, lastLine);
    EXPECT_EQ(0u, runs);
    EXPECT_EQ(0u, completed);
    EXPECT_EQ(1, succeeded);
    EXPECT_STREQ("untouched", lastLine);
}

TEST(LogReaderHostile, AFileLockedByAnotherProgramReadsAsNoHistory)
{
    TestDirectory dir;
    dir.WriteFile("x, Test Started --\r\n");
    HANDLE lock = CreateFileA("Burnwright.log", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    unsigned int runs = 7, completed = 7;
    int succeeded = 7;
    char lastLine[256] = "untouched";
    ReadLogHistory(&runs, &completed, &succeeded, lastLine);
    CloseHandle(lock);
    EXPECT_EQ(0u, runs);
    EXPECT_EQ(1, succeeded);
    EXPECT_STREQ("untouched", lastLine);
}
