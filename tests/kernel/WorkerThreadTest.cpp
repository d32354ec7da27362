#include <gtest/gtest.h>

#include "engine/AreaFill.h"
#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"

namespace {

const DWORD kHangGuardMs = 20000;

class WorkerThread : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        InterlockedExchange(&testRunning, 0);
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&failedWorkerArea), nullptr);
        InterlockedExchange(&workerErrorKinds, 0);
    }
};

// Starts WorkerThreadProc on its own thread with the flag raised.
HANDLE Start(WorkerArea* area)
{
    InterlockedExchange(&testRunning, 1);
    return CreateThread(nullptr, 0, WorkerThreadProc, area, 0, nullptr);
}

// Clears the flag and waits for the worker; returns its exit code.
DWORD Stop(HANDLE thread)
{
    InterlockedExchange(&testRunning, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kHangGuardMs));
    DWORD code = 0xFFFFFFFF;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

// A range that is reserved but not committed: any touch faults.
struct UntouchableArea {
    explicit UntouchableArea(unsigned int size)
    {
        base = static_cast<unsigned char*>(VirtualAlloc(nullptr, 1 << 20, MEM_RESERVE, PAGE_NOACCESS));
        area.base = base;
        area.size = size;
    }
    ~UntouchableArea() { VirtualFree(base, 0, MEM_RELEASE); }
    unsigned char* base;
    WorkerArea area;
};

TEST_F(WorkerThread, ReturnsAtOnceWithoutTouchingItsAreaWhenTheFlagIsClear)
{
    UntouchableArea untouchable(kSmallAreaBytes);
    ASSERT_NE(nullptr, untouchable.base);
    EXPECT_EQ(0u, WorkerThreadProc(&untouchable.area));
}

TEST_F(WorkerThread, AreaBelow32BytesSpinsWithoutTouchingMemory)
{
    UntouchableArea untouchable(31);
    ASSERT_NE(nullptr, untouchable.base);
    HANDLE thread = Start(&untouchable.area);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 50));
    EXPECT_EQ(0u, Stop(thread));
}

// A worker on a healthy area records nothing; a bit flipped under it (in an
// input here, in a stored result there) is recorded with its area, and the
// worker keeps loading until the flag is cleared.
TEST_F(WorkerThread, RecordsABitFlippedInItsRunningAreaAndRunsOn)
{
    const struct {
        unsigned int size, offset;
    } cases[] = {{kSmallAreaBytes, 8 * 3 + 4},           // an exponent bit of a[3]
                 {8u << 20, (6u << 20) + 8 * 1000}};   // a bit of d[1000]
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes");
        Reset();
        unsigned char* block = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, c.size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        ASSERT_NE(nullptr, block);
        FillWorkerArea(block, c.size, 7);
        WorkerArea area = {block, c.size};
        HANDLE thread = Start(&area);
        ASSERT_NE(nullptr, thread);
        Sleep(200);
        EXPECT_EQ(nullptr, failedWorkerArea);

        InterlockedXor(reinterpret_cast<volatile LONG*>(block + c.offset), 0x10000000);
        const DWORD start = GetTickCount();
        while (!failedWorkerArea && GetTickCount() - start < kHangGuardMs)
            Sleep(1);
        EXPECT_EQ(&area, failedWorkerArea);
        EXPECT_EQ(kCheckWrongResult, workerErrorKinds);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 0));
        EXPECT_EQ(0u, Stop(thread));
        VirtualFree(block, 0, MEM_RELEASE);
    }
}

// Sixteen workers sweeping 16 MB each find no error and all end once the flag
// is cleared.
TEST_F(WorkerThread, SixteenWorkersOnLargeAreasAllEnd)
{
    const unsigned int size = 16u << 20;
    unsigned char* block = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, 16 * size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, block);
    WorkerArea areas[16];
    HANDLE threads[16];
    InterlockedExchange(&testRunning, 1);
    for (unsigned int i = 0; i < 16; ++i) {
        areas[i].base = block + i * size;
        areas[i].size = size;
        FillWorkerArea(areas[i].base, size, i);
        threads[i] = CreateThread(nullptr, 0, WorkerThreadProc, &areas[i], 0, nullptr);
        ASSERT_NE(nullptr, threads[i]);
    }
    Sleep(300);
    InterlockedExchange(&testRunning, 0);
    for (unsigned int i = 0; i < 16; ++i) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(threads[i], kHangGuardMs)) << i;
        CloseHandle(threads[i]);
    }
    EXPECT_EQ(nullptr, failedWorkerArea);
    VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace
