#include "log/TestLog.h"
#include "log/LogHistory.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/TestApp.h"
#include "kernel/KernelServices.h"
#include "ui/TestDlg.h"

namespace {

const int kLineBufferSize = 100;

HANDLE g_echo = nullptr;
SYSTEMTIME g_lastTime = {};
char g_lastLine[kLineBufferSize] = "";

} // namespace

void WriteLog(const char* message)
{
    SYSTEMTIME now;
    g_kernel.GetLocalTime(&now);
    g_lastTime = now;
    FILE* file = std::fopen(kLogFileName, "at");
    if (!file)
        return;

    char line[kLineBufferSize];
    std::snprintf(line, sizeof line, "%02hu/%02hu/%02hu, %02hu:%02hu:%02hu, %s",
                  now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, message);

    std::fputs(line, file);
    std::fputs("\n", file);
    std::fflush(file);
    std::fclose(file);
    std::memcpy(g_lastLine, line, sizeof line);

    if (g_echo) {
        char echoed[kLineBufferSize + 2];
        const int length = std::snprintf(echoed, sizeof echoed, "%s\r\n", line);
        DWORD written = 0;
        WriteFile(g_echo, echoed, static_cast<DWORD>(length), &written, nullptr);
    }
    if (theApp.m_pMainDlg)
        theApp.m_pMainDlg->AddLogLine(line);
}

SYSTEMTIME LastLogTime()
{
    return g_lastTime;
}

const char* LastLogLine()
{
    return g_lastLine;
}

void SetLogEcho(HANDLE output)
{
    g_echo = output;
}
