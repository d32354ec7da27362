#include "engine/KernelServices.h"

#include <intrin.h>

namespace {

unsigned long long ReadTscInstruction()
{
    return __rdtsc();
}

void CpuidInstruction(unsigned leaf, unsigned subLeaf)
{
    int regs[4];
    __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subLeaf));
    // Keep the instruction: its results are not needed, only its cost.
    asm volatile("" : : "r"(regs[0]), "r"(regs[1]), "r"(regs[2]), "r"(regs[3]) : "memory");
}

// Initialised before any other static object, so that code running during static
// initialisation (and test programs that replace entries then) sees the real table.
const KernelServices kRealServices __attribute__((init_priority(101))) = {
    ::GlobalMemoryStatusEx,
    ::VirtualAlloc,
    ::VirtualFree,
    ::VirtualQuery,
    ::CreateThread,
    ::ResumeThread,
    ::WaitForSingleObject,
    ::CloseHandle,
    ::GetLastError,
    ::GetCurrentProcessorNumber,
    ::QueryPerformanceFrequency,
    ::QueryPerformanceCounter,
    ::GetTickCount,
    ::GetLocalTime,
    ::Sleep,
    ::GetCurrentProcess,
    ::GetPriorityClass,
    ::SetPriorityClass,
    ::GetCurrentThread,
    ::GetThreadPriority,
    ::SetThreadPriority,
    ::GetModuleHandleA,
    ::GetProcAddress,
    ReadTscInstruction,
    CpuidInstruction,
};

} // namespace

KernelServices g_kernel __attribute__((init_priority(101))) = kRealServices;

const KernelServices& RealKernelServices()
{
    return kRealServices;
}
