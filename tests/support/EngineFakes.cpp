#include "support/EngineFakes.h"

#include "engine/TestEngine.h"

EngineFakeState g_fake;

int EngineFakeState::Count(KernelCall::Kind kind) const
{
    int n = 0;
    for (const KernelCall& call : calls)
        n += call.kind == kind;
    return n;
}

namespace {

void Record(KernelCall::Kind kind, void* address, SIZE_T size, HANDLE handle)
{
    g_fake.calls.push_back(KernelCall{kind, address, size, handle, testRunning});
}

BOOL WINAPI FakeMemoryStatus(LPMEMORYSTATUSEX status)
{
    if (g_fake.memoryStatusFails) {
        SetLastError(g_fake.memoryStatusError);
        return FALSE;
    }
    if (!RealKernelServices().GlobalMemoryStatusEx(status))
        return FALSE;
    if (g_fake.availablePhysical)
        status->ullAvailPhys = g_fake.availablePhysical;
    return TRUE;
}

// With largestFreeRange set, the address space looks like one free range of that size.
SIZE_T WINAPI FakeVirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length)
{
    if (!g_fake.largestFreeRange)
        return RealKernelServices().VirtualQuery(address, info, length);
    ZeroMemory(info, sizeof *info);
    info->BaseAddress = const_cast<LPVOID>(address);
    info->RegionSize = g_fake.largestFreeRange;
    info->State = MEM_FREE;
    return sizeof *info;
}

LPVOID WINAPI FakeVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect)
{
    const bool reserve = type == MEM_RESERVE;
    Record(reserve ? KernelCall::Reserve : KernelCall::Commit, address, size, nullptr);
    if ((reserve && g_fake.reserveFails) || (!reserve && g_fake.commitFails)) {
        SetLastError(g_fake.injectedError);
        return nullptr;
    }
    return RealKernelServices().VirtualAlloc(address, size, type, protect);
}

BOOL WINAPI FakeVirtualFree(LPVOID address, SIZE_T size, DWORD type)
{
    Record(type == MEM_RELEASE ? KernelCall::Release : KernelCall::Decommit, address, size, nullptr);
    return RealKernelServices().VirtualFree(address, size, type);
}

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                               LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                               LPDWORD id)
{
    const int index = g_fake.createCount++;
    g_fake.startRoutines.push_back(start);
    g_fake.parameters.push_back(parameter);
    g_fake.createFlags.push_back(flags);
    if (index == g_fake.failCreateAt) {
        Record(KernelCall::Create, nullptr, 0, nullptr);
        SetLastError(g_fake.injectedError);
        return nullptr;
    }
    HANDLE handle = g_fake.fakeThreads
        ? FakeHandle(index)
        : RealKernelServices().CreateThread(security, stack, start, parameter, flags, id);
    Record(KernelCall::Create, nullptr, 0, handle);
    return handle;
}

DWORD WINAPI FakeResumeThread(HANDLE thread)
{
    Record(KernelCall::Resume, nullptr, 0, thread);
    return g_fake.fakeThreads ? 1 : RealKernelServices().ResumeThread(thread);
}

DWORD WINAPI FakeWait(HANDLE handle, DWORD ms)
{
    Record(KernelCall::Wait, nullptr, 0, handle);
    return g_fake.fakeThreads ? WAIT_OBJECT_0 : RealKernelServices().WaitForSingleObject(handle, ms);
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    Record(KernelCall::Close, nullptr, 0, handle);
    return g_fake.fakeThreads ? TRUE : RealKernelServices().CloseHandle(handle);
}

} // namespace

EngineFakes::EngineFakes()
{
    g_fake = EngineFakeState();
    g_kernel.GlobalMemoryStatusEx = FakeMemoryStatus;
    g_kernel.VirtualQuery = FakeVirtualQuery;
    g_kernel.VirtualAlloc = FakeVirtualAlloc;
    g_kernel.VirtualFree = FakeVirtualFree;
    g_kernel.CreateThread = FakeCreateThread;
    g_kernel.ResumeThread = FakeResumeThread;
    g_kernel.WaitForSingleObject = FakeWait;
    g_kernel.CloseHandle = FakeCloseHandle;
}

EngineFakes::~EngineFakes()
{
    g_fake = EngineFakeState();
}
