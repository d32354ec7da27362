#include <gtest/gtest.h>

#include "app/TestApp.h"
#include "ui/TestDlg.h"

// This test program carries no dialog template, so the main dialog's window
// cannot be made: start-up must end cleanly instead.

TEST(StartupWithoutTemplate, InitInstanceFailsAndLeavesNoDialogBehind)
{
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(nullptr, theApp.m_pMainDlg);
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
}

TEST(StartupWithoutTemplate, EntryPointEndsWithAFailureCode)
{
    EXPECT_EQ(kAfxFailureExitCode, AfxWinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWNORMAL));
    EXPECT_NE(0, kAfxFailureExitCode);
    EXPECT_EQ(nullptr, theApp.m_pMainDlg);
}

