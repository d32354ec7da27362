#include "framework/CWnd.h"

#include "framework/CWinApp.h"

namespace {

const char kObjectProperty[] = "AfxWndObject";

// The message being handled on this thread, for Default(). It is kept outside
// the object because a handler may destroy the object it runs on.
thread_local MSG t_currentMessage;

} // namespace

CWnd::CWnd() : m_hWnd(nullptr), m_pfnSuper(nullptr) {}

CWnd::~CWnd() {}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, nullptr } };
    static const AFX_MSGMAP map = { nullptr, &entries[0] };
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    return static_cast<CWnd*>(GetPropA(hWnd, kObjectProperty));
}

void CWnd::SubclassAttach(HWND hWnd)
{
    m_hWnd = hWnd;
    SetPropA(hWnd, kObjectProperty, this);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

HWND CWnd::GetDlgItem(int nID) const
{
    return ::GetDlgItem(m_hWnd, nID);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT lpRect) const
{
    ::GetClientRect(m_hWnd, lpRect);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer)
{
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent)
{
    return ::KillTimer(m_hWnd, nIDEvent);
}

void CWnd::CenterWindow()
{
    RECT window;
    if (!::GetWindowRect(m_hWnd, &window))
        return;
    RECT area;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor))
        area = monitor.rcWork;
    else if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0))
        return;

    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    // Keep the caption reachable when the window is larger than the area.
    if (x < area.left)
        x = area.left;
    if (y < area.top)
        y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWnd::Default()
{
    const MSG& msg = t_currentMessage;
    return DefWindowProc(msg.message, msg.wParam, msg.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (OnWndMsg(message, wParam, lParam, &result))
        return result;
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    const UINT code = message == WM_COMMAND ? HIWORD(wParam) : 0;
    const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nMessage != 0; ++entry) {
            if (entry->nMessage == message && entry->nCode == code && entry->nID == id) {
                // The handler may destroy this object: nothing touches it afterwards.
                *pResult = entry->pfn(this, wParam, lParam);
                return TRUE;
            }
        }
    }
    return FALSE;
}

void CWnd::PostNcDestroy() {}

LRESULT CWnd::OnNcDestroyMessage(WPARAM wParam, LPARAM lParam)
{
    HWND hWnd = m_hWnd;
    WNDPROC super = m_pfnSuper;
    SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(super));
    RemovePropA(hWnd, kObjectProperty);
    const LRESULT result = ::CallWindowProcA(super, hWnd, WM_NCDESTROY, wParam, lParam);
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;

    // The main-window rule: when the main window goes, the program ends.
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this) {
        app->m_pMainWnd = nullptr;
        PostQuitMessage(app->m_nExitCode);
    }
    PostNcDestroy();
    return result;
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd)
        return ::DefWindowProcA(hWnd, message, wParam, lParam);

    const MSG saved = t_currentMessage;
    t_currentMessage.hwnd = hWnd;
    t_currentMessage.message = message;
    t_currentMessage.wParam = wParam;
    t_currentMessage.lParam = lParam;
    const LRESULT result = message == WM_NCDESTROY ? wnd->OnNcDestroyMessage(wParam, lParam)
                                                   : wnd->WindowProc(message, wParam, lParam);
    t_currentMessage = saved;
    return result;
}
