#pragma once
#include "engine/TestEngine.h"
#include "framework/AfxWin.h"

class CTestDlg;

// The application: owns the one test engine and creates the main dialog.
class CTestApp : public CWinApp {
public:
    CTestApp();
    ~CTestApp() override;

    BOOL InitInstance() override;

    CTestEngine m_engine;
    // The main dialog; null before start-up and once the dialog has deleted itself.
    CTestDlg* m_pMainDlg;
};

extern CTestApp theApp;
