#pragma once
#include <windows.h>

#include <string>

// UTF-8 and the wide text of the Windows calls, either way.
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);

// The system's message for an error code, without its line end.
std::string SystemErrorText(DWORD error);
