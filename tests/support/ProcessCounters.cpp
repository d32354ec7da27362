#include "support/ProcessCounters.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

ProcessCounters ReadProcessCounters()
{
    ProcessCounters counters = {};
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    counters.handles = handles;

    const DWORD self = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == self)
                ++counters.threads;
        }
        CloseHandle(snapshot);
    }

    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    counters.committedBytes = memory.PrivateUsage;
    return counters;
}
