#pragma once
#include "engine/TestEngine.h"
#include "framework/AfxWin.h"

class CTestDlg;

// The application: owns the one engine and points to the main dialog.
class CTestApp : public CWinApp {
public:
    CTestApp();
    virtual ~CTestApp();
    virtual BOOL InitInstance();

    CTestEngine m_engine;
    CTestDlg* m_pMainDlg;
};

extern CTestApp theApp;
