#pragma once
#include <windows.h>

// A modal message box owned by the main window and captioned with the
// application title. Returns the button pressed (IDOK, IDCANCEL, ...).
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK);
