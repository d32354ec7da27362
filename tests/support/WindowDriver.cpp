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
std::string Text(HWND hwnd, int item = -1)
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
    CloseHandle(process_);
}

bool WindowDriver::Start(const std::string& directory, const std::string& exePath, const std::string& faults)
{
    std::string command = "\"Z:" + exePath + "\"";
    for (char& c : command)
        c = c == '/' ? '\\' : c;
    SetEnvironmentVariableA("BURNWRIGHT_FAULTS", faults.empty() ? nullptr : faults.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const BOOL started =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup, &info);
    SetEnvironmentVariableA("BURNWRIGHT_FAULTS", nullptr);
    if (!started)
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    WaitUntil([&] { return (dialog_ = FindWindowOf(processId_, true)) || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; },
              30000);
    return dialog_ && WaitUntilResponsive();
}

bool WindowDriver::WaitUntilResponsive(DWORD timeoutMs) const
{
    DWORD_PTR result;
    return WaitUntil([&] { return SendMessageTimeoutA(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, 200, &result) != 0; }, timeoutMs);
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
        items[i] = Text(Control(id), static_cast<int>(i));
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
    box.caption = Text(hwnd);
    box.text = Text(GetDlgItem(hwnd, 0xFFFF));
    WaitUntil([&] { return (box.icon = IconOf(hwnd)) != 0; }, 5000);
    box.found = PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, button))) &&
                WaitUntil([&] { return !IsWindow(hwnd); }, timeoutMs) && WaitUntilResponsive(timeoutMs);
    return box;
}

bool WindowDriver::WaitForExit(DWORD* exitCode, DWORD timeoutMs) const
{
    return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(process_, exitCode);
}
