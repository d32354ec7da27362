#include "engine/MemoryPlan.h"

#include <cstring>

#include "engine/Status.h"
#include "kernel/KernelServices.h"

namespace {

const SIZE_T kMB = 1u << 20;

// Keeps the largest kMaxBlocks ranges, largest first.
void KeepLargest(MachineMemory* machine, unsigned char* base, SIZE_T bytes)
{
    unsigned int at = machine->rangeCount;
    if (at == kMaxBlocks) {
        if (bytes <= machine->ranges[kMaxBlocks - 1].bytes)
            return;
        --at;
    } else {
        ++machine->rangeCount;
    }
    for (; at > 0 && machine->ranges[at - 1].bytes < bytes; --at)
        machine->ranges[at] = machine->ranges[at - 1];
    machine->ranges[at].base = base;
    machine->ranges[at].bytes = bytes;
}

// Appends one worker's share of `mb` MB, cut at block ends and into slices.
bool LayShare(MemoryPlan* plan, unsigned int worker, unsigned long long mb, unsigned long long sliceMB,
              unsigned int* block, SIZE_T* used)
{
    while (mb > 0) {
        const SIZE_T room = plan->blocks[*block].bytes - *used;
        if (room == 0) {
            ++*block;
            *used = 0;
            continue;
        }
        SIZE_T bytes = static_cast<SIZE_T>(mb < sliceMB ? mb : sliceMB) * kMB;
        if (bytes > room)
            bytes = room;
        if (plan->areaCount == kMaxAreas)
            return false;
        PlannedArea& area = plan->areas[plan->areaCount++];
        area.worker = worker;
        area.block = *block;
        area.offset = *used;
        area.bytes = bytes;
        *used += bytes;
        mb -= bytes / kMB;
    }
    return true;
}

#if !defined(_WIN64)
// The largest ranges a reservation gets, found by reserving: in a 32-bit process
// the address space is small and a compatibility layer may keep ranges reserved
// that it still hands out, which a walk of the address space does not show. Each
// range found is held while the next is sought, then all are released.
void ProbeRanges(MachineMemory* machine)
{
    void* held[kMaxBlocks];
    unsigned int count = 0;
    while (count < kMaxBlocks) {
        SIZE_T low = 0, high = static_cast<SIZE_T>(-1) / kMB;   // in MB
        while (low < high) {
            const SIZE_T mid = low + (high - low + 1) / 2;
            void* range = g_kernel.VirtualAlloc(nullptr, mid * kMB, MEM_RESERVE, PAGE_READWRITE);
            if (range) {
                g_kernel.VirtualFree(range, 0, MEM_RELEASE);
                low = mid;
            } else {
                high = mid - 1;
            }
        }
        void* range = low >= kMinBlockMB ? g_kernel.VirtualAlloc(nullptr, low * kMB, MEM_RESERVE, PAGE_READWRITE)
                                         : nullptr;
        if (!range)
            break;
        held[count++] = range;
        KeepLargest(machine, static_cast<unsigned char*>(range), low * kMB);
    }
    while (count > 0)
        g_kernel.VirtualFree(held[--count], 0, MEM_RELEASE);
}
#endif

} // namespace

// A fixed part for the system's own working set and file cache, and a part that
// grows with the machine for what other programs and the system take meanwhile.
unsigned long long SystemReserveMB(unsigned long long availableMB)
{
    return 384 + availableMB / 16;
}

HRESULT QueryAvailableMB(unsigned long long* availableMB)
{
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    if (!g_kernel.GlobalMemoryStatusEx(&status))
        return StatusFromWin32(g_kernel.GetLastError());
    *availableMB = status.ullAvailPhys / kMB;
    return S_OK;
}

HRESULT ReadMachineMemory(MachineMemory* machine)
{
    std::memset(machine, 0, sizeof *machine);
    const HRESULT status = QueryAvailableMB(&machine->availableMB);
    if (FAILED(status))
        return status;

#if !defined(_WIN64)
    ProbeRanges(machine);
#else
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    unsigned char* address = static_cast<unsigned char*>(info.lpMinimumApplicationAddress);
    unsigned char* const end = static_cast<unsigned char*>(info.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < end && g_kernel.VirtualQuery(address, &region, sizeof region) == sizeof region) {
        unsigned char* const base = static_cast<unsigned char*>(region.BaseAddress);
        if (region.State == MEM_FREE)
            KeepLargest(machine, base, region.RegionSize);
        unsigned char* const next = base + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
#endif
    return S_OK;
}

HRESULT PlanMemory(unsigned int threads, int memoryTest, unsigned int requestedMB,
                   const MachineMemory& machine, MemoryPlan* plan, unsigned long long besideMB)
{
    std::memset(plan, 0, sizeof *plan);
    if (threads == 0 || threads > kMaxWorkers)
        return E_INVALIDARG;
    if (!memoryTest) {
        plan->blockCount = 1;
        plan->blocks[0].bytes = threads * kSmallAreaBytes;
        plan->areaCount = threads;
        for (unsigned int i = 0; i < threads; ++i)
            plan->areas[i] = PlannedArea{i, 0, i * kSmallAreaBytes, kSmallAreaBytes};
        return S_OK;
    }
    if (requestedMB > machine.availableMB)
        return E_OUTOFMEMORY;

    // What the largest free ranges hold, less the addresses the start needs beside them.
    unsigned long long holdMB = 0;
    for (unsigned int i = 0; i < machine.rangeCount; ++i) {
        const unsigned long long mb = machine.ranges[i].bytes / kMB;
        if (mb >= kMinBlockMB)
            holdMB += mb;
    }
    const unsigned long long leaveMB = kAddressReserveMB + besideMB;
    holdMB = holdMB > leaveMB ? holdMB - leaveMB : 0;
    unsigned long long totalMB = requestedMB;
    if (requestedMB == 0) {
        // All available memory less the system's reserve, as far as the address space holds it.
        const unsigned long long reserveMB = SystemReserveMB(machine.availableMB);
        totalMB = machine.availableMB > reserveMB ? machine.availableMB - reserveMB : 0;
        if (totalMB > holdMB)
            totalMB = holdMB;
    }
    const unsigned long long shareMB = totalMB / threads;
    if (shareMB == 0)
        return E_OUTOFMEMORY;
    totalMB = shareMB * threads;
    if (totalMB > static_cast<SIZE_T>(-1) / kMB)
        return E_OUTOFMEMORY;   // more than this build's addresses can express

    // A size asked for is one block anywhere where the largest free range holds
    // it (or the ranges are not known); otherwise it is laid over them as MAX is.
    if (requestedMB != 0 && (machine.rangeCount == 0 || machine.ranges[0].bytes / kMB >= totalMB)) {
        plan->blockCount = 1;
        plan->blocks[0].bytes = static_cast<SIZE_T>(totalMB) * kMB;
    } else {
        if (totalMB > holdMB)
            return E_OUTOFMEMORY;
        unsigned long long leftMB = totalMB;
        for (unsigned int i = 0; i < machine.rangeCount && leftMB > 0; ++i) {
            const unsigned long long mb = machine.ranges[i].bytes / kMB;
            if (mb < kMinBlockMB)
                continue;
            const unsigned long long takeMB = mb < leftMB ? mb : leftMB;
            plan->blocks[plan->blockCount].address = machine.ranges[i].base;
            plan->blocks[plan->blockCount].bytes = static_cast<SIZE_T>(takeMB) * kMB;
            ++plan->blockCount;
            leftMB -= takeMB;
        }
        if (leftMB != 0)
            return E_OUTOFMEMORY;
    }

    // Slices of kSliceMB, larger when that many areas would not fit.
    const unsigned long long spareAreas = kMaxWorkerAreas - kMaxBlocks;
    unsigned long long sliceMB = (totalMB + spareAreas - 1) / spareAreas;
    if (sliceMB < kSliceMB)
        sliceMB = kSliceMB;
    unsigned int block = 0;
    SIZE_T used = 0;
    for (unsigned int worker = 0; worker < threads; ++worker)
        if (!LayShare(plan, worker, shareMB, sliceMB, &block, &used))
            return E_OUTOFMEMORY;
    plan->testedMB = totalMB;
    return S_OK;
}
