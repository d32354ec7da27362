#include "kernel/KernelServices.h"

namespace {

// Each addition depends on the one before, so a block takes kAddChainBlock cycles
// of the core it runs on; the loop's own count and branch run beside the chain.
void AddChainInstructions(unsigned int blocks)
{
    static_assert(kAddChainBlock == 128, "the block below holds 128 additions");
    size_t value = 0;
    const size_t step = 1;
    for (unsigned int i = blocks; i != 0; --i)
        asm volatile(".rept 128\n\tadd %1, %0\n\t.endr" : "+r"(value) : "r"(step));
}

// Initialised before any other static object, so that code running during static
// initialisation (and test programs that replace entries then) sees the real table.
const KernelServices kRealServices __attribute__((init_priority(101))) = {
    ::GlobalMemoryStatusEx,
    ::VirtualAlloc,
    ::VirtualFree,
    ::VirtualQuery,
    ::GetNumaHighestNodeNumber,
    ::GetNumaProcessorNodeEx,
    ::VirtualAllocExNuma,
    ::GetProcessWorkingSetSize,
    ::SetProcessWorkingSetSizeEx,
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
    ::GetModuleHandleA,
    ::GetProcAddress,
    ::GetLogicalProcessorInformationEx,
    ::SetThreadGroupAffinity,
    ::GetActiveProcessorCount,
    ::FlushFileBuffers,
    AddChainInstructions,
};

} // namespace

KernelServices g_kernel __attribute__((init_priority(101))) = kRealServices;

const KernelServices& RealKernelServices()
{
    return kRealServices;
}
