#pragma once
#include <string>

// A character string with printf-style formatting.
class CString {
public:
    CString() = default;
    CString(const char* text);

    CString& operator=(const char* text);

    // Replaces the contents with the formatted text.
    void Format(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    operator const char*() const { return m_text.c_str(); }

private:
    std::string m_text;
};
