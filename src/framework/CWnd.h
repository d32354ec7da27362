#pragma once
#include <windows.h>

#include "framework/MessageMap.h"

// A window object: owns no window by itself, but once attached to one it
// receives that window's messages through its message map.
class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    virtual BOOL DestroyWindow();

    // The child control with this id, or null.
    HWND GetDlgItem(int nID) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT lpRect) const;
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer);
    BOOL KillTimer(UINT_PTR nIDEvent);
    // Centres the window on the work area of its monitor.
    void CenterWindow();

    // The object attached to this window, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    HWND m_hWnd;

protected:
    // The window's default processing of the message being handled.
    LRESULT Default();
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone; the object may delete itself here.
    virtual void PostNcDestroy();

    // Routes the window's messages to this object from now on.
    void SubclassAttach(HWND hWnd);

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

private:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    LRESULT OnNcDestroyMessage(WPARAM wParam, LPARAM lParam);

    friend LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_pfnSuper;
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
