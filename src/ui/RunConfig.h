#pragma once
#include <string>

#include "engine/TestConfig.h"

// The dialog's accepted choices that make up a run: check states (0 or 1),
// list indexes (-1 for no selection) and the three validated numbers.
const int kAllThreadsItem = 7;
// The item after it, "Each core": one worker tests each physical core in turn.
const int kEachCoreItem = 8;

struct RunSelections {
    int testMemory;
    int testVpu;
    int testVideoMemory;
    int threadIndex;         // list 1005
    int memoryIndex;         // list 1010
    unsigned int addedMemoryMB;   // the size of an item added past the list's own (0: none)
    int renderTargetIndex;   // list 1011
    int textureSizeIndex;    // list 1013
    int textureCountIndex;   // list 1012
    unsigned int hours;
    unsigned int minutes;
    unsigned int logIntervalSeconds;
    int logCpuLoad;
    int logCpuTemperature;
    int logVpuTemperature;
    unsigned int kernelMask;   // /kernel's loads (KernelLoadBit); 0: all
};

// The list 1010 item that /memory adds for a size the list does not offer.
const int kAddedMemoryIndex = 9;

// The run's configuration from the dialog's choices. The thread list's last
// item ("All", index kAllThreadsItem) gives UsableProcessorCount() workers; "Each core"
// (kEachCoreItem) one worker, moved from core to core. Indexes outside a list
// give the list's fallback: 1 thread, all available memory ("MAX"), and 0 for
// the render-target and texture sizes; the added memory item gives its size.
TestConfig BuildTestConfig(const RunSelections& selections);

// An "Each core" run gives every core at least a minute: the refusal of a
// shorter duration for `cores` cores, or "" when it is long enough.
std::string EachCoreDurationRefusal(unsigned int cores, unsigned int hours, unsigned int minutes);
