#include "app/TestApp.h"

#include "ui/TestDlg.h"

CTestApp theApp;

CTestApp::CTestApp() : CWinApp(nullptr), m_engine(), m_pMainDlg(nullptr) {}
CTestApp::~CTestApp() {}
BOOL CTestApp::InitInstance() { return FALSE; }
