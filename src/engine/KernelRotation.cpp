#include "engine/KernelRotation.h"

RotationPlan PlanRotation(unsigned int loads, bool sweep)
{
    RotationPlan plan = {};
    plan.sweep = sweep && (loads & KernelLoadBit(kLoadStream));
    for (unsigned int load = 0; load < kLoadCount; ++load)
        if ((loads & KernelLoadBit(load)) && !(plan.sweep && load == kLoadStream))
            plan.loads[plan.count++] = load;
    return plan;
}

RotationSlot SlotAt(const RotationPlan& plan, long long start, long long now, long long slotCounts)
{
    const unsigned long long index = now > start ? static_cast<unsigned long long>((now - start) / slotCounts) : 0;
    RotationSlot slot = {kLoadStream, index, start + static_cast<long long>(index) * slotCounts, 0};
    slot.end = slot.begin + slotCounts;
    if (plan.sweep) {   // the stream, but every fourth slot one of the others in turn
        if (index % 4 == 3 && plan.count)
            slot.load = plan.loads[(index / 4) % plan.count];
    } else if (plan.count) {
        slot.load = plan.loads[index % plan.count];
    }
    return slot;
}
