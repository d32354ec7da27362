#include <gtest/gtest.h>

#include <cstring>

#include "engine/TestEngine.h"
#include "engine/WorkerKernel.h"
#include "kernel/KernelData.h"

namespace {

const DWORD kHangGuardMs = 20000;

class WorkerThread : public ::testing::Test {
protected:
    void SetUp() override { InterlockedExchange(&testRunning, 0); }
    void TearDown() override { InterlockedExchange(&testRunning, 0); }
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

// An address range that is reserved but not committed: any touch faults.
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

TEST_F(WorkerThread, ReturnsAtOnceWithoutTouchingAreaWhenFlagIsClear)
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
    // Still spinning while the flag is up.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 50));
    EXPECT_EQ(0u, Stop(thread));
}

// Waits until the worker has stored the last element of D once.
bool WaitForFirstPass(const KernelData& data)
{
    const unsigned int last = data.n() - 1;
    const double expected = data.a()[last] * data.b()[last] + data.c()[last];
    const volatile double* d = data.d();
    const DWORD start = GetTickCount();
    while (std::memcmp(const_cast<const double*>(&d[last]), &expected, 8) != 0) {
        if (GetTickCount() - start > kHangGuardMs)
            return false;
        Sleep(1);
    }
    return true;
}

// A large area that is not 64-byte aligned cannot take aligned streaming stores.
TEST_F(WorkerThread, ComputesEveryElementOfSmallAndLargeAreasAtAnyAlignment)
{
    const struct {
        unsigned int size, misalign;
    } cases[] = {{kSmallAreaBytes, 0}, {kStreamAreaBytes * 2, 0}, {kStreamAreaBytes * 2, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes at " << c.misalign);
        KernelData data(c.size, c.misalign, c.size + c.misalign);
        ASSERT_TRUE(data.ok());
        WorkerArea area = {data.base(), data.size()};
        HANDLE thread = Start(&area);
        ASSERT_NE(nullptr, thread);
        const bool passed = WaitForFirstPass(data);
        EXPECT_EQ(0u, Stop(thread));
        ASSERT_TRUE(passed);
        EXPECT_EQ(-1, data.FirstWrongByte());
    }
}

TEST_F(WorkerThread, ZeroAreaStaysZero)
{
    const unsigned int sizes[] = {kSmallAreaBytes, kStreamAreaBytes};
    for (unsigned int size : sizes) {
        KernelData data(size);
        ASSERT_TRUE(data.ok());
        data.ZeroArea();
        WorkerArea area = {data.base(), data.size()};
        HANDLE thread = Start(&area);
        ASSERT_NE(nullptr, thread);
        Sleep(50);
        EXPECT_EQ(0u, Stop(thread));
        EXPECT_EQ(-1, data.FirstChangedByte()) << size;
    }
}

// Sixteen workers sweeping 16 MB each all end once the flag is cleared, and the
// zero block stays zero.
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
        threads[i] = CreateThread(nullptr, 0, WorkerThreadProc, &areas[i], 0, nullptr);
        ASSERT_NE(nullptr, threads[i]);
    }
    Sleep(100);
    InterlockedExchange(&testRunning, 0);
    for (unsigned int i = 0; i < 16; ++i) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(threads[i], kHangGuardMs)) << i;
        CloseHandle(threads[i]);
    }
    bool allZero = true;
    for (unsigned int i = 0; i < 16 * size && allZero; ++i)
        allZero = block[i] == 0;
    EXPECT_TRUE(allZero);
    VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace
