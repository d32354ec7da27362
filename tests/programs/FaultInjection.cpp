// Linked into BurnwrightFaults.exe, a test build of the program: replaces kernel
// services as the environment variable BURNWRIGHT_FAULTS asks, before WinMain runs.
//   commit=E   the first commit of a block fails with Win32 error E
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "kernel/KernelServices.h"

namespace {

DWORD g_commitError;

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
        }
        g_kernel.VirtualAlloc = FaultyVirtualAlloc;
    }
};

FaultInstaller g_installer;

} // namespace
