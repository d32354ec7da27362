// The memory plan on scripted machines: the system's reserve, MAX over several
// free ranges with any number of workers, and an area above 4 GB where the
// addresses allow it. Sizes only: nothing is allocated.
#include <gtest/gtest.h>

#include <vector>

#include "engine/MemoryPlan.h"

namespace {

const unsigned long long MB = 1u << 20;
// One free range larger than any available memory below (4000 MB for 32-bit addresses).
const unsigned long long kRangeMB = sizeof(SIZE_T) == 8 ? 40000 : 4000;

MachineMemory Machine(unsigned long long availableMB, std::vector<unsigned long long> rangesMB)
{
    MachineMemory machine = {};
    machine.availableMB = availableMB;
    unsigned char* base = reinterpret_cast<unsigned char*>(0x10000);
    for (unsigned long long mb : rangesMB) {
        machine.ranges[machine.rangeCount++] = FreeRange{base, static_cast<SIZE_T>(mb * MB)};
        base += mb * MB + 0x10000;
    }
    return machine;
}

// Every worker gets the same whole MB, laid in its blocks without overlap, and
// the areas add up to the stated MB.
void ExpectSoundLayout(const MemoryPlan& plan, unsigned int threads)
{
    std::vector<unsigned long long> perWorker(threads, 0);
    std::vector<SIZE_T> end(plan.blockCount, 0);
    unsigned long long sum = 0;
    unsigned int worker = 0;
    for (unsigned int i = 0; i < plan.areaCount; ++i) {
        const PlannedArea& area = plan.areas[i];
        ASSERT_LT(area.worker, threads);
        ASSERT_LT(area.block, plan.blockCount);
        EXPECT_GE(area.worker, worker) << "areas in worker order";
        worker = area.worker;
        EXPECT_EQ(0u, area.bytes % MB);
        EXPECT_GT(area.bytes, 0u);
        EXPECT_GE(area.offset, end[area.block]) << "areas overlap";
        end[area.block] = area.offset + area.bytes;
        EXPECT_LE(end[area.block], plan.blocks[area.block].bytes);
        perWorker[area.worker] += area.bytes;
        sum += area.bytes;
    }
    for (unsigned int w = 0; w < threads; ++w)
        EXPECT_EQ(perWorker[0], perWorker[w]) << "worker " << w;
    EXPECT_EQ(plan.testedMB * MB, sum);
}

// MAX leaves a reserve to the system: at least 256 MB, at most 512 MB and a tenth;
// what it takes is the rest, less under one MB per worker.
TEST(MemoryPlan, MaxTakesTheAvailableMemoryLessTheSystemsReserve)
{
    // Where the addresses are not the limit: 30 GB only in the x86-64 build.
    for (unsigned long long available : {1000ull, 3000ull, sizeof(SIZE_T) == 8 ? 30000ull : 3500ull}) {
        for (unsigned int threads : {1u, 3u, 16u}) {
            SCOPED_TRACE(testing::Message() << available << " MB, " << threads << " workers");
            MemoryPlan plan;
            ASSERT_EQ(S_OK, PlanMemory(threads, 1, 0, Machine(available, {kRangeMB}), &plan));
            const unsigned long long reserve = available - plan.testedMB;
            EXPECT_GE(reserve, 256u);
            EXPECT_LT(reserve, 512 + available / 10 + threads);
            EXPECT_EQ(0u, plan.testedMB % threads);
            ExpectSoundLayout(plan, threads);
        }
    }
    MemoryPlan plan;
    EXPECT_EQ(E_OUTOFMEMORY, PlanMemory(4, 1, 0, Machine(250, {kRangeMB}), &plan)) << "nothing above the reserve";
    EXPECT_EQ(E_OUTOFMEMORY, PlanMemory(4, 1, 101, Machine(100, {kRangeMB}), &plan));
    ASSERT_EQ(S_OK, PlanMemory(4, 1, 100, Machine(100, {kRangeMB}), &plan)) << "a chosen size takes no reserve";
    EXPECT_EQ(100u, plan.testedMB);
    EXPECT_EQ(1u, plan.blockCount);
}

// Where the address space is the limit (a 32-bit process), MAX takes the largest
// free ranges, not only the largest one, less the address reserve and what the
// start needs besides; so does a size asked for that the largest cannot hold. One
// worker may own areas in several blocks.
TEST(MemoryPlan, MaxSpreadsOverTheLargestFreeRangesWithAnyNumberOfWorkers)
{
    const MachineMemory machine = Machine(6000, {1900, 1200, 400, 10});
    for (unsigned int threads : {1u, 2u, 5u, 16u}) {
        SCOPED_TRACE(testing::Message() << threads << " workers");
        MemoryPlan plan;
        ASSERT_EQ(S_OK, PlanMemory(threads, 1, 0, machine, &plan));
        const unsigned long long holds = 1900 + 1200 + 400 - kAddressReserveMB;
        EXPECT_LE(plan.testedMB, holds);
        EXPECT_GT(plan.testedMB + threads, holds);
        EXPECT_EQ(3u, plan.blockCount) << "the 10 MB range is left";
        for (unsigned int b = 0; b < plan.blockCount; ++b)
            EXPECT_EQ(machine.ranges[b].base, plan.blocks[b].address);
        ExpectSoundLayout(plan, threads);
        if (threads == 1) {
            EXPECT_GE(plan.areaCount, 3u);
            EXPECT_EQ(2u, plan.areas[plan.areaCount - 1].block);
        }
        // Less what the start needs beside the blocks.
        ASSERT_EQ(S_OK, PlanMemory(threads, 1, 0, machine, &plan, 100));
        EXPECT_LE(plan.testedMB, holds - 100);
        EXPECT_GT(plan.testedMB + threads, holds - 100);
        // A size asked for: one block anywhere where the largest range holds it,
        // laid over the ranges where it does not, refused beyond what they hold.
        ASSERT_EQ(S_OK, PlanMemory(threads, 1, 1800, machine, &plan));
        EXPECT_EQ(1u, plan.blockCount);
        EXPECT_EQ(nullptr, plan.blocks[0].address);
        ASSERT_EQ(S_OK, PlanMemory(threads, 1, 2500, machine, &plan));
        EXPECT_EQ(2500 / threads * threads, plan.testedMB);
        EXPECT_EQ(2u, plan.blockCount);
        for (unsigned int b = 0; b < plan.blockCount; ++b)
            EXPECT_EQ(machine.ranges[b].base, plan.blocks[b].address);
        ExpectSoundLayout(plan, threads);
        EXPECT_EQ(E_OUTOFMEMORY, PlanMemory(threads, 1, static_cast<unsigned int>(holds) + 16, machine, &plan));
    }
}

#if defined(_WIN64)
// One worker over 20 GB: areas in slices, their sum above 4 GB exactly as stated.
TEST(MemoryPlan, OneWorkerTakesMoreThanFourGigabytes)
{
    MemoryPlan plan;
    ASSERT_EQ(S_OK, PlanMemory(1, 1, 0, Machine(21000, {100000000}), &plan));
    EXPECT_GT(plan.testedMB * MB, 4ull << 30);
    EXPECT_EQ(1u, plan.blockCount);
    EXPECT_EQ(plan.testedMB * MB, plan.blocks[0].bytes);
    ExpectSoundLayout(plan, 1);
}
#endif

} // namespace
