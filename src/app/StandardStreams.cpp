#include "app/StandardStreams.h"

#include <string>

HANDLE RedirectedStandardHandle(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const DWORD type = GetFileType(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK ? handle : nullptr;
}

void WriteTextLine(HANDLE output, const char* text)
{
    std::string line;
    for (const char* p = text; *p; ++p) {   // "\n" in a message becomes CR LF
        if (*p == '\n')
            line += '\r';
        line += *p;
    }
    line += "\r\n";
    DWORD written = 0;
    WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
