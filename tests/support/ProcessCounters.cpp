#include "support/ProcessCounters.h"

#include <windows.h>
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

    // Private committed memory, summed over the address space (Wine leaves
    // the process memory counters' private usage at zero).
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const char* address = static_cast<const char*>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < static_cast<const char*>(info.lpMaximumApplicationAddress)
           && VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            counters.committedBytes += region.RegionSize;
        address = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return counters;
}
