// Linked into BurnwrightFaults.exe, a test build of the program: replaces kernel
// services as the environment variable BURNWRIGHT_FAULTS asks, before WinMain runs.
//   commit=E   the first commit of a block fails with Win32 error E
//   flip=MS    MS milliseconds after the commit, the lowest exponent bit of the double
//              in the middle of the block flips (with one worker: the input c[0])
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "engine/KernelServices.h"

namespace {

DWORD g_commitError, g_flipDelayMs;
unsigned char* g_flipByte;

// Through the process's memory interface: if the block is gone by then, nothing happens.
DWORD WINAPI FlipLater(LPVOID)
{
    Sleep(g_flipDelayMs);
    unsigned char value;
    if (ReadProcessMemory(GetCurrentProcess(), g_flipByte, &value, 1, nullptr)) {
        value ^= 0x10;
        WriteProcessMemory(GetCurrentProcess(), g_flipByte, &value, 1, nullptr);
    }
    return 0;
}

LPVOID WINAPI FaultyVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    if (type == MEM_COMMIT && g_commitError) {
        SetLastError(g_commitError);
        g_commitError = 0;
        return nullptr;
    }
    LPVOID result = RealKernelServices().VirtualAlloc(address, size, type, protect);
    if (result && type == MEM_COMMIT && g_flipDelayMs) {
        g_flipByte = static_cast<unsigned char*>(result) + size / 2 + 6;
        CloseHandle(CreateThread(nullptr, 0, FlipLater, nullptr, 0, nullptr));
    }
    return result;
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
            if (!std::strncmp(item, "flip=", 5))
                g_flipDelayMs = number;
        }
        g_kernel.VirtualAlloc = FaultyVirtualAlloc;
    }
};

FaultInstaller g_installer;

} // namespace
