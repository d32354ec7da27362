#pragma once
#include <windows.h>

class CWnd;

// A device context for painting a window in answer to WM_PAINT: BeginPaint on
// construction, EndPaint on destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon);

    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
    HDC m_hDC;
};
