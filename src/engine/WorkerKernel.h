#pragma once
#include <windows.h>

// Body of every worker thread: loads the floating-point unit (and, with a large
// area, memory) until testRunning is cleared. The parameter is a WorkerArea*.
DWORD WINAPI WorkerThreadProc(LPVOID parameter);
