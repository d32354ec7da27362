#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "kernel/KernelServices.h"

// A fresh, empty current directory for the lifetime of the object (the log is
// resolved against the current directory).
class TestDirectory {
public:
    TestDirectory();
    ~TestDirectory();

    const std::string& path() const { return path_; }
    // The log's bytes as on disk ("" when there is none), or writes them.
    std::string ReadLog() const;
    void WriteLog(const std::string& bytes) const;

private:
    std::string previous_, path_;
};

// Lines of a log file's bytes, split at CR LF; Messages drops the 22-character stamp.
std::vector<std::string> LogLines(const std::string& bytes);
std::vector<std::string> Messages(const std::string& bytes);

// Restores the kernel services when it goes out of scope.
struct ScopedKernelServices {
    const KernelServices saved = g_kernel;
    ~ScopedKernelServices() { g_kernel = saved; }
};

// A process's threads and private committed bytes (summed over the address space:
// Wine reports no private usage).
struct ProcessCounters {
    DWORD threads = 0;
    SIZE_T committed = 0;
};
ProcessCounters ReadProcessCounters(HANDLE process = GetCurrentProcess());

// Each thread's group affinity in a process, read from outside (threads that
// cannot be read are left out).
std::vector<GROUP_AFFINITY> ThreadAffinities(HANDLE process);

// Polls until the condition holds (true) or the time is up (false).
template <class Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20))
        if (GetTickCount() - start >= timeoutMs)
            return false;
    return true;
}

// Starts a program and drives its main dialog (the window with control 1020,
// "Run Test") and its message boxes from this process. Every wait is bounded.
class WindowDriver {
public:
    ~WindowDriver();   // ends the program if it still runs

    // Starts exePath (a Unix path is taken as Wine's Z: path) in the directory,
    // with BURNWRIGHT_FAULTS set to `faults`, and waits for its dialog.
    bool Start(const std::string& directory, const std::string& exePath,
               const std::string& faults = "");
    // Starts it with the arguments and its standard output and error going to
    // pipes that this process drains, and waits for its dialog or its end.
    // False only when it could not be started.
    bool StartWith(const std::string& directory, const std::string& exePath, const std::string& arguments,
                   const std::string& faults = "");
    bool HasDialog() const { return dialog_ != nullptr; }
    // Once the program has ended: what it wrote to its standard output and error.
    std::string Output() const { return Drained(0); }
    std::string Errors() const { return Drained(1); }

    HANDLE Process() const { return process_; }
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }
    bool WaitUntilResponsive(DWORD timeoutMs = 15000) const;

    bool SetText(int id, const std::string& text) const;
    bool SetCheck(int id, bool checked) const;
    bool Select(int id, int index) const;   // combo box item
    bool IsEnabled(int id) const { return IsWindowEnabled(Control(id)) != 0; }
    std::string Text(int id) const;   // an edit's text, or a combo box's selected item
    HWND Focus() const;   // the control with the keyboard focus in the dialog's thread
    std::vector<std::string> ListItems(int id) const;
    bool Click(int id) const;   // BN_CLICKED, as a click on an enabled button reports it

    struct Box {
        bool found = false;
        std::string caption, text;
        UINT icon = 0;   // MB_ICONHAND, MB_ICONEXCLAMATION, MB_ICONASTERISK, or 0
    };
    // The program's message box, if one is (or within the time comes) up.
    HWND FindBox(DWORD timeoutMs = 15000) const;
    // Waits for a box, reads it, presses the button, and waits until it has gone
    // and the dialog answers again (found is false when any step failed).
    Box Answer(int button, DWORD timeoutMs = 15000) const;

    bool WaitForExit(DWORD* exitCode, DWORD timeoutMs = 30000) const;

private:
    bool Launch(const std::string& directory, const std::string& exePath, const std::string& faults,
                const std::string& arguments, bool redirect);
    std::string Drained(int stream) const;

    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
    // The read ends of the output and error pipes; the program writes less than they hold.
    HANDLE pipes_[2] = {};
    mutable std::string drained_[2];
};
