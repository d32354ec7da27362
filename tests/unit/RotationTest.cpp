// The rotation of the kernel loads: which load runs when, and a worker that
// rotates through them finding a bit changed in each load's data, named with it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/AreaFill.h"
#include "engine/Clock.h"
#include "engine/LoadRunner.h"
#include "engine/TestEngine.h"
#include "support/Support.h"

namespace {

// Every load in turn, a slot each, around again; with the memory sweep the
// stream takes three slots of every four and the others come in turn in the
// fourth; slots follow one another without a gap; a single load is always it.
TEST(Rotation, EveryLoadInTurnAndTheSweepKeepsThreeQuarters)
{
    const RotationPlan all = PlanRotation(kAllLoads, false);
    for (unsigned long long i = 0; i < 18; ++i) {
        const RotationSlot slot = SlotAt(all, 1000, 1000 + 50 * i + 7, 50);
        EXPECT_EQ(i % kLoadCount, slot.load) << i;
        EXPECT_EQ(i, slot.index);
        EXPECT_EQ(1000 + 50 * static_cast<long long>(i), slot.begin);
        EXPECT_EQ(slot.begin + 50, slot.end);
    }
    const RotationPlan swept = PlanRotation(kAllLoads, true);
    unsigned int count[kLoadCount] = {};
    for (long long i = 0; i < 400; ++i)
        ++count[SlotAt(swept, 0, 50 * i, 50).load];
    EXPECT_EQ(300u, count[kLoadStream]);
    for (unsigned int load = 1; load < kLoadCount; ++load)
        EXPECT_EQ(20u, count[load]) << KernelLoadName(load);
    const RotationPlan fma = PlanRotation(KernelLoadBit(kLoadFma), false);
    for (long long i = 0; i < 10; ++i)
        EXPECT_EQ(static_cast<unsigned int>(kLoadFma), SlotAt(fma, 0, 50 * i, 50).load);
}

// Each core's halves: the light loads first, the wide ones second; the stream
// in both when it sweeps; a half the asked-for loads leave empty runs them all.
TEST(Rotation, EachCoresHalvesTakeTheLightLoadsThenTheWideOnes)
{
    const unsigned int available = AvailableKernelLoads();
    auto bits = [](std::initializer_list<KernelLoad> loads) {
        unsigned int b = 0;
        for (KernelLoad load : loads)
            b |= KernelLoadBit(load);
        return b;
    };
    EXPECT_EQ(bits({kLoadStream, kLoadInteger, kLoadCrypto, kLoadCache}) & available, LoadsOfHalf(0, kLoadsLight, false));
    EXPECT_EQ(bits({kLoadStream, kLoadFma, kLoadVector}) & available, LoadsOfHalf(0, kLoadsWide, false));
    EXPECT_EQ(available, LoadsOfHalf(0, kLoadsAll, false));
    if (available & KernelLoadBit(kLoadFma)) {
        EXPECT_EQ(KernelLoadBit(kLoadFma), LoadsOfHalf(KernelLoadBit(kLoadFma), kLoadsLight, false));
        EXPECT_EQ(bits({kLoadStream}), LoadsOfHalf(KernelLoadBit(kLoadFma), kLoadsLight, true));
        EXPECT_EQ(bits({kLoadStream, kLoadFma}), LoadsOfHalf(KernelLoadBit(kLoadFma), kLoadsAll, true));
    }
}

// A worker's areas: 8 KB filled, and its two cache-sized areas.
struct Worker {
    std::vector<unsigned char> memory = std::vector<unsigned char>(8192 + 16384 + 32768 + 64);
    WorkerArea first = {}, l2 = {}, l3 = {};
    Worker()
    {
        unsigned char* base = memory.data() + (64 - reinterpret_cast<UINT_PTR>(memory.data()) % 64) % 64;
        l3 = WorkerArea{base + 8192 + 16384, 32768, nullptr, 0, FillWorkerArea(base + 8192 + 16384, 32768, 3), nullptr};
        l2 = WorkerArea{base + 8192, 16384, &l3, 0, FillWorkerArea(base + 8192, 16384, 2), nullptr};
        first = WorkerArea{base, 8192, nullptr, 0, FillWorkerArea(base, 8192, 1), &l2};
    }
};

struct Rotating {
    WorkerLoads* loads;
    const LoadSetup* setup;
};

DWORD WINAPI Rotate(LPVOID parameter)
{
    const Rotating* r = static_cast<Rotating*>(parameter);
    ContinueLoads(r->loads, *r->setup, WorkerRunLimits{nullptr, 0, false});
    return 0;
}

// A worker rotating through one load and the stream in slots of 50 ms: a bit
// changed in that load's data while it runs is found and named with that load
// (the unit classes' workspace, the stream's areas, the cache-sized areas).
TEST(Rotation, AWorkerFindsABitChangedInEachLoadsDataAndNamesTheLoad)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (unsigned int load = 0; load < kLoadCount; ++load) {
        if (!(AvailableKernelLoads() & KernelLoadBit(load)))
            continue;
        SCOPED_TRACE(KernelLoadName(load));
        Worker worker;
        std::unique_ptr<WorkerLoads> loads(new WorkerLoads);
        LoadSetup setup;
        SetUpLoads(&setup, KernelLoadBit(load) | KernelLoadBit(kLoadStream), kLoadsAll, false, PerformanceCount(),
                   frequency.QuadPart / 20);
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
        InterlockedExchange(&failedWorkerCount, 0);
        firstWorkerFailure = WorkerFailure();
        BeginLoads(loads.get(), &worker.first);
        InterlockedExchange(&testRunning, 1);
        Rotating rotating = {loads.get(), &setup};
        const HANDLE thread = CreateThread(nullptr, 0, Rotate, &rotating, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        // Within the load's slot, once it has prepared its data.
        const bool inSlot = WaitUntil([&] {
            const RotationSlot slot = SlotAt(setup.plan, setup.start, PerformanceCount(), setup.slotCounts);
            return slot.load == load && PerformanceCount() < slot.end - setup.slotCounts / 2 &&
                   (load == kLoadStream || load == kLoadCache || (loads->preparedLoad == load &&
                                                                  loads->preparedSlot == slot.index));
        }, 20000);
        volatile unsigned long long* word =
            load == kLoadStream ? reinterpret_cast<unsigned long long*>(worker.first.base + 8 * 40)
            : load == kLoadCache ? reinterpret_cast<unsigned long long*>(worker.l3.base + 8 * 40)
                                 : &loads->workspace.input[loads->workspace.inputWords - 1];
        if (inSlot)
            __atomic_fetch_xor(word, 1ull << 33, __ATOMIC_SEQ_CST);
        EXPECT_TRUE(inSlot);
        EXPECT_TRUE(WaitUntil([] { return failedWorkerArea != nullptr; }, 20000));
        InterlockedExchange(&testRunning, 0);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_EQ(&worker.first, failedWorkerArea);
        EXPECT_EQ(load, firstWorkerFailure.load);
        EXPECT_EQ(1, failedWorkerCount);
        EXPECT_NE(0ull, firstWorkerFailure.bits & (1ull << 33)) << std::hex << firstWorkerFailure.bits;
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
    InterlockedExchange(&failedWorkerCount, 0);
}

void ClearFailures()
{
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
    InterlockedExchange(&failedWorkerCount, 0);
    firstWorkerFailure = WorkerFailure();
}

// Runs the loads on this thread for about `ms`.
void RunFor(WorkerLoads* loads, const LoadSetup& setup, long long perSecond, long long ms)
{
    ContinueLoads(loads, setup, WorkerRunLimits{nullptr, PerformanceCount() + perSecond * ms / 1000, false});
}

// A bit changed in a unit class's workspace after its last pass, before the next
// slot gives it fresh data, is still found: the workspace is checked once more
// before it is replaced.
TEST(Rotation, AChangeAfterALoadsLastPassIsFoundBeforeItsDataIsReplaced)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const unsigned int load = (AvailableKernelLoads() & KernelLoadBit(kLoadFma)) ? kLoadFma : kLoadInteger;
    Worker worker;
    std::unique_ptr<WorkerLoads> loads(new WorkerLoads);
    LoadSetup setup;
    SetUpLoads(&setup, KernelLoadBit(load), kLoadsAll, false, PerformanceCount(), frequency.QuadPart / 20);
    ClearFailures();
    BeginLoads(loads.get(), &worker.first);
    InterlockedExchange(&testRunning, 1);
    RunFor(loads.get(), setup, frequency.QuadPart, 10);
    ASSERT_EQ(load, loads->preparedLoad);
    EXPECT_EQ(nullptr, failedWorkerArea);
    loads->workspace.input[loads->workspace.inputWords / 2] ^= 1ull << 17;
    const unsigned long long changedIn = loads->preparedSlot;
    ASSERT_TRUE(WaitUntil([&] {
        return SlotAt(setup.plan, setup.start, PerformanceCount(), setup.slotCounts).index != changedIn;
    }, 20000));
    RunFor(loads.get(), setup, frequency.QuadPart, 10);
    InterlockedExchange(&testRunning, 0);
    EXPECT_NE(changedIn, loads->preparedSlot);
    EXPECT_EQ(&worker.first, failedWorkerArea);
    EXPECT_EQ(load, firstWorkerFailure.load);
    EXPECT_NE(0ull, firstWorkerFailure.bits & (1ull << 17)) << std::hex << firstWorkerFailure.bits;
    ClearFailures();
}

// An "Each core" turn changes halves within a slot: the other half's load gets
// its own fresh data, not the workspace the first half's load prepared.
TEST(Rotation, AHalfThatChangesLoadWithinASlotPreparesItsOwnData)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const unsigned int available = AvailableKernelLoads();
    const unsigned int pairs[][2] = {{kLoadCrypto, kLoadVector}, {kLoadInteger, kLoadFma}, {kLoadVector, kLoadInteger}};
    for (const auto& pair : pairs) {
        if (!(available & KernelLoadBit(pair[0])) || !(available & KernelLoadBit(pair[1])))
            continue;
        SCOPED_TRACE(std::string(KernelLoadName(pair[0])) + " then " + KernelLoadName(pair[1]));
        Worker worker;
        std::unique_ptr<WorkerLoads> loads(new WorkerLoads);
        // Slots of 4 s: both halves run within the first one.
        const long long start = PerformanceCount();
        LoadSetup light, wide;
        SetUpLoads(&light, KernelLoadBit(pair[0]), kLoadsLight, false, start, frequency.QuadPart * 4);
        SetUpLoads(&wide, KernelLoadBit(pair[1]), kLoadsWide, false, start, frequency.QuadPart * 4);
        ClearFailures();
        BeginLoads(loads.get(), &worker.first);
        InterlockedExchange(&testRunning, 1);
        RunFor(loads.get(), light, frequency.QuadPart, 30);
        EXPECT_EQ(pair[0], loads->preparedLoad);
        RunFor(loads.get(), wide, frequency.QuadPart, 30);
        InterlockedExchange(&testRunning, 0);
        EXPECT_EQ(pair[1], loads->preparedLoad);
        EXPECT_EQ(nullptr, failedWorkerArea) << KernelLoadName(firstWorkerFailure.load) << " bits " << std::hex
                                             << firstWorkerFailure.bits;
        ClearFailures();
    }
}

} // namespace
