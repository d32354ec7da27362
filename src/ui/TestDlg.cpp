#include "ui/TestDlg.h"

void CTestDlg::AddLogLine(const char* text)
{
    HWND list = GetDlgItem(m_hWnd, 1023);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
}
