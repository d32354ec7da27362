// Linked into BurnwrightFaults.exe, a test build of the program: replaces kernel
// services as the environment variable BURNWRIGHT_FAULTS asks, before WinMain runs.
//   commit=E     the first commit of a block fails with Win32 error E
//   holdfill=MS  every thread created running (the start's fill threads, the stop's
//                releaser) waits MS ms first
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "kernel/KernelServices.h"

namespace {

DWORD g_commitError;
DWORD g_holdMs;

struct HeldStart {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

DWORD WINAPI RunHeld(LPVOID parameter)
{
    const HeldStart held = *static_cast<HeldStart*>(parameter);
    delete static_cast<HeldStart*>(parameter);
    Sleep(g_holdMs);
    return held.start(held.parameter);
}

HANDLE WINAPI HoldingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                  LPVOID parameter, DWORD flags, LPDWORD id)
{
    if (flags & CREATE_SUSPENDED)
        return RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
    return RealKernelServices().CreateThread(security, stack, RunHeld, new HeldStart{start, parameter}, flags, id);
}

LPVOID WINAPI FaultyVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    if (type == MEM_COMMIT && g_commitError) {
        SetLastError(g_commitError);
        g_commitError = 0;
        return nullptr;
    }
    return RealKernelServices().VirtualAlloc(address, size, type, protect);
}

struct FaultInstaller {
    FaultInstaller()
    {
        char request[256];
        const DWORD length = GetEnvironmentVariableA("BURNWRIGHT_FAULTS", request, sizeof request);
        if (length == 0 || length >= sizeof request)
            return;
        for (char* item = std::strtok(request, ","); item; item = std::strtok(nullptr, ",")) {
            const char* value = std::strchr(item, '=');
            const unsigned long number = value ? std::strtoul(value + 1, nullptr, 0) : 0;
            if (!std::strncmp(item, "commit=", 7))
                g_commitError = number;
            if (!std::strncmp(item, "holdfill=", 9))
                g_holdMs = number;
        }
        if (g_holdMs)
            g_kernel.CreateThread = HoldingCreateThread;
        g_kernel.VirtualAlloc = FaultyVirtualAlloc;
    }
};

FaultInstaller g_installer;

} // namespace
