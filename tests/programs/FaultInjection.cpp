// Linked into BurnwrightFaults.exe, a test build of the program: replaces kernel
// services as the environment variable BURNWRIGHT_FAULTS asks, before WinMain runs.
//   memstatus=E      GlobalMemoryStatusEx fails with Win32 error E
//   reserve=E        reserving the block fails with error E
//   commit=E         committing the block fails with error E
//   create=I:E       creating worker I fails with error E
//   avail=MB         the machine reports MB of available physical memory
//   clock=F          the performance counter runs F times faster than real time
//   cpuid=N          only one in N processor identification instructions runs (faster samples)
//   flip=MS          MS milliseconds after the block is committed, the lowest exponent
//                    bit of the double in the middle of the block flips (with one worker:
//                    the input c[0])
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "engine/KernelServices.h"

namespace {

DWORD g_memoryStatusError, g_reserveError, g_commitError, g_createError;
int g_createIndex = -1;
int g_createCount;
unsigned long long g_availableMB;
long long g_clockFactor = 1;
unsigned long g_cpuidStride = 1;
unsigned long g_cpuidCalls;
DWORD g_flipDelayMs;
unsigned char* g_flipAddress;

// Flips bit 52 of the double whose byte 6 is at g_flipAddress, through the
// process's memory interface: if the block is gone by then, nothing happens.
DWORD WINAPI FlipLater(LPVOID)
{
    Sleep(g_flipDelayMs);
    unsigned char byte = 0;
    SIZE_T done = 0;
    if (ReadProcessMemory(GetCurrentProcess(), g_flipAddress, &byte, 1, &done) && done == 1) {
        byte ^= 0x10;
        WriteProcessMemory(GetCurrentProcess(), g_flipAddress, &byte, 1, &done);
    }
    return 0;
}

BOOL WINAPI FaultyMemoryStatus(LPMEMORYSTATUSEX status)
{
    if (g_memoryStatusError) {
        SetLastError(g_memoryStatusError);
        return FALSE;
    }
    if (!RealKernelServices().GlobalMemoryStatusEx(status))
        return FALSE;
    if (g_availableMB)
        status->ullAvailPhys = g_availableMB << 20;
    return TRUE;
}

LPVOID WINAPI FaultyVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    const DWORD error = type == MEM_RESERVE ? g_reserveError : g_commitError;
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    LPVOID result = RealKernelServices().VirtualAlloc(address, size, type, protect);
    if (result && type == MEM_COMMIT && g_flipDelayMs) {
        g_flipAddress = static_cast<unsigned char*>(result) + size / 2 + 6;
        HANDLE thread = CreateThread(nullptr, 0, FlipLater, nullptr, 0, nullptr);
        if (thread)
            CloseHandle(thread);
    }
    return result;
}

HANDLE WINAPI FaultyCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                 LPDWORD id)
{
    if (g_createCount++ == g_createIndex) {
        SetLastError(g_createError);
        return nullptr;
    }
    return RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
}

BOOL WINAPI FastCounter(LARGE_INTEGER* count)
{
    if (!RealKernelServices().QueryPerformanceCounter(count))
        return FALSE;
    count->QuadPart *= g_clockFactor;
    return TRUE;
}

void ThinnedCpuid(unsigned leaf, unsigned subLeaf)
{
    if (g_cpuidCalls++ % g_cpuidStride == 0)
        RealKernelServices().ExecuteCpuid(leaf, subLeaf);
}

struct FaultInstaller {
    FaultInstaller()
    {
        char request[256];
        const DWORD length = GetEnvironmentVariableA("BURNWRIGHT_FAULTS", request, sizeof request);
        if (length == 0 || length >= sizeof request)
            return;
        for (char* item = std::strtok(request, ","); item; item = std::strtok(nullptr, ",")) {
            char* value = std::strchr(item, '=');
            if (!value)
                continue;
            *value++ = '\0';
            const unsigned long number = std::strtoul(value, nullptr, 0);
            if (!std::strcmp(item, "memstatus")) {
                g_memoryStatusError = number;
            } else if (!std::strcmp(item, "reserve")) {
                g_reserveError = number;
            } else if (!std::strcmp(item, "commit")) {
                g_commitError = number;
            } else if (!std::strcmp(item, "create")) {
                char* colon = std::strchr(value, ':');
                g_createIndex = static_cast<int>(number);
                g_createError = colon ? std::strtoul(colon + 1, nullptr, 0) : ERROR_NOT_ENOUGH_MEMORY;
            } else if (!std::strcmp(item, "avail")) {
                g_availableMB = number;
            } else if (!std::strcmp(item, "clock")) {
                g_clockFactor = number ? number : 1;
                g_kernel.QueryPerformanceCounter = FastCounter;
            } else if (!std::strcmp(item, "flip")) {
                g_flipDelayMs = number ? number : 1;
            } else if (!std::strcmp(item, "cpuid")) {
                g_cpuidStride = number ? number : 1;
                g_kernel.ExecuteCpuid = ThinnedCpuid;
            }
        }
        g_kernel.GlobalMemoryStatusEx = FaultyMemoryStatus;
        g_kernel.VirtualAlloc = FaultyVirtualAlloc;
        g_kernel.CreateThread = FaultyCreateThread;
    }
};

FaultInstaller g_installer;

} // namespace
