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

    if (theApp.m_pMainDlg)
        theApp.m_pMainDlg->AddLogLine(line);
}
