// The log view with the longest run at the shortest interval: 24 h 59 min at one
// line per second is about 90,000 lines. Prints how adding lines costs as the
// list grows, and what a whole log line (file append plus view) costs.
// Needs a display: run under xvfb-run.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/TestApp.h"
#include "log/TestLog.h"
#include "ui/TestDlg.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = std::string(temp) + "bw-log-view";
    CreateDirectoryA(dir.c_str(), nullptr);
    SetCurrentDirectoryA(dir.c_str());
    DeleteFileA(kLogFileName);

    if (!theApp.InitInstance()) {
        std::printf("the dialog could not be created (is there a display?)\n");
        return 1;
    }
    HWND list = GetDlgItem(theApp.m_pMainDlg->m_hWnd, 1023);
    const int kLines = 90000;
    const int kSample = 500;
    char line[100];
    LARGE_INTEGER t0, t1;

    // AddLogLine as a run calls it: append, select, scroll into view.
    auto addLines = [&](int count) {
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < count; ++i) {
            std::snprintf(line, sizeof line, "12/06/2026, 21:16:%02d, Freq 2600.00 MHz, Load 100.00%%", i % 60);
            theApp.m_pMainDlg->AddLogLine(line);
        }
        PumpMessages();
        QueryPerformanceCounter(&t1);
        return Seconds(t0, t1) * 1e6 / count;
    };

    const double emptyCost = addLines(kSample);
    // Most of the run's lines, added without drawing (the cost per line is the
    // drawing, which a run at one line per second spreads over the whole day).
    QueryPerformanceCounter(&t0);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    const int bulk = kLines - 2 * kSample;
    for (int i = 0; i < bulk; ++i) {
        std::snprintf(line, sizeof line, "12/06/2026, 21:16:%02d, Freq 2600.00 MHz, Load 100.00%%", i % 60);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    QueryPerformanceCounter(&t1);
    const double bulkCost = Seconds(t0, t1) * 1e6 / bulk;
    const double fullCost = addLines(kSample);

    std::printf("AddLogLine, list empty:          %8.1f us per line (%d lines)\n", emptyCost, kSample);
    std::printf("LB_ADDSTRING without drawing:     %8.1f us per line (%d lines)\n", bulkCost, bulk);
    std::printf("AddLogLine, list of %d lines: %8.1f us per line (%d lines)\n", kLines - kSample, fullCost, kSample);
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    const LRESULT selection = SendMessageA(list, LB_GETCURSEL, 0, 0);

    // Whole log lines at the end of a full list: open, append, flush, close, show.
    const int kWritten = 200;
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < kWritten; ++i)
        WriteLog("Freq 2600.00 MHz, Load 100.00%");
    PumpMessages();
    QueryPerformanceCounter(&t1);

    std::printf("list holds %ld lines, newest selected: %s\n", static_cast<long>(SendMessageA(list, LB_GETCOUNT, 0, 0)),
                selection == count - 1 ? "yes" : "no");
    std::printf("WriteLog with a full list: %.1f us per line (%d lines)\n",
                Seconds(t0, t1) * 1e6 / kWritten, kWritten);

    DestroyWindow(theApp.m_pMainDlg->m_hWnd);
    DeleteFileA(kLogFileName);
    SetCurrentDirectoryA(temp);
    RemoveDirectoryA(dir.c_str());
    return count == kLines ? 0 : 1;
}
