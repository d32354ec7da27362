#include "framework/CPaintDC.h"

#include "framework/CWnd.h"

CPaintDC::CPaintDC(CWnd* pWnd) : m_ps(), m_hWnd(pWnd->m_hWnd), m_hDC(BeginPaint(m_hWnd, &m_ps)) {}

CPaintDC::~CPaintDC()
{
    EndPaint(m_hWnd, &m_ps);
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon)
{
    return ::DrawIcon(m_hDC, x, y, hIcon);
}
