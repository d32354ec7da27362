#pragma once
#include "framework/AfxWin.h"

// Placeholder for the main dialog: only the log view operation for now.
class CTestDlg : public CWnd {
public:
    void AddLogLine(const char* text);
};
