#include "framework/MessageBox.h"

#include "framework/CWinApp.h"
#include "framework/CWnd.h"

int AfxMessageBox(const char* lpszText, UINT nType)
{
    CWnd* mainWnd = AfxGetMainWnd();
    HWND owner = mainWnd ? mainWnd->m_hWnd : nullptr;
    return MessageBoxA(owner, lpszText, AfxGetAppName(), nType);
}
