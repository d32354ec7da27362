#pragma once
// Placeholder: the framework layer (application, windows, dialogs) is being written.
#include <windows.h>

class CWnd {
public:
    virtual ~CWnd() {}
    HWND m_hWnd = nullptr;
};

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();
    CWnd* m_pMainWnd;
};

int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
