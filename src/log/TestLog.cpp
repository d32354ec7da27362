#include "log/TestLog.h"
#include "log/LogHistory.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "kernel/KernelServices.h"

namespace {

const int kLineBufferSize = 100;

HANDLE g_echo = nullptr;
LogSink g_sink = nullptr;
void* g_sinkContext = nullptr;
SYSTEMTIME g_lastTime = {};
char g_lastLine[kLineBufferSize] = "";

} // namespace

void WriteLog(const char* message)
{
    SYSTEMTIME now;
    g_kernel.GetLocalTime(&now);
    g_lastTime = now;
    char line[kLineBufferSize];
    std::snprintf(line, sizeof line, "%02hu/%02hu/%02hu, %02hu:%02hu:%02hu, %s",
                  now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, message);
    std::memcpy(g_lastLine, line, sizeof line);
    // The echo does not depend on the file: a log that cannot be written still
    // leaves the run's lines on a redirected output.
    if (g_echo) {
        char echoed[kLineBufferSize + 2];
        const int length = std::snprintf(echoed, sizeof echoed, "%s\r\n", line);
        DWORD written = 0;
        WriteFile(g_echo, echoed, static_cast<DWORD>(length), &written, nullptr);
    }

    FILE* file = std::fopen(kLogFileName, "at");
    if (!file)
        return;
    std::fputs(line, file);
    std::fputs("\n", file);
    // The line goes to the disk before the next is written: a machine that dies
    // mid-run leaves every line so far complete.
    std::fflush(file);
    g_kernel.FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    std::fclose(file);
    if (g_sink)
        g_sink(g_sinkContext, line);
}

SYSTEMTIME LastLogTime()
{
    return g_lastTime;
}

const char* LastLogLine()
{
    return g_lastLine;
}

void SetLogSink(LogSink sink, void* context)
{
    g_sink = sink;
    g_sinkContext = context;
}

void SetLogEcho(HANDLE output)
{
    g_echo = output;
}
