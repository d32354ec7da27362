#pragma once
#include <windows.h>

// The standard handle (STD_OUTPUT_HANDLE, STD_ERROR_HANDLE) when it is
// redirected to a pipe or a file, else null. The program is a GUI program: it
// has such handles only when whoever started it gave them.
HANDLE RedirectedStandardHandle(DWORD which);

// Writes the text and a line end to the handle in one write.
void WriteTextLine(HANDLE output, const char* text);
