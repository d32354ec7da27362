#include "framework/CString.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

CString::CString(const char* text) : m_text(text ? text : "") {}

CString& CString::operator=(const char* text)
{
    m_text = text ? text : "";
    return *this;
}

void CString::Format(const char* format, ...)
{
    std::vector<char> buffer(128);
    for (;;) {
        va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (length < 0) {
            m_text.clear();
            return;
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            m_text.assign(buffer.data(), static_cast<size_t>(length));
            return;
        }
        buffer.resize(static_cast<size_t>(length) + 1);
    }
}
