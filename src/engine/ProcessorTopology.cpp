#include "engine/ProcessorTopology.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "kernel/KernelServices.h"

namespace {

const unsigned int kNarrowProcessors = 32;
const unsigned int kMaxGroups = 64;
const unsigned int kMaxCoreThreads = 8;

// The system's records of one relation in a buffer from malloc (free it), or
// null; *length is the bytes filled.
SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX* QueryRelation(LOGICAL_PROCESSOR_RELATIONSHIP relation, DWORD* length)
{
    *length = 0;
    if (g_kernel.GetLogicalProcessorInformationEx(relation, nullptr, length) || *length == 0)
        return nullptr;
    auto* buffer = static_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(std::malloc(*length));
    if (buffer && !g_kernel.GetLogicalProcessorInformationEx(relation, buffer, length)) {
        std::free(buffer);
        return nullptr;
    }
    return buffer;
}

template <class Visit>
void ForEachRecord(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX* buffer, DWORD length, Visit visit)
{
    for (DWORD offset = 0; offset + offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor) <= length;) {
        auto* record = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(
            reinterpret_cast<unsigned char*>(buffer) + offset);
        if (record->Size == 0 || offset + record->Size > length)
            break;
        visit(*record);
        offset += record->Size;
    }
}

struct Core {
    unsigned int efficiency;
    unsigned int threads;
    PlacementSlot slots[kMaxCoreThreads];
};

} // namespace

int ReadProcessorTopology(ProcessorTopology* topology, int narrow)
{
    topology->machineProcessors = topology->machineCores = 0;
    topology->usableCores = topology->usableCount = 0;
    topology->narrowLimited = 0;

    // Task Manager numbering: each group's processors follow those of the groups before it.
    unsigned int groupFirst[kMaxGroups] = {};
    unsigned int groupCount = 0;
    DWORD length = 0;
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX* groups = QueryRelation(RelationGroup, &length);
    if (!groups)
        return 0;
    ForEachRecord(groups, length, [&](const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX& record) {
        if (record.Relationship != RelationGroup)
            return;
        for (WORD g = 0; g < record.Group.ActiveGroupCount && groupCount < kMaxGroups; ++g) {
            groupFirst[groupCount++] = topology->machineProcessors;
            topology->machineProcessors += record.Group.GroupInfo[g].ActiveProcessorCount;
        }
    });
    std::free(groups);

    SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX* records = QueryRelation(RelationProcessorCore, &length);
    if (!records)
        return 0;
    Core* cores = static_cast<Core*>(std::malloc(kMaxProcessors * sizeof(Core)));
    unsigned int coreCount = 0;
    if (cores) {
        ForEachRecord(records, length, [&](const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX& record) {
            if (record.Relationship != RelationProcessorCore || coreCount == kMaxProcessors)
                return;
            ++topology->machineCores;
            Core& core = cores[coreCount];
            // The byte after the flags is the core's efficiency class; higher is faster.
            core.efficiency = record.Processor.Reserved[0];
            core.threads = 0;
            for (WORD m = 0; m < record.Processor.GroupCount; ++m) {
                const GROUP_AFFINITY& mask = record.Processor.GroupMask[m];
                if (mask.Group >= groupCount)
                    continue;
                for (unsigned int bit = 0; bit < 8 * sizeof(KAFFINITY); ++bit) {
                    if (!((mask.Mask >> bit) & 1))
                        continue;
                    if ((narrow && (mask.Group != 0 || bit >= kNarrowProcessors)) || core.threads == kMaxCoreThreads)
                        continue;
                    PlacementSlot& slot = core.slots[core.threads++];
                    slot.processor.Group = mask.Group;
                    slot.processor.Number = static_cast<BYTE>(bit);
                    slot.processor.Reserved = 0;
                    slot.cpu = groupFirst[mask.Group] + bit;
                }
            }
            if (core.threads)
                ++coreCount;
        });
    }
    std::free(records);
    if (!cores)
        return 0;

    // Performance cores first; among equals, in the order of their first processor's number.
    std::stable_sort(cores, cores + coreCount, [](const Core& a, const Core& b) {
        return a.efficiency != b.efficiency ? a.efficiency > b.efficiency : a.slots[0].cpu < b.slots[0].cpu;
    });
    for (unsigned int round = 0; round < kMaxCoreThreads; ++round)
        for (unsigned int c = 0; c < coreCount; ++c)
            if (round < cores[c].threads && topology->usableCount < kMaxProcessors) {
                PlacementSlot& slot = topology->order[topology->usableCount++];
                slot = cores[c].slots[round];
                slot.core = c;
            }
    std::free(cores);
    topology->usableCores = coreCount;
    topology->narrowLimited = narrow && topology->usableCount < topology->machineProcessors;
    return topology->usableCount > 0;
}

unsigned int UsableCoreCount()
{
    static ProcessorTopology topology;
    return ReadProcessorTopology(&topology, kNarrowProgram) ? topology.usableCores : 0;
}

unsigned int UsableProcessorCount()
{
    static ProcessorTopology topology;
    if (ReadProcessorTopology(&topology, kNarrowProgram))
        return topology.usableCount;
    DWORD count = g_kernel.GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (kNarrowProgram && count > kNarrowProcessors)
        count = kNarrowProcessors;
    return count == 0 ? 1 : count > kMaxProcessors ? kMaxProcessors : count;
}
