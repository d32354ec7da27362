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

} // namespace

void WriteLog(const char* message)
{
    FILE* file = std::fopen(kLogFileName, "at");
    if (!file)
        return;

    SYSTEMTIME now;
    g_kernel.GetLocalTime(&now);
    char line[kLineBufferSize];
    std::snprintf(line, sizeof line, "%02hu/%02hu/%02hu, %02hu:%02hu:%02hu, %s",
                  now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, message);

    std::fputs(line, file);
    std::fputs("\n", file);
    std::fflush(file);
    std::fclose(file);

    if (g_echo) {
        char echoed[kLineBufferSize + 2];
        const int length = std::snprintf(echoed, sizeof echoed, "%s\r\n", line);
        DWORD written = 0;
        WriteFile(g_echo, echoed, static_cast<DWORD>(length), &written, nullptr);
    }
    if (theApp.m_pMainDlg)
        theApp.m_pMainDlg->AddLogLine(line);
}

void SetLogEcho(HANDLE output)
{
    g_echo = output;
}
