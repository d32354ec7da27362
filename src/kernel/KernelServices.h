#pragma once
#include <windows.h>

// The kernel services used by the engine, the probes and the log writer.
// In the product each entry is the real Win32 call (or processor instruction);
// tests replace single entries to inject failures or feed exact values.
struct KernelServices {
    // memory
    BOOL   (WINAPI *GlobalMemoryStatusEx)(LPMEMORYSTATUSEX status);
    LPVOID (WINAPI *VirtualAlloc)(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
    BOOL   (WINAPI *VirtualFree)(LPVOID address, SIZE_T size, DWORD type);
    SIZE_T (WINAPI *VirtualQuery)(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length);
    // memory placement: NUMA nodes and the working set
    BOOL   (WINAPI *GetNumaHighestNodeNumber)(PULONG highestNode);
    BOOL   (WINAPI *GetNumaProcessorNodeEx)(PPROCESSOR_NUMBER processor, PUSHORT node);
    LPVOID (WINAPI *VirtualAllocExNuma)(HANDLE process, LPVOID address, SIZE_T size, DWORD type,
                                        DWORD protect, DWORD node);
    BOOL   (WINAPI *GetProcessWorkingSetSize)(HANDLE process, PSIZE_T minimum, PSIZE_T maximum);
    BOOL   (WINAPI *SetProcessWorkingSetSizeEx)(HANDLE process, SIZE_T minimum, SIZE_T maximum, DWORD flags);
    // threads
    HANDLE (WINAPI *CreateThread)(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                  LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                  DWORD flags, LPDWORD threadId);
    DWORD  (WINAPI *ResumeThread)(HANDLE thread);
    DWORD  (WINAPI *WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
    BOOL   (WINAPI *CloseHandle)(HANDLE handle);
    DWORD  (WINAPI *GetLastError)(void);
    DWORD  (WINAPI *GetCurrentProcessorNumber)(void);
    // clocks
    BOOL   (WINAPI *QueryPerformanceFrequency)(LARGE_INTEGER* frequency);
    BOOL   (WINAPI *QueryPerformanceCounter)(LARGE_INTEGER* count);
    DWORD  (WINAPI *GetTickCount)(void);
    void   (WINAPI *GetLocalTime)(LPSYSTEMTIME time);
    // module lookup
    HMODULE (WINAPI *GetModuleHandleA)(LPCSTR moduleName);
    FARPROC (WINAPI *GetProcAddress)(HMODULE module, LPCSTR procName);
    // topology and affinity
    BOOL   (WINAPI *GetLogicalProcessorInformationEx)(LOGICAL_PROCESSOR_RELATIONSHIP relation,
                                                      PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX buffer,
                                                      PDWORD length);
    BOOL   (WINAPI *SetThreadGroupAffinity)(HANDLE thread, const GROUP_AFFINITY* affinity,
                                            PGROUP_AFFINITY previous);
    DWORD  (WINAPI *GetActiveProcessorCount)(WORD group);
    // files
    BOOL   (WINAPI *FlushFileBuffers)(HANDLE file);
    // processor instructions: blocks x kAddChainBlock dependent integer additions,
    // one core cycle each whatever the clock
    void (*RunAddChain)(unsigned int blocks);
};

const unsigned int kAddChainBlock = 128;

// The services in force; every caller goes through this table.
extern KernelServices g_kernel;

// The real services, for restoring the table or for fakes that delegate.
const KernelServices& RealKernelServices();
