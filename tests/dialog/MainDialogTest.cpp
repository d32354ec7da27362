#include "DialogFixture.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "MainDialogLayout.h"
#include "log/TestLog.h"

namespace {

std::string ClassOf(HWND hwnd)
{
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::vector<std::string> ComboItems(HWND combo)
{
    std::vector<std::string> items;
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = "";
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

} // namespace

using MainDialog = LiveDialog;

TEST_F(MainDialog, ControlsHaveTheirIdsClassesTextsStatesAndPlaces)
{
    std::vector<HWND> controls;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        controls.push_back(child);
    ASSERT_EQ(static_cast<size_t>(kExpectedControlCount), controls.size());

    for (int i = 0; i < kExpectedControlCount; ++i) {
        const ExpectedControl& want = kExpectedControls[i];
        HWND control = controls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " \"" + want.text + "\"");
        EXPECT_EQ(want.id, GetDlgCtrlID(control));
        EXPECT_STRCASEEQ(want.className, ClassOf(control).c_str());
        char text[128] = "";
        GetWindowTextA(control, text, sizeof text);
        // Lists and edits show their contents, not a template text.
        if (want.text[0] != '\0') {
            EXPECT_STREQ(want.text, text);
        }
        EXPECT_EQ((want.style & WS_DISABLED) == 0, IsWindowEnabled(control) != 0);
        EXPECT_TRUE(IsWindowVisible(control));

        const RECT expected = Pixels(want.x, want.y, want.cx, want.cy);
        const RECT got = ClientRect(control);
        EXPECT_EQ(expected.left, got.left);
        EXPECT_EQ(expected.top, got.top);
        const std::string kind = want.className;
        if (kind == "msctls_updown32") {
            // Wine's up-down control comes out a pixel wider than its template asks.
            EXPECT_LE(std::abs(expected.right - got.right), 1);
        } else {
            EXPECT_EQ(expected.right, got.right);
        }
        // A closed drop-down list is as tall as its text; the template's height,
        // checked with the template, is that of the opened list.
        if (kind != "ComboBox") {
            EXPECT_EQ(expected.bottom, got.bottom);
        }
    }
}

TEST_F(MainDialog, WindowHasItsCaptionSizeAndStyles)
{
    char caption[64] = "";
    GetWindowTextA(hwnd, caption, sizeof caption);
    EXPECT_STREQ("Burnwright", caption);

    RECT client;
    GetClientRect(hwnd, &client);
    const RECT expected = Pixels(0, 0, 320, 305);
    EXPECT_EQ(expected.right, client.right);
    EXPECT_EQ(expected.bottom, client.bottom);

    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_EQ(WS_CAPTION, style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(nullptr, GetMenu(hwnd));
    EXPECT_EQ(nullptr, GetParent(hwnd));
}

TEST_F(MainDialog, OpensCentredOnTheWorkArea)
{
    RECT window;
    GetWindowRect(hwnd, &window);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor));
    const RECT& area = monitor.rcWork;
    EXPECT_LE(std::abs((window.left - area.left) - (area.right - window.right)), 1);
    EXPECT_LE(std::abs((window.top - area.top) - (area.bottom - window.bottom)), 1);
}

TEST_F(MainDialog, ListsHoldTheirItemsAndDefaultSelections)
{
    for (const ExpectedList& list : kExpectedLists)
        EXPECT_EQ(list.items, ComboItems(Item(list.id))) << list.id;

    EXPECT_EQ(0, SendMessageA(Item(1005), CB_GETCURSEL, 0, 0));
    EXPECT_EQ("1", Text(1005));
    EXPECT_EQ(8, SendMessageA(Item(1010), CB_GETCURSEL, 0, 0));
    EXPECT_EQ("MAX", Text(1010));
    for (int id : { 1011, 1012, 1013 })
        EXPECT_EQ(CB_ERR, SendMessageA(Item(id), CB_GETCURSEL, 0, 0)) << id;
    EXPECT_EQ(0, SendMessageA(Item(1023), LB_GETCOUNT, 0, 0));
}

TEST_F(MainDialog, EditsAndCheckBoxesShowTheDefaults)
{
    EXPECT_EQ("0", Text(1008));
    EXPECT_EQ("10", Text(1015));
    EXPECT_EQ("10", Text(1017));
    for (int id : { 1000, 1019, 1021, 1024 })
        EXPECT_EQ(BST_CHECKED, SendMessageA(Item(id), BM_GETCHECK, 0, 0)) << id;
    for (int id : { 1001, 1002, 1003, 1009, 1018 })
        EXPECT_EQ(BST_UNCHECKED, SendMessageA(Item(id), BM_GETCHECK, 0, 0)) << id;
}

TEST_F(MainDialog, UpDownControlsHaveTheirRangesAndPartners)
{
    const struct {
        int spin, edit, lower, upper;
    } spins[] = { { 1007, 1008, 0, 24 }, { 1014, 1015, 0, 59 }, { 1016, 1017, 1, 60 } };
    for (const auto& s : spins) {
        const LRESULT range = SendMessageA(Item(s.spin), UDM_GETRANGE, 0, 0);
        EXPECT_EQ(s.upper, LOWORD(range)) << s.spin;
        EXPECT_EQ(s.lower, HIWORD(range)) << s.spin;
        EXPECT_EQ(Item(s.edit), reinterpret_cast<HWND>(SendMessageA(Item(s.spin), UDM_GETBUDDY, 0, 0))) << s.spin;
    }
}

TEST_F(MainDialog, ArrowKeysStepTheNumbersWithinTheirRanges)
{
    const struct {
        int edit;
        const char* start;
        UINT key;
        const char* after;
    } steps[] = {
        { 1008, "5", VK_UP, "6" },     { 1008, "24", VK_UP, "24" },   { 1008, "0", VK_DOWN, "0" },
        { 1015, "59", VK_UP, "59" },   { 1015, "0", VK_DOWN, "0" },   { 1015, "10", VK_DOWN, "9" },
        { 1017, "60", VK_UP, "60" },   { 1017, "1", VK_DOWN, "1" },   { 1017, "30", VK_UP, "31" },
    };
    for (const auto& s : steps) {
        SetWindowTextA(Item(s.edit), s.start);
        SetFocus(Item(s.edit));
        SendMessageA(Item(s.edit), WM_KEYDOWN, s.key, 1);
        SendMessageA(Item(s.edit), WM_KEYUP, s.key, 0xC0000001);
        Pump();
        EXPECT_EQ(s.after, Text(s.edit)) << s.edit << " from " << s.start;
    }
}

TEST_F(MainDialog, FocusStartsOnTheThreadList)
{
    EXPECT_EQ(Item(1005), GetFocus());
}

TEST_F(MainDialog, IconIsTheWindowsBigAndSmallIcon)
{
    ASSERT_NE(nullptr, dialog->m_hIcon);
    EXPECT_EQ(dialog->m_hIcon, reinterpret_cast<HICON>(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0)));
    EXPECT_EQ(dialog->m_hIcon, reinterpret_cast<HICON>(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0)));
    EXPECT_EQ(dialog->m_hIcon, reinterpret_cast<HICON>(SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0)));
}

TEST_F(MainDialog, AddLogLineAppendsSelectsAndScrollsToTheNewestLine)
{
    HWND list = Item(1023);
    for (int i = 1; i <= 40; ++i) {
        const std::string line = "line " + std::to_string(i);
        dialog->AddLogLine(line.c_str());
        EXPECT_EQ(i, SendMessageA(list, LB_GETCOUNT, 0, 0));
        EXPECT_EQ(i - 1, SendMessageA(list, LB_GETCURSEL, 0, 0));
        EXPECT_EQ(line, LastLogLine());
    }
    // The newest line is in view, the oldest scrolled out.
    Pump();
    RECT client;
    GetClientRect(list, &client);
    RECT item;
    SendMessageA(list, LB_GETITEMRECT, 39, reinterpret_cast<LPARAM>(&item));
    EXPECT_GE(item.top, client.top);
    EXPECT_LE(item.bottom, client.bottom);
    EXPECT_GT(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0);
    char first[32] = "";
    SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(first));
    EXPECT_STREQ("line 1", first);
}

TEST_F(MainDialog, LogLinesReachTheListThroughTheApplication)
{
    WriteLog("Hello from the log");
    EXPECT_EQ(1, SendMessageA(Item(1023), LB_GETCOUNT, 0, 0));
    const std::string line = LastLogLine();
    EXPECT_NE(std::string::npos, line.find(", Hello from the log")) << line;
    EXPECT_EQ(line + "\r\n", dir.ReadFile());
}

TEST_F(MainDialog, OpeningTheDialogLeavesTheLogFileAlone)
{
    Pump();
    EXPECT_FALSE(dir.Exists());
}

TEST_F(MainDialog, DestroyingTheWindowEndsTheProgramAndTheObject)
{
    ASSERT_EQ(dialog, theApp.m_pMainWnd);
    DestroyWindow(hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
    EXPECT_EQ(nullptr, theApp.m_pMainDlg);
    WPARAM code = 99;
    EXPECT_TRUE(Pump(&code));
    EXPECT_EQ(0u, code);
}

TEST_F(MainDialog, EscapeInTheMessageLoopClosesTheDialogWithExitCodeZero)
{
    // Bounds the loop should the key go unheard.
    const DWORD testThread = GetCurrentThreadId();
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread guard([testThread, stop] {
        if (WaitForSingleObject(stop, 20000) == WAIT_TIMEOUT)
            PostThreadMessageA(testThread, WM_QUIT, 77, 0);
    });

    HWND focus = GetFocus();
    ASSERT_NE(nullptr, focus);
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    const int exitCode = theApp.Run();
    SetEvent(stop);
    guard.join();
    CloseHandle(stop);

    EXPECT_EQ(0, exitCode);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, theApp.m_pMainDlg);
}

TEST_F(MainDialog, ClosingFromTheCaptionIsTheCancelCommand)
{
    SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(nullptr, theApp.m_pMainDlg);
}

TEST_F(MainDialog, RefusedFieldIsReportedAndGetsTheFocusWithItsTextSelected)
{
    SetWindowTextA(Item(1008), "25");
    BoxAnswerer answer(IDOK);
    EXPECT_FALSE(dialog->UpdateData(TRUE));
    answer.Join();
    ASSERT_TRUE(answer.seen);
    EXPECT_EQ("Please enter an integer between 0 and 24.", answer.info.text);
    EXPECT_EQ(AfxGetAppName(), answer.info.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONEXCLAMATION), answer.info.icon);
    EXPECT_EQ(std::vector<int>{ IDOK }, answer.info.buttons);

    Pump();
    EXPECT_EQ(Item(1008), GetFocus());
    DWORD start = 99, end = 99;
    SendMessageA(Item(1008), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(0u, start);
    EXPECT_EQ(2u, end);
}
