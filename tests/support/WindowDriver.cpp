#include "support/WindowDriver.h"

#include <cstring>
#include <functional>
#include <utility>

namespace {

const DWORD kPollMs = 20;
const DWORD kMessageTimeoutMs = 5000;
const int kMainDialogMarker = 1020;   // "Run Test"

bool IsDialogClass(HWND hwnd)
{
    char name[16];
    return GetClassNameA(hwnd, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0;
}

DWORD ProcessOf(HWND hwnd)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    return processId;
}

struct WindowSearch {
    std::function<bool(HWND)> predicate;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(lParam);
    if (search->predicate(hwnd))
        search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(std::function<bool(HWND)> predicate)
{
    WindowSearch search{ std::move(predicate), {} };
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Polls until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

// Texts are read as UTF-16: Wine hands list box texts across processes in that
// form even to an ANSI caller.
bool SendWide(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kMessageTimeoutMs, &answer))
        return false;
    if (result)
        *result = static_cast<LRESULT>(answer);
    return true;
}

std::string Narrow(const wchar_t* text, LRESULT length)
{
    if (length <= 0)
        return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

bool Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_NORMAL, kMessageTimeoutMs, &answer))
        return false;
    if (result)
        *result = static_cast<LRESULT>(answer);
    return true;
}


// --- Telling a message box's icon by its pixels --------------------------

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> data;
};

// A 32-bit top-down bitmap selected into a memory DC.
class Canvas {
public:
    Canvas(HDC reference, int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(reference);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                   nullptr, 0);
        if (bitmap_)
            old_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas()
    {
        if (bitmap_) {
            SelectObject(dc_, old_);
            DeleteObject(bitmap_);
        }
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool ok() const { return bitmap_ && bits_; }
    HDC dc() const { return dc_; }
    Pixels Read() const
    {
        GdiFlush();
        Pixels p;
        p.width = width_;
        p.height = height_;
        p.data.assign(bits_, bits_ + width_ * height_);
        for (DWORD& v : p.data)
            v &= 0x00FFFFFF;
        return p;
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    DWORD* bits_ = nullptr;
};

HWND IconControl(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[16];
        if (GetClassNameA(child, name, sizeof name) > 0 && lstrcmpiA(name, "Static") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
            return child;
    }
    return nullptr;
}

// 0 while the icon cannot be told (not drawn yet); kNoIcon when there is none.
const unsigned kNoIcon = 0xFFFFFFFFu;

unsigned IconOnScreen(HWND box)
{
    HWND control = IconControl(box);
    if (!control)
        return kNoIcon;
    RECT rect;
    if (!GetWindowRect(control, &rect))
        return 0;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return 0;

    HDC screen = GetDC(nullptr);
    Canvas shot(screen, width, height);
    Pixels seen;
    if (shot.ok() && BitBlt(shot.dc(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY))
        seen = shot.Read();
    if (seen.data.empty()) {
        ReleaseDC(nullptr, screen);
        return 0;
    }

    struct Candidate {
        unsigned type;
        LPCSTR id;
    };
    const Candidate candidates[] = {
        { MB_ICONHAND, MAKEINTRESOURCEA(32513) },          // IDI_HAND
        { MB_ICONQUESTION, MAKEINTRESOURCEA(32514) },      // IDI_QUESTION
        { MB_ICONEXCLAMATION, MAKEINTRESOURCEA(32515) },   // IDI_EXCLAMATION
        { MB_ICONASTERISK, MAKEINTRESOURCEA(32516) },      // IDI_ASTERISK
    };
    const DWORD background = seen.data[0];
    unsigned found = 0;
    for (const Candidate& candidate : candidates) {
        Canvas drawn(screen, width, height);
        if (!drawn.ok())
            break;
        const COLORREF colour = RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
        HBRUSH brush = CreateSolidBrush(colour);
        RECT all = { 0, 0, width, height };
        FillRect(drawn.dc(), &all, brush);
        DeleteObject(brush);
        DrawIconEx(drawn.dc(), 0, 0, LoadIconA(nullptr, candidate.id), 0, 0, 0, nullptr, DI_NORMAL);
        if (drawn.Read().data == seen.data) {
            found = candidate.type;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return found;
}

} // namespace

// --- Free functions -----------------------------------------------------

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    return WaitFor(condition, timeoutMs);
}

std::string WindowText(HWND hwnd)
{
    LRESULT length = 0;
    if (!hwnd || !SendWide(hwnd, WM_GETTEXTLENGTH, 0, 0, &length) || length < 0)
        return std::string();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    LRESULT got = 0;
    if (!SendWide(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &got))
        return std::string();
    return Narrow(buffer.data(), got);
}


std::vector<HWND> FindMessageBoxes(DWORD processId)
{
    return TopLevelWindows([processId](HWND hwnd) {
        return ProcessOf(hwnd) == processId && IsWindowVisible(hwnd) && IsDialogClass(hwnd) &&
               !GetDlgItem(hwnd, kMainDialogMarker);
    });
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs)
{
    HWND box = nullptr;
    WaitFor(
        [&] {
            const std::vector<HWND> boxes = FindMessageBoxes(processId);
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        timeoutMs);
    return box;
}

MessageBoxInfo ReadMessageBox(HWND box, DWORD timeoutMs)
{
    MessageBoxInfo info;
    info.hwnd = box;
    info.caption = WindowText(box);
    info.text = WindowText(GetDlgItem(box, 0xFFFF));
    const int buttonIds[] = { IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO };
    for (int id : buttonIds) {
        HWND button = GetDlgItem(box, id);
        if (button && IsWindowVisible(button))
            info.buttons.push_back(id);
    }
    unsigned icon = 0;
    WaitFor([&] { return (icon = IconOnScreen(box)) != 0; }, timeoutMs);
    info.icon = icon == kNoIcon ? 0 : icon;
    return info;
}

bool PressMessageBoxButton(HWND box, int buttonId)
{
    HWND button = GetDlgItem(box, buttonId);
    if (!button)
        return false;
    return PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

bool WaitUntilResponsive(HWND hwnd, DWORD timeoutMs)
{
    return WaitFor(
        [&] {
            DWORD_PTR answer = 0;
            return SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 200, &answer) != 0;
        },
        timeoutMs);
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs)
{
    return WaitFor([&] { return !IsWindow(hwnd); }, timeoutMs);
}

// --- WindowDriver -------------------------------------------------------

WindowDriver::WindowDriver() : process_(nullptr), processId_(0), threadId_(0), mainWindow_(nullptr) {}

WindowDriver::~WindowDriver()
{
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

std::string WindowDriver::WindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/')
            c = '\\';
    }
    return windows;
}

bool WindowDriver::Start(const std::string& workingDirectory, const std::string& exePath,
                         DWORD timeoutMs)
{
    std::string commandLine = "\"" + WindowsPath(exePath) + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        WindowsPath(workingDirectory).c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    threadId_ = info.dwThreadId;

    WaitFor([&] { return (mainWindow_ = FindMainWindow()) != nullptr ||
                         WaitForSingleObject(process_, 0) != WAIT_TIMEOUT; },
            timeoutMs);
    return mainWindow_ != nullptr && WaitUntilResponsive(timeoutMs);
}

HWND WindowDriver::FindMainWindow() const
{
    const DWORD processId = processId_;
    const std::vector<HWND> found = TopLevelWindows([processId](HWND hwnd) {
        return ProcessOf(hwnd) == processId && IsWindowVisible(hwnd) && IsDialogClass(hwnd) &&
               GetDlgItem(hwnd, kMainDialogMarker);
    });
    return found.empty() ? nullptr : found.front();
}

HWND WindowDriver::Control(int id) const
{
    return GetDlgItem(mainWindow_, id);
}

bool WindowDriver::WaitUntilResponsive(DWORD timeoutMs) const
{
    return ::WaitUntilResponsive(mainWindow_, timeoutMs);
}

bool WindowDriver::SetText(int id, const std::string& text) const
{
    LRESULT result = 0;
    return Send(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) &&
           result != 0;
}

bool WindowDriver::IsEnabled(int id) const
{
    return IsWindowEnabled(Control(id)) != 0;
}

int WindowDriver::CheckState(int id) const
{
    LRESULT state = -1;
    return Send(Control(id), BM_GETCHECK, 0, 0, &state) ? static_cast<int>(state) : -1;
}

bool WindowDriver::SetCheckState(int id, int state) const
{
    return Send(Control(id), BM_SETCHECK, static_cast<WPARAM>(state), 0, nullptr);
}

bool WindowDriver::SelectComboItem(int id, int index) const
{
    LRESULT result = CB_ERR;
    return Send(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0, &result) &&
           (result == index || index == -1);
}

std::vector<std::string> WindowDriver::ListItems(int id) const
{
    std::vector<std::string> items;
    HWND list = Control(id);
    LRESULT count = 0;
    if (!Send(list, LB_GETCOUNT, 0, 0, &count))
        return items;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!SendWide(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, &length) || length < 0)
            break;
        std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
        LRESULT got = 0;
        if (!SendWide(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer.data()), &got))
            break;
        items.push_back(Narrow(buffer.data(), got));
    }
    return items;
}

int WindowDriver::ListSelection(int id) const
{
    LRESULT index = LB_ERR;
    return Send(Control(id), LB_GETCURSEL, 0, 0, &index) ? static_cast<int>(index) : LB_ERR;
}

bool WindowDriver::Click(int id) const
{
    HWND control = Control(id);
    // A disabled button does not react to the mouse.
    if (!control || !IsWindowEnabled(control))
        return false;
    return PostMessageA(mainWindow_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(control)) != 0;
}

bool WindowDriver::PressKey(UINT virtualKey) const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = mainWindow_;
    if (GetGUIThreadInfo(threadId_, &info) && info.hwndFocus)
        target = info.hwndFocus;
    const UINT scanCode = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scanCode) << 16);
    const LPARAM up = down | (1 << 30) | (1u << 31);
    return PostMessageA(target, WM_KEYDOWN, virtualKey, down) &&
           PostMessageA(target, WM_KEYUP, virtualKey, up);
}

bool WindowDriver::Close() const
{
    return PostMessageA(mainWindow_, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

HWND WindowDriver::WaitForMessageBox(DWORD timeoutMs) const
{
    return ::WaitForMessageBox(processId_, timeoutMs);
}

MessageBoxInfo WindowDriver::Answer(int buttonId, DWORD timeoutMs) const
{
    HWND box = WaitForMessageBox(timeoutMs);
    if (!box)
        return MessageBoxInfo();
    MessageBoxInfo info = ReadMessageBox(box);
    if (!PressMessageBoxButton(box, buttonId) || !WaitForWindowGone(box, timeoutMs)
        || !WaitUntilResponsive(timeoutMs))
        info.hwnd = nullptr;
    return info;
}

bool WindowDriver::WaitForExit(DWORD timeoutMs, DWORD* exitCode)
{
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(process_, exitCode) != 0;
}
