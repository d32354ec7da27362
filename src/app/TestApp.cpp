#include "app/TestApp.h"

#include <commctrl.h>

#include <new>

#include "ui/TestDlg.h"

CTestApp theApp;

CTestApp::CTestApp() : CWinApp(nullptr), m_engine(), m_pMainDlg(nullptr) {}

CTestApp::~CTestApp() {}

BOOL CTestApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    Enable3dControls();

    m_pMainDlg = new (std::nothrow) CTestDlg(nullptr);
    if (!m_pMainDlg)
        return FALSE;
    m_pMainWnd = m_pMainDlg;
    if (!m_pMainDlg->Create(CTestDlg::IDD, nullptr)) {
        // A window destroyed during creation has deleted its object already
        // (and cleared m_pMainDlg); one never made leaves it to us.
        delete m_pMainDlg;
        m_pMainDlg = nullptr;
        m_pMainWnd = nullptr;
        return FALSE;
    }
    return TRUE;
}
