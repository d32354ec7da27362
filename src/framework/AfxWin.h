#pragma once
// The application framework: application object, windows, dialogs, data
// exchange, message boxes, strings and painting, over the plain Win32 API.
#include <windows.h>

#include "framework/CDialog.h"
#include "framework/CPaintDC.h"
#include "framework/CString.h"
#include "framework/CWinApp.h"
#include "framework/CWnd.h"
#include "framework/DataExchange.h"
#include "framework/MessageBox.h"
#include "framework/MessageMap.h"
