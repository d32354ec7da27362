#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "app/TestApp.h"
#include "support/TestDirectory.h"
#include "support/WindowDriver.h"
#include "ui/TestDlg.h"

// The program's start-up run in this process: InitInstance makes the main
// dialog, in a fresh working directory. Whatever is left is closed afterwards.
class LiveDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(theApp.InitInstance());
        dialog = theApp.m_pMainDlg;
        ASSERT_NE(nullptr, dialog);
        hwnd = dialog->m_hWnd;
        ASSERT_TRUE(IsWindow(hwnd));
        Pump();
    }

    void TearDown() override
    {
        if (theApp.m_pMainDlg && theApp.m_pMainDlg->m_bRunning)
            theApp.m_engine.StopTest();
        if (IsWindow(hwnd))
            DestroyWindow(hwnd);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Handles what is waiting in this thread's queue. Returns true when the
    // quit message was among it, with its code in *quitCode.
    bool Pump(WPARAM* quitCode = nullptr)
    {
        bool quit = false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                if (quitCode)
                    *quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return quit;
    }

    HWND Item(int id) const { return GetDlgItem(hwnd, id); }

    std::string Text(int id) const
    {
        char text[256] = "";
        GetWindowTextA(Item(id), text, sizeof text);
        return text;
    }

    // Where the dialog manager puts a control given in dialog units: position
    // and size are converted each on their own.
    RECT Pixels(int x, int y, int cx, int cy) const
    {
        RECT r = { x, y, cx, cy };
        MapDialogRect(hwnd, &r);
        return { r.left, r.top, r.left + r.right, r.top + r.bottom };
    }

    // A control's rectangle in the dialog's client coordinates.
    RECT ClientRect(HWND control) const
    {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    // Sends the click that "Run Test" (or another button) reports.
    void Click(int id) { SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id))); }

    std::string LastLogLine() const
    {
        HWND list = Item(1023);
        const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        if (count <= 0)
            return std::string();
        char line[256] = "";
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(count - 1), reinterpret_cast<LPARAM>(line));
        return line;
    }

    TestDirectory dir;
    CTestDlg* dialog = nullptr;
    HWND hwnd = nullptr;
};

// Answers the next message box of this process from another thread while this
// thread sits in the box's loop, and keeps what the box showed.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int button, std::function<void()> whileShown = {})
        : thread_([this, button, whileShown] {
              const HWND box = WaitForMessageBox(GetCurrentProcessId(), 15000);
              if (!box)
                  return;
              info = ReadMessageBox(box);
              if (whileShown)
                  whileShown();
              PressMessageBoxButton(box, button);
              seen = true;
          })
    {
    }
    ~BoxAnswerer() { Join(); }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    MessageBoxInfo info;
    bool seen = false;

private:
    std::thread thread_;
};
