#pragma once
#include <windows.h>

#include <vector>

#include "support/KernelFake.h"

// Records what the engine asks of the kernel and injects failures. Memory calls
// are passed to the real kernel; thread calls can be passed through or faked.
struct KernelCall {
    enum Kind { Reserve, Commit, Decommit, Release, Create, Resume, Wait, Close } kind;
    void* address;
    SIZE_T size;
    HANDLE handle;
    LONG runFlag;   // testRunning when the call was made
};

struct EngineFakeState {
    bool fakeThreads = true;          // hand out dummy handles instead of real threads
    bool memoryStatusFails = false;
    DWORD memoryStatusError = ERROR_ACCESS_DENIED;
    unsigned long long availablePhysical = 0;   // 0: the real figure
    SIZE_T largestFreeRange = 0;                // 0: the real address space
    bool reserveFails = false;
    bool commitFails = false;
    int failCreateAt = -1;            // index of the worker whose creation fails
    DWORD injectedError = ERROR_NOT_ENOUGH_MEMORY;
    int createCount = 0;
    std::vector<KernelCall> calls;
    std::vector<LPTHREAD_START_ROUTINE> startRoutines;
    std::vector<LPVOID> parameters;
    std::vector<DWORD> createFlags;

    int Count(KernelCall::Kind kind) const;
};

extern EngineFakeState g_fake;

// Installs the recording fakes for the lifetime of the object.
class EngineFakes {
public:
    EngineFakes();
    ~EngineFakes();

private:
    ScopedKernelServices guard_;
};

inline HANDLE FakeHandle(int index)
{
    return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7000 + 4 * index));
}
