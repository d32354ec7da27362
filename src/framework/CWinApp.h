#pragma once
#include <windows.h>

#include <string>

class CWnd;

// The application: start-up, the message loop and the end of the program.
// Exactly one exists; its constructor registers it as the application.
class CWinApp {
public:
    // With no name, the title is the executable's file name without its extension.
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // Runs the message loop until the quit message; returns ExitInstance's result.
    virtual int Run();
    // Returns the program's exit code: the quit message's code.
    virtual int ExitInstance();

    // Kept for the start-up sequence; controls draw themselves in 3D already.
    BOOL Enable3dControls();
    HICON LoadIcon(UINT nIDResource) const;

    // The main window: destroying it ends the message loop with m_nExitCode.
    CWnd* m_pMainWnd;
    const char* m_pszAppName;
    // The command line after the program's name; set before InitInstance.
    const char* m_lpCmdLine;
    // The program's exit code once its main window is gone (0 unless set).
    int m_nExitCode;

protected:
    // Gives the main window's dialog navigation (Tab, Enter, Esc) its keys.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

private:
    std::string m_appName;
    MSG m_msgCur;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
const char* AfxGetAppName();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);

// The application title for an executable path: its file name without the extension.
std::string AfxTitleFromModulePath(const char* path);

// Exit code of a program that could not start, or whose message loop failed.
const int kAfxFailureExitCode = 1;

// The framework's entry point: InitInstance, then Run, then the exit code.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
