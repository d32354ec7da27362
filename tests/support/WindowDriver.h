#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Finding, reading and pressing windows of a process, in this process or in
// another one. Every wait is bounded; a wait that runs out returns false/null.

// What a message box shows.
struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
    // MB_ICONHAND, MB_ICONEXCLAMATION, MB_ICONASTERISK, MB_ICONQUESTION, or 0
    // when no icon (or none of these) is shown.
    unsigned icon = 0;
    std::vector<int> buttons;   // ids of the buttons, e.g. IDOK, IDCANCEL
};

// Polls the condition until it holds (true) or the time is up (false).
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// A window's text, read with WM_GETTEXT (also across processes).
std::string WindowText(HWND hwnd);

// Visible top-level dialogs ("#32770") of the process that are not its main
// dialog (the one with a "Run Test" button, control 1020).
std::vector<HWND> FindMessageBoxes(DWORD processId);
// Waits until the process shows a message box.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs);
// Reads a message box. The icon is told by its pixels on the screen, so this
// waits (bounded) until the box has been drawn.
MessageBoxInfo ReadMessageBox(HWND box, DWORD timeoutMs = 5000);
// Presses one of the box's buttons (IDOK, IDCANCEL, ...).
bool PressMessageBoxButton(HWND box, int buttonId);
// Waits until the window answers messages again. (Wine stalls a program's
// user-interface thread for a while after one of its message boxes closes.)
bool WaitUntilResponsive(HWND hwnd, DWORD timeoutMs);
// Waits until the window no longer exists.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs);

// Starts Burnwright.exe (or another program) and drives its main dialog.
class WindowDriver {
public:
    WindowDriver();
    // Ends the program if it is still running.
    ~WindowDriver();
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    // A Unix path as Wine sees it (Z:\...); a Windows path is returned as it is.
    static std::string WindowsPath(const std::string& path);

    // Starts the program in the working directory and waits for its main dialog.
    bool Start(const std::string& workingDirectory, const std::string& exePath,
               DWORD timeoutMs = 30000);

    DWORD ProcessId() const { return processId_; }
    HWND MainWindow() const { return mainWindow_; }
    HWND Control(int id) const;

    bool WaitUntilResponsive(DWORD timeoutMs = 15000) const;

    bool SetText(int id, const std::string& text) const;
    bool IsEnabled(int id) const;
    int CheckState(int id) const;
    bool SetCheckState(int id, int state) const;
    bool SelectComboItem(int id, int index) const;
    std::vector<std::string> ListItems(int id) const;   // list box lines
    int ListSelection(int id) const;

    // A click as the button would report it (BN_CLICKED to the dialog).
    bool Click(int id) const;
    // A key press sent to the dialog's keyboard focus, as a user's key would be.
    bool PressKey(UINT virtualKey) const;
    // The caption's close button.
    bool Close() const;

    HWND WaitForMessageBox(DWORD timeoutMs = 15000) const;
    // Waits for the program's message box, reads it, presses `buttonId`, and waits
    // until the box is gone and the program answers again. The result's hwnd is
    // null when any of these steps failed.
    MessageBoxInfo Answer(int buttonId, DWORD timeoutMs = 15000) const;

    // Waits for the process to end; the exit code goes to *exitCode.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);

private:
    HWND FindMainWindow() const;

    HANDLE process_;
    DWORD processId_;
    DWORD threadId_;
    HWND mainWindow_;
};

#ifdef BURNWRIGHT_EXE
// The product as built (a test group passes its path as BURNWRIGHT_EXE).
inline std::string ProductPath()
{
    return WindowDriver::WindowsPath(BURNWRIGHT_EXE);
}
#endif
