#include <gtest/gtest.h>

#include <string>

#include "support/TestDirectory.h"
#include "support/WindowDriver.h"

namespace {

const DWORD kExitTimeoutMs = 30000;

} // namespace

class Program : public ::testing::Test {
protected:
    void Start(const std::string& exePath = ProductPath())
    {
        ASSERT_TRUE(program.Start(dir.path(), exePath)) << exePath;
    }

    // Answers the box that is expected now and returns what it showed.
    MessageBoxInfo Answer(int button)
    {
        const MessageBoxInfo info = program.Answer(button);
        EXPECT_NE(nullptr, info.hwnd) << "no message box to answer, or no answer taken";
        return info;
    }

    DWORD ExitCode()
    {
        DWORD code = 12345;
        EXPECT_TRUE(program.WaitForExit(kExitTimeoutMs, &code));
        return code;
    }

    TestDirectory dir;
    WindowDriver program;
};

TEST_F(Program, StartsWithoutTouchingTheLogAndCancelEndsItWithExitCodeZero)
{
    Start();
    EXPECT_EQ("Burnwright", WindowText(program.MainWindow()));
    EXPECT_FALSE(dir.Exists());
    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ(0u, ExitCode());
    EXPECT_FALSE(dir.Exists());
}

TEST_F(Program, EscapeClosesTheIdleProgram)
{
    Start();
    ASSERT_TRUE(program.PressKey(VK_ESCAPE));
    EXPECT_EQ(0u, ExitCode());
}

TEST_F(Program, ClosingTheWindowEndsTheIdleProgram)
{
    Start();
    ASSERT_TRUE(program.Close());
    EXPECT_EQ(0u, ExitCode());
}

TEST_F(Program, FirstRunShowsTheSummaryThenRunsUntilTerminated)
{
    Start();
    ASSERT_EQ(1, program.CheckState(1024));
    ASSERT_TRUE(program.Click(1020));

    const MessageBoxInfo summary = Answer(IDOK);
    EXPECT_EQ("Burnwright", summary.caption);
    EXPECT_EQ("Burnwright is running for the first time.", summary.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONASTERISK), summary.icon);

    // The run has started: "Run Test" is disabled and the list shows the start.
    EXPECT_FALSE(program.IsEnabled(1020));
    std::vector<std::string> lines = program.ListItems(1023);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("Test Started --")) << lines[0];
    EXPECT_EQ(0, program.ListSelection(1023));

    ASSERT_TRUE(program.Click(2));
    const MessageBoxInfo question = Answer(IDOK);
    EXPECT_EQ("Burnwright", question.caption);
    EXPECT_EQ("Terminate the test?", question.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), question.icon);
    EXPECT_EQ((std::vector<int>{ IDOK, IDCANCEL }), question.buttons);

    EXPECT_TRUE(program.IsEnabled(1020));
    lines = program.ListItems(1023);
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[1].find("Test Stopped --"));
    EXPECT_EQ(1, program.ListSelection(1023));

    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ(0u, ExitCode());
    const std::string log = dir.ReadFile();
    EXPECT_EQ(lines[0] + "\r\n" + lines[1] + "\r\n", log);
}

TEST_F(Program, MessageBoxesCarryTheExecutablesName)
{
    // A copy of the program under another name.
    const std::string product = ProductPath();
    const std::string copy = dir.path() + "\\Renamed Tester.exe";
    ASSERT_TRUE(CopyFileA(product.c_str(), copy.c_str(), FALSE));
    Start(copy);

    ASSERT_TRUE(program.SetText(1008, "many"));
    ASSERT_TRUE(program.Click(1020));
    const MessageBoxInfo refusal = Answer(IDOK);
    EXPECT_EQ("Renamed Tester", refusal.caption);
    EXPECT_EQ("Please enter an unsigned integer.", refusal.text);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), refusal.icon);
    EXPECT_TRUE(program.IsEnabled(1020));
    EXPECT_FALSE(dir.Exists());

    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ(0u, ExitCode());
}

TEST_F(Program, EnterPressesRunTest)
{
    Start();
    ASSERT_TRUE(program.SetText(1017, ""));
    ASSERT_TRUE(program.PressKey(VK_RETURN));
    const MessageBoxInfo refusal = Answer(IDOK);
    EXPECT_EQ("Please enter an unsigned integer.", refusal.text);
    EXPECT_EQ("Burnwright", refusal.caption);
    ASSERT_TRUE(program.Click(2));
    EXPECT_EQ(0u, ExitCode());
}
