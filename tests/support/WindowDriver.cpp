#include "support/Support.h"

#include <algorithm>

namespace {

// Texts travel as UTF-16: Wine hands list box texts across processes in that form.
// The wait is long: the dialog's thread is busy for seconds while a sample runs.
LRESULT Send(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 20000, &result) ? result : -1;
}

// A window's text, or with item >= 0 a list box line ("" if it cannot be read).
std::string TextOf(HWND hwnd, int item = -1)
{
    const LRESULT length = Send(hwnd, item < 0 ? WM_GETTEXTLENGTH : LB_GETTEXTLEN, item);
    std::wstring wide(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    const WPARAM what = item < 0 ? wide.size() : static_cast<WPARAM>(item);
    const LRESULT got = Send(hwnd, item < 0 ? WM_GETTEXT : LB_GETTEXT, what, reinterpret_cast<LPARAM>(&wide[0]));
    wide.resize(static_cast<size_t>(std::min<LRESULT>(std::max<LRESULT>(got, 0), wide.size() - 1)));
    return std::string(wide.begin(), wide.end());
}

// The process's main dialog (it has "Run Test", 1020), or else its message box.
HWND FindWindowOf(DWORD processId, bool dialog)
{
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w; w = FindWindowExA(nullptr, w, "#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && IsWindowVisible(w) && (GetDlgItem(w, 1020) != nullptr) == dialog)
            return w;
    }
    return nullptr;
}

// A message box's icon, told by its pixels: the screen under the icon control
// against each system icon drawn on the same background. 0 until it is drawn.
UINT IconOf(HWND box)
{
    HWND icon = GetWindow(box, GW_CHILD);
    while (icon && (GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        icon = GetWindow(icon, GW_HWNDNEXT);
    RECT r;
    if (!icon || !GetWindowRect(icon, &r))
        return 0;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    std::vector<COLORREF> seen(w * h);
    for (int p = 0; p < w * h; ++p)
        seen[p] = GetPixel(dc, p % w, p / w);
    const UINT types[] = {MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK};
    UINT found = 0;
    for (int i = 0; i < 4 && !found; ++i) {
        HBRUSH background = CreateSolidBrush(seen[0]);
        const RECT all = {0, 0, w, h};
        FillRect(dc, &all, background);
        DeleteObject(background);
        DrawIconEx(dc, 0, 0, LoadIconA(nullptr, MAKEINTRESOURCEA(32513 + i)), 0, 0, 0, nullptr, DI_NORMAL);
        found = types[i];
        for (int p = 0; p < w * h && found; ++p)
            found = GetPixel(dc, p % w, p / w) == seen[p] ? found : 0;
    }
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return found;
}

} // namespace

WindowDriver::~WindowDriver()
{
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    for (HANDLE pipe : pipes_)
        CloseHandle(pipe);
    CloseHandle(process_);
}

bool WindowDriver::Launch(const std::string& directory, const std::string& exePath, const std::string& faults,
                          const std::string& arguments, bool redirect)
{
    std::string command = "\"Z:" + exePath + "\"";
    for (char& c : command)
        c = c == '/' ? '\\' : c;
    command += arguments.empty() ? "" : " " + arguments;
    SetEnvironmentVariableA("BURNWRIGHT_FAULTS", faults.empty() ? nullptr : faults.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    HANDLE writeEnds[2] = {};
    if (redirect) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        for (int i = 0; i < 2; ++i) {
            CreatePipe(&pipes_[i], &writeEnds[i], &inherit, 1 << 20);
            SetHandleInformation(pipes_[i], HANDLE_FLAG_INHERIT, 0);
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnds[0];
        startup.hStdError = writeEnds[1];
    }
    PROCESS_INFORMATION info = {};
    // Arguments are UTF-8: the program reads its paths from the wide command line.
    std::wstring wide(command.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, &wide[0], static_cast<int>(wide.size())));
    const BOOL started = CreateProcessW(nullptr, &wide[0], nullptr, nullptr, redirect, 0, nullptr,
                                        std::wstring(directory.begin(), directory.end()).c_str(), &startup, &info);
    SetEnvironmentVariableA("BURNWRIGHT_FAULTS", nullptr);
    for (HANDLE writeEnd : writeEnds)
        CloseHandle(writeEnd);
    if (!started)
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    WaitUntil([&] { return (dialog_ = FindWindowOf(processId_, true)) || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; },
              30000);
    return true;
}

bool WindowDriver::Start(const std::string& directory, const std::string& exePath, const std::string& faults)
{
    return Launch(directory, exePath, faults, "", false) && dialog_ && WaitUntilResponsive();
}

bool WindowDriver::StartWith(const std::string& directory, const std::string& exePath, const std::string& arguments,
                             const std::string& faults)
{
    return Launch(directory, exePath, faults, arguments, true) &&
           (!dialog_ || WaitUntilResponsive() || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0);
}

// What the pipe holds. Not read to its end: Wine's desktop process, started by the
// first program that needs it, may hold a write end for long.
std::string WindowDriver::Drained(int stream) const
{
    if (!pipes_[stream] || WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
        return "(still running)";
    char buffer[4096];
    DWORD available = 0, got = 0;
    while (PeekNamedPipe(pipes_[stream], nullptr, 0, nullptr, &available, nullptr) && available &&
           ReadFile(pipes_[stream], buffer, sizeof buffer, &got, nullptr) && got)
        drained_[stream].append(buffer, got);
    return drained_[stream];
}

// Responsive, or else false at once when the program has ended.
bool WindowDriver::WaitUntilResponsive(DWORD timeoutMs) const
{
    DWORD_PTR result;
    bool answered = false;
    WaitUntil([&] { return (answered = SendMessageTimeoutA(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, 200, &result) != 0) ||
                           WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, timeoutMs);
    return answered;
}

std::string WindowDriver::Text(int id) const
{
    return TextOf(Control(id));   // a drop-down list's text is its selected item
}

bool WindowDriver::SetText(int id, const std::string& text) const
{
    const std::wstring wide(text.begin(), text.end());
    return Send(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str())) == TRUE;
}

bool WindowDriver::SetCheck(int id, bool checked) const
{
    return Send(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED) == 0;
}

bool WindowDriver::Select(int id, int index) const
{
    return Send(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index)) == index;
}

std::vector<std::string> WindowDriver::ListItems(int id) const
{
    std::vector<std::string> items(static_cast<size_t>(std::max<LRESULT>(0, Send(Control(id), LB_GETCOUNT))));
    for (size_t i = 0; i < items.size(); ++i)
        items[i] = TextOf(Control(id), static_cast<int>(i));
    return items;
}

bool WindowDriver::Click(int id) const
{
    return IsEnabled(id) && PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

HWND WindowDriver::Focus() const
{
    GUITHREADINFO info = {sizeof info, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &info) ? info.hwndFocus : nullptr;
}

HWND WindowDriver::FindBox(DWORD timeoutMs) const
{
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindWindowOf(processId_, false)) != nullptr; }, timeoutMs);
    return box;
}

WindowDriver::Box WindowDriver::Answer(int button, DWORD timeoutMs) const
{
    Box box;
    HWND hwnd = FindBox(timeoutMs);
    if (!hwnd)
        return box;
    box.caption = TextOf(hwnd);
    box.text = TextOf(GetDlgItem(hwnd, 0xFFFF));
    WaitUntil([&] { return (box.icon = IconOf(hwnd)) != 0; }, 5000);
    // The program may end with the answer.
    box.found = PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, button))) &&
                WaitUntil([&] { return !IsWindow(hwnd); }, timeoutMs) &&
                (WaitUntilResponsive(timeoutMs) || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0);
    return box;
}

bool WindowDriver::WaitForExit(DWORD* exitCode, DWORD timeoutMs) const
{
    return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(process_, exitCode);
}
