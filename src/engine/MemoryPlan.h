#pragma once
#include <windows.h>

#include "engine/ProcessorTopology.h"

// How a start lays out its memory: the blocks to reserve and commit, and each
// worker's areas in them. Planning is pure: ReadMachineMemory gathers what it
// needs through the kernel seam, PlanMemory decides.

// One worker for each logical processor Windows supports ("All").
const unsigned int kMaxWorkers = kMaxProcessors;
const unsigned int kSmallAreaBytes = 8192;
// Blocks a start may commit: the largest free ranges of the address space.
const unsigned int kMaxBlocks = 8;
// Areas one worker sweeps in turn at most, and areas in all: each worker's
// first area and the further ones.
const unsigned int kMaxWorkerAreas = 1024;
const unsigned int kMaxAreas = kMaxWorkers + kMaxWorkerAreas;
// An area is at most this many MB (more when the memory needs more areas than
// kMaxAreas allows): a pass over it is short, so the run flag and the clock are
// read often whatever the block's size.
const unsigned int kSliceMB = 64;
// Free ranges smaller than this are not used as blocks.
const unsigned int kMinBlockMB = 16;
// Address space left free beside the blocks for thread stacks and the runtime.
const unsigned int kAddressReserveMB = 64;

struct FreeRange {
    unsigned char* base;
    SIZE_T bytes;
};

// What the machine offers, as ReadMachineMemory finds it.
struct MachineMemory {
    unsigned long long availableMB;       // available physical memory
    FreeRange ranges[kMaxBlocks];         // the largest free ranges of the address space, largest first
    unsigned int rangeCount;
};

struct PlannedBlock {
    unsigned char* address;   // where to reserve it (a free range's base), or null: anywhere
    SIZE_T bytes;
};

struct PlannedArea {
    unsigned int worker, block;
    SIZE_T offset, bytes;     // inside the block
};

struct MemoryPlan {
    PlannedBlock blocks[kMaxBlocks];
    unsigned int blockCount;
    PlannedArea areas[kMaxAreas];   // in worker order
    unsigned int areaCount;
    unsigned long long testedMB;    // the areas' sum in MB (0 without the memory test)
};

// The memory MAX leaves to the system and other programs, in MB.
unsigned long long SystemReserveMB(unsigned long long availableMB);

// The available physical memory in MB, or the status of the failed query.
HRESULT QueryAvailableMB(unsigned long long* availableMB);

// Queries the available physical memory (status of the failed call) and the free
// ranges: in a 32-bit process by reserving and releasing the largest ranges it
// can get, elsewhere from a walk of the address space.
HRESULT ReadMachineMemory(MachineMemory* machine);

// Plans a start of `threads` workers (1 to kMaxWorkers). Without the memory test:
// one block of kSmallAreaBytes per worker. With it, requestedMB > 0: threads x
// (requestedMB / threads) MB, one block anywhere where the largest free range
// holds it, else laid over the ranges as MAX is (E_OUTOFMEMORY above the
// available memory, below one MB per worker, or beyond what the ranges hold). requestedMB 0 (MAX): the
// available memory less SystemReserveMB, at most what the largest free ranges
// hold less kAddressReserveMB and besideMB (what the start takes besides: stacks,
// cache-sized areas), in equal shares per worker laid over the ranges largest
// first (E_OUTOFMEMORY when a share would be under one MB).
HRESULT PlanMemory(unsigned int threads, int memoryTest, unsigned int requestedMB,
                   const MachineMemory& machine, MemoryPlan* plan, unsigned long long besideMB = 0);
