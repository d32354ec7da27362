#include <string>
#include <vector>

#include "DialogFixture.h"
#include "support/KernelFake.h"

namespace {

size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

LPVOID WINAPI RefuseVirtualAlloc(LPVOID, SIZE_T, DWORD, DWORD)
{
    return nullptr;
}

DWORD WINAPI NotEnoughMemory()
{
    return ERROR_NOT_ENOUGH_MEMORY;
}

} // namespace

class RunControl : public LiveDialog {
protected:
    void ShowHistory(bool show)
    {
        SendMessageA(Item(1024), BM_SETCHECK, show ? BST_CHECKED : BST_UNCHECKED, 0);
    }

    // Starts a run with one worker and no summary.
    void StartRun()
    {
        ShowHistory(false);
        Click(1020);
        ASSERT_EQ(1, dialog->m_bRunning);
    }

    bool RunTestEnabled() const { return IsWindowEnabled(Item(1020)) != 0; }
};

TEST_F(RunControl, RunTestStartsARunWithItsTimer)
{
    ShowHistory(false);
    Click(1020);

    EXPECT_EQ(1, dialog->m_bRunning);
    EXPECT_EQ(1u, dialog->m_nTimer);
    EXPECT_FALSE(RunTestEnabled());
    EXPECT_EQ(1, testRunning);
    EXPECT_EQ(1u, theApp.m_engine.config.threadCount);
    EXPECT_EQ(10000u, theApp.m_engine.config.logIntervalMs);
    EXPECT_EQ(600000u, theApp.m_engine.config.durationMs);
    const std::string line = LastLogLine();
    EXPECT_NE(std::string::npos, line.find("Test Started --")) << line;
    EXPECT_EQ(1u, Count(dir.ReadFile(), "Test Started --"));
}

TEST_F(RunControl, RunTestCommandDuringARunStartsNothingMore)
{
    StartRun();
    // The button is disabled; a command that arrives anyway changes nothing.
    Click(1020);
    EXPECT_EQ(1u, Count(dir.ReadFile(), "Test Started --"));
    EXPECT_EQ(1, SendMessageA(Item(1023), LB_GETCOUNT, 0, 0));
    EXPECT_EQ(1, dialog->m_bRunning);
}

TEST_F(RunControl, SummaryComesFirstAndTheRunStartsAfterItCloses)
{
    bool logExistedWhileShown = true;
    BoxAnswerer answer(IDOK, [&] { logExistedWhileShown = dir.Exists(); });
    Click(1020);
    answer.Join();

    ASSERT_TRUE(answer.seen);
    EXPECT_EQ("Burnwright is running for the first time.", answer.info.text);
    EXPECT_EQ(AfxGetAppName(), answer.info.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONASTERISK), answer.info.icon);
    EXPECT_EQ(std::vector<int>{ IDOK }, answer.info.buttons);
    EXPECT_FALSE(logExistedWhileShown);
    EXPECT_EQ(1, dialog->m_bRunning);
    EXPECT_EQ(1u, Count(dir.ReadFile(), "Test Started --"));
}

TEST_F(RunControl, SummaryReportsAnUnfinishedEarlierRun)
{
    dir.WriteFile("01/02/2024, 10:00:00, Test Started --\r\n"
                  "01/02/2024, 10:00:10, Freq 2992.51 MHz, Load 100.00%\r\n");
    BoxAnswerer answer(IDOK);
    Click(1020);
    answer.Join();

    ASSERT_TRUE(answer.seen);
    EXPECT_EQ(0u, answer.info.text.find("Burnwright was run for 1 times so far (0 completed successfully)"))
        << answer.info.text;
    EXPECT_NE(std::string::npos, answer.info.text.find("FAILED"));
    EXPECT_NE(std::string::npos, answer.info.text.find("Freq 2992.51 MHz"));
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), answer.info.icon);
}

TEST_F(RunControl, RefusedFieldStartsNothing)
{
    SetWindowTextA(Item(1015), "-5");
    BoxAnswerer answer(IDOK);
    Click(1020);
    answer.Join();

    ASSERT_TRUE(answer.seen);
    EXPECT_EQ("Please enter an unsigned integer.", answer.info.text);
    EXPECT_EQ(0, dialog->m_bRunning);
    EXPECT_EQ(0u, dialog->m_nTimer);
    EXPECT_TRUE(RunTestEnabled());
    EXPECT_EQ(0, testRunning);
    EXPECT_FALSE(dir.Exists());
    Pump();
    EXPECT_EQ(Item(1015), GetFocus());
}

TEST_F(RunControl, FailedStartIsReportedAndTheDialogStaysIdle)
{
    ScopedKernelServices restore;
    g_kernel.VirtualAlloc = &RefuseVirtualAlloc;
    g_kernel.GetLastError = &NotEnoughMemory;
    ShowHistory(false);
    BoxAnswerer answer(IDOK);
    Click(1020);
    answer.Join();

    ASSERT_TRUE(answer.seen);
    EXPECT_EQ("Test Initialization Failed. Error 80070008", answer.info.text);
    EXPECT_EQ(AfxGetAppName(), answer.info.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), answer.info.icon);
    EXPECT_EQ(0, dialog->m_bRunning);
    EXPECT_EQ(0u, dialog->m_nTimer);
    EXPECT_TRUE(RunTestEnabled());
    EXPECT_EQ(0, testRunning);
    EXPECT_EQ(nullptr, theApp.m_engine.memoryBase);
    EXPECT_FALSE(dir.Exists());
}

TEST_F(RunControl, CancelDuringARunAsksAndCancelKeepsTheRunGoing)
{
    StartRun();
    BoxAnswerer answer(IDCANCEL);
    Click(IDCANCEL);
    answer.Join();

    ASSERT_TRUE(answer.seen);
    EXPECT_EQ("Terminate the test?", answer.info.text);
    EXPECT_EQ(AfxGetAppName(), answer.info.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), answer.info.icon);
    EXPECT_EQ((std::vector<int>{ IDOK, IDCANCEL }), answer.info.buttons);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(1, dialog->m_bRunning);
    EXPECT_EQ(1u, dialog->m_nTimer);
    EXPECT_FALSE(RunTestEnabled());
    EXPECT_EQ(1, testRunning);
}

TEST_F(RunControl, CancelDuringARunAnsweredOkStopsItAndKeepsTheDialog)
{
    StartRun();
    BoxAnswerer answer(IDOK);
    Click(IDCANCEL);
    answer.Join();

    ASSERT_TRUE(answer.seen);
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(0, dialog->m_bRunning);
    EXPECT_EQ(0u, dialog->m_nTimer);
    EXPECT_TRUE(RunTestEnabled());
    EXPECT_EQ(0, testRunning);
    EXPECT_NE(std::string::npos, LastLogLine().find("Test Stopped --"));
    EXPECT_EQ(1u, Count(dir.ReadFile(), "Test Stopped --"));

    // Now idle: the next Cancel closes at once.
    Click(IDCANCEL);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, theApp.m_pMainDlg);
}

TEST_F(RunControl, ARunCanFollowAStoppedRun)
{
    StartRun();
    {
        BoxAnswerer answer(IDOK);
        Click(IDCANCEL);
    }
    ASSERT_EQ(0, dialog->m_bRunning);
    Click(1020);
    EXPECT_EQ(1, dialog->m_bRunning);
    EXPECT_EQ(2u, Count(dir.ReadFile(), "Test Started --"));
    // The list keeps the lines of the earlier run above the new ones.
    EXPECT_EQ(3, SendMessageA(Item(1023), LB_GETCOUNT, 0, 0));
}

TEST_F(RunControl, CancelWhileIdleClosesWithoutAQuestion)
{
    Click(IDCANCEL);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(FindMessageBoxes(GetCurrentProcessId()).empty());
    EXPECT_FALSE(dir.Exists());
}
